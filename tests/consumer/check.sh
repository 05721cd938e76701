#!/usr/bin/env bash
# Installs a build into a scratch prefix, then builds and runs a C++17
# consumer against it twice: through CMake's find_package and through plain
# pkg-config.
#   tests/consumer/check.sh [BUILD_DIR]     (default build/release)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/release}
work=$(mktemp -d "${TMPDIR:-/tmp}/runlabel-consumer.XXXXXX")
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
{ cmake -S tests/consumer -B "$work/build" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" &&
    cmake --build "$work/build"; } >"$work/build.log" 2>&1 ||
    { cat "$work/build.log" >&2; echo "consumer: the CMake build failed" >&2; exit 1; }
libdir=$(dirname "$(find "$work/prefix" -name "librunlabel.so" | head -n 1)")
LD_LIBRARY_PATH="$libdir" "$work/build/consumer"

# Plain pkg-config, as the README says: the .pc file finds the prefix from
# its own place.
export PKG_CONFIG_PATH="$libdir/pkgconfig"
flags=$(pkg-config --cflags --libs runlabel)
# shellcheck disable=SC2086
c++ -std=c++17 -DCONSUMER_CPLUSPLUS=201703L tests/consumer/main.cpp $flags -o "$work/consumer-pc"
LD_LIBRARY_PATH="$libdir" "$work/consumer-pc" >/dev/null
# The Python package, where the build made one, imports from where it was
# put, its stub and typing marker beside it.
package=$(find "$work/prefix" -path '*-packages/runlabel' -type d | head -n 1)
if [[ -n $package ]]; then
    for file in __init__.py __init__.pyi py.typed; do
        [[ -f $package/$file ]] || { echo "consumer: runlabel/$file was not installed" >&2; exit 1; }
    done
    (cd "$work" && PYTHONPATH=$(dirname "$package") /usr/bin/python3 -c \
        'import numpy, runlabel; assert runlabel.label(numpy.eye(3, dtype=bool), connectivity=8)[1] == 1')
    echo "consumer: the installed Python package imports and labels"
fi
# The man page is installed and renders without a complaint from man.
page=$(find "$work/prefix" -path '*/man1/runlabel.1' | head -n 1)
[[ -n $page ]] || { echo "consumer: runlabel.1 was not installed" >&2; exit 1; }
if command -v man >/dev/null; then
    rendered=$(MANWIDTH=80 man -l "$page" 2>"$work/man.err")
    [[ ! -s $work/man.err && $rendered == *"--connectivity"* ]] ||
        { cat "$work/man.err" >&2; echo "consumer: runlabel.1 does not render" >&2; exit 1; }
    echo "consumer: the installed man page renders"
fi
echo "consumer: built and ran against the installed tree (CMake package and pkg-config)"
