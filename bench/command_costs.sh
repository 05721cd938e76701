#!/usr/bin/env bash
# What the command's options and file formats cost over the classic form, as
# whole processes timed side by side in one hyperfine run per image: the region
# table and the colour view beside `runlabel in.pgm out.pgm`; PNG and TIFF
# masks in and label images out beside greymaps; and ImageMagick's
# `convert in.png out.png` on the same mask as a reference. Needs hyperfine,
# jq and Debian's imagemagick (/usr/bin/convert).
#
#   bench/command_costs.sh [BUILD_DIR]      (default build/release)
#
# Environment: SIZE (default 4096), RUNS (default 7), FAMILIES (space-separated),
# WORK_DIR (default /dev/shm). The masks are written by ImageMagick from the
# benchmark's greymaps with its defaults (a 0/255 mask becomes a 1-bit PNG and
# an uncompressed bilevel TIFF); the 8-bit grey PNG is asked for explicitly.
set -euo pipefail

build=${1:-build/release}
size=${SIZE:-4096}
runs=${RUNS:-7}
read -r -a families <<<"${FAMILIES:-document blobs noise30-b1 noise50-b4 noise30-b16}"

bench=$build/bench/runlabel_bench
runlabel=$build/driver/runlabel
convert=/usr/bin/convert
for tool in "$bench" "$runlabel"; do
    [[ -x $tool ]] || { echo "command_costs.sh: $tool not built (cmake --workflow --preset release)" >&2; exit 2; }
done
for tool in hyperfine jq "$convert"; do
    command -v "$tool" >/dev/null || { echo "command_costs.sh: $tool is needed" >&2; exit 2; }
done

work_dir=${WORK_DIR:-/dev/shm}
[[ -d $work_dir && -w $work_dir ]] || work_dir=${TMPDIR:-/tmp}
work=$(mktemp -d "$work_dir/runlabel_costs.XXXXXX")
trap 'rm -rf "$work"' EXIT
w=$work

# name, then command; the first is the one every other is weighed against.
commands=(
    bare "$runlabel $w/in.pgm $w/o.pgm"
    quiet "$runlabel -q $w/in.pgm $w/o.pgm"
    stats.csv "$runlabel -q $w/in.pgm $w/o.pgm --stats $w/o.csv"
    stats.json "$runlabel -q $w/in.pgm $w/o.pgm --stats $w/o.json"
    color.ppm "$runlabel -q $w/in.pgm $w/o.pgm --color $w/c.ppm"
    color.png "$runlabel -q $w/in.pgm $w/o.pgm --color $w/c.png"
    in.png1 "$runlabel -q $w/in.png $w/o.pgm"
    in.png8 "$runlabel -q $w/in8.png $w/o.pgm"
    in.tif "$runlabel -q $w/in.tif $w/o.pgm"
    out.png "$runlabel -q $w/in.pgm $w/o.png"
    out.tif "$runlabel -q $w/in.pgm $w/o.tif"
    out.npy "$runlabel -q $w/in.pgm $w/o.npy"
    out.pam "$runlabel -q $w/in.pgm $w/o.pam"
    png.png "$runlabel -q $w/in.png $w/o.png"
    convert "$convert $w/in.png $w/c2.png"
)

echo "whole processes on ${size} x ${size} images in $work_dir: median of ${runs} runs (hyperfine), milliseconds"
echo "(x: over the bare form; the labels of out.png and out.tif are 16-bit where the count passes 255)"
header=(image)
for ((i = 0; i < ${#commands[@]}; i += 2)); do header+=("${commands[i]}"); done
printf '%-12s' "${header[0]}"
printf ' %10s' "${header[@]:1}"
printf '\n'

for family in "${families[@]}"; do
    "$bench" --write-pgm "$family" "$size" "$w/in.pgm" >/dev/null
    "$convert" "$w/in.pgm" "$w/in.png"
    "$convert" "$w/in.pgm" -define png:bit-depth=8 -define png:color-type=0 "$w/in8.png"
    "$convert" "$w/in.pgm" -compress none "$w/in.tif"

    args=()
    for ((i = 0; i < ${#commands[@]}; i += 2)); do
        args+=(--command-name "${commands[i]}" "${commands[i + 1]}")
    done
    # A command that fails (16-bit PNG labels for more than 65535 regions) is
    # shown as refused, not timed.
    if ! hyperfine --style none --warmup 1 --runs "$runs" --export-json "$w/times.json" -i \
        --prepare "rm -f $w/o.* $w/c.* $w/c2.png" "${args[@]}" >/dev/null 2>"$w/hyperfine.err"; then
        cat "$w/hyperfine.err" >&2
        exit 1
    fi
    mapfile -t medians < <(jq '.results[] | if any(.exit_codes[]; . != 0) then -1 else .median * 1000 end' \
        "$w/times.json")
    printf '%-12s' "$family"
    for m in "${medians[@]}"; do
        awk -v m="$m" 'BEGIN { if (m < 0) printf " %10s", "refused"; else printf " %10.1f", m }'
    done
    printf '\n%-12s' ""
    for m in "${medians[@]}"; do
        awk -v m="$m" -v b="${medians[0]}" 'BEGIN { if (m < 0) printf " %10s", "-"; else printf " %9.2fx", m / b }'
    done
    printf '\n'
done
