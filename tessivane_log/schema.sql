-- The audit log database of tessivane_log (installed at <product dir>/logs/logs).
-- tessivane_log addresses the columns by position, except date; it never creates this table.
CREATE TABLE IF NOT EXISTS logs (
    date    INTEGER,  -- seconds since 1970-01-01 UTC
    text1   TEXT,     -- at most 64 bytes
    text2   TEXT,     -- at most 64 bytes
    text3   TEXT,     -- at most 64 bytes
    message TEXT      -- at most 512 bytes
);
-- Every search is newest first by date; without this each one would scan the whole table.
CREATE INDEX IF NOT EXISTS logs_date ON logs (date);
