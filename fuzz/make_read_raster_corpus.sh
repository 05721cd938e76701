#!/usr/bin/env bash
# Makes the read_raster seed corpus: one small file per input variant, written
# by the independent tools of the format tests (tests/imagefiles/make_inputs.py)
# at 9 x 5 pixels. Replaces fuzz/corpus/read_raster/ except its regress-* and
# grown-* inputs.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
corpus=$here/corpus/read_raster
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

/usr/bin/python3 "$here/../tests/imagefiles/make_inputs.py" "$scratch" 1 9 5
mkdir -p "$corpus"
find "$corpus" -type f ! -name 'regress-*' ! -name 'grown-*' -delete
for file in "$scratch"/*; do
    case $file in *.expected) continue ;; esac
    cp "$file" "$corpus/seed-$(basename "$file")"
done
ls "$corpus" | wc -l
