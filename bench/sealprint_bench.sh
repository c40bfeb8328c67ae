#!/usr/bin/env bash
# Benchmark of sealprint against an earlier build, whole processes on the bundled samples:
#  1. wall time, CPU time and peak resident memory of both builds, run alternately in the same
#     session: a folder with no result (start-up and the scan), a folder of six results of each
#     sample kind (fluorescence viability, bright-field total count, 3-channel combined), one
#     fluorescence viability result and a folder of twenty of them; medians of RUNS runs;
#  2. the size of each sample's report from both builds;
#  3. the pages compared: every page of the three samples' reports rendered by both builds with
#     `pdftoppm -r 150`; the text (pdftotext) and every lossless picture (camera images,
#     histograms, logo: pdfimages) must be identical, and no pixel of the rendered pages may
#     differ by more than TOLERANCE levels (the page artwork is embedded as JPEG by one build and
#     decoded by the other, so the reader's JPEG decoder rounds it differently);
#  4. the cost of signing: the new build with a signing identity (a self-signed RSA 3072 one,
#     made in its product folder) and without, alternately, on the six fluorescence results (and
#     on the twenty, whose CPU times resolve the cost finer than /usr/bin/time's 10 ms); medians
#     of SIGN_RUNS runs;
#  5. where the time of one result goes: a perf profile of the new build, signing. Skipped
#     without perf or with PROFILE=0.
# Goal: at most 0.2 s per result for every kind, at most 80 MB peak for one and for twenty
# results, no report larger than before, time linear in the number of results, pages the same;
# signing adds at most 10 ms per result and keeps within 0.2 s per result and 80 MB.
# Never touches /orvel_k2: both builds use LOCAL_PATHS and the samples go to a scratch folder.
#
# Usage: bench/sealprint_bench.sh [build-dir]          Results: bench/sealprint_bench_results.md
#   build-dir   the Release build of this tree (default build/bench-sealprint)
#   OLD_COMMIT  the earlier version (default 1372826, before the artwork was embedded as JPEG);
#               exported with git archive into build/bench-sealprint-base/src and built in
#               Release in build/bench-sealprint-base/build
#   OLD_BUILD   an existing Release build folder of that commit instead (LOCAL_PATHS=ON)
#   RUNS (5), SIGN_RUNS (9), TOLERANCE (6), PROFILE (1)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/bench-sealprint}
runs=${RUNS:-5}
sign_runs=${SIGN_RUNS:-9}
tolerance=${TOLERANCE:-6}
old_commit=${OLD_COMMIT:-1372826}
results=bench/sealprint_bench_results.md

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DLOCAL_PATHS=ON -DPROGRAMS=sealprint >/dev/null
cmake --build "$build" -j2 --target sealprint sealprint_samples >/dev/null
old_build=${OLD_BUILD:-}
if [ -z "$old_build" ]; then
  old_build=build/bench-sealprint-base/build
  if [ ! -x "$old_build/sealprint/job/sealprint" ]; then
    rm -rf build/bench-sealprint-base/src
    mkdir -p build/bench-sealprint-base/src
    git archive "$old_commit" | tar -x -C build/bench-sealprint-base/src
    cmake -S build/bench-sealprint-base/src -B "$old_build" -DCMAKE_BUILD_TYPE=Release -DLOCAL_PATHS=ON \
      -DPROGRAMS=sealprint >/dev/null
    cmake --build "$old_build" -j2 --target sealprint >/dev/null
  fi
fi
new_tool="$build/sealprint/job/sealprint"
old_tool="$old_build/sealprint/job/sealprint"
# Both builds must draw the histogram labels in the same face: give the earlier build the
# Ubuntu fonts in the folder it was built to read.
old_fonts=$(sed -n 's/^UBUNTU_FONT_DIR:PATH=//p' "$old_build/CMakeCache.txt")
if [ -n "$old_fonts" ] && [ ! -e "$old_fonts/Ubuntu-R.ttf" ]; then
  mkdir -p "$old_fonts"
  cp samples/fonts/ubuntu/Ubuntu-[LRM].ttf "$old_fonts/"
fi

