#!/bin/sh
# Sets up, builds and runs every test: once in a normal build, then once more under
# AddressSanitizer and UndefinedBehaviorSanitizer (skip that with ORVANE_SKIP_SANITIZERS=1), and
# runs every fuzz target for a few seconds.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup-debian.sh" --tests

jobs=$(nproc 2>/dev/null || echo 2)

run_suite() {
  build="$1"; shift
  cmake -S "$top" -B "$build" -G Ninja "$@" >/dev/null
  cmake --build "$build" -j "$jobs"
  ctest --test-dir "$build" -j "$jobs" --output-on-failure --timeout 600
}

run_suite "$top/build-tests" -DCMAKE_BUILD_TYPE=RelWithDebInfo
if [ "${ORVANE_SKIP_SANITIZERS:-0}" != 1 ]; then
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    run_suite "$top/build-asan" -DCMAKE_BUILD_TYPE=Debug -DORVANE_SANITIZE=ON -DORVANE_BUILD_BENCH=OFF
fi
# Every fuzz target briefly, with libFuzzer and both sanitizers (scripts/fuzz.sh SECONDS for
# a longer run); skip with ORVANE_SKIP_FUZZ=1.
if [ "${ORVANE_SKIP_FUZZ:-0}" != 1 ]; then
  "$top/scripts/fuzz.sh" "${ORVANE_FUZZ_SECONDS:-10}"
fi
echo "test: all tests passed"
