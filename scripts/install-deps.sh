#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the benchmarks and CI use,
# skipping those already present. Needs root (or sudo) and Debian's apt-get;
# prints what it installs and does nothing when everything is there.
set -euo pipefail

packages=(
    # the tool, the library and their tests
    cmake ninja-build g++ libgtest-dev libgmock-dev pkg-config
    # image formats
    libpng-dev libspng-dev libtiff-dev libisal-dev
    # clang builds: clang, libFuzzer, the sanitizers' runtimes
    clang libclang-rt-14-dev
    # the Python module and its tests
    python3-dev pybind11-dev python3-numpy python3-pytest python3-scipy python3-skimage
    python3-pil python3-tifffile python3-pandas python3-dask
    # pip install of the package into a virtual environment, offline
    python3-venv python3-pip python3-setuptools python3-wheel
    # independent writers and readers the format tests compare against
    imagemagick libtiff-tools netpbm
    # benchmarks and their peers
    libbenchmark-dev libopencv-dev python3-opencv hyperfine jq time valgrind
    # the man page check
    man-db
)

missing=()
for p in "${packages[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
((${#missing[@]})) || exit 0

echo "install-deps: installing ${missing[*]}" >&2
sudo=()
((EUID == 0)) || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
