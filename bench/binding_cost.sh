#!/usr/bin/env bash
# Counts the instructions of one labelling through the Python binding and of the
# same call through the C++ API (callgrind), on the same pixels. Timings of the
# two differ by more than the binding costs on a shared machine; instruction
# counts repeat to the last few digits.
#
#   bench/binding_cost.sh [BUILD_DIR]      (default build/release)
#
# Environment: SIZE (default 2048), FAMILIES (default below), CONNECTIVITY (4).
# Needs valgrind and Debian's /usr/bin/python3 with numpy.
set -euo pipefail

build=${1:-build/release}
size=${SIZE:-2048}
connectivity=${CONNECTIVITY:-4}
read -r -a families <<<"${FAMILIES:-noise50-b1 noise10-b4 document blobs checker spiral}"

bench=$build/bench/runlabel_bench
timing=$build/bench/runlabel_api_timing
for tool in "$bench" "$timing"; do
    [[ -x $tool ]] || { echo "binding_cost.sh: $tool not built (cmake --workflow --preset release)" >&2; exit 2; }
done
ls "$build"/python/runlabel*.so >/dev/null 2>&1 || { echo "binding_cost.sh: the Python module is not built in $build" >&2; exit 2; }
command -v valgrind >/dev/null || { echo "binding_cost.sh: valgrind is needed" >&2; exit 2; }

dir=$(mktemp -d "${TMPDIR:-/tmp}/runlabel_binding.XXXXXX")
trap 'rm -rf "$dir"' EXIT

# Both sides call twice (the C++ program warms up once), so both counts hold
# two calls, each into a reused 32-bit label buffer.
cat >"$dir/call.py" <<'EOF'
import sys
import numpy as np
import runlabel
image = np.fromfile(sys.argv[1], np.uint8).reshape(int(sys.argv[2]), int(sys.argv[2]))
out = np.empty(image.shape, np.uint32)
for _ in range(2):
    runlabel.label(image, int(sys.argv[3]), out=out)
EOF

# The inclusive count of the first function whose name matches.
inclusive() {
    callgrind_annotate --inclusive=yes --threshold=100 "$1" 2>/dev/null |
        awk -v name="$2" '!found && index($0, name) { gsub(",", "", $1); print $1; found = 1 }'
}

echo "instructions of two calls, ${size} x ${size}, ${connectivity}-connectivity"
printf '%-14s %14s %14s %9s\n' image "C++" Python binding
for family in "${families[@]}"; do
    "$bench" --write-pgm "$family" "$size" "$dir/image.pgm" >/dev/null
    tail -c $((size * size)) "$dir/image.pgm" >"$dir/image.raw"
    valgrind --tool=callgrind --callgrind-out-file="$dir/cxx.out" \
        "$timing" "$connectivity" 1 "$family" "$size" "$size" "$dir/image.raw" >/dev/null 2>&1
    PYTHONPATH=$build/python valgrind --tool=callgrind --callgrind-out-file="$dir/py.out" \
        /usr/bin/python3 "$dir/call.py" "$dir/image.raw" "$size" "$connectivity" >/dev/null 2>&1
    cxx=$(inclusive "$dir/cxx.out" "runlabel::label(runlabel::ImageView const&, runlabel::LabelView const&")
    py=$(inclusive "$dir/py.out" "::label(pybind11::object const&")
    awk -v f="$family" -v c="$cxx" -v p="$py" \
        'BEGIN { printf "%-14s %14d %14d %+8.2f%%\n", f, c, p, 100 * (p - c) / c }'
done
