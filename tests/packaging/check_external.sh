#!/usr/bin/env bash
# check_external.sh STAGE LIBDIR SOURCE WORK CXX CC PYTHON
# Builds the programs in SOURCE against the install tree STAGE (made by
# check_install.sh) alone, once through find_package(CtrlLumo) and once
# through pkg-config (ctrl-lumo, ctrl-lumo-c), and runs them against the
# installed module simulator on their own loopback address: connect,
# greeting, acknowledged disconnect (C++), a device query (C). The installed
# Python package asks the same.
set -euo pipefail
stage=$1 libdir=$2 source=$3 work=$4 cxx=$5 cc=$6 python=$7
address=127.0.21.5
# shellcheck source=tests/packaging/common.sh
source "$(dirname "$0")/common.sh"
rm -rf "$work"
mkdir -p "$work"

cmake -S "$source" -B "$work/cmake" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_C_COMPILER="$cc" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_PREFIX_PATH="$stage" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >"$work/log" 2>&1 &&
    cmake --build "$work/cmake" >>"$work/log" 2>&1 || { cat "$work/log"; fail "build through the CMake package"; }
found=$(sed -n 's/^CtrlLumo_DIR:PATH=//p' "$work/cmake/CMakeCache.txt")
[[ $found == "$stage/$libdir/cmake/CtrlLumo" ]] || fail "find_package(CtrlLumo) found $found"

export PKG_CONFIG_PATH=$stage/$libdir/pkgconfig
# shellcheck disable=SC2046 # the flags are separate words
"$cxx" -o "$work/lumo_hello_pc" "$source/lumo_hello.cpp" $(pkg-config --cflags --libs ctrl-lumo) ||
    fail "build through pkg-config"
# shellcheck disable=SC2046
"$cc" -std=c99 -pedantic-errors -o "$work/lumo_hello_c_pc" "$source/lumo_hello_c.c" \
    $(pkg-config --cflags --libs ctrl-lumo-c) || fail "C build through pkg-config"

start_sim "$stage/bin/lumo-module-sim" "$work/sim.out" --address "$address" --tcp --id 5 --style 17

expected=$'module 5 style 17 mode z\ndisconnect acknowledged'
# run PROGRAM LIBRARY EXPECTED [VAR=VALUE...]: it loads the staged LIBRARY and talks to the simulator.
run() {
    local program=$1 library=$2 expected=$3 loaded out
    shift 3
    loaded=$(env "$@" ldd "$program" | awk -v lib="$library" '$1 == lib { print $3 }')
    [[ $loaded == "$stage/$libdir/$library" ]] || fail "$program loads $library from '$loaded'"
    out=$(env "$@" "$program" "$address") || fail "$program: status $? ($out)"
    [[ $out == "$expected" ]] || fail "$program printed: $out"
}
info='Device Information: Device ID 5 Style 17 Ver 1.00'
run "$work/cmake/lumo_hello" libCtrl_Lumo.so.1 "$expected" # CMake gave it a run path to the stage
run "$work/lumo_hello_pc" libCtrl_Lumo.so.1 "$expected" LD_LIBRARY_PATH="$stage/$libdir" # outside the system paths
run "$work/cmake/lumo_hello_c" libctrl_lumo_c.so.1 "$info"
run "$work/lumo_hello_c_pc" libctrl_lumo_c.so.1 "$info" LD_LIBRARY_PATH="$stage/$libdir"
out=$(LD_LIBRARY_PATH="$stage/$libdir" PYTHONPATH="$stage/lib/python3/dist-packages" PYTHONDONTWRITEBYTECODE=1 \
    "$python" -c 'import sys, ctrl_lumo
with ctrl_lumo.Link.tcp(sys.argv[1]) as link:
    answer = link.send("zh")
    print(f"{answer.caption}: {answer.data}")' "$address") || fail "the installed Python package: $out"
[[ $out == "$info" ]] || fail "the installed Python package printed: $out"
echo "built C++ and C programs through CMake and pkg-config; they and the Python package talked to the simulator on $address"
