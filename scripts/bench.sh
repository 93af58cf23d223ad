#!/usr/bin/env bash
# Runs every benchmark (each takes the median of three runs and measures its
# baseline in the same run), then writes bench/results.md and the plots in
# docs/bench/. The benchmark machines of 450 MB and 1 GB are made on first
# use into ~/.cache/brisko/bench-machines ($BRISKO_BENCH_CACHE), which takes
# minutes and some gigabytes of memory and disk.
#   scripts/bench.sh [bench_name ...]   only those benchmarks (the table
#                                      keeps the rows of the others)
#   BENCH_SIZES="28 111"                the growth curves at those sizes only
#   BENCH_BUILD_DIR=dir                 the build folder (default build)
#   BENCH_NO_BUILD=1                    run what is built, without building
#   BENCH_REPORT_ONLY=1                 only the table and plots, from the last logs
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${BENCH_BUILD_DIR:-build}
logs=$build/bench-logs

# gnuplot draws the plots; only this script needs it.
if ! command -v gnuplot > /dev/null; then
    if [ "$(id -u)" = 0 ]; then
        DEBIAN_FRONTEND=noninteractive apt-get install -y gnuplot-nox > /dev/null
    else
        echo "bench.sh: gnuplot is missing (apt-get install gnuplot-nox); no plots" >&2
    fi
fi

launcher=()
command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
[ -n "${BENCH_NO_BUILD:-}${BENCH_REPORT_ONLY:-}" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBRISKO_BENCH=ON "${launcher[@]}" > /dev/null
mapfile -t all < <(cd bench && ls bench_*.cpp ui/bench_*.cpp 2> /dev/null | sed 's|.*/||; s|\.cpp$||')
wanted=("$@")
[ ${#wanted[@]} -eq 0 ] && wanted=("${all[@]}")
# BENCH_NO_BUILD=1: run what is built (while another build runs in the same folder).
[ -n "${BENCH_NO_BUILD:-}${BENCH_REPORT_ONLY:-}" ] || ninja -C "$build" "${wanted[@]}"
mkdir -p "$logs" docs/bench

failed=()
# BENCH_REPORT_ONLY=1: the table and plots from the last logs, nothing run.
[ -n "${BENCH_REPORT_ONLY:-}" ] && wanted=()
for b in "${wanted[@]}"; do
    echo "== $b"
    args=()
    [ "$b" = bench_growth ] && args=(${BENCH_SIZES:-})
    if ! "$build/bench/$b" "${args[@]}" 2>&1 | tee "$logs/$b.txt"; then
        failed+=("$b")
    fi
done

# The table: every RESULT line of every log, in the order of the logs.
{
    echo "# Benchmark results"
    echo
    echo "Made by \`scripts/bench.sh\` on $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores,"
    echo "$(awk '/MemTotal/ {printf "%.0f GB", $2 / 1048576}' /proc/meminfo) of memory. Each figure is the median"
    echo "of three runs; its baseline was measured in the same run."
    echo
    echo "| Measure | Figure | Baseline | Ratio | Goal | Met |"
    echo "|---|---|---|---|---|---|"
    for b in "${all[@]}"; do
        [ -f "$logs/$b.txt" ] || continue
        { grep '^RESULT|' "$logs/$b.txt" || true; } | awk -F'|' '{printf "| %s | %s | %s | %s | %s | %s |\n", $2, $3, $4, $5, $6, $7}'
    done
    if [ -f "$logs/bench_growth.txt" ]; then
        echo
        echo "## Growth with the size of the registry"
        echo
        echo "![Time and peak memory against the size of the hives](../docs/bench/growth.png)"
        echo
        echo "| Machine | Hives | Operation | Time | Peak memory |"
        echo "|---|---|---|---|---|"
        grep '^GROWTH|' "$logs/bench_growth.txt" |
            awk -F'|' '$4 != "read" {printf "| %s MB | %.1f MB | %s | %.0f ms | %.0f MB |\n", $2, $3, $4, $5, $6 / 1024}'
    fi
} > bench/results.md

# The README shows the table (not the growth rows) between its two markers.
table=$(sed -n '/^| Measure/,/^$/p' bench/results.md)
awk -v table="$table" '
    /^<!-- bench-table/ { print; print table; skip = 1; next }
    /^<!-- end of bench-table/ { skip = 0 }
    !skip' README.md > "$build/README.md.new" && mv "$build/README.md.new" README.md

# The plots.
if command -v gnuplot > /dev/null; then
    if [ -f "$logs/bench_growth.txt" ]; then
        for op in read walk scan analyse; do
            grep "^GROWTH|" "$logs/bench_growth.txt" | awk -F'|' -v op=$op '$4 == op {print $3, $5 / 1000, $6 / 1024}' > "$logs/growth-$op.dat"
        done
        gnuplot <<PLOT
set terminal pngcairo size 1100,450 font ",10"
set output "$root/docs/bench/growth.png"
set multiplot layout 1,2
set key top left
set grid
set xlabel "hives (MB)"
set ylabel "seconds"
set title "Time"
plot "$logs/growth-walk.dat" u 1:2 w lp t "walk", \
     "$logs/growth-scan.dat" u 1:2 w lp t "full scan", \
     "$logs/growth-analyse.dat" u 1:2 w lp t "defrag analysis", \
     "$logs/growth-read.dat" u 1:2 w lp t "plain read"
set ylabel "MB"
set title "Peak memory"
plot "$logs/growth-walk.dat" u 1:3 w lp t "walk", \
     "$logs/growth-scan.dat" u 1:3 w lp t "full scan", \
     "$logs/growth-analyse.dat" u 1:3 w lp t "defrag analysis", \
     1.2 * x + 50 dt 2 lc rgb "gray" t "goal: 1.2 x hives + 50 MB"
unset multiplot
PLOT
    fi
    # Each ratio as a share of its goal: under 1 is met.
    { grep -h '^RESULT|' "$logs"/*.txt || true; } | awk -F'|' '{g = $6; sub(/<= /, "", g); if (g > 0) printf "%d \"%s\" %.3f\n", NR, substr($2, 1, 60), $5 / g}' > "$logs/ratios.dat"
    if [ -s "$logs/ratios.dat" ]; then
        rows=$(wc -l < "$logs/ratios.dat")
        gnuplot <<PLOT
set terminal pngcairo size 1000,$((120 + 28 * rows)) font ",9"
set output "$root/docs/bench/ratios.png"
set title "Each ratio against its goal (under 1: the goal is met)"
set style fill solid 0.6
set xrange [0:*]
set yrange [$rows + 0.5:0.5]
set ytics scale 0
set grid x
set arrow from 1, graph 0 to 1, graph 1 nohead dt 2 lc rgb "red"
plot "$logs/ratios.dat" u (\$3 / 2):1:(\$3 / 2):(0.35):ytic(2) w boxxy notitle
PLOT
    fi
fi
echo "bench/results.md written"
if [ ${#failed[@]} -gt 0 ]; then
    echo "benchmarks that failed: ${failed[*]}" >&2
    exit 1
fi
