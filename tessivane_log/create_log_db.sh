#!/bin/sh
# Creates the audit log database DB from the schema file SCHEMA with the sqlite3 shell, only when
# DB does not exist yet: an existing audit log (or a link in its place) is never touched. The
# one way the log is made: by the package's postinst, cmake --install, the demo, the benchmark
# and the tests.
#   create_log_db.sh SCHEMA DB        (SQLITE3 names another sqlite3 shell)
set -e
if [ $# -ne 2 ]; then
    echo "usage: $0 SCHEMA DB" >&2
    exit 2
fi
schema=$1
db=$2
sqlite3=${SQLITE3:-sqlite3}

if [ -e "$db" ] || [ -L "$db" ]; then
    exit 0
fi
mkdir -p "$(dirname "$db")"
# Built beside its final name and renamed into place, so a failed run leaves no half-made
# database that a later run would keep.
rm -f "$db.partial"
if ! "$sqlite3" -bail "$db.partial" < "$schema"; then
    rm -f "$db.partial"
    echo "cannot create the audit log $db" >&2
    exit 1
fi
# Other software reads the log directly; only its owner (root) writes it.
chmod 0644 "$db.partial"
mv "$db.partial" "$db"
echo "audit log created: $db"
