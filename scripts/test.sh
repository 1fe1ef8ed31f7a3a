#!/usr/bin/env bash
# Builds everything and runs the whole test suite, first in an optimised build,
# then in an AddressSanitizer + UndefinedBehaviorSanitizer build; last, the
# image library's thread tests in a ThreadSanitizer build (clang). The suite runs
# on its own X server (Xvfb) with Mesa's software renderer, so no display is needed.
# usage: scripts/test.sh [--fast]   (--fast skips the two sanitizer builds)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh" test
jobs=$(nproc)

run_suite() {  # run_suite BUILD_DIR CMAKE_ARGS...
    local dir=$1
    shift
    # Every option the suite depends on is set here, whatever the cache holds.
    cmake -S "$root" -B "$dir" -G Ninja -DVALLEY_TESTS=ON "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    # A random first display number keeps two runs on one machine off each other's server;
    # -noreset keeps the server up between test processes (a reset refuses new clients).
    # --no-tests=error: a build without tests is a failure, not a pass.
    (cd "$dir" && xvfb-run -a -n $((200 + RANDOM % 600)) -s "-screen 0 1280x1024x24 -noreset" \
        ctest --output-on-failure --no-tests=error -j "$jobs" --timeout 600)
}

start=$(date +%s)
run_suite "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVALLEY_SANITIZE=OFF -DVALLEY_BENCH=ON
if [ "${1:-}" != "--fast" ]; then
    export ASAN_OPTIONS=abort_on_error=1
    export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    run_suite "$root/build-sanitize" -DCMAKE_BUILD_TYPE=Debug -DVALLEY_SANITIZE=ON -DVALLEY_BENCH=OFF
    # Only the library and its tests; of those, the ones that run threads:
    # its pool, and callers with threads of their own.
    export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
    cmake -S "$root" -B "$root/build-tsan" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVALLEY_TSAN=ON -DVALLEY_SANITIZE=OFF -DVALLEY_TESTS=ON -DVALLEY_BENCH=OFF >/dev/null
    cmake --build "$root/build-tsan" -j "$jobs"
    (cd "$root/build-tsan" && ctest --output-on-failure --no-tests=error -R '^Threads\.' --timeout 600)
fi
echo "All tests passed in $(( $(date +%s) - start )) s."
