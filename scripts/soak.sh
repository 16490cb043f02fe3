#!/usr/bin/env bash
# Soak run: feeds 100,000 frames through `xepo replay` (one engine, a synthesized
# session looped with --repeat) and samples the process's resident memory
# (VmRSS from /proc/<pid>/status) along the way. Reports the start, end and
# largest resident size and whether memory stayed flat after warm-up.
# Not part of CI (it takes several minutes).
#
# Usage: scripts/soak.sh [frames] [session-frames]
#   frames:          total frames to feed (default 100000)
#   session-frames:  length of the synthesized session that is looped (default 500)
# Environment: XEPO_SOAK_BUILD_DIR (default build/soak), XEPO_SOAK_SIZE (frame
# size, default 640x480), XEPO_SOAK_INTERVAL (seconds between samples, default 2).
set -euo pipefail
cd "$(dirname "$0")/.."

frames=${1:-100000}
session_frames=${2:-500}
build=${XEPO_SOAK_BUILD_DIR:-build/soak}
size=${XEPO_SOAK_SIZE:-640x480}
interval=${XEPO_SOAK_INTERVAL:-2}
# Memory counts as flat when it grows by less than this from the end of
# warm-up (the first tenth of the frames: history, first-use buffers, the
# runtime's caches) to the end of the run.
flat_tolerance_kb=1024

echo "== building the xepo tool ($build)"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DXEPO_BUILD_TESTS=OFF \
  -DXEPO_WERROR=ON >/dev/null
cmake --build "$build" --target xepo_cli qdnn -j "$(nproc)"
xepo="$build/bin/xepo"

work="$build/soak"
rm -rf "$work"
mkdir -p "$work"
echo "== synthesizing a ${session_frames}-frame session ($size, shaking camera)"
"$xepo" synth samples/coffee.jpg --out "$work/session" --frames "$session_frames" \
  --size "$size" --motion shake --seed 7 >/dev/null

repeat=$(((frames + session_frames - 1) / session_frames))
total=$((repeat * session_frames))
echo "== replaying $total frames ($repeat passes), sampling VmRSS every ${interval}s"
start_time=$SECONDS
"$xepo" replay "$work/session" --repeat "$repeat" --csv "$work/results.csv" \
  >"$work/replay.txt" 2>"$work/replay.err" &
pid=$!

samples="$work/rss.csv"
echo "seconds,frames,vmrss_kb" >"$samples"
sample() {
  local rss done_frames
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status" 2>/dev/null) || return 0
  [ -n "$rss" ] || return 0
  # The CSV has a header line and one line per finished frame.
  done_frames=0
  if [ -f "$work/results.csv" ]; then
    done_frames=$(($(wc -l <"$work/results.csv") - 1))
    [ "$done_frames" -lt 0 ] && done_frames=0
  fi
  echo "$((SECONDS - start_time)),$done_frames,$rss" >>"$samples"
}
while kill -0 "$pid" 2>/dev/null; do
  sample
  sleep "$interval"
done
set +e
wait "$pid"
rc=$?
set -e
elapsed=$((SECONDS - start_time))
if [ "$rc" -ne 0 ]; then
  echo "!! replay failed (exit $rc):"
  tail -5 "$work/replay.err"
  exit 1
fi

/usr/bin/python3 - "$samples" "$total" "$elapsed" "$flat_tolerance_kb" <<'PY'
import csv, sys
path, total, elapsed, tolerance = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
rows = [(int(r["seconds"]), int(r["frames"]), int(r["vmrss_kb"])) for r in csv.DictReader(open(path))]
if not rows:
    sys.exit("no memory samples taken")
warm = [r for r in rows if r[1] >= total // 10] or rows
start, end = rows[0][2], rows[-1][2]
peak = max(r[2] for r in rows)
after_warmup = warm[0][2]
growth = end - after_warmup
print(f"frames            {total} in {elapsed} s ({total / max(elapsed, 1):.0f} frames/s)")
print(f"samples           {len(rows)}")
print(f"VmRSS start       {start / 1024:.1f} MiB (first sample)")
print(f"VmRSS warm        {after_warmup / 1024:.1f} MiB (at frame {warm[0][1]})")
print(f"VmRSS end         {end / 1024:.1f} MiB (at frame {rows[-1][1]})")
print(f"VmRSS max         {peak / 1024:.1f} MiB")
print(f"growth after warm-up  {growth} kB: {'flat' if growth < tolerance else 'GROWING'}")
sys.exit(0 if growth < tolerance else 1)
PY
echo "== replay summary"
cat "$work/replay.txt"
