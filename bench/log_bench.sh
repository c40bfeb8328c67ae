#!/usr/bin/env bash
# Benchmark of tessivane_log, unsealed and sealed, on a database of 1,000,000 entries over a year:
#  1. search_all (default limit) and search_by_date over one day on the sealed log, each as a
#     whole process, against the sqlite3 shell running the same SELECT on the same file: median
#     of RUNS runs taken in turn; the tool may take at most 1.3 times the shell's time.
#  2. setup-keys sealing the 1,000,000 entries, and verify --key of all of them (median of
#     VERIFY_RUNS; at most 5 s), this tree and the build of BASE_COMMIT in turn.
#  2b. While verify --key, export FILE and export --csv walk the log (this tree's and
#     BASE_COMMIT's in turn, VERIFY_RUNS rounds), a writer (bench/log_lock_wait.cc) takes the
#     write lock as an append's commit does, every 5 ms: its longest wait is at most 50 ms with
#     this tree, whose walks let appends commit between reads of a few milliseconds.
#  3. APPENDS appends to the unsealed log and as many to the sealed one, taken in turn (the two
#     databases are renamed into the tool's place between appends): the sealed median may be at
#     most 1.1 times the unsealed one.
#  4. 8 processes appending 200 entries each to the sealed log at the same time against the same
#     1,600 appends one after another (median of APPEND_ROUNDS rounds taken in turn): every append
#     succeeds and is stored, the concurrent round takes at most 1.1 times the sequential one,
#     and verify --key passes afterwards.
# Builds a Release tree with its own product folder (build/bench-tessivane_log); never touches
# /orvel_k2. Usage: bench/log_bench.sh [build-dir]     Results: bench/log_bench_results.md
#   BASE_COMMIT  the earlier version (default 9ca27cb, whose walks held one read lock
#                throughout), exported with git archive and built in build/bench-tessivane_log-base
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/bench-tessivane_log}
runs=${RUNS:-15}
verify_runs=${VERIFY_RUNS:-3}
appends=${APPENDS:-200}
append_rounds=${APPEND_ROUNDS:-3}
results=bench/log_bench_results.md

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DLOCAL_PATHS=ON -DBUILD_TESTING=OFF \
  -DPROGRAMS=tessivane_log >/dev/null
cmake --build "$build" -j2 --target tessivane_log log_lock_wait >/dev/null
tool="$build/tessivane_log/tessivane_log"
lock_wait="$build/bench/log_lock_wait"
base_commit=${BASE_COMMIT:-9ca27cb}
base=build/bench-tessivane_log-base
if [ ! -x "$base/build/tessivane_log/tessivane_log" ]; then
  rm -rf "$base/src"
  mkdir -p "$base/src"
  git archive "$base_commit" | tar -x -C "$base/src"
  cmake -S "$base/src" -B "$base/build" -DCMAKE_BUILD_TYPE=Release -DLOCAL_PATHS=ON \
    -DBUILD_TESTING=OFF -DPROGRAMS=tessivane_log >/dev/null
  cmake --build "$base/build" -j2 --target tessivane_log >/dev/null
fi
base_tool="$base/build/tessivane_log/tessivane_log"
db="$build/product/logs/logs"
key_file="$db.sealkey"
side="$build/bench-logs"  # where the log that is not in use waits

calc() { awk "BEGIN { printf \"%.6f\", $* }"; }
seconds_of() {  # runs "$@" with output to /dev/null, prints its wall time in seconds
  local t0=$EPOCHREALTIME
  "$@" >/dev/null
  calc "$EPOCHREALTIME - $t0"
}
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {printf "%.6f", a[int((NR+1)/2)]}'; }
over() { [ "$(calc "($1 > $2)")" != 0.000000 ]; }
load_at_start=$(cut -d' ' -f1-3 /proc/loadavg)
failed=0

# The log starts 2024-01-01 00:00:00 UTC; one entry about every 31.5 s for 365 days.
start=1704067200
rows=1000000
rm -rf "$side" "$db" "$db-journal" "$key_file"
mkdir -p "$side"
sh tessivane_log/create_log_db.sh tessivane_log/schema.sql "$db" >/dev/null
sqlite3 "$db" <<SQL
INSERT INTO logs
WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i + 1 < $rows)
SELECT $start + i * 31536000 / $rows, 'user' || (i % 50), 'K2-' || printf('%04d', i % 7),
       'event' || (i % 13), 'entry number ' || i || ' of the benchmark log'
