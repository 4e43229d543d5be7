#!/usr/bin/env bash
# Starts and stops the simulators that the Windows tests reach under Wine,
# on addresses in 127.0.25.0/24, as a ctest fixture:
#   simulators.sh start STATE_DIR SIMULATOR WINEPREFIX WINDOWS_SIMULATOR
#   simulators.sh stop STATE_DIR
# SIMULATOR is the Linux lumo-module-sim; WINDOWS_SIMULATOR, the Windows
# one, plays 127.0.25.40-43 under Wine over TCP (Wine binds a UDP socket to
# every address, so its UDP side cannot stand for one module there).
# A serial side is a pseudo-terminal linked as the prefix's dosdevices/comN,
# which Wine opens for COMN (COM11 and COM12: the \\.\COM names above 9).
set -euo pipefail
command=$1 state=$2

stop() {
    for pidfile in "$state"/*.pid; do
        [[ -e $pidfile ]] || continue
        kill "$(cat "$pidfile")" 2>/dev/null || true
        rm -f "$pidfile"
    done
}

if [[ $command == stop ]]; then
    stop
    exit 0
fi

state=$2 sim=$3 prefix=$4 winsim=$5
mkdir -p "$state" "$prefix/dosdevices"
stop
# name  program  options
while read -r name program options; do
    options=${options//@PREFIX@/$prefix}
    [[ $program == linux ]] && program=("$sim") || program=(wine "$winsim")
    # shellcheck disable=SC2086 # the options are words
    "${program[@]}" $options >"$state/$name.out" 2>"$state/$name.err" </dev/null &
    echo $! >"$state/$name.pid"
done <<'LIST'
link    linux   --address 127.0.25.1 --tcp --udp --serial-link @PREFIX@/dosdevices/com11
reset   linux   --address 127.0.25.2 --tcp --style 5 --misbehave reset
ffff    linux   --address 127.0.25.3 --tcp --misbehave ffff
capi    linux   --address 127.0.25.4 --tcp --udp --id 4 --serial-link @PREFIX@/dosdevices/com12
lumo    linux   --address 127.0.25.5 --tcp --udp --id 3
range   linux   --address 127.0.25.32/30 --tcp --id 10 --id-step 1
winsim  windows --address 127.0.25.40/30 --tcp --id 20 --id-step 1
LIST

for out in "$state"/*.out; do
    for _ in $(seq 600); do # Wine may take a while to start on a busy machine
        tr -d '\r' <"$out" | grep -qx ready && continue 2
        kill -0 "$(cat "${out%.out}.pid")" 2>/dev/null || break
        sleep 0.1
    done
    echo "simulators.sh: $(basename "$out" .out) did not get ready:" >&2
    cat "${out%.out}.err" >&2
    stop
    exit 1
done
echo "simulators ready"