# The new build's signing identity: in place for the whole run, signing on only while its
# certificate has its configured name (report.crt).
sign_dir="$(sed -n 's/^PRODUCT_DIR:PATH=//p' "$build/CMakeCache.txt")/signing"
rm -rf "$sign_dir"
mkdir -p "$sign_dir"
(umask 077 && openssl req -x509 -newkey rsa:3072 -nodes -days 30 -keyout "$sign_dir/report.key" \
  -out "$sign_dir/report.crt.off" -subj "/O=Bench Lab/CN=Bench Lab approval reports" \
  -addext "keyUsage=critical,digitalSignature,nonRepudiation") >/dev/null 2>&1
signing() {
  if [ "$1" = on ]; then
    mv "$sign_dir/report.crt.off" "$sign_dir/report.crt"
  else
    mv "$sign_dir/report.crt" "$sign_dir/report.crt.off"
  fi
}

work=$(mktemp -d)
trap 'rm -rf "$work" "$sign_dir"' EXIT
"$build/samples/sealprint_samples" "$work/samples" >/dev/null
kinds=(fl_viability bf_total_count fl_3channel_combined)
mkdir -p "$work/empty"
for kind in "${kinds[@]}"; do
  for i in 1 2 3 4 5 6; do mkdir -p "$work/six_$kind"; cp -r "$work/samples/$kind" "$work/six_$kind/r$i"; done
done
mkdir -p "$work/one" "$work/twenty"
cp -r "$work/samples/fl_viability" "$work/one/r1"
for i in $(seq -w 1 20); do cp -r "$work/samples/fl_viability" "$work/twenty/r$i"; done

calc() { awk "BEGIN { printf \"%.6f\", $* }"; }
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {printf "%.6f", a[int((NR+1)/2)]}'; }

# tool, folder, level, must succeed (1/0): one job as the calling software starts it; sets
# `seconds`, `cpu` (user + system) and `peak_kb`.
run_once() {
  local t0=$EPOCHREALTIME status=0
  SUMMONED_BY_FILELIST=1 /usr/bin/time -f '%U %S %M' -o "$work/usage" "$1" jdoe 4a6f686e20446f65 "$3" \
    "$2" _ _ "" _ _ "" _ _ "" >"$work/log" 2>&1 || status=$?
  seconds=$(calc "$EPOCHREALTIME - $t0")
  read -r user sys peak_kb < <(tail -n 1 "$work/usage")
  cpu=$(calc "$user + $sys")
  if [ "$4" = 1 ] && { [ "$status" != 0 ] || ! grep -q '^Generate PDF succeed' "$work/log"; }; then
    echo "$1 failed on $2:" >&2
    tail -n 5 "$work/log" >&2
    exit 1
  fi
}

# name, folder, number of results: both builds alternately, RUNS times each after a warm-up;
# one table row. Sets new_s, old_s (median wall), new_kb, old_kb (median peak).
measure() {
  local name=$1 folder=$2 n=$3 ok=1 which
  [ "$n" -gt 0 ] || ok=0
  declare -A t c m
  for which in old new; do t[$which]=""; c[$which]=""; m[$which]=""; done
  for r in $(seq 0 "$runs"); do
    for which in old new; do
      local tool=$new_tool
      [ "$which" = old ] && tool=$old_tool
      run_once "$tool" "$folder" user "$ok"
      [ "$r" = 0 ] && continue  # warm-up: page cache, font cache
      t[$which]+=" $seconds"; c[$which]+=" $cpu"; m[$which]+=" $peak_kb"
    done
  done
  # shellcheck disable=SC2086
  {
    old_s=$(median ${t[old]}); new_s=$(median ${t[new]})
    old_kb=$(median ${m[old]}); new_kb=$(median ${m[new]})
    local old_cpu new_cpu per="-"
    old_cpu=$(median ${c[old]}); new_cpu=$(median ${c[new]})
  }
  [ "$n" -gt 0 ] && per=$(printf '%.3f s' "$(calc "$new_s / $n")")
  printf '| %s | %d | %.3f s | %.3f s | %.2f | %s | %.2f s | %.2f s | %.1f MB | %.1f MB |\n' \
    "$name" "$n" "$old_s" "$new_s" "$(calc "$old_s / $new_s")" "$per" "$old_cpu" "$new_cpu" \
    "$(calc "$old_kb / 1024")" "$(calc "$new_kb / 1024")" >>"$work/table"
}