FROM n;
SQL
cp "$db" "$side/unsealed"
t0=$EPOCHREALTIME
"$tool" setup-keys >"$side/setup.txt"
setup_s=$(calc "$EPOCHREALTIME - $t0")
vkey=$(grep -Eo '[0-9a-f]{8}(-[0-9a-f]{8}){3}/[0-9]+/[0-9]+' "$side/setup.txt")
db_mb=$(calc "$(stat -c %s "$db") / 1048576")

# 1. Searches on the sealed log.
day_from=$((start + 180 * 86400))
day_to=$((day_from + 86399))
sql_all='SELECT * FROM `logs` ORDER BY date DESC LIMIT 100'
sql_day="SELECT * FROM \`logs\` WHERE date BETWEEN $day_from AND $day_to ORDER BY date DESC LIMIT 1000"
search_rows=$(mktemp)
trap 'rm -f "$search_rows" "${walk_rows:-}"' EXIT
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
    "$(calc "$m_ours * 1000")" "$(calc "$m_theirs * 1000")" "$ratio" >>"$search_rows"
  if over "$ratio" 1.3; then failed=1; fi
}
"$tool" search_all >/dev/null  # warm the page cache for both sides
compare "search_all" search_all -- "$sql_all"
compare "search_by_date, one day" search_by_date "$day_from" "$day_to" -- "$sql_day"

# 2. Verify of the sealed million, this tree's and the base's in turn.
verify_times=() base_verify_times=()
for _ in $(seq "$verify_runs"); do
  t0=$EPOCHREALTIME
  "$base_tool" verify --key "$vkey" --db "$db" >/dev/null || failed=1
  base_verify_times+=("$(calc "$EPOCHREALTIME - $t0")")
  t0=$EPOCHREALTIME
  "$tool" verify --key "$vkey" >"$side/verify.txt" || { cat "$side/verify.txt"; failed=1; }
  verify_times+=("$(calc "$EPOCHREALTIME - $t0")")
done
verify_s=$(median "${verify_times[@]}")
base_verify_s=$(median "${base_verify_times[@]}")
if over "$verify_s" 5; then failed=1; fi

# 2b. The lock probe while a walk runs. walk_waits TOOL WORDS... prints "longest-wait median-wait
# writes walk-seconds walk-status" (waits in milliseconds).
walk_waits() {
  local walker=$1; shift
  "$lock_wait" "$db" >"$side/wait.txt" &
  local probe=$! rc=0 t0=$EPOCHREALTIME
  "$walker" "$@" --db "$db" >/dev/null || rc=$?
  local walk_s
  walk_s=$(calc "$EPOCHREALTIME - $t0")
  kill -TERM "$probe"
  wait "$probe"
  echo "$(cut -d' ' -f1-3 "$side/wait.txt") $walk_s $rc"
}
walk_names=("verify --key" "export FILE" "export --csv FILE")
walk_words() {  # index: the walk's words
  case $1 in
    0) echo verify --key "$vkey" ;;
    1) echo export "$side/copy.db" ;;
    2) echo export --csv "$side/log.csv" --key "$vkey" ;;
  esac
}
declare -A walk_longest walk_median walk_writes walk_seconds
for _ in $(seq "$verify_runs"); do
  for w in 0 1 2; do
    for who in base this; do
      walker=$tool
      [ "$who" = base ] && walker=$base_tool
      # shellcheck disable=SC2046  # the words are plain
      read -r longest median writes walk_s walk_rc <<<"$(walk_waits "$walker" $(walk_words "$w"))"
      [ "$walk_rc" = 0 ] || { echo "$who: ${walk_names[$w]} failed ($walk_rc)" >&2; failed=1; }
      walk_longest[$who,$w]="${walk_longest[$who,$w]:-} $longest"
      walk_median[$who,$w]="${walk_median[$who,$w]:-} $median"
      walk_writes[$who,$w]=$((${walk_writes[$who,$w]:-0} + writes))
      walk_seconds[$who,$w]="${walk_seconds[$who,$w]:-} $walk_s"
    done
  done
