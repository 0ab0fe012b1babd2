#!/bin/sh
# Builds the fuzz targets with clang, libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer
# (in build-fuzz), and runs each one for SECONDS (default 60) on a copy of its corpus.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
# A finding stops that target and is kept as build-fuzz/findings/TARGET/crash-... (or
# timeout-..., oom-..., leak-...); copy it into tests/fuzz/corpus/TARGET/ as regression-NAME once
# it is fixed, so that every test run replays it. The last lines print each target's runs and
# executions per second. Exits non-zero when a target found something.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
[ $# -gt 0 ] && shift
build="$top/build-fuzz"
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DORVANE_FUZZ=ON -DORVANE_SANITIZE=ON -DORVANE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target fuzz_targets

targets="$*"
[ -n "$targets" ] || targets=$(ls "$top/tests/fuzz/corpus")

# Each input is bounded: 10 s of time, 2 GiB in all and 256 MiB in one allocation.
export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
failed=0
summary=""
for t in $targets; do
  work="$build/work/$t"
  findings="$build/findings/$t"
  rm -rf "$work"
  mkdir -p "$work" "$findings"
  cp "$top/tests/fuzz/corpus/$t/"* "$work/"
  log="$build/findings/$t.log"
  echo "fuzz: $t for $seconds s"
  if "$build/bin/$t" "$work" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -malloc_limit_mb=256 -max_len=16384 -print_final_stats=1 \
      -artifact_prefix="$findings/" >"$log" 2>&1; then
    status=ok
  else
    status=FOUND
    failed=1
    grep -E "fuzz check failed|ERROR: |SUMMARY: |runtime error" "$log" | head -5 || true
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  summary="$summary$(printf '%-20s %-6s runs %10s  exec/s %8s' "$t" "$status" "${runs:-?}" "${speed:-?}")
"
done
printf '%s' "$summary"
exit $failed
