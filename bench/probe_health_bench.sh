#!/usr/bin/env bash
# How long `tessivane_probe health` takes to say "down" when no server runs, against an earlier
# build: both run alternately in one network namespace of their own (loopback only, so nothing
# answers on 2001/2002), with the default time limit and with --timeout 1; medians of RUNS runs.
# Both builds must print the same bytes (table and --json) and exit with the same status.
# Goal: twice the time limit (4 s by default, 2 s with --timeout 1), at most 0.2 s more.
#
# Usage: bench/probe_health_bench.sh                 Results: bench/probe_health_bench_results.md
#   BASE_COMMIT  the earlier version (default 198f2e2, before the requests went out at once);
#                exported with git archive and built in Release in build/bench-tessivane_probe-base
#   RUNS (3)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${RUNS:-3}
base_commit=${BASE_COMMIT:-198f2e2}
build=build/bench-tessivane_probe
base=build/bench-tessivane_probe-base
results=bench/probe_health_bench_results.md

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPROGRAMS=tessivane_probe >/dev/null
cmake --build "$build" -j2 --target tessivane_probe >/dev/null
if [ ! -x "$base/build/tessivane_probe/tessivane_probe" ]; then
  rm -rf "$base/src"
  mkdir -p "$base/src"
  git archive "$base_commit" | tar -x -C "$base/src"
  cmake -S "$base/src" -B "$base/build" -DCMAKE_BUILD_TYPE=Release -DPROGRAMS=tessivane_probe \
    >/dev/null
  cmake --build "$base/build" -j2 --target tessivane_probe >/dev/null
fi
new_tool=$PWD/$build/tessivane_probe/tessivane_probe
old_tool=$PWD/$base/build/tessivane_probe/tessivane_probe

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# As root a network namespace of its own; otherwise in a user namespace as well.
isolate=(unshare -n)
[ "$(id -u)" = 0 ] || isolate=(unshare -r -n)

load_at_start=$(cut -d' ' -f1-3 /proc/loadavg)
"${isolate[@]}" bash -s "$runs" "$old_tool" "$new_tool" "$work" <<'EOF'
set -u
runs=$1 old=$2 new=$3 work=$4
ip link set lo up
for round in $(seq "$runs"); do
  for limit in default 1; do
    args=()
    [ "$limit" = default ] || args=(--timeout "$limit")
    for json in "" --json; do
      for build in old new; do
        tool=${!build}
        t0=$EPOCHREALTIME
        "$tool" "${args[@]}" $json health >"$work/$build$limit$json.out" 2>"$work/$build$limit$json.err"
        status=$?
        echo "$limit $build $json $status $(awk "BEGIN { printf \"%.3f\", $EPOCHREALTIME - $t0 }")"
      done
    done
  done
done >"$work/times"
EOF

same=yes
for f in "$work"/old*; do
  cmp -s "$f" "${f/\/old//new}" || { same=no; echo "differs: $(basename "$f")" >&2; }
done
median() { sort -g | awk '{a[NR]=$1} END {printf "%.3f", a[int((NR+1)/2)]}'; }
row() {  # limit, build
  awk -v l="$1" -v b="$2" '$1 == l && $2 == b { print ($3 ~ /^--/ ? $5 : $4) }' "$work/times" |
    median
}
statuses() {
  awk -v b="$1" '$2 == b { print ($3 ~ /^--/ ? $4 : $3) }' "$work/times" | sort -u | paste -sd, -
}
{
  echo "# tessivane_probe health against no server"
  echo
  echo "$(date -u '+%Y-%m-%d %H:%M UTC'), load at start $load_at_start, $(nproc) cores, RUNS=$runs"
  echo "(table and --json runs together). Command: \`bench/probe_health_bench.sh\`."
  echo
  echo "| time limit | $base_commit (s, median) | this tree (s, median) | goal (s) |"
  echo "|---|---|---|---|"
  echo "| default (2 s) | $(row default old) | $(row default new) | 4.0 to 4.2 |"
  echo "| --timeout 1 | $(row 1 old) | $(row 1 new) | 2.0 to 2.2 |"
  echo
  echo "Exit statuses: $base_commit $(statuses old), this tree $(statuses new); output the same: $same."
} | tee "$results"
[ "$same" = yes ]