load=$(cut -d' ' -f1-3 /proc/loadavg)
goal=yes
measure "no result (start-up, scan)" "$work/empty" 0
empty_s=$new_s
for kind in "${kinds[@]}"; do
  measure "6 × $kind" "$work/six_$kind" 6
  [ "$kind" = fl_viability ] && six_s=$new_s
  [ "$(calc "$new_s / 6 <= 0.2")" = 1.000000 ] || goal=no
done
measure "1 × fl_viability" "$work/one" 1
one_s=$new_s; one_kb=$new_kb
measure "20 × fl_viability" "$work/twenty" 20
twenty_s=$new_s; twenty_kb=$new_kb
[ "$(calc "$one_kb <= 80 * 1024 && $twenty_kb <= 80 * 1024")" = 1.000000 ] || goal=no
linearity=$(calc "$twenty_s / ($empty_s + 20 * ($one_s - $empty_s))")

# The same build signed and unsigned, alternately; one table row per job. A fourth argument 1
# makes the row count for the goal.
measure_signing() {
  local name=$1 folder=$2 n=$3 counts=$4 which
  declare -A t c m
  for which in unsigned signed; do t[$which]=""; c[$which]=""; m[$which]=""; done
  for r in $(seq 0 "$sign_runs"); do
    for which in unsigned signed; do
      [ "$which" = signed ] && signing on
      run_once "$new_tool" "$folder" user 1
      [ "$which" = signed ] && signing off
      local lines
      lines=$(grep -c '^<sealprint> signed ' "$work/log" || true)
      if { [ "$which" = signed ] && [ "$lines" != "$n" ]; } || { [ "$which" = unsigned ] && [ "$lines" != 0 ]; }; then
        echo "$which run on $folder logged $lines signed results" >&2
        exit 1
      fi
      [ "$r" = 0 ] && continue
      t[$which]+=" $seconds"; c[$which]+=" $cpu"; m[$which]+=" $peak_kb"
    done
  done
  local u_s s_s u_cpu s_cpu u_kb s_kb
  # shellcheck disable=SC2086
  {
    u_s=$(median ${t[unsigned]}); s_s=$(median ${t[signed]})
    u_cpu=$(median ${c[unsigned]}); s_cpu=$(median ${c[signed]})
    u_kb=$(median ${m[unsigned]}); s_kb=$(median ${m[signed]})
  }
  local sign_ms sign_cpu_ms
  sign_ms=$(calc "1000 * ($s_s - $u_s) / $n")
  sign_cpu_ms=$(calc "1000 * ($s_cpu - $u_cpu) / $n")
  if [ "$counts" = 1 ] && [ "$(calc "$sign_ms <= 10 && $s_s / $n <= 0.2 && $s_kb <= 80 * 1024")" != 1.000000 ]; then
    sign_goal=no
  fi
  printf '| %s | %d | %.3f s | %.3f s | %+.1f ms | %.2f s | %.2f s | %+.1f ms | %.3f s | %.1f MB | %.1f MB |\n' \
    "$name" "$n" "$u_s" "$s_s" "$sign_ms" "$u_cpu" "$s_cpu" "$sign_cpu_ms" "$(calc "$s_s / $n")" \
    "$(calc "$u_kb / 1024")" "$(calc "$s_kb / 1024")" >>"$work/signing"
}
sign_goal=yes
measure_signing "6 × fl_viability" "$work/six_fl_viability" 6 1
measure_signing "20 × fl_viability" "$work/twenty" 20 0
# The first result also pays one-time set-up (image plugins, fonts) that an empty folder does not;
# the cost of each further result shows whether the time grows with the number of results.
early_s=$(calc "($six_s - $one_s) / 5")
late_s=$(calc "($twenty_s - $six_s) / 14")

# Reports of the three samples from both builds. The level "none" leaves the signature values
# blank: they hold the time of the run, which two runs never share.
for which in old new; do
  tool=$new_tool
  [ "$which" = old ] && tool=$old_tool
  cp -r "$work/samples" "$work/pages_$which"
  run_once "$tool" "$work/pages_$which" none 1
