#!/usr/bin/env bash
# Times the whole runlabel process on generated greymaps (and thresholded
# photographs, where scikit-image is installed) against `cp in out`, the floor
# any program that reads and writes the same bytes must pay, beside another
# build's binary, and measures its peak memory. Needs hyperfine, jq and GNU
# time (/usr/bin/time).
#
#   bench/whole_process.sh [BUILD_DIR]      (default build/release)
#
# Environment:
#   SIZE      image side (default 2048); RUNS timed runs per command (default 15)
#   FAMILIES  space-separated (default below; `runlabel_bench --families` lists all)
#   PHOTOS    0 leaves the photographs out
#   BASE      another runlabel binary, timed beside this one (its default and -j1)
#   WORK_DIR  where the files go (default /dev/shm, so that the disk's writeback
#             does not blur a floor of a few milliseconds)
# Every command of one image is timed in one hyperfine run, interleaved, so the
# ratios compare like with like on a shared machine:
#   cp        cp in out
#   classic   runlabel in out.pgm           (the classic form: 8-bit greymap)
#   base      BASE in out.pgm
#   default   runlabel -q in out.npy        (threads as runlabel chooses them)
#   j1, j2    runlabel -q -jN in out.npy
#   base_j1   BASE -q -j1 in out.npy
#   pgm, png  runlabel -q in out.pgm / out.png (16-bit labels at most; "-" past)
# It ends with the start-up on a 1 x 1 greymap.
#
# MOSAIC=N instead labels one N x N document mosaic (tiles of 4096 x 4096),
# once, in MOSAIC_DIR (default /tmp: such files outgrow memory), and reports
# its time and peak memory against the streaming budget.
# SPEEDUP=N times -j1 and -j2 on one N x N image of FAMILY (default
# noise50-b4) in WORK_DIR, and reports the speed-up.
set -euo pipefail

build=${1:-build/release}
size=${SIZE:-2048}
runs=${RUNS:-15}
read -r -a families <<<"${FAMILIES:-document blobs noise10-b1 noise30-b1 noise50-b1 noise50-b4 noise30-b16 zero ones checker}"

bench=$build/bench/runlabel_bench
runlabel=$build/driver/runlabel
here=$(cd "$(dirname "$0")" && pwd)
for tool in "$bench" "$runlabel"; do
    [[ -x $tool ]] || { echo "whole_process.sh: $tool not built (cmake --workflow --preset release)" >&2; exit 2; }
done
for tool in hyperfine jq /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "whole_process.sh: $tool is needed" >&2; exit 2; }
done
base=${BASE:-}
[[ -z $base || -x $base ]] || { echo "whole_process.sh: BASE=$base is no program" >&2; exit 2; }

if [[ -n ${MOSAIC:-} ]]; then
    dir=$(mktemp -d "${MOSAIC_DIR:-/tmp}/runlabel_mosaic.XXXXXX")
    trap 'rm -rf "$dir"' EXIT
    read -r _ _ run_count < <("$bench" --write-mosaic document 4096 "$MOSAIC" "$dir/in.pgm")
    echo "document mosaic $MOSAIC x $MOSAIC ($run_count runs) in $dir"
    /usr/bin/time -f '%e s, peak %M KiB' -o "$dir/time" "$runlabel" "$dir/in.pgm" "$dir/out.pgm"
    cat "$dir/time"
    awk -v n="$run_count" -v kib="$(grep -o 'peak [0-9]*' "$dir/time" | cut -d' ' -f2)" 'BEGIN {
        printf "above 64 MiB: %.1f B per run (budget 28)\n", (kib * 1024 - 64 * 1048576) / n }'
    exit 0
fi

work_dir=${WORK_DIR:-/dev/shm}
[[ -d $work_dir && -w $work_dir ]] || work_dir=${TMPDIR:-/tmp}
work=$(mktemp -d "$work_dir/runlabel_whole.XXXXXX")
trap 'rm -rf "$work"' EXIT
in=$work/in.pgm

median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
ms() { jq -r --arg c "$1" '.results[] | select(.command == $c) | .median * 1000' "$work/times.json"; }

if [[ -n ${SPEEDUP:-} ]]; then
    family=${FAMILY:-noise50-b4}
    read -r _ _ run_count < <("$bench" --write-pgm "$family" "$SPEEDUP" "$in")
    hyperfine --style none --warmup 1 --runs "${RUNS:-5}" --export-json "$work/times.json" \
        --prepare "rm -f $work/out.npy" \
        --command-name j1 "$runlabel -q -j1 $in $work/out.npy" \
        --command-name j2 "$runlabel -q -j2 $in $work/out.npy" \
        --command-name default "$runlabel -q $in $work/out.npy" >/dev/null
    awk -v f="$family" -v s="$SPEEDUP" -v n="$run_count" -v j1="$(ms j1)" -v j2="$(ms j2)" \
        -v d="$(ms default)" 'BEGIN {
        printf "%s %d x %d (%d runs): -j1 %.0f ms, -j2 %.0f ms, default %.0f ms; speed-up %.2f\n",
            f, s, s, n, j1, j2, d, j1 / j2 }'
    exit 0
fi

