#!/usr/bin/env bash
# Benchmark of tessivane_log on a database of 1,000,000 entries spread over one year:
#  1. search_all (default limit) and search_by_date over one day, each as a whole process, against
#     the sqlite3 shell running the same SELECT on the same file: median of RUNS runs taken in
#     pairs; the tool must take at most 1.3 times the shell's time.
#  2. 4 processes appending 100 entries each at the same time must add exactly 400 rows.
# Builds a Release tree with its own product folder (build/bench); never touches /orvel_k2.
# Usage: bench/log_bench.sh [build-dir]     Results: bench/log_bench_results.md
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/bench}
runs=${RUNS:-15}
results=bench/log_bench_results.md

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DLOCAL_PATHS=ON -DPROGRAMS=tessivane_log >/dev/null
cmake --build "$build" -j2 --target tessivane_log >/dev/null
tool="$build/tessivane_log/tessivane_log"
db="$build/product/logs/logs"

# The log starts 2024-01-01 00:00:00 UTC; one entry about every 31.5 s for 365 days.
start=1704067200
rows=1000000
rm -f "$db" "$db-journal"
cmake -DLOG_DB="$db" -DLOG_SCHEMA=tessivane_log/schema.sql -P tessivane_log/create_log_db.cmake >/dev/null
sqlite3 "$db" <<SQL
INSERT INTO logs
WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i + 1 < $rows)
SELECT $start + i * 31536000 / $rows, 'user' || (i % 50), 'K2-' || printf('%04d', i % 7),
       'event' || (i % 13), 'entry number ' || i || ' of the benchmark log'
FROM n;
SQL

day_from=$((start + 180 * 86400))
day_to=$((day_from + 86399))
sql_all='SELECT * FROM `logs` ORDER BY date DESC LIMIT 100'
sql_day="SELECT * FROM \`logs\` WHERE date BETWEEN $day_from AND $day_to ORDER BY date DESC LIMIT 1000"

calc() { awk "BEGIN { printf \"%.6f\", $* }"; }
seconds_of() {  # runs "$@" with output to /dev/null, prints its wall time in seconds
  local t0=$EPOCHREALTIME
  "$@" >/dev/null
  calc "$EPOCHREALTIME - $t0"
}
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {printf "%.6f", a[int((NR+1)/2)]}'; }

compare() {  # name, then the tool's words, "--", the shell's SELECT
  local name=$1; shift
  local words=()
  while [ "$1" != "--" ]; do words+=("$1"); shift; done
  local sql=$2
  [ "$("$tool" "${words[@]}" | wc -l)" = "$(sqlite3 "$db" "$sql" | wc -l)" ] || {
    echo "$name: the tool and the shell return different row counts" >&2; exit 1; }
  local ours=() theirs=()
  for _ in $(seq "$runs"); do
    ours+=("$(seconds_of "$tool" "${words[@]}")")
    theirs+=("$(seconds_of sqlite3 "$db" "$sql")")
  done
  local m_ours m_theirs ratio
  m_ours=$(median "${ours[@]}")
  m_theirs=$(median "${theirs[@]}")
  ratio=$(calc "$m_ours / $m_theirs")
  printf '| %s | %d | %.1f ms | %.1f ms | %.2f |\n' "$name" "$("$tool" "${words[@]}" | wc -l)" \
    "$(calc "$m_ours * 1000")" "$(calc "$m_theirs * 1000")" "$ratio" >>"$tmp"
  if [ "$(calc "($ratio > 1.3)")" != 0.000000 ]; then failed=1; fi
}

tmp=$(mktemp)
trap 'rm -f "$tmp"' EXIT
failed=0
"$tool" search_all >/dev/null  # warm the page cache for both sides
compare "search_all" search_all -- "$sql_all"
compare "search_by_date, one day" search_by_date "$day_from" "$day_to" -- "$sql_day"

before=$(sqlite3 "$db" 'SELECT count(*) FROM logs')
t0=$EPOCHREALTIME
for p in 1 2 3 4; do
  ( for i in $(seq 100); do "$tool" append "bench$p" K2-BENCH append "process $p entry $i"; done ) &
done
append_failed=0
for p in 1 2 3 4; do wait -n || append_failed=1; done
append_s=$(calc "$EPOCHREALTIME - $t0")
after=$(sqlite3 "$db" 'SELECT count(*) FROM logs')
added=$((after - before))
[ "$added" = 400 ] && [ "$append_failed" = 0 ] || failed=1

{
  echo "# tessivane_log benchmark"
  echo
  echo "Measured $(date -u +%Y-%m-%d) by \`bench/log_bench.sh\` on $(nproc) cores, $(sqlite3 --version | cut -d' ' -f1) shell,"
  echo "Release build; database of $rows entries over 365 days with the shipped schema (index on \`date\`)."
  echo
  echo "Whole processes, output to /dev/null, median of $runs runs each, tool and shell run in turn:"
  echo
  echo "| command | rows | tessivane_log | sqlite3 shell | ratio (limit 1.3) |"
  echo "|---|---|---|---|---|"
  cat "$tmp"
  echo
  echo "4 processes appending 100 entries each at the same time: $added rows added (400 expected),"
  printf 'in %.1f s.\n' "$append_s"
} >"$results"
cat "$results"
exit "$failed"
