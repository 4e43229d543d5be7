#!/usr/bin/env bash
# check_external.sh STAGE LIBDIR SOURCE WORK CXX
# Builds the program in SOURCE against the install tree STAGE (made by
# check_install.sh) alone, once through find_package(CtrlLumo) and once
# through `pkg-config ctrl-lumo`, and runs both against the installed module
# simulator on their own loopback address: connect, greeting, acknowledged
# disconnect.
set -euo pipefail
stage=$1 libdir=$2 source=$3 work=$4 cxx=$5
address=127.0.21.5
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
rm -rf "$work"
mkdir -p "$work"

cmake -S "$source" -B "$work/cmake" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_PREFIX_PATH="$stage" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >"$work/log" 2>&1 &&
    cmake --build "$work/cmake" >>"$work/log" 2>&1 || { cat "$work/log"; fail "build through the CMake package"; }
found=$(sed -n 's/^CtrlLumo_DIR:PATH=//p' "$work/cmake/CMakeCache.txt")
[[ $found == "$stage/$libdir/cmake/CtrlLumo" ]] || fail "find_package(CtrlLumo) found $found"

export PKG_CONFIG_PATH=$stage/$libdir/pkgconfig
# shellcheck disable=SC2046 # the flags are separate words
"$cxx" -o "$work/lumo_hello_pc" "$source/lumo_hello.cpp" $(pkg-config --cflags --libs ctrl-lumo) ||
    fail "build through pkg-config"

sim_out=$work/sim.out
"$stage/bin/lumo-module-sim" --address "$address" --tcp --id 5 --style 17 >"$sim_out" 2>&1 </dev/null &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT
for _ in $(seq 200); do
    grep -q '^ready' "$sim_out" && break
    kill -0 $sim 2>/dev/null || { cat "$sim_out"; fail "the simulator stopped"; }
    sleep 0.05
done
grep -q '^ready' "$sim_out" || fail "the simulator did not get ready"

expected=$'module 5 style 17 mode z\ndisconnect acknowledged'
# run PROGRAM [VAR=VALUE...]: it loads the staged library and talks to the simulator.
run() {
    local program=$1 loaded out
    shift
    loaded=$(env "$@" ldd "$program" | awk '$1 == "libCtrl_Lumo.so.1" { print $3 }')
    [[ $loaded == "$stage/$libdir/libCtrl_Lumo.so.1" ]] || fail "$program loads libCtrl_Lumo.so.1 from '$loaded'"
    out=$(env "$@" "$program" "$address") || fail "$program: status $? ($out)"
    [[ $out == "$expected" ]] || fail "$program printed: $out"
}
run "$work/cmake/lumo_hello" # CMake gave it a run path to the stage
run "$work/lumo_hello_pc" LD_LIBRARY_PATH="$stage/$libdir" # as a library outside the system paths is used
echo "built through CMake and pkg-config; both talked to the simulator on $address"
