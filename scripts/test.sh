#!/usr/bin/env bash
# Builds and runs every test in four configurations under build/:
#   release  normal optimised build
#   asan     AddressSanitizer + UndefinedBehaviorSanitizer
#   tsan     ThreadSanitizer, device link only (no console)
#   windows  the MinGW-w64 cross build, its tests under Wine against the
#            release tree's simulator (when the cross-compiler and Wine are
#            installed; a skipped stage says so)
# All of them always run, each one's tests beside the next one's build; the
# exit status is non-zero when any of them failed.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}"
unset DISPLAY WAYLAND_DISPLAY # console tests use the offscreen platform

# ThreadSanitizer of this toolchain cannot map its shadow memory when the
# kernel randomises mmap with many bits; run its tests without ASLR then.
tsan_runner=()
if [[ -r /proc/sys/vm/mmap_rnd_bits ]] && (($(cat /proc/sys/vm/mmap_rnd_bits) > 28)); then
    if setarch "$(uname -m)" -R true 2>/dev/null; then
        tsan_runner=(setarch "$(uname -m)" -R)
    fi
fi

# Line tables only (-g1): sanitizer reports and backtraces keep file:line,
# and the tree builds in about two thirds of the time full debug info takes.
# The sanitizer trees build without optimisation, a quarter faster than at
# -O1; their tests spend their time waiting on sockets and terminals anyway.
release_flags="-O2 -g1 -DNDEBUG"
sanitizer_flags="-O0 -g1 -DNDEBUG"
# The Windows tests check behaviour under Wine, which the optimiser and
# debugging sections do not change; without them the cross build is cheap.
windows_flags="-O0 -DNDEBUG"

# A compiler cache, when one is installed, makes rebuilds after small changes
# cheap; a clean machine simply compiles everything.
launcher=()
if command -v ccache >/dev/null 2>&1; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

declare -A status seconds test_seconds
# The tests of one configuration run in the background while the next one
# compiles: they spend most of their time waiting on sockets and terminals.
# The tests of two configurations never run at once, as they use the same
# loopback addresses and ports.
tests_pid="" tests_name=""
start_tests() {
    local name=$1 dir=build/$1
    shift
    echo "=== $name: test (in the background)"
    (
        start=$SECONDS status=0
        cd "$dir"
        "$@" ctest --output-on-failure -j4 --timeout 300 </dev/null >"../$name.ctest.log" 2>&1 || status=$?
        echo $((SECONDS - start)) >"../$name.test-seconds"
        exit $status
    ) &
    tests_pid=$! tests_name=$name
}
finish_tests() {
    [[ -n $tests_pid ]] || return 0
    if wait "$tests_pid"; then
        status[$tests_name]=passed
    else
        status[$tests_name]="TESTS FAILED"
    fi
    test_seconds[$tests_name]=$(cat "build/$tests_name.test-seconds" 2>/dev/null || echo 0)
    echo "=== $tests_name: test results"
    cat "build/$tests_name.ctest.log"
    tests_pid=""
}
trap '[[ -z $tests_pid ]] || kill "$tests_pid" 2>/dev/null' EXIT

run_config() {
    local name=$1
    shift
    local dir=build/$name start=$SECONDS runner=() built=false targets=()
    [[ $name == tsan ]] && runner=("${tsan_runner[@]}")
    [[ $name == windows ]] && targets=(--target windows_tests) # what its tests run, nothing more
    test_seconds[$name]=0
    echo "=== $name: configure"
    if cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "$@" >"$dir.configure.log" 2>&1 ||
        { cat "$dir.configure.log"; false; }; then
        echo "=== $name: build"
        if cmake --build "$dir" -j"$jobs" "${targets[@]}"; then
            built=true
        else
            status[$name]="BUILD FAILED"
        fi
    else
        status[$name]="CONFIGURE FAILED"
    fi
    seconds[$name]=$((SECONDS - start))
    finish_tests
    $built && start_tests "$name" "${runner[@]}"
    return 0
}

mkdir -p build
rm -f build/*.ctest.log
run_config release "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=$release_flags"
run_config asan -DLUMO_SANITIZE=address,undefined "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=$sanitizer_flags"
run_config tsan -DLUMO_SANITIZE=thread -DLUMO_BUILD_CONSOLE=OFF "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=$sanitizer_flags"
stages=(release asan tsan)
if command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 && command -v wine >/dev/null 2>&1; then
    run_config windows --toolchain cmake/mingw-w64-x86_64.cmake "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=$windows_flags" \
        "-DCMAKE_C_FLAGS_RELWITHDEBINFO=$windows_flags" \
        "-DLUMO_HOST_SIMULATOR=$PWD/build/release/tools/module_sim/lumo-module-sim"
    stages+=(windows)
else
    echo "=== windows: skipped (no x86_64-w64-mingw32-g++-posix or wine)"
fi
finish_tests

echo
echo "=== summary"
failed=0
for name in "${stages[@]}"; do
    printf '  %-8s %-18s build %4ds, tests %4ds\n' "$name" "${status[$name]}" "${seconds[$name]}" "${test_seconds[$name]}"
    [[ ${status[$name]} == passed ]] || failed=1
done
# One closing count over the configurations, from ctest's own summaries.
read -r total bad < <(cat build/*.ctest.log 2>/dev/null |
    sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\2 \1/p' |
    awk '{t += $1; f += $2} END {print t + 0, f + 0}')
echo "all: $((total - bad)) passed, $bad failed"
exit $failed
