#!/usr/bin/env bash
# check_header.sh STAGE LIBDIR WORK CXX
# The installed headers as a program sees them (install tree STAGE, made by
# check_install.sh): each compiles on its own as C++17; a call to a member
# or function that libCtrl_Lumo.so does not export fails to compile; and a
# program built with plain flags (header/lumo_sink.cpp) links every export
# and receives the library's message box from the installed simulator.
set -euo pipefail
stage=$1 libdir=$2 work=$3 cxx=$4
here=$(cd "$(dirname "$0")" && pwd)
address=127.0.21.6
# shellcheck source=tests/packaging/common.sh
source "$(dirname "$0")/common.sh"
rm -rf "$work"
mkdir -p "$work"
compile() { "$cxx" -std=c++17 -Wall -Wextra -Wpedantic -Werror -fsyntax-only -I"$stage/include" "$@"; }

for header in "$stage"/include/ctrl_lumo/*.h; do
    echo "#include <ctrl_lumo/$(basename "$header")>" >"$work/alone.cpp"
    compile "$work/alone.cpp" || fail "$header does not compile on its own"
done

# NAME|BODY: BODY uses NAME, which a program cannot reach; the compiler must
# refuse it and name it. The first line is the control that must compile.
calls=(
    'CloseCOM|net.CloseCOM();'
    'Senddata|net.Senddata(nullptr, 0);'
    'ReadComData|char b[4]; net.ReadComData(b, 4);'
    'Check_Return|net.Check_Return(1, 0, 10);'
    'ClearMailbox|net.ClearMailbox();'
    'SetRecvMode|net.m_Client.SetRecvMode(0, 5);'
    'Lumo_Client|Lumo_Client own;'
    'WakeCount|lumo::WakeCount count;'
    'SetLumoMessageSink|SetLumoMessageSink(nullptr);'
    'UdpOpen|UdpOpen();'
)
for call in "${calls[@]}"; do
    name=${call%%|*}
    printf '#include <ctrl_lumo/lumo_net.h>\nvoid Use([[maybe_unused]] CLumo_Net& net) { %s }\n' "${call#*|}" >"$work/call.cpp"
    if [[ $name == CloseCOM ]]; then
        compile "$work/call.cpp" || fail "the control call does not compile"
    elif compile "$work/call.cpp" 2>"$work/err"; then
        fail "a program can call $name"
    else
        grep -q "$name" "$work/err" || { cat "$work/err"; fail "the call of $name fails for another reason"; }
    fi
done

"$cxx" -std=c++17 -o "$work/lumo_sink" "$here/header/lumo_sink.cpp" -I"$stage/include" \
    -L"$stage/$libdir" -lCtrl_Lumo -Wl,-rpath,"$stage/$libdir" || fail "lumo_sink does not build"

start_sim "$stage/bin/lumo-module-sim" "$work/sim.out" --address "$address" --tcp --misbehave ffff
out=$("$work/lumo_sink" "$address") || fail "lumo_sink: status $?"
[[ $out == "Error: 3 Didn't Connect to $address"$'\n'"result 0" ]] || fail "lumo_sink printed: $out"
echo "installed headers: C++17 on their own, $((${#calls[@]} - 1)) internal calls refused; a plain program received the box"