done
rm -f "$side/copy.db" "$side/log.csv" "$side/wait.txt"
largest() { printf '%s\n' "$@" | sort -g | tail -n 1; }
walk_rows=$(mktemp)
for w in 0 1 2; do
  row="| ${walk_names[$w]} |"
  for who in base this; do
    # shellcheck disable=SC2086
    row+=$(printf ' %.0f ms | %.1f ms | %.2f s |' "$(largest ${walk_longest[$who,$w]})" \
      "$(median ${walk_median[$who,$w]})" "$(median ${walk_seconds[$who,$w]})")
  done
  echo "$row" >>"$walk_rows"
  # shellcheck disable=SC2086
  if over "$(largest ${walk_longest[this,$w]})" 50; then failed=1; fi
done

# 3. Sealed against unsealed appends, one at a time, in turn. Both logs wait in $side; put moves
# one (with its key file, if any) into the tool's place, take moves it back.
put() { mv "$side/$1" "$db"; if [ -e "$side/$1.key" ]; then mv "$side/$1.key" "$key_file"; fi; }
take() { mv "$db" "$side/$1"; if [ -e "$key_file" ]; then mv "$key_file" "$side/$1.key"; fi; }
take sealed
sealed_times=() unsealed_times=()
append_failed=0
for i in $(seq "$appends"); do
  put unsealed
  t0=$EPOCHREALTIME
  "$tool" append bench K2-BENCH unsealed "entry $i" || append_failed=$((append_failed + 1))
  unsealed_times+=("$(calc "$EPOCHREALTIME - $t0")")
  take unsealed
  put sealed
  t0=$EPOCHREALTIME
  "$tool" append bench K2-BENCH sealed "entry $i" || append_failed=$((append_failed + 1))
  sealed_times+=("$(calc "$EPOCHREALTIME - $t0")")
  take sealed
done
# What the difference is made of on this machine: the page faults of one append (GNU time,
# median of 9); loading the crypto library is most of a sealed append's extra ones.
faults_of() {  # sealed | unsealed
  local faults=()
  put "$1"
  for _ in $(seq 9); do
    faults+=("$(/usr/bin/time -f '%R' "$tool" append bench K2-BENCH "$1" faults 2>&1 >/dev/null | tail -n 1)")
  done
  take "$1"
  printf '%.0f' "$(median "${faults[@]}")"
}
fault_counts="not counted (no /usr/bin/time)"
if [ -x /usr/bin/time ]; then
  fault_counts="unsealed $(faults_of unsealed), sealed $(faults_of sealed)"
fi
put sealed
unsealed_ms=$(calc "$(median "${unsealed_times[@]}") * 1000")
sealed_ms=$(calc "$(median "${sealed_times[@]}") * 1000")
seal_ratio=$(calc "$sealed_ms / $unsealed_ms")
if over "$seal_ratio" 1.1; then failed=1; fi

# 4. Concurrent sealed appends.
writers=8
each=200
total=$((writers * each))
count_rows() { sqlite3 "$db" 'SELECT count(*) FROM logs'; }
append_lost=0
one_by_one() {  # round: the appends one after another
  local i
  for i in $(seq "$total"); do
    "$tool" append bench K2-BENCH sequential "round $1 entry $i" || append_failed=$((append_failed + 1))
  done
}
together() {  # round: the appends by $writers processes at once
  local p rc
  for p in $(seq "$writers"); do
    ( f=0
      for i in $(seq "$each"); do
        "$tool" append "bench$p" K2-BENCH concurrent "round $1 entry $i" 2>/dev/null || f=$((f + 1))
      done
      exit "$f" ) &
  done
  for p in $(seq "$writers"); do
    rc=0; wait -n || rc=$?
    append_failed=$((append_failed + rc))
  done
}
timed_round() {  # function round: sets round_s to its wall time; counts rows it failed to add
  local before t0 after
  before=$(count_rows)
  t0=$EPOCHREALTIME
  "$1" "$2"
  round_s=$(calc "$EPOCHREALTIME - $t0")
  after=$(count_rows)
  append_lost=$((append_lost + total - (after - before)))
}
seq_times=() con_times=()
for round in $(seq "$append_rounds"); do
  timed_round one_by_one "$round"; seq_times+=("$round_s")
  timed_round together "$round"; con_times+=("$round_s")
