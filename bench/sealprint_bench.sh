#!/usr/bin/env bash
# Benchmark of sealprint, whole processes on the bundled samples (Release build, build/bench):
#  1. wall time, CPU time and peak resident memory of one job on a folder with no result
#     (start-up and the scan alone), on each sample alone, and on folders of 2 and 20 copies of
#     the fluorescence viability sample (the heaviest: two camera images on page 1, seven
#     pictures on page 2); median of RUNS runs (RUNS20 for the two folders);
#  2. where the time of one result goes: a perf profile (DWARF call graphs) of the viability
#     sample, as self time per library and inclusive time of the main steps. Skipped without perf.
# Goal: at most 0.5 s per result, time linear in the number of results, peak memory flat.
# Never touches /orvel_k2: the build uses LOCAL_PATHS and the samples go to a scratch folder.
# Usage: bench/sealprint_bench.sh [build-dir]     Results: bench/sealprint_bench_results.md
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/bench}
runs=${RUNS:-9}
runs20=${RUNS20:-5}
results=bench/sealprint_bench_results.md

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DLOCAL_PATHS=ON -DPROGRAMS=sealprint >/dev/null
cmake --build "$build" -j2 --target sealprint sealprint_samples >/dev/null
tool="$build/sealprint/job/sealprint"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/samples/sealprint_samples" "$work/samples" >/dev/null
kinds=(fl_viability bf_total_count fl_3channel_combined)
for kind in "${kinds[@]}"; do
  mkdir -p "$work/one_$kind"
  cp -r "$work/samples/$kind" "$work/one_$kind/"
done
mkdir -p "$work/two" "$work/twenty" "$work/empty"
for i in 1 2; do cp -r "$work/samples/fl_viability" "$work/two/r$i"; done
for i in $(seq -w 1 20); do cp -r "$work/samples/fl_viability" "$work/twenty/r$i"; done

calc() { awk "BEGIN { printf \"%.6f\", $* }"; }
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {printf "%.6f", a[int((NR+1)/2)]}'; }

# One job on folder $1 as the calling software starts it; sets `seconds`, `cpu` (user + system
# seconds, which other work on the machine barely changes) and `peak_kb`.
# $2 = 1 when the job must succeed (a folder with results).
run_once() {
  local t0=$EPOCHREALTIME status=0
  SUMMONED_BY_FILELIST=1 /usr/bin/time -f '%U %S %M' -o "$work/usage" "$tool" jdoe 4a6f686e20446f65 user "$1" \
    _ _ "" _ _ "" _ _ "" >"$work/log" 2>&1 || status=$?
  seconds=$(calc "$EPOCHREALTIME - $t0")
  read -r user sys peak_kb < <(tail -n 1 "$work/usage")
  cpu=$(calc "$user + $sys")
  if [ "$2" = 1 ] && { [ "$status" != 0 ] || ! grep -q '^Generate PDF succeed' "$work/log"; }; then
    echo "sealprint failed on $1:" >&2
    tail -n 5 "$work/log" >&2
    exit 1
  fi
}

# name, folder, number of results, runs: one table row; sets `median_s`.
measure() {
  local name=$1 folder=$2 results_in=$3 n=$4 times=() cpus=() peaks=()
  run_once "$folder" "$([ "$results_in" -gt 0 ] && echo 1 || echo 0)"  # warm the page cache
  for _ in $(seq "$n"); do
    run_once "$folder" "$([ "$results_in" -gt 0 ] && echo 1 || echo 0)"
    times+=("$seconds")
    cpus+=("$cpu")
    peaks+=("$peak_kb")
  done
  median_s=$(median "${times[@]}")
  local per="-"
  [ "$results_in" -gt 0 ] && per=$(printf '%.3f s' "$(calc "$median_s / $results_in")")
  printf '| %s | %d | %.3f s | %s | %.2f s | %.1f MB |\n' "$name" "$results_in" "$median_s" "$per" \
    "$(median "${cpus[@]}")" "$(calc "$(median "${peaks[@]}") / 1024")" >>"$tmp"
  peak_median_kb=$(median "${peaks[@]}")
}

tmp="$work/table"
load=$(cut -d' ' -f1-3 /proc/loadavg)
measure "no result (start-up, scan)" "$work/empty" 0 "$runs"
empty_s=$median_s
for kind in "${kinds[@]}"; do
  measure "$kind" "$work/one_$kind" 1 "$runs"
  [ "$kind" = fl_viability ] && { one_s=$median_s; one_kb=$peak_median_kb; }
