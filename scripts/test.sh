#!/usr/bin/env bash
# Sets up, builds and runs every test through CTest.
# With --sanitizers: the same suite, built in build-sanitizers/ with AddressSanitizer,
# UndefinedBehaviorSanitizer and leak checking; any report fails the test that caused it.
# With --thread: the suites that run documents on several threads (the engine, the command line
# and the window), built in build-thread/ with ThreadSanitizer; any data race fails its test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
if [ "${1:-}" = "--sanitizers" ]; then
    export QUILLORY_BUILD_DIR=${QUILLORY_BUILD_DIR:-$root/build-sanitizers}
    export QUILLORY_CMAKE_ARGS="-DCMAKE_BUILD_TYPE=Debug -DQUILLORY_SANITIZE=ON"
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    export LSAN_OPTIONS=suppressions=$root/tests/leaks.supp:print_suppressions=0
elif [ "${1:-}" = "--thread" ]; then
    export QUILLORY_BUILD_DIR=${QUILLORY_BUILD_DIR:-$root/build-thread}
    export QUILLORY_CMAKE_ARGS="-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLORY_SANITIZE_THREAD=ON"
    # die_after_fork=0: some tests fork a child that gives up its privileges, and that child starts threads.
    export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:die_after_fork=0:suppressions=$root/tests/thread.supp
elif [ $# -gt 0 ]; then
    echo "usage: scripts/test.sh [--sanitizers | --thread]" >&2
    exit 2
fi
"$root/scripts/build.sh"
build=${QUILLORY_BUILD_DIR:-$root/build}
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel "$(nproc)" --timeout 600
