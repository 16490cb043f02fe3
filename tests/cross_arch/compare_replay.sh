#!/usr/bin/env bash
# Cross-architecture determinism: the same recorded session must give the same
# per-frame results on x86-64 and on arm64.
#
# For each sample photo it makes a short session once with the native xepo (the
# main job's demo in small: a pan with a zoom switch and back, and a still
# capture), replays it with the native xepo and with the arm64 xepo under qemu,
# and compares the per-frame CSV and JSON Lines byte for byte. On a difference
# it prints the first frames that differ, from both sides.
#
# Then it runs a short closed-loop simulation (xepo sim: one photo, two starts,
# the engine and both stand-in policies, a shaking camera with sensor noise)
# with both programs and compares its per-frame, per-run and summary files the
# same way: every exposure of the loop feeds on the one before, so a single
# differing bit anywhere shows.
#
#   tests/cross_arch/compare_replay.sh NATIVE_BUILD_DIR ARM64_BUILD_DIR
#       [--sample FILE]... [--keep DIR]
#
#   --sample FILE  a photo to make a session from (repeatable). Default: the
#                  demo's rocket.jpg, which mostly sits at the score floor, and
#                  astronaut.jpg, whose scores sit mid-range where a last-digit
#                  difference shows
#   --keep DIR     write the sessions and replays into DIR and leave them there
#                  (default: a temporary directory, removed at the end)
#
# Exit status 0 when both replays and both simulations are identical, 1 when they differ, 2 on a
# usage or setup error.
set -euo pipefail

source_dir="$(cd "$(dirname "$0")/../.." && pwd)"
samples=()
keep=""
size=320x240

fail() {  # fail <message> [status, default 2]
  echo "compare_replay: $1" >&2
  exit "${2:-2}"
}
usage="usage: $0 NATIVE_BUILD_DIR ARM64_BUILD_DIR [--sample FILE]... [--keep DIR]"

[ "$#" -ge 2 ] || fail "$usage"
native_xepo="$1/bin/xepo"
arm64_xepo="$2/bin/xepo"
shift 2
while [ "$#" -gt 0 ]; do
  case "$1" in
    --sample) samples+=("${2:?}"); shift 2 ;;
    --keep) keep="${2:?}"; shift 2 ;;
    *) fail "$usage" ;;
  esac
done

# Both programs come from building the xepo_cli target; the arm64 one must
# really be arm64, or two native runs would compare equal.
[ -x "$native_xepo" ] || fail "$native_xepo is missing; build the xepo_cli target first"
file -L "$arm64_xepo" | grep -q 'ARM aarch64' || fail "$arm64_xepo is not an arm64 program"
[ "${#samples[@]}" -gt 0 ] ||
  samples=("$source_dir/samples/rocket.jpg" "$source_dir/samples/astronaut.jpg")

work="${keep:-$(mktemp -d)}"
[ -n "$keep" ] || trap 'rm -rf "$work"' EXIT

# run <native|arm64> <what> <log> <xepo arguments...>: runs that side's xepo
# (arm64 under qemu) and stops with its output when it fails.
run() {
  local side="$1" what="$2" log="$3" xepo=("$native_xepo")
  shift 3
  [ "$side" = native ] || xepo=(qemu-aarch64 -L / "$arm64_xepo")
  if ! "${xepo[@]}" "$@" >"$log" 2>&1; then
    echo "compare_replay: the $side $what failed:" >&2
    cat "$log" >&2
    exit 1
  fi
}

# Prints the first differing lines of two per-frame files, frame by frame: the
# stretch of each line around its first differing character (JSON lines carry
# a long light map), at most five. A line one side lacks shows as an empty line there.
show_first_differences() {  # <native file> <arm64 file>
  paste -d '\n' "$1" "$2" | awk -v limit=5 -v context=50 '
    NR % 2 == 1 { native = $0; next }
    native != $0 {
      column = 1
      while (substr(native, column, 1) == substr($0, column, 1)) column++
      start = column > context ? column - context : 1
      printf "  line %d, from character %d\n    x86-64: %s\n    arm64:  %s\n", NR / 2, start,
             substr(native, start, 2 * context), substr($0, start, 2 * context)
      if (++shown == limit) exit
    }'
}

# compare <what> <file> <dir>: <dir>/native/<file> against <dir>/arm64/<file>.
compare() {
  local native="$3/native/$2" arm64="$3/arm64/$2"
  [ -s "$native" ] || fail "the native $1 wrote no $2" 1
  if cmp -s "$native" "$arm64"; then
    echo "compare_replay: $1 $2 identical on x86-64 and arm64 ($(wc -l <"$native") lines)"
  else
    echo "compare_replay: $1 $2 differs between x86-64 and arm64; first differences:"
    show_first_differences "$native" "$arm64"
    status=1
  fi
}

status=0
for sample in "${samples[@]}"; do
  name="$(basename "${sample%.*}")"
  dir="$work/$name"
  rm -rf "$dir"
  mkdir -p "$dir/native" "$dir/arm64"
  # The same shape of session as the main job's demo, in fewer and smaller
  # frames: the zoom switches to 2x near the middle (frame 28) and back a little
  # later (36), and a still capture is taken near the end (55 of 60) after the
  # host has held its exposure from frame 48, where the light path runs.
  "$native_xepo" synth "$sample" --out "$dir/session" --frames 60 --size "$size" \
    --motion pan --zoom-at 28 --zoom-at 36 --capture-at 55 \
    $(printf -- '--hold-at %d ' {48..55}) >/dev/null
  for side in native arm64; do
    run "$side" "replay of $dir/session" "$dir/$side/log.txt" replay "$dir/session" \
      --csv "$dir/$side/frames.csv" --jsonl "$dir/$side/frames.jsonl"
  done
  compare "$name" frames.csv "$dir"
  compare "$name" frames.jsonl "$dir"
done
# The closed loop, 20 frames from two starts under every policy.
sim_dir="$work/sim"
rm -rf "$sim_dir"
mkdir -p "$sim_dir"
for side in native arm64; do
  run "$side" simulation "$sim_dir/$side.txt" sim "$source_dir/samples/astronaut.jpg" \
    --policy engine,grey,mean-highlight --start-ev -2,1 --frames 20 --size "$size" \
    --motion shake --noise 2 --out "$sim_dir/$side"
done
for file in frames.jsonl frames.csv runs.csv summary.json; do
  compare simulation "$file" "$sim_dir"
done
exit "$status"
