#!/usr/bin/env bash
# Builds the console and the module simulator, starts the simulator on a
# loopback address (TCP 20036, UDP 20037 and a pseudo-terminal serial port
# that the console sees as COM1) and runs the console against it. The
# simulator is stopped when the console exits.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
    cat <<'EOF'
usage: scripts/run-console.sh [--address A] [--help]

Builds Cmdora and the module simulator under build/release, starts the
simulator on the loopback address A (default 127.0.0.1; any address of
127.0.0.0/8 will do) with TCP port 20036, UDP port 20037 and a pseudo-terminal
as serial port COM1, runs the console against it, and stops the simulator when
the console closes. In the console pick IP and enter A as the module's address
(127.0.0.1 is already there on a first run), or pick COM and port 1. Without a
DISPLAY the console runs on a virtual screen (xvfb-run), where nobody sees it.
EOF
}

address=127.0.0.1
while (($# > 0)); do
    case $1 in
    -h | --help)
        usage
        exit 0
        ;;
    --address)
        if (($# < 2)); then
            echo "run-console: --address needs a value, such as --address 127.0.0.2" >&2
            exit 2
        fi
        address=$2
        shift 2
        ;;
    --address=*)
        address=${1#--address=}
        shift
        ;;
    *)
        echo "run-console: unknown option $1" >&2
        usage >&2
        exit 2
        ;;
    esac
done
loopback='^127\.(25[0-5]|2[0-4][0-9]|1?[0-9]?[0-9])\.(25[0-5]|2[0-4][0-9]|1?[0-9]?[0-9])\.(25[0-5]|2[0-4][0-9]|1?[0-9]?[0-9])$'
if ! [[ $address =~ $loopback ]]; then
    echo "run-console: '$address' is not a loopback address; the simulator listens on 127.0.0.0/8 only" \
        "(for example --address 127.0.0.2)" >&2
    exit 2
fi

bash scripts/install-deps.sh

build=build/release
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target Cmdora lumo-module-sim lumo-trace-viewer

RUNDIR=$(mktemp -d "${TMPDIR:-/tmp}/cmdora-run.XXXXXX")
sim_pid=
cleanup() {
    if [[ -n $sim_pid ]]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$RUNDIR"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Says why the simulator could not listen and how to pick another address.
explain_sim_failure() {
    local log=$RUNDIR/sim.log port
    echo "run-console: the module simulator could not start on $address:" >&2
    sed 's/^/    /' "$log" >&2
    port=$(sed -n 's/.*bind port \([0-9]*\): .*/\1/p' "$log" | head -n 1)
    if grep -q 'Address already in use' "$log"; then
        echo "run-console: another program already listens on $address port $port (perhaps a simulator" \
            "left running, or another user's)." >&2
    elif grep -q 'Cannot assign requested address' "$log"; then
        echo "run-console: $address is not an address of this machine's loopback interface." >&2
    fi
    echo "run-console: choose another loopback address, for example" \
        "'bash scripts/run-console.sh --address 127.0.0.2', and enter that address in the console after" \
        "picking IP." >&2
}

"$build/tools/module_sim/lumo-module-sim" --address "$address" --tcp --udp --serial-link "$RUNDIR/com1" \
    >"$RUNDIR/sim.log" 2>&1 </dev/null &
sim_pid=$!

# The simulator makes the link and prints "ready" once every side listens.
for _ in $(seq 100); do
    if [[ -e $RUNDIR/com1 ]] && grep -q '^ready' "$RUNDIR/sim.log"; then
        break
    fi
    if ! kill -0 "$sim_pid" 2>/dev/null; then
        explain_sim_failure
        exit 1
    fi
    sleep 0.1
done
if [[ ! -e $RUNDIR/com1 ]]; then
    echo "run-console: the simulator's serial port did not appear" >&2
    exit 1
fi

export LUMO_COM1="$RUNDIR/com1"
echo "run-console: module simulator on $address (TCP, UDP) and COM1 = $LUMO_COM1"
echo "run-console: in the console pick IP with the address $address, or COM with port 1, then Connect"

status=0
if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
    echo "run-console: no DISPLAY; the console runs on a virtual X screen (xvfb-run) and is not visible" >&2
    xvfb-run -a "$build/console/Cmdora" || status=$?
else
    "$build/console/Cmdora" || status=$?
fi
# The console ends with exit code 0x22222, which the shell sees as 0x22.
if ((status == 0x22)); then
    status=0
fi
exit $status
