#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each for a while from its committed seed
# corpus (fuzz/corpus/<target>). Prints each target's execution count; exits
# non-zero when a target crashes, leaks, exceeds the memory limits or times out.
#
# Usage: scripts/fuzz.sh [seconds-per-target] [target...]
#   seconds-per-target: default 30 (CI); give more for a longer hunt.
#   targets: frame image_file model_load labeling (default: all four).
# Environment: XEPO_FUZZ_BUILD_DIR (default build/fuzz).
# New inputs found go to <builddir>/fuzz-corpus/<target>, crash inputs to
# <builddir>/fuzz-artifacts/; the committed seeds are never modified.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(frame image_file model_load labeling)

build=${XEPO_FUZZ_BUILD_DIR:-build/fuzz}
# A small file must never make the engine ask for more than this.
memory_limit_mb=2048
# One input taking longer than this is reported as a hang.
input_timeout_s=30

echo "== fuzz build ($build)"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DXEPO_BUILD_FUZZERS=ON -DXEPO_SANITIZE=address,undefined -DXEPO_WERROR=ON \
  -DXEPO_BUILD_TESTS=OFF -DXEPO_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" --target fuzzers -j "$(nproc)"

mkdir -p "$build/fuzz-artifacts"
status=0
summary=""
for target in "${targets[@]}"; do
  program="$build/bin/${target}_fuzzer"
  seeds="fuzz/corpus/$target"
  work="$build/fuzz-corpus/$target"
  log="$build/fuzz-artifacts/$target.log"
  mkdir -p "$work"
  echo "== fuzzing $target for ${seconds}s"
  # The labelling routines print their status lines to standard output: kept
  # out of the way in the log, with libFuzzer's own report (standard error).
  set +e
  "$program" "$work" "$seeds" -max_total_time="$seconds" -timeout="$input_timeout_s" \
    -rss_limit_mb="$memory_limit_mb" -malloc_limit_mb="$memory_limit_mb" \
    -artifact_prefix="$build/fuzz-artifacts/$target-" -print_final_stats=1 >"$log" 2>&1
  rc=$?
  set -e
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  coverage=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  if [ "$rc" -ne 0 ]; then
    status=1
    echo "!! $target failed (exit $rc); log: $log"
    grep -E 'ERROR|SUMMARY|runtime error|Test unit written' "$log" | head -20 || true
  fi
  summary+=$(printf '%-12s %10s executions  coverage %6s  exit %d' "$target" "${runs:-?}" \
    "${coverage:-?}" "$rc")$'\n'
done

echo "== fuzz summary (${seconds}s per target)"
printf '%s' "$summary"
exit "$status"
