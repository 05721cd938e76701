#!/usr/bin/env bash
# pip installs the package from this checkout into a scratch virtual
# environment, offline (--no-build-isolation --no-index: Debian's setuptools,
# wheel and numpy), and checks what was installed from another directory:
# the extension with its stub and typing marker, the version pip recorded,
# labels.
#   python/tests/pip_install.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
work=$(mktemp -d "${TMPDIR:-/tmp}/runlabel-pip.XXXXXX")
trap 'rm -rf "$work"' EXIT

/usr/bin/python3 -m venv --system-site-packages "$work/venv"
"$work/venv/bin/python" -m pip install --quiet --no-build-isolation --no-index . >"$work/pip.log" 2>&1 ||
    { cat "$work/pip.log" >&2; echo "pip install: failed" >&2; exit 1; }
cd "$work"
"$work/venv/bin/python" - <<'PYTHON'
import importlib.metadata
import inspect
import pathlib
import sys

import numpy as np
import runlabel

package = pathlib.Path(runlabel.__file__).parent
assert package.is_relative_to(sys.prefix), package
for name in ("__init__.pyi", "py.typed"):
    assert (package / name).is_file(), name
assert importlib.metadata.version("runlabel") == runlabel.__version__
assert "threads" in inspect.signature(runlabel.label).parameters
assert runlabel.label(np.eye(3), connectivity=8)[1] == 1
print(f"pip install: runlabel {runlabel.__version__} in {package}")
PYTHON