done
{
  echo "| sample | report before | report now | change |"
  echo "|---|---|---|---|"
} >"$work/sizes"
compare_ok=yes
: >"$work/compare"
for kind in "${kinds[@]}"; do
  old_pdf=$(ls "$work/pages_old/$kind"/*.pdf)
  new_pdf=$(ls "$work/pages_new/$kind"/*.pdf)
  old_size=$(stat -c %s "$old_pdf"); new_size=$(stat -c %s "$new_pdf")
  [ "$new_size" -le "$old_size" ] || goal=no
  printf '| %s | %d KB | %d KB | %+.1f %% |\n' "$kind" $((old_size / 1024)) $((new_size / 1024)) \
    "$(calc "100 * ($new_size - $old_size) / $old_size")" >>"$work/sizes"
  cmp_dir="$work/cmp_$kind"
  mkdir -p "$cmp_dir"
  for which in old new; do
    pdf=$old_pdf
    [ "$which" = new ] && pdf=$new_pdf
    pdftoppm -r 150 "$pdf" "$cmp_dir/$which"
    pdftotext -layout "$pdf" "$cmp_dir/$which.txt"
    # Every picture but the JPEG artwork, as the reader decodes it.
    mkdir -p "$cmp_dir/img_$which"
    pdfimages -list "$pdf" 2>/dev/null | awk 'NR > 2 && $9 != "jpeg" { print $2 }' >"$cmp_dir/$which.lossless"
    pdfimages "$pdf" "$cmp_dir/img_$which/i" 2>/dev/null
  done
  line=$(python3 - "$cmp_dir" "$tolerance" <<'EOF'
import glob, os, sys
d, tol = sys.argv[1], int(sys.argv[2])
def ppm(path):
    data = open(path, 'rb').read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace(): pos += 1
        end = pos
        while not data[end:end + 1].isspace(): end += 1
        fields.append(data[pos:end]); pos = end
    return int(fields[1]), int(fields[2]), data[pos + 1:]
problems, worst, changed, pages = [], 0, 0, 0
for old in sorted(glob.glob(os.path.join(d, 'old-*.ppm'))):
    new = old.replace('/old-', '/new-')
    pages += 1
    ow, oh, ob = ppm(old); nw, nh, nb = ppm(new)
    if (ow, oh) != (nw, nh):
        problems.append('page size differs: ' + os.path.basename(old)); continue
    diff = [abs(a - b) for a, b in zip(ob, nb)]
    worst = max(worst, max(diff)); changed += sum(1 for x in diff[::3] if x) 
    if max(diff) > tol: problems.append('%s: a pixel differs by %d' % (os.path.basename(old), max(diff)))
if pages != 2: problems.append('%d pages' % pages)
if open(os.path.join(d, 'old.txt'), 'rb').read() != open(os.path.join(d, 'new.txt'), 'rb').read():
    problems.append('text differs')
lossless = [open(os.path.join(d, w + '.lossless')).read().split() for w in ('old', 'new')]
old_imgs = sorted(glob.glob(os.path.join(d, 'img_old', '*')))
new_imgs = sorted(glob.glob(os.path.join(d, 'img_new', '*')))
if len(old_imgs) != len(new_imgs): problems.append('picture count differs')
same = 0
for a, b in zip(old_imgs, new_imgs):
    index = str(int(os.path.basename(a).split('-')[1].split('.')[0]))
    if index not in lossless[1]: continue
    if open(a, 'rb').read() != open(b, 'rb').read(): problems.append('picture %s differs' % index)
    else: same += 1
print('%s | %d | %d identical | %d | %d | %s' % ('pass' if not problems else 'FAIL', pages, same,
      worst, changed, '; '.join(problems) or '-'))
EOF
)
  echo "| $kind | $line |" >>"$work/compare"
  case $line in pass*) ;; *) compare_ok=no; goal=no ;; esac
done

profile="$work/profile"
if command -v perf >/dev/null && [ "${PROFILE:-1}" != 0 ]; then
  signing on
  SUMMONED_BY_FILELIST=1 perf record -q -F 4000 --call-graph dwarf,32768 -o "$work/perf.data" \
    "$new_tool" jdoe 4a6f686e20446f65 user "$work/six_fl_viability" _ _ "" _ _ "" _ _ "" \
    >/dev/null 2>&1 || true
  signing off
  {
    echo "Self time by library (all threads):"
    echo
    echo '| library | share |'
    echo '|---|---|'
    perf report -i "$work/perf.data" --stdio --no-children --sort dso -g none 2>/dev/null |
      awk '/^ +[0-9.]+%/ && $1 + 0 >= 0.5 { printf "| %s | %s |\n", $2, $1 }'
    echo
    echo "Inclusive time of the steps (the main thread and the deflate workers, not Qt's pooled threads;"
    echo "nested steps are counted in their callers too):"
    echo
    echo '| step | share |'
    echo '|---|---|'
    perf report -i "$work/perf.data" --stdio --children --comm sealprint --sort sym -g none 2>/dev/null |
      awk '
        BEGIN {
          n = split("compose_report draw_page1 draw_page2 QImageReader::read QImage::smoothScaled " \
                    "QImage::convertToFormat_helper genImage total_genImage genClusterImage " \
                    "draw_raster deflate_rows complete_pictures draw_jpeg HPDF_LoadTTFontFromFile " \
                    "save_report_document HPDF_SaveToStream deflate sign_saved_report sign_pdf " \
                    "load_signing_identity sign_detached sign_attributes QApplicationPrivate::init", step, " ")
        }
        /^ +[0-9.]+%/ {
          name = $4; for (i = 5; i <= NF; i++) name = name " " $i
          sub(/ \(inlined\)$/, "", name)
          sub(/^\(anonymous namespace\)::/, "", name)
          if (!(name in best) || $1 + 0 > best[name]) best[name] = $1 + 0
        }
        END { for (i = 1; i <= n; i++) printf "| %s | %.1f%% |\n", step[i], best[step[i]] }'
  } >"$profile"
fi

{
  echo "# sealprint benchmark"
  echo
  echo "Measured $(date -u '+%Y-%m-%d %H:%M') UTC by \`bench/sealprint_bench.sh\` on $(nproc) cores; Release builds"
  echo "of this tree (\"now\") and of commit $old_commit (\"before\"),"
  echo "run alternately in the same session; bundled samples (camera images 1280 × 960), offscreen"
  echo "platform, both with the Ubuntu fonts. Load average before the runs: $load (other work on the"
  echo "machine lengthens wall times; CPU times and the ratios are steadier). Whole processes: wall time,"
  echo "CPU time (user + system) and peak resident memory (/usr/bin/time %U %S %M), median of $runs runs"
  echo "after one warm-up run of each build."
  echo
  echo "| job | results | wall before | wall now | before / now | now per result | CPU before | CPU now | peak before | peak now |"
  echo "|---|---|---|---|---|---|---|---|---|---|"
  cat "$work/table"
  echo
  printf -- '- linearity: 20 results take %.2f × (start-up + 20 × one result)\n' "$linearity"
  printf -- '- each further result (fl_viability): %.3f s for results 2-6, %.3f s for results 7-20 (ratio %.2f)\n' \
    "$early_s" "$late_s" "$(calc "$late_s / $early_s")"
  echo "- goal (at most 0.2 s per result for every kind, at most 80 MB for 1 and for 20 results,"
  echo "  no report larger, pages the same): $goal"
  echo
  echo "Report sizes:"
  echo
  cat "$work/sizes"
  echo
  echo "Pages compared (pdftoppm -r 150, every page; text by pdftotext; lossless pictures by pdfimages;"
  echo "at most $tolerance levels of difference allowed on the rendered pages): $compare_ok"
  echo
  echo "| sample | result | pages | lossless pictures | largest pixel difference | pixels differing | problems |"
  echo "|---|---|---|---|---|---|---|"
  cat "$work/compare"
  echo
  echo "Signing: the new build with a self-signed RSA 3072 identity (\"signed\") and without (\"unsigned\"),"
  echo "alternately in the same session, median of $sign_runs runs each after one warm-up run; the cost per"
  echo "result is the difference of the medians divided by the number of results."
  echo
  echo "| job | results | wall unsigned | wall signed | signing per result | CPU unsigned | CPU signed | signing per result (CPU) | signed per result | peak unsigned | peak signed |"
  echo "|---|---|---|---|---|---|---|---|---|---|---|"
  cat "$work/signing"
  echo
  echo "- goal (on the six results: signing adds at most 10 ms per result; signed, at most 0.2 s per result"
  echo "  and 80 MB): $sign_goal"
  if [ -s "$profile" ]; then
    echo
    echo "Profile of the new build signing six fl_viability results (perf, 4 kHz, DWARF call graphs):"
    echo
    cat "$profile"
  fi
} >"$results"
cat "$results"
[ "$compare_ok" = yes ]
