#!/usr/bin/env bash
# The conversion benchmark: builds in release mode, generates the measurement, and measures
#   (a) the conversion of the sorted file,
#   (b) the conversion of the unsorted file, its sort into the .tmp file included,
#   (c) the sort alone (sortbench: one mdffil_sort),
#   (d) the baseline: the same number of value lines and values printed with fprintf(" %1.7g"),
#   (e) cp of the unsorted file,
#   (f) the conversion of an MDF 3.30 measurement of the same size in real-recording shapes
#       (mkbench3: double time channels, both byte orders, fields at bit positions),
# each as one process timed by /usr/bin/time (wall time, peak resident memory), and prints the
# table and the ratios a/d and c/e. Before that it checks that the conversion output is
# unchanged: the ADF file of a small generated measurement must have the checksum stored in
# bench/reference.sha256, and the conversions of the sorted and the unsorted file must give the
# same ADF file.
#
#   bench/run.sh [SIZE]          SIZE of the generated file (default 200M; 1G for the large run)
#
# Environment: BENCH_BUILD (build folder, default build-bench), BENCH_DIR (data folder, default
# BENCH_BUILD/data), BENCH_REPEAT (runs per case, the fastest counts; default 1), BENCH_KEEP=1
# keeps the large output files.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
SIZE=${1:-${BENCH_SIZE:-200M}}
BUILD=${BENCH_BUILD:-$ROOT/build-bench}
DIR=${BENCH_DIR:-$BUILD/data}
REPEAT=${BENCH_REPEAT:-1}
BIN=$BUILD/bin
TIME=/usr/bin/time

if [ ! -x "$TIME" ]; then
    echo "run.sh: $TIME (GNU time) is needed for wall time and peak memory" >&2
    exit 1
fi

echo "== build (release) in $BUILD"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTRAXCON_BENCH=ON \
    -DTRAXCON_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j 2 --target traxcon mkbench mkbench3 baseline sortbench

mkdir -p "$DIR"
cd "$DIR"

# ---------------------------------------------------------------------------------------------
# Output check: the ADF file of a small measurement is byte for byte the reference.
# ---------------------------------------------------------------------------------------------
echo "== output check"
rm -f ref.dat ref_u.dat ref.adf ref_u.adf ref_u.tmp
"$BIN/mkbench" 4M ref >/dev/null
"$BIN/traxcon" ref /trace=0 >ref.out 2>ref.err
"$BIN/traxcon" ref_u /trace=0 >ref_u.out 2>ref_u.err
sum=$(sha256sum ref.adf | cut -d' ' -f1)
want=$(cut -d' ' -f1 "$ROOT/bench/reference.sha256" 2>/dev/null || true)
if [ "$sum" != "$want" ]; then
    echo "run.sh: ref.adf has the checksum $sum, the reference is ${want:-missing}" >&2
    exit 1
fi
if ! cmp -s ref.adf ref_u.adf; then
    echo "run.sh: the sorted and the unsorted measurement give different ADF files" >&2
    exit 1
fi
echo "ref.adf unchanged ($sum); sorted and unsorted input give the same file"

# ---------------------------------------------------------------------------------------------
# The measurement
# ---------------------------------------------------------------------------------------------
stamp="bench.$SIZE.stamp"
if [ ! -f "$stamp" ] || [ "$BIN/mkbench" -nt "$stamp" ] || [ ! -f bench.dat ] ||
    [ ! -f bench_u.dat ] || [ ! -f bench3.dat ] || [ "$BIN/mkbench3" -nt "$stamp" ]; then
    echo "== generating $SIZE"
    rm -f bench.* bench_u.* bench3.*
    need=$(($(df -Pk . | awk 'NR == 2 { print $4 }') / 1024))
    echo "free disk: $need MiB"
    "$BIN/mkbench" "$SIZE" bench
    "$BIN/mkbench3" "$SIZE" bench3
    touch "$stamp"
fi

# Runs a command REPEAT times under /usr/bin/time; sets WALL (s), CPU (user + system s) and RSS
# (KiB) of the fastest run.
measure() {
    local best_wall="" best_cpu="" best_rss=""
    for _ in $(seq "$REPEAT"); do
        sync
        "$TIME" -f "%e %U %S %M" -o time.txt "$@" >run.out 2>run.err || {
            echo "run.sh: failed: $*" >&2
            tail -5 run.err >&2
            exit 1
        }
        read -r wall user sys rss <time.txt
        if [ -z "$best_wall" ] || awk -v a="$wall" -v b="$best_wall" 'BEGIN { exit !(a < b) }'; then
            best_wall=$wall
            best_cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')
            best_rss=$rss
        fi
    done
    WALL=$best_wall
    CPU=$best_cpu
    RSS=$best_rss
}

size_of() { stat -c %s "$1"; }
# The column count and the value-line count of an ADF file, from its header line.
adf_counts() { grep -m1 '^#' "$1" | awk '{ print $2, $3 }'; }

