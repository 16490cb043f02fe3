#!/usr/bin/env bash
# Sets up, builds and runs every test: natively, then under AddressSanitizer
# with UndefinedBehaviorSanitizer, the concurrency test under ThreadSanitizer,
# short fuzz runs, and finally cross-built for arm64 and run under qemu.
# Usage: scripts/test.sh [--native-only] [--no-sanitizers]
#   --native-only    skip the arm64 part
#   --no-sanitizers  skip the sanitizer builds and the fuzz runs
# Environment: XEPO_FUZZ_SECONDS, seconds per fuzz target (default 30).
set -euo pipefail
cd "$(dirname "$0")/.."

native_only=0
sanitizers=1
for arg in "$@"; do
  case "$arg" in
    --native-only) native_only=1 ;;
    --no-sanitizers) sanitizers=0 ;;
    *) echo "usage: $0 [--native-only] [--no-sanitizers]" >&2; exit 2 ;;
  esac
done

if [ "$native_only" -eq 1 ]; then
  scripts/install-deps.sh
else
  scripts/install-deps.sh --arm64
fi

jobs=$(nproc)
timings=""
# Records how long the part that just ended took.
part_done() {
  timings+=$(printf '%-44s %5ds' "$1" "$((SECONDS - part_start))")$'\n'
  part_start=$SECONDS
}
part_start=$SECONDS

echo "== native build and tests"
cmake --preset host >/dev/null
cmake --build --preset host -j "$jobs"
ctest --preset host -j "$jobs"
part_done "native build and tests"

if [ "$sanitizers" -eq 1 ]; then
  # Every sanitizer report aborts the test that caused it (the builds use
  # -fno-sanitize-recover=all), so ctest counts it as a failure; leaks fail
  # the test at exit.
  echo "== AddressSanitizer + UndefinedBehaviorSanitizer: every test"
  export ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  cmake --preset asan >/dev/null
  cmake --build --preset asan -j "$jobs"
  ctest --preset asan -j "$jobs"
  part_done "asan+ubsan build and tests"

  echo "== ThreadSanitizer: frame concurrency test"
  # No suppressions: the test runs clean, OpenCV's worker threads included.
  export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
  cmake --preset tsan >/dev/null
  cmake --build --preset tsan -j "$jobs" --target frame_concurrency_test
  ctest --preset tsan -R '^FrameConcurrency\.' --no-tests=error
  part_done "tsan frame concurrency test"

  echo "== fuzz targets, short runs"
  scripts/fuzz.sh "${XEPO_FUZZ_SECONDS:-30}"
  part_done "fuzz build and runs"
fi

if [ "$native_only" -eq 0 ]; then
  echo "== arm64 cross build, tests under qemu"
  cmake --preset arm64 >/dev/null
  cmake --build --preset arm64 -j "$jobs"
  ctest --preset arm64 -j "$jobs"
  part_done "arm64 build and tests under qemu"

  echo "== the demo session replayed and a closed loop simulated on x86-64 and on arm64 under qemu"
  tests/cross_arch/compare_replay.sh build/host build/arm64
  part_done "cross-architecture replay and simulation"
fi

echo "== time per part"
printf '%s' "$timings"
