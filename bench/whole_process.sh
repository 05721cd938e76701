#!/usr/bin/env bash
# Times the whole runlabel process on generated greymaps against `cat in > out`,
# the floor any program that reads and writes the same bytes must pay, and
# measures its peak memory. Needs hyperfine, jq and GNU time (/usr/bin/time).
#
#   bench/whole_process.sh [BUILD_DIR]      (default build/release)
#
# Environment: SIZE (default 4096), RUNS (timed runs per command, default 7),
# FAMILIES (space-separated, default below; `runlabel_bench --families` lists all),
# WORK_DIR (where the files go; default /dev/shm, so that the disk's writeback
# does not blur a floor of a few milliseconds).
# MOSAIC=N instead labels one N x N document mosaic (tiles of 4096 x 4096),
# once, in MOSAIC_DIR (default /tmp: such files outgrow memory), and reports
# its time and peak memory.
set -euo pipefail

build=${1:-build/release}
size=${SIZE:-4096}
runs=${RUNS:-7}
read -r -a families <<<"${FAMILIES:-document blobs noise10-b1 noise30-b1 noise50-b1 noise50-b4 noise30-b16 zero ones checker}"

bench=$build/bench/runlabel_bench
runlabel=$build/driver/runlabel
for tool in "$bench" "$runlabel"; do
    [[ -x $tool ]] || { echo "whole_process.sh: $tool not built (cmake --workflow --preset release)" >&2; exit 2; }
done
for tool in hyperfine jq /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "whole_process.sh: $tool is needed" >&2; exit 2; }
done

if [[ -n ${MOSAIC:-} ]]; then
    dir=$(mktemp -d "${MOSAIC_DIR:-/tmp}/runlabel_mosaic.XXXXXX")
    trap 'rm -rf "$dir"' EXIT
    read -r _ _ run_count < <("$bench" --write-mosaic document 4096 "$MOSAIC" "$dir/in.pgm")
    echo "document mosaic $MOSAIC x $MOSAIC ($run_count runs) in $dir"
    /usr/bin/time -f '%e s, peak %M KiB' "$runlabel" "$dir/in.pgm" "$dir/out.pgm"
    awk -v n="$run_count" 'BEGIN { printf "budget: 28 B per run + 64 MiB = %.1f MiB\n", (28 * n + 64 * 1048576) / 1048576 }'
    exit 0
fi

work_dir=${WORK_DIR:-/dev/shm}
[[ -d $work_dir && -w $work_dir ]] || work_dir=${TMPDIR:-/tmp}
work=$(mktemp -d "$work_dir/runlabel_whole.XXXXXX")
trap 'rm -rf "$work"' EXIT
in=$work/in.pgm

median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

echo "runlabel on ${size} x ${size} greymaps in $work_dir: median of ${runs} runs (hyperfine), peak RSS median of 3 (/usr/bin/time)"
echo "budget = 16 B per run + 12 B per provisional label (every run is one) + 64 MiB; B/run = peak / runs"
echo "runlabel uses every core; -j1 one thread, labels as .npy (with an option, a greymap"
echo "output holds 16-bit labels at most); speedup = -j1 / runlabel"
printf '%-12s %9s %10s %8s %8s %7s %7s %9s %6s %7s %10s %7s\n' \
    image runs runlabel_ms j1_ms cat_ms ratio speedup peak_MiB B/px B/run budget_MiB peak/bgt
pixels=$((size * size))
for family in "${families[@]}"; do
    read -r _ _ run_count < <("$bench" --write-pgm "$family" "$size" "$in")
    "$runlabel" "$in" "$work/out.pgm" >/dev/null || { echo "whole_process.sh: runlabel failed on $family" >&2; exit 1; }

    # hyperfine's advice on outliers would break up the table; its errors are shown.
    # Outputs are removed before each run: ext4 flushes a file truncated and
    # written again when it is closed, which would time the disk.
    if ! hyperfine --style none --warmup 1 --runs "$runs" --export-json "$work/times.json" \
        --prepare "rm -f $work/out.pgm $work/out.npy $work/cat.pgm" \
        --command-name runlabel "$runlabel $in $work/out.pgm" \
        --command-name j1 "$runlabel -q -j1 $in $work/out.npy" \
        --command-name cat "cat $in > $work/cat.pgm" >/dev/null 2>"$work/hyperfine.err"; then
        cat "$work/hyperfine.err" >&2
        exit 1
    fi
    ours=$(jq '.results[] | select(.command == "runlabel") | .median * 1000' "$work/times.json")
    floor=$(jq '.results[] | select(.command == "cat") | .median * 1000' "$work/times.json")
    single=$(jq '.results[] | select(.command == "j1") | .median * 1000' "$work/times.json")

    peak_kib=$(for _ in 1 2 3; do
        rm -f "$work/out.pgm"
        /usr/bin/time -f '%M' "$runlabel" "$in" "$work/out.pgm" 2>&1 >/dev/null | tail -n 1
    done | median)

    awk -v f="$family" -v n="$run_count" -v ours="$ours" -v single="$single" -v floor="$floor" \
        -v kib="$peak_kib" -v px="$pixels" 'BEGIN {
        bytes = kib * 1024; budget = 28 * n + 64 * 1048576
        printf "%-12s %9d %10.1f %8.1f %8.1f %7.2f %7.2f %9.1f %6.2f %7s %10.1f %7.2f\n", f, n, ours,
            single, floor, ours / floor, single / ours, bytes / 1048576, bytes / px,
            (n > 0 ? sprintf("%.1f", bytes / n) : "-"), budget / 1048576, bytes / budget
    }'
done
