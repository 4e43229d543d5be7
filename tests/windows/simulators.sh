#!/usr/bin/env bash
# Starts and stops the Linux simulators that the Windows tests reach under
# Wine, one per address in 127.0.25.0/24, as a ctest fixture:
#   simulators.sh start STATE_DIR SIMULATOR WINEPREFIX
#   simulators.sh stop STATE_DIR
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

state=$2 sim=$3 prefix=$4
mkdir -p "$state" "$prefix/dosdevices"
stop
# name  options
while read -r name options; do
    options=${options//@PREFIX@/$prefix}
    # shellcheck disable=SC2086 # the options are words
    "$sim" $options >"$state/$name.out" 2>"$state/$name.err" &
    echo $! >"$state/$name.pid"
done <<'LIST'
link    --address 127.0.25.1 --tcp --udp --serial-link @PREFIX@/dosdevices/com11
reset   --address 127.0.25.2 --tcp --style 5 --misbehave reset
ffff    --address 127.0.25.3 --tcp --misbehave ffff
capi    --address 127.0.25.4 --tcp --udp --id 4 --serial-link @PREFIX@/dosdevices/com12
lumo    --address 127.0.25.5 --tcp --udp --id 3
LIST

for out in "$state"/*.out; do
    for _ in $(seq 100); do
        grep -qx ready "$out" && continue 2
        sleep 0.1
    done
    echo "simulators.sh: $(basename "$out" .out) did not get ready:" >&2
    cat "${out%.out}.err" >&2
    stop
    exit 1
done
echo "simulators ready"
