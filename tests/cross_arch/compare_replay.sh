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
#       [--sample FILE]... [--frames N] [--size WxH] [--keep DIR]
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
frames=60
size=320x240
keep=""
# Frames shown from each side when the replays differ.
shown_differences=5

fail() {  # fail <message> [status, default 2]
  echo "compare_replay: $1" >&2
  exit "${2:-2}"
}
usage() {
  echo "usage: $0 NATIVE_BUILD_DIR ARM64_BUILD_DIR [--sample FILE] [--frames N] [--size WxH]" \
       "[--keep DIR]" >&2
  exit 2
}

[ "$#" -ge 2 ] || usage
native_build="$1"
arm64_build="$2"
shift 2
while [ "$#" -gt 0 ]; do
  case "$1" in
    --sample) samples+=("${2:?}"); shift 2 ;;
    --frames) frames="${2:?}"; shift 2 ;;
    --size) size="${2:?}"; shift 2 ;;
    --keep) keep="${2:?}"; shift 2 ;;
    *) usage ;;
  esac
done

native_xepo="$native_build/bin/xepo"
arm64_xepo="$arm64_build/bin/xepo"
for program in "$native_xepo" "$arm64_xepo"; do
  [ -x "$program" ] || fail "$program is missing; build the xepo_cli target first"
done
file -L "$arm64_xepo" | grep -q 'ARM aarch64' || fail "$arm64_xepo is not an arm64 program"
[ "$frames" -ge 10 ] 2>/dev/null ||
  fail "--frames needs at least 10 frames for the zoom and capture events"
[ "${#samples[@]}" -gt 0 ] ||
  samples=("$source_dir/samples/rocket.jpg" "$source_dir/samples/astronaut.jpg")

work="${keep:-$(mktemp -d)}"
mkdir -p "$work"
[ -n "$keep" ] || trap 'rm -rf "$work"' EXIT

# The same shape of session as the main job's demo, in fewer and smaller
# frames: the zoom switches to 2x near the middle and back a little later, and
# a still capture is taken near the end.
zoom_in=$((frames / 2 - 2))
zoom_out=$((frames * 3 / 5))
capture=$((frames - 5))

replay() {  # replay <dir> <label> <command...>
  local dir="$1" label="$2"
  shift 2
  mkdir -p "$dir/$label"
  if ! "$@" replay "$dir/session" --csv "$dir/$label/frames.csv" \
       --jsonl "$dir/$label/frames.jsonl" >"$dir/$label/summary.txt" 2>"$dir/$label/stderr.txt"
  then
    echo "compare_replay: the $label replay of $dir/session failed:" >&2
    cat "$dir/$label/stderr.txt" >&2
    exit 1
  fi
}

# Prints the first differing lines of two per-frame files, frame by frame: the
# stretch of each line around its first differing character (JSON lines carry
# a long light map), and the line counts when they differ.
show_first_differences() {  # <native file> <arm64 file>
  paste -d '\n' "$1" "$2" | awk -v limit="$shown_differences" -v context=50 '
    NR % 2 == 1 { native = $0; next }
    native != $0 {
      column = 1
      while (substr(native, column, 1) == substr($0, column, 1)) column++
      start = column > context ? column - context : 1
      printf "  line %d, from character %d\n    x86-64: %s\n    arm64:  %s\n", NR / 2, start,
             substr(native, start, 2 * context), substr($0, start, 2 * context)
      if (++shown == limit) exit
    }'
  local native_lines arm64_lines
  native_lines=$(wc -l <"$1")
  arm64_lines=$(wc -l <"$2")
  [ "$native_lines" -eq "$arm64_lines" ] ||
    echo "  x86-64 wrote $native_lines lines, arm64 $arm64_lines"
}

status=0
for sample in "${samples[@]}"; do
  name="$(basename "${sample%.*}")"
  dir="$work/$name"
  rm -rf "$dir"
  mkdir -p "$dir"
  "$native_xepo" synth "$sample" --out "$dir/session" --frames "$frames" --size "$size" \
    --motion pan --zoom-at "$zoom_in" --zoom-at "$zoom_out" --capture-at "$capture" >/dev/null
  replay "$dir" native "$native_xepo"
  replay "$dir" arm64 qemu-aarch64 -L / "$arm64_xepo"
  for file in frames.csv frames.jsonl; do
    [ -s "$dir/native/$file" ] || fail "the native replay of $name wrote no $file" 1
    if cmp -s "$dir/native/$file" "$dir/arm64/$file"; then
      echo "compare_replay: $name $file identical on x86-64 and arm64" \
           "($(wc -l <"$dir/native/$file") lines)"
    else
      echo "compare_replay: $name $file differs between x86-64 and arm64; first differences:"
      show_first_differences "$dir/native/$file" "$dir/arm64/$file"
      status=1
    fi
  done
done
# The closed loop, 20 frames from two starts under every policy.
sim_dir="$work/sim"
rm -rf "$sim_dir"
mkdir -p "$sim_dir"
sim_args=(sim "$source_dir/samples/astronaut.jpg" --policy engine,grey,mean-highlight
          --start-ev -2,1 --frames 20 --size "$size" --motion shake --noise 2)
for label in native arm64; do
  runner=("$native_xepo")
  [ "$label" = native ] || runner=(qemu-aarch64 -L / "$arm64_xepo")
  if ! "${runner[@]}" "${sim_args[@]}" --out "$sim_dir/$label" >"$sim_dir/$label.txt" 2>&1; then
    echo "compare_replay: the $label simulation failed:" >&2
    cat "$sim_dir/$label.txt" >&2
    exit 1
  fi
done
for file in frames.jsonl frames.csv runs.csv summary.json; do
  [ -s "$sim_dir/native/$file" ] || fail "the native simulation wrote no $file" 1
  if cmp -s "$sim_dir/native/$file" "$sim_dir/arm64/$file"; then
    echo "compare_replay: simulation $file identical on x86-64 and arm64" \
         "($(wc -l <"$sim_dir/native/$file") lines)"
  else
    echo "compare_replay: simulation $file differs between x86-64 and arm64; first differences:"
    show_first_differences "$sim_dir/native/$file" "$sim_dir/arm64/$file"
    status=1
  fi
done
exit "$status"