done
seq_s=$(median "${seq_times[@]}")
con_s=$(median "${con_times[@]}")
append_ratio=$(calc "$con_s / $seq_s")
[ "$append_failed" = 0 ] && [ "$append_lost" = 0 ] || failed=1
if over "$append_ratio" 1.1; then failed=1; fi
verdict_after=PASS
"$tool" verify --key "$vkey" >"$side/verify-after.txt" || { verdict_after=FAIL; failed=1; }
entries_after=$(count_rows)

{
  echo "# tessivane_log benchmark"
  echo
  echo "Measured $(date -u +%Y-%m-%d) by \`bench/log_bench.sh\` on $(nproc) cores, $(sqlite3 --version | cut -d' ' -f1) shell,"
  echo "Release build; database of $rows entries over 365 days with the shipped schema (index on \`date\`),"
  echo "sealed: $(printf '%.0f' "$db_mb") MB with its seals;"
  echo "load average at the start: $load_at_start (other work on the machine slows every fsync)."
  echo
  echo "Searches on the sealed log, whole processes, output to /dev/null, median of $runs runs each,"
  echo "tool and shell run in turn:"
  echo
  echo "| command | rows | tessivane_log | sqlite3 shell | ratio (limit 1.3) |"
  echo "|---|---|---|---|---|"
  cat "$search_rows"
  echo
  echo "Sealing and verifying the $rows entries:"
  echo
  echo "| command | wall time |"
  echo "|---|---|"
  printf '| setup-keys (seals every entry already there) | %.2f s |\n' "$setup_s"
  printf '| verify --key, median of %d (limit 5 s) | %.2f s |\n' "$verify_runs" "$verify_s"
  printf '| the same with %s, in turn | %.2f s |\n' "$base_commit" "$base_verify_s"
  echo
  printf 'This tree / %s: %.2f.\n' "$base_commit" "$(calc "$verify_s / $base_verify_s")"
  echo
  echo "While a walk of the log runs, a writer takes the lock as an append's commit does, every 5 ms,"
  echo "and writes a row of its own: its longest wait over $verify_runs rounds (limit 50 ms for this"
  echo "tree), the median of the rounds' median waits, and the walk's median time with it writing"
  echo "(the two builds' walks in turn):"
  echo
  echo "| walk | $base_commit: longest wait | median wait | walk | this tree: longest wait | median wait | walk |"
  echo "|---|---|---|---|---|---|---|"
  cat "$walk_rows"
  echo
  echo "Appends one at a time, $appends to the unsealed log and $appends to the sealed one, in turn:"
  echo
  echo "| log | median append |"
  echo "|---|---|"
  printf '| unsealed | %.2f ms |\n' "$unsealed_ms"
  printf '| sealed | %.2f ms |\n' "$sealed_ms"
  echo
  printf 'Sealed / unsealed: %.2f (limit 1.1). Page faults of one append: %s.\n' "$seal_ratio" "$fault_counts"
  echo
  echo "Appends to the sealed log, median of $append_rounds rounds; in each round $total appends one after"
  echo "another, then $writers processes appending $each entries each at the same time:"
  echo
  echo "| appends | wall time | per append |"
  echo "|---|---|---|"
  printf '| %d one after another | %.2f s | %.2f ms |\n' "$total" "$seq_s" "$(calc "$seq_s * 1000 / $total")"
  printf '| %d x %d at the same time | %.2f s | %.2f ms |\n' "$writers" "$each" "$con_s" \
    "$(calc "$con_s * 1000 / $total")"
  echo
  printf 'At the same time / one after another: %.2f (limit 1.1); failed appends: %d, rows lost: %d;\n' \
    "$append_ratio" "$append_failed" "$append_lost"
  echo "verify --key of the $entries_after entries afterwards: $verdict_after"
  echo "(all rounds: one after another ${seq_times[*]} s; at the same time ${con_times[*]} s)."
} >"$results"
cat "$results"
exit "$failed"