done
measure "2 × fl_viability" "$work/two" 2 "$runs20"
two_kb=$peak_median_kb
measure "20 × fl_viability" "$work/twenty" 20 "$runs20"
twenty_s=$median_s
twenty_kb=$peak_median_kb

per_result=$(calc "$twenty_s / 20")
marginal=$(calc "($twenty_s - $one_s) / 19")
linearity=$(calc "$twenty_s / ($empty_s + 20 * ($one_s - $empty_s))")
memory_ratio=$(calc "$twenty_kb / $one_kb")
memory_ratio_two=$(calc "$twenty_kb / $two_kb")
met=no
[ "$(calc "($per_result <= 0.5 && $one_s <= 0.5)")" != 0.000000 ] && met=yes

profile="$work/profile"
if command -v perf >/dev/null && [ "${PROFILE:-1}" != 0 ]; then
  SUMMONED_BY_FILELIST=1 perf record -q -F 4000 --call-graph dwarf,32768 -o "$work/perf.data" \
    "$tool" jdoe 4a6f686e20446f65 user "$work/one_fl_viability" _ _ "" _ _ "" _ _ "" \
    >/dev/null 2>&1 || true
  {
    echo "Self time by library (all threads):"
    echo
    echo '| library | share |'
    echo '|---|---|'
    perf report -i "$work/perf.data" --stdio --no-children --sort dso -g none 2>/dev/null |
      awk '/^ +[0-9.]+%/ && $1 + 0 >= 0.5 { printf "| %s | %s |\n", $2, $1 }'
    echo
    echo "Inclusive time of the steps (main thread; nested steps are counted in their callers too):"
    echo
    echo '| step | share |'
    echo '|---|---|'
    perf report -i "$work/perf.data" --stdio --children --comm sealprint --sort sym -g none 2>/dev/null |
      awk '
        BEGIN {
          n = split("compose_report draw_page1 draw_page2 QImage::load QImage::smoothScaled " \
                    "QImage::convertToFormat_helper QWidget::grab genImage total_genImage " \
                    "genClusterImage draw_raster HPDF_LoadRawImageFromMem HPDF_LoadTTFontFromFile " \
                    "HPDF_SaveToFile deflate QApplicationPrivate::init", step, " ")
        }
        /^ +[0-9.]+%/ {
          name = $4; for (i = 5; i <= NF; i++) name = name " " $i
          sub(/ \(inlined\)$/, "", name)
          if (!(name in best) || $1 + 0 > best[name]) best[name] = $1 + 0
        }
        END { for (i = 1; i <= n; i++) printf "| %s | %.1f%% |\n", step[i], best[step[i]] }'
  } >"$profile"
fi

fonts="absent (fallback font)"
ls "$build"/product/fonts/ubuntu/*.ttf >/dev/null 2>&1 && fonts=present
{
  echo "# sealprint benchmark"
  echo
  echo "Measured $(date -u +%Y-%m-%d) by \`bench/sealprint_bench.sh\` on $(nproc) cores; Release build,"
  echo "bundled samples (camera images 1280 × 960), offscreen platform, Ubuntu fonts $fonts."
  echo "Load average before the runs: $load. Whole processes: wall time, CPU time (user + system) and"
  echo "peak resident memory (/usr/bin/time %U %S %M), median of $runs runs"
  echo "($runs20 for the folders of 2 and 20) after one warm-up run."
  echo
  echo "| job | results | wall time | per result | CPU time | peak memory |"
  echo "|---|---|---|---|---|---|"
  cat "$tmp"
  echo
  printf -- '- per result in the folder of 20: %.3f s; each result after the first: %.3f s\n' \
    "$per_result" "$marginal"
  printf -- '- linearity: 20 results take %.2f × (start-up + 20 × one result)\n' "$linearity"
  printf -- '- peak memory, 20 results / 1 result: %.2f; 20 results / 2 results: %.2f\n' \
    "$memory_ratio" "$memory_ratio_two"
  echo "- goal (at most 0.5 s per result, alone and in the folder): $met"
  if [ -s "$profile" ]; then
    echo
    echo "Profile of one fl_viability job (perf, 4 kHz, DWARF call graphs):"
    echo
    cat "$profile"
  fi
} >"$results"
cat "$results"