images=()
for family in "${families[@]}"; do images+=("$family"); done
if [[ ${PHOTOS:-1} != 0 ]] && /usr/bin/python3 -c 'import skimage' 2>/dev/null; then
    images+=(photo-hubble photo-retina)
fi

echo "runlabel on ${size} x ${size} images in $work_dir (photos at their own size): hyperfine medians of ${runs} runs, ms"
echo "peak: RSS of the default run, median of 3; ratios: classic/cp, default/j1, default/best of j1 and j2,"
echo "default/base_j1, png/pgm"
printf '%-13s %8s %6s %7s %6s %6s %7s %6s %6s %6s %6s %6s %6s %6s %6s %7s %8s %6s\n' \
    image runs cp classic base /cp default j1 j2 /j1 /best base_j1 /base pgm png png/pgm \
    peak_MiB B/run
for image in "${images[@]}"; do
    case $image in
        photo-*) run_count=$(/usr/bin/python3 "$here/photo_pgm.py" "${image#photo-}" "$in" "$size") ;;
        *) read -r _ _ run_count < <("$bench" --write-pgm "$image" "$size" "$in") ;;
    esac
    labels=$("$runlabel" "$in" "$work/out.npy" | awk '/^Total [0-9]+ regions/ {print $2}')
    commands=(--command-name cp "cp $in $work/cp.pgm"
        --command-name classic "$runlabel $in $work/out.pgm"
        --command-name default "$runlabel -q $in $work/out.npy"
        --command-name j1 "$runlabel -q -j1 $in $work/out.npy"
        --command-name j2 "$runlabel -q -j2 $in $work/out.npy")
    if [[ -n $base ]]; then
        commands+=(--command-name base "$base $in $work/out.pgm"
            --command-name base_j1 "$base -q -j1 $in $work/out.npy")
    fi
    if ((labels <= 65535)); then
        commands+=(--command-name pgm "$runlabel -q $in $work/o16.pgm"
            --command-name png "$runlabel -q $in $work/o16.png")
    fi
    # Outputs are removed before each run: ext4 flushes a file truncated and
    # written again when it is closed, which would time the disk. hyperfine's
    # advice on outliers would break up the table; its errors are shown.
    if ! hyperfine --style none --warmup 2 --runs "$runs" --export-json "$work/times.json" \
        --prepare "rm -f $work/out.pgm $work/out.npy $work/cp.pgm $work/o16.pgm $work/o16.png" \
        "${commands[@]}" >/dev/null 2>"$work/hyperfine.err"; then
        cat "$work/hyperfine.err" >&2
        exit 1
    fi
    peak_kib=$(for _ in 1 2 3; do
        rm -f "$work/out.npy"
        /usr/bin/time -f '%M' "$runlabel" -q "$in" "$work/out.npy" 2>&1 >/dev/null | tail -n 1
    done | median)
    png_size=-
    [[ -f $work/o16.png ]] || "$runlabel" -q "$in" "$work/o16.png" 2>/dev/null || true
    [[ -f $work/o16.png ]] && png_size=$(stat -c %s "$work/o16.png")
    awk -v f="$image" -v n="$run_count" -v cp="$(ms cp)" -v classic="$(ms classic)" \
        -v base="$(ms base)" -v d="$(ms default)" -v j1="$(ms j1)" -v j2="$(ms j2)" \
        -v bj1="$(ms base_j1)" -v pgm="$(ms pgm)" -v png="$(ms png)" -v kib="$peak_kib" 'BEGIN {
        best = j1 < j2 ? j1 : j2
        num = "%6.1f"
        printf "%-13s %8d %6.1f %7.1f %6s %6.2f %7.1f %6.1f %6.1f %6.2f %6.2f %6s %6s %6s %6s %7s %8.1f %6s\n",
            f, n, cp, classic, (base != "" ? sprintf(num, base) : "-"), classic / cp, d, j1, j2,
            d / j1, d / best, (bj1 != "" ? sprintf(num, bj1) : "-"),
            (bj1 != "" ? sprintf("%.2f", d / bj1) : "-"), (pgm != "" ? sprintf(num, pgm) : "-"),
            (png != "" ? sprintf(num, png) : "-"), (png != "" ? sprintf("%.2f", png / pgm) : "-"),
            kib / 1024, (n > 0 ? sprintf("%.1f", kib * 1024 / n) : "-")
    }'
    [[ $png_size == - ]] || echo "  png file: $png_size bytes"
done

printf 'P5\n1 1\n255\n\001' >"$work/one.pgm"
commands=(--command-name now "$runlabel $work/one.pgm $work/one-out.pgm")
[[ -z $base ]] || commands+=(--command-name base "$base $work/one.pgm $work/one-out.pgm")
hyperfine -N --style none --warmup 20 --runs 200 --export-json "$work/times.json" "${commands[@]}" >/dev/null
if [[ -n $base ]]; then
    printf 'start-up on a 1 x 1 greymap: %.2f ms (base %.2f ms), median of 200\n' "$(ms now)" "$(ms base)"
else
    printf 'start-up on a 1 x 1 greymap: %.2f ms, median of 200\n' "$(ms now)"
fi
