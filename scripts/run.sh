#!/usr/bin/env bash
# Sets up, builds and runs the main job: makes a session from a bundled sample
# photograph, replays it through the engine, prints the summary and plots it;
# then runs the closed loop on every sample photograph, prints how the policies
# settled and plots it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset host >/dev/null
cmake --build --preset host -j "$(nproc)"

xepo=build/host/bin/xepo
session=build/demo-session
# The replay's files and the plot below live beside the session; synth only
# writes over its own files, so this script removes its own first.
rm -f "$session/replay.csv" "$session/replay.jsonl" "$session/plot.png" "$session/light-map.png"
# 120 frames (4 s at 30 Hz) panning over the launch pad and back, a zoom to 2x
# and back in the middle rest, and a half-press before the still capture: the
# host holds its exposure from frame 96 to the capture at 115. On held frames the
# engine runs no albedo model; where it scores afresh it takes the light path,
# and the floodlights' map stays in force to the end.
"$xepo" synth samples/rocket.jpg --out "$session" --frames 120 --motion pan \
    --zoom-at 58 --zoom-at 72 --capture-at 115 $(printf -- '--hold-at %d ' {96..115})
"$xepo" replay "$session" --csv "$session/replay.csv" --jsonl "$session/replay.jsonl"
/usr/bin/python3 tools/plot_session.py "$session/replay.jsonl" --out "$session/plot.png"
echo "per-frame results: $session/replay.csv, $session/replay.jsonl; plot: $session/plot.png"
# The light model on its own (control 3) over the whole photograph, beside the
# replayed frames' maps of the window.
"$xepo" image --control 3 --map-png "$session/light-map.png" samples/rocket.jpg

# The closed loop: every sample photograph as the scene, the camera starting
# from -2 to +2 EV around the photographer's exposure, 60 frames (2 s) under
# each policy. About 8 s of processor time at 640x480, most of it the engine.
sim=build/demo-sim
"$xepo" sim samples/*.jpg --policy engine,grey,mean-highlight --start-ev -2,-1,0,1,2 \
    --frames 60 --out "$sim"
/usr/bin/python3 tools/plot_sim.py "$sim/frames.jsonl" --out "$sim/plot.png" \
    --title "xepo sim: the sample photographs, starts -2..+2 EV"
echo "closed loop: $sim/frames.csv, $sim/runs.csv, $sim/summary.json; plot: $sim/plot.png"
