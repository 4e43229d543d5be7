#!/usr/bin/env bash
# Builds the console and the module simulator, starts the simulator on
# 127.0.0.1 (TCP 20036, UDP 20037 and a pseudo-terminal serial port that the
# console sees as COM1) and runs the console against it. The simulator is
# stopped when the console exits.
set -euo pipefail
cd "$(dirname "$0")/.."

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

"$build/tools/module_sim/lumo-module-sim" --address 127.0.0.1 --tcp --udp --serial-link "$RUNDIR/com1" \
    >"$RUNDIR/sim.log" 2>&1 </dev/null &
sim_pid=$!

# The simulator makes the link and prints "ready" once every side listens.
for _ in $(seq 100); do
    if [[ -e $RUNDIR/com1 ]] && grep -q '^ready' "$RUNDIR/sim.log"; then
        break
    fi
    if ! kill -0 "$sim_pid" 2>/dev/null; then
        echo "run-console: the module simulator stopped:" >&2
        cat "$RUNDIR/sim.log" >&2
        exit 1
    fi
    sleep 0.1
done
if [[ ! -e $RUNDIR/com1 ]]; then
    echo "run-console: the simulator's serial port did not appear" >&2
    exit 1
fi

export LUMO_COM1="$RUNDIR/com1"
echo "run-console: module simulator on 127.0.0.1 (TCP, UDP) and COM1 = $LUMO_COM1"

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