echo "== (a) conversion of the sorted file"
rm -f bench.adf
measure "$BIN/traxcon" bench
A_WALL=$WALL A_CPU=$CPU A_RSS=$RSS
read -r COLUMNS_N LINES_N <<<"$(adf_counts bench.adf)"
ADF_SIZE=$(size_of bench.adf)

echo "== (b) conversion of the unsorted file, sort included"
rm -f bench_u.adf bench_u.tmp
measure "$BIN/traxcon" bench_u
B_WALL=$WALL B_CPU=$CPU B_RSS=$RSS
if ! cmp -s bench.adf bench_u.adf; then
    echo "run.sh: bench.adf and bench_u.adf differ" >&2
    exit 1
fi

echo "== (c) sort alone"
rm -f sorted.tmp
measure "$BIN/sortbench" bench_u.dat sorted.tmp
C_WALL=$WALL C_CPU=$CPU C_RSS=$RSS

echo "== (d) baseline"
rm -f baseline.txt
measure "$BIN/baseline" baseline.txt "$LINES_N" "$COLUMNS_N" bench.adf
D_WALL=$WALL D_CPU=$CPU D_RSS=$RSS

echo "== (e) cp"
rm -f copy.dat
measure cp bench_u.dat copy.dat
E_WALL=$WALL E_CPU=$CPU E_RSS=$RSS

echo "== (f) conversion of the MDF 3.30 file"
rm -f bench3.adf
measure "$BIN/traxcon" bench3
F_WALL=$WALL F_CPU=$CPU F_RSS=$RSS
read -r COLUMNS_F LINES_F <<<"$(adf_counts bench3.adf)"
VALUES_F=$((LINES_F * COLUMNS_F))

IN_S=$(size_of bench.dat)
IN_F=$(size_of bench3.dat)
IN_U=$(size_of bench_u.dat)
VALUES=$((LINES_N * COLUMNS_N))

echo
echo "== results: $SIZE measurement, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')"
echo "ADF output: $ADF_SIZE bytes, $COLUMNS_N columns"
awk -v in_s="$IN_S" -v in_u="$IN_U" -v lines="$LINES_N" -v values="$VALUES" \
    -v aw="$A_WALL" -v ac="$A_CPU" -v ar="$A_RSS" -v bw="$B_WALL" -v bc="$B_CPU" -v br="$B_RSS" \
    -v cw="$C_WALL" -v cc="$C_CPU" -v cr="$C_RSS" -v dw="$D_WALL" -v dc="$D_CPU" -v dr="$D_RSS" \
    -v ew="$E_WALL" -v ec="$E_CPU" -v er="$E_RSS" -v in_f="$IN_F" -v lines_f="$LINES_F" \
    -v values_f="$VALUES_F" -v fw="$F_WALL" -v fc="$F_CPU" -v fr="$F_RSS" 'BEGIN {
    fmt = "| %-36s | %9s | %11s | %12s | %7s | %7s | %7s | %8s | %9s |\n"
    printf fmt, "case", "input MB", "value lines", "values", "wall s", "CPU s", "MB/s", "ns/value",
        "peak RSS"
    printf "|%s|%s|%s|%s|%s|%s|%s|%s|%s|\n", "--------------------------------------",
        "-----------", "-------------", "--------------", "---------", "---------", "---------",
        "----------", "-----------"
    row("(a) conversion, sorted file", in_s, lines, values, aw, ac, ar)
    row("(b) conversion, unsorted, sort incl.", in_u, lines, values, bw, bc, br)
    row("(c) sort alone", in_u, "-", "-", cw, cc, cr)
    row("(d) baseline fprintf(\" %1.7g\")", "-", lines, values, dw, dc, dr)
    row("(e) cp of the unsorted file", in_u, "-", "-", ew, ec, er)
    row("(f) conversion, MDF 3.30 file", in_f, lines_f, values_f, fw, fc, fr)
    printf "\na/d = %.2f wall, %.2f CPU   (goal <= 0.15 CPU)\n", aw / nz(dw), ac / nz(dc)
    printf "c/e = %.2f wall, %.2f CPU   (goal <= 2.0)\n", cw / nz(ew), cc / nz(ec)
}
function nz(x) { return x > 0 ? x : 0.01 }
function row(name, input, l, v, wall, cpu, rss,    mb, mbs, nsv) {
    mb = input == "-" ? "-" : sprintf("%.1f", input / 1e6)
    mbs = input == "-" ? "-" : sprintf("%.1f", input / 1e6 / nz(wall))
    nsv = v == "-" ? "-" : sprintf("%.1f", wall * 1e9 / v)
    printf fmt, name, mb, l, v, sprintf("%.2f", wall), sprintf("%.2f", cpu), mbs, nsv,
        sprintf("%.1f MiB", rss / 1024)
}'

if [ "${BENCH_KEEP:-0}" != 1 ]; then
    rm -f bench.adf bench_u.adf bench_u.tmp sorted.tmp baseline.txt copy.dat bench3.adf
fi
