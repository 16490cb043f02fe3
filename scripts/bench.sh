#!/usr/bin/env bash
# Builds the benchmarks (preset "bench", build/bench) and runs them on one core.
#
#   scripts/bench.sh                   every benchmark, 5 repetitions
#   scripts/bench.sh --repetitions 9   more repetitions
#   scripts/bench.sh --filter 'frame/' only the benchmarks whose name matches
#   scripts/bench.sh --quick           one short repetition each (a smoke run)
#   scripts/bench.sh --no-build        run what is built
#   scripts/bench.sh --cpu 1           pin to CPU 1 instead of CPU 0 (on a virtual
#                                      machine one CPU may be slowed by the host)
#
# Writes build/bench/results.json (Google Benchmark's JSON of every program,
# merged; with repetitions, the mean, median, standard deviation and
# coefficient of variation of each benchmark) and build/bench/results.md (the
# medians as a table, the preprocessing ratios against the OpenCV baseline and
# the output floor, and the targets). Any filter works: programs with no
# matching benchmark are left out of the results. Benchmarks run pinned to one CPU (0 unless --cpu says) when taskset is available;
# repetitions are interleaved at random, so that a burst of load from other
# processes spreads over all benchmarks instead of hitting one.
set -euo pipefail
cd "$(dirname "$0")/.."

repetitions=5
filter=""
min_time=""
build=1
cpu=0
while [ $# -gt 0 ]; do
  case "$1" in
    --repetitions) repetitions="$2"; shift 2 ;;
    --filter) filter="$2"; shift 2 ;;
    --quick) repetitions=1; min_time=0.05; shift ;;
    --no-build) build=0; shift ;;
    --cpu) cpu="$2"; shift 2 ;;
    *) echo "usage: $0 [--repetitions N] [--filter REGEX] [--quick] [--no-build] [--cpu N]" >&2; exit 2 ;;
  esac
done

pin=()
if ! [[ "$cpu" =~ ^[0-9]+$ ]]; then
  echo "bench: --cpu $cpu: expected a CPU number" >&2
  exit 2
elif command -v taskset >/dev/null 2>&1 && taskset -c "$cpu" true 2>/dev/null; then
  pin=(taskset -c "$cpu")
  echo "bench: pinned to CPU $cpu"
elif [ "$cpu" -ne 0 ]; then
  echo "bench: cannot pin to CPU $cpu (taskset missing or no such CPU)" >&2
  exit 2
else
  echo "bench: taskset unavailable, running unpinned" >&2
fi

out=build/bench
if [ "$build" -eq 1 ]; then
  scripts/install-deps.sh
  cmake --preset bench >/dev/null
  cmake --build --preset bench -j "$(nproc)"
fi

options=(--benchmark_repetitions="$repetitions" --benchmark_out_format=json)
if [ "$repetitions" -gt 1 ]; then
  options+=(--benchmark_report_aggregates_only=true --benchmark_enable_random_interleaving=true)
fi
[ -n "$filter" ] && options+=(--benchmark_filter="$filter")
[ -n "$min_time" ] && options+=(--benchmark_min_time="$min_time")

echo "bench: $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')"
echo "bench: load before the run: $(cut -d' ' -f1-3 /proc/loadavg)"

parts=()
for program in bin/xepo_bench_imgproc bench_instant/xepo_bench_engine_instant \
               bin/xepo_bench_engine_models bin/xepo_bench_sim; do
  if [ ! -x "$out/$program" ]; then
    echo "bench: $out/$program not built, skipped" >&2
    continue
  fi
  part="$out/results-$(basename "$program").json"
  rm -f "$part"
  "${pin[@]}" "$out/$program" "${options[@]}" --benchmark_out="$part"
  # A program none of whose benchmarks match the filter writes no results.
  if [ -s "$part" ]; then
    parts+=("$part")
  fi
done
if [ "${#parts[@]}" -eq 0 ]; then
  echo "bench: no benchmark matched${filter:+ the filter '$filter'}" >&2
  exit 1
fi

echo "bench: load after the run: $(cut -d' ' -f1-3 /proc/loadavg)"
/usr/bin/python3 bench/summarize_results.py --out "$out/results.json" --table "$out/results.md" \
  "${parts[@]}"
cat "$out/results.md"
echo "bench: wrote $out/results.json and $out/results.md"
