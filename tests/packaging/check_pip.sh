#!/usr/bin/env bash
# check_pip.sh SOURCE WORK LIBDIR PYTHON
# Installs the Python package from a copy of SOURCE (capi/python) with pip,
# without the network, into a fresh virtual environment under WORK, and
# imports it there with the built C library on LD_LIBRARY_PATH.
set -euo pipefail
source=$1 work=$2 libdir=$3 python=$4
# shellcheck source=tests/packaging/common.sh
source "$(dirname "$0")/common.sh"
rm -rf "$work"
mkdir -p "$work"
cp -r "$source" "$work/src" # pip builds in the tree it is given
# Debian's setuptools builds it: no index, no isolated build environment.
"$python" -m venv --system-site-packages "$work/venv" || fail "$python -m venv"
"$work/venv/bin/pip" install --no-index --no-build-isolation --disable-pip-version-check -q "$work/src" \
    >"$work/log" 2>&1 || { cat "$work/log"; fail "pip install"; }
cd "$work"
found=$(LD_LIBRARY_PATH=$libdir "$work/venv/bin/python" -c \
    'import ctrl_lumo; print(ctrl_lumo.__file__, ctrl_lumo.version())') || fail "import ctrl_lumo"
[[ $found == "$work/venv/lib/"*"/site-packages/ctrl_lumo/__init__.py "* ]] || fail "imported $found"
echo "pip installed ctrl_lumo into a virtual environment: $found"
