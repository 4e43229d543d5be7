# Sourced by the packaging checks: how a check fails, and the installed
# module simulator as a peer.

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# start_sim PROGRAM OUT ARGS...: runs the simulator in the background with
# ARGS (its output in OUT), stops it when the check exits, and returns once
# it has printed "ready".
start_sim() {
    local program=$1 out=$2
    shift 2
    "$program" "$@" >"$out" 2>&1 </dev/null &
    sim=$!
    trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT
    for _ in $(seq 200); do
        grep -q '^ready' "$out" && return 0
        kill -0 $sim 2>/dev/null || { cat "$out"; fail "the simulator stopped"; }
        sleep 0.05
    done
    fail "the simulator did not get ready"
}
