#!/usr/bin/python3
"""Draws one replayed session as a PNG: what the engine answered frame by frame,
which route it took to get there, and what its light-region map looked like.

    /usr/bin/python3 tools/plot_session.py REPLAY.jsonl --out PLOT.png [--title T] [--maps N]

REPLAY.jsonl is the per-frame file of `xepo replay --jsonl`: one JSON object per
line with the keys frame, aec_lux, scale, result, confidence, light_cells, route
and light_map (base64 of the 64 x 48 map, row by row, 255 = light; null when the
frame had none). Lines whose
object has no "frame" key (a header, say) are skipped; extra keys are ignored
(the replay's per-frame count of engine error lines, "errors", among them, so
files from before it was added still plot); a
null number (what JSON writers make of NaN) leaves a gap in its curve.

The picture has three parts sharing the frame axis:
  * the score on the engine's scale (11 to 52, dashed line at the neutral 18;
    the axis grows to show any value outside it)
    with the camera's lux on a second axis to the right;
  * the confidence in a small panel underneath;
  * behind both, one coloured band per run of frames that took the same route;
and below them a strip of N light maps from evenly spaced frames (0 leaves it out).

Every run on the same input writes the same bytes: the figure has a fixed size
and resolution, the style is matplotlib's built-in default whatever the local
configuration says, and the PNG carries no time stamp or version text.

Exits with 0 when the PNG is written, 1 when the input cannot be read or a line
is malformed (the message names the file and line), 2 for bad arguments.
"""

import argparse
import base64
import binascii
import json
import math
import os
import sys

MAP_COLUMNS = 64
MAP_ROWS = 48
MAP_BYTES = MAP_COLUMNS * MAP_ROWS

# The engine's output scale and its neutral value. Scores are mapped onto 11 to 44;
# scenes marked high-key or as light scenes are raised by 4 after that cap, so the
# frame path answers up to 48 and the image-file entry up to 52.
SCORE_MIN = 11.0
SCORE_MAPPED_MAX = 44.0
SCORE_MAX = 52.0
SCORE_NEUTRAL = 18.0
SCORE_TICKS = [11, 18, 22, 26, 30, 34, 38, 44, 48, 52]
# A little room above and below the scale so curves at the limits stay visible.
SCORE_MARGIN = 1.0

# Fixed canvas: 1400 x 900 pixels, whatever the data.
FIGURE_INCHES = (14.0, 9.0)
FIGURE_DPI = 100
DEFAULT_MAPS = 8
# Beyond this the thumbnails get too small to read on a 1400-pixel canvas.
MAX_MAPS = 24

def score_axis_range(scores):
    """The score axis: the mapped scale 11 to 44, grown to take in every finite
    score (raised scores reach 52), with a margin so curves at the limits show."""
    finite = [v for v in scores if not math.isnan(v) and not math.isinf(v)]
    low = min([SCORE_MIN] + finite)
    high = max([SCORE_MAPPED_MAX] + finite)
    return low - SCORE_MARGIN, high + SCORE_MARGIN


# Pale band colours of the routes the engine reports, in the order the legend lists them.
ROUTE_COLOURS = [
    ("stable", "#b9e4b0"),
    ("history_hit", "#a8d8ea"),
    ("hold", "#ffd59e"),
    ("zoom_hold", "#d9c2ec"),
    ("keep", "#dddddd"),
    ("unstable_albedo", "#f7b3b3"),
    ("unstable_light", "#fff2a0"),
    ("unstable_fallback", "#e3c9a8"),
    # the direct paths a session's control value can ask for
    ("neutral", "#f5f5f5"),
    ("entrance_only", "#b8e0d2"),
    ("albedo_only", "#f9c9a0"),
]
# Routes this script does not know yet still get a band each, from these in name order,
# hatched so that they never pass for a known route.
SPARE_COLOURS = ["#f2c4e4", "#c9e7c0", "#c5cdf2", "#eadcb0", "#bfe3e0"]
SPARE_HATCH = "//"
# Route legend entries per row above the panels.
LEGEND_COLUMNS = 9

SCORE_COLOUR = "#1f3b99"
LUX_COLOUR = "#d0600e"
CONFIDENCE_COLOUR = "#2b7a3b"
NEUTRAL_COLOUR = "#555555"


class ReplayError(Exception):
    """A replay file that cannot be drawn; the text says where and why."""


def _number(record, key, where):
    value = record.get(key)
    if value is None:
        return float("nan")  # JSON writers turn NaN into null: drawn as a gap
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise ReplayError(f"{where}: \"{key}\" must be a number, got {json.dumps(value)}")
    return float(value)


def _integer(record, key, where):
    value = record.get(key)
    if isinstance(value, bool) or not isinstance(value, int):
        raise ReplayError(f"{where}: \"{key}\" must be an integer, got {json.dumps(value)}")
    return value


def _light_map(record, where):
    text = record.get("light_map")
    if text is None:
        return None  # the frame had no map; the strip says so
    if not isinstance(text, str):
        raise ReplayError(f"{where}: \"light_map\" must be a base64 string or null")
    try:
        cells = base64.b64decode(text, validate=True)
    except (binascii.Error, ValueError) as error:
        raise ReplayError(f"{where}: \"light_map\" is not valid base64 ({error})") from None
    if len(cells) != MAP_BYTES:
        raise ReplayError(f"{where}: \"light_map\" holds {len(cells)} bytes, "
                          f"expected {MAP_BYTES} ({MAP_COLUMNS} x {MAP_ROWS})")
    return cells


REQUIRED_KEYS = ("frame", "aec_lux", "scale", "result", "confidence", "light_cells", "route",
                 "light_map")


def parse_frame(record, where):
    """One frame record checked and converted; ReplayError names what is wrong."""
    missing = [key for key in REQUIRED_KEYS if key not in record]
    if missing:
        raise ReplayError(f"{where}: missing key(s) {', '.join(missing)}")
    route = record["route"]
    if not isinstance(route, str) or not route:
        raise ReplayError(f"{where}: \"route\" must be a non-empty string")
    return {
        "frame": _integer(record, "frame", where),
        "aec_lux": _number(record, "aec_lux", where),
        "scale": _number(record, "scale", where),
        "result": _number(record, "result", where),
        "confidence": _number(record, "confidence", where),
        "light_cells": _integer(record, "light_cells", where),
        "route": route,
        "light_map": _light_map(record, where),
    }


def read_replay(path):
    """The frames of a replay file in frame order."""
    name = os.path.basename(path)
    try:
        with open(path, "r", encoding="utf-8") as stream:
            lines = stream.read().splitlines()
    except OSError as error:
        raise ReplayError(f"{path}: cannot read ({error.strerror or error})") from None
    except UnicodeDecodeError:
        raise ReplayError(f"{path}: not a UTF-8 text file") from None

    frames = []
    for number, line in enumerate(lines, start=1):
        where = f"{name}:{number}"
        if not line.strip():
            continue
        try:
            record = json.loads(line)
        except json.JSONDecodeError as error:
            raise ReplayError(f"{where}: not valid JSON ({error.msg}, column {error.colno})") \
                from None
        if not isinstance(record, dict):
            raise ReplayError(f"{where}: expected a JSON object")
        if "frame" not in record:
            continue  # a header or another non-frame record
        frames.append(parse_frame(record, where))
    if not frames:
        raise ReplayError(f"{path}: no frame records (is it the --jsonl output of xepo replay?)")
    frames.sort(key=lambda f: f["frame"])  # stable: equal frame numbers keep file order
    return frames


def route_styles(routes):
    """(colour, hatch) for every route name: known ones fixed, others hatched spares."""
    styles = {name: (colour, None) for name, colour in ROUTE_COLOURS}
    unknown = sorted(set(routes) - styles.keys())
    for index, route in enumerate(unknown):
        styles[route] = (SPARE_COLOURS[index % len(SPARE_COLOURS)], SPARE_HATCH)
    return styles


def route_runs(frames):
    """(route, first frame, last frame) for every run of consecutive frames on one route."""
    runs = []
    for frame in frames:
        if runs and runs[-1][0] == frame["route"]:
            runs[-1][2] = frame["frame"]
        else:
            runs.append([frame["route"], frame["frame"], frame["frame"]])
    return runs


def map_indices(count, wanted):
    """`wanted` evenly spaced indices into `count` frames, first and last included."""
    wanted = min(wanted, count)
    if wanted <= 0:
        return []
    if wanted == 1:
        return [0]
    return [i * (count - 1) // (wanted - 1) for i in range(wanted)]


def _finite(values):
    """The values with infinities turned into NaN, which matplotlib leaves out as gaps."""
    return [v if math.isfinite(v) else float("nan") for v in values]


def draw(frames, out, title, map_count):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.patches import Patch
    import numpy as np

    # The built-in style, not whatever a local matplotlibrc sets: same input, same bytes.
    matplotlib.rcdefaults()
    plt.rcParams.update({"font.size": 9, "axes.titlesize": 10, "legend.fontsize": 8})

    xs = [f["frame"] for f in frames]
    scores = _finite([f["result"] for f in frames])
    confidences = _finite([f["confidence"] for f in frames])
    luxes = _finite([f["aec_lux"] for f in frames])
    first, last = xs[0] - 0.5, xs[-1] + 0.5

    chosen = map_indices(len(frames), map_count)
    figure = plt.figure(figsize=FIGURE_INCHES, dpi=FIGURE_DPI)
    rows = [5.0, 1.6, 2.2] if chosen else [5.0, 1.6]
    grid = figure.add_gridspec(len(rows), 1, height_ratios=rows, left=0.06, right=0.93,
                               top=0.86, bottom=0.05, hspace=0.32 if chosen else 0.08)
    score_axes = figure.add_subplot(grid[0])
    confidence_axes = figure.add_subplot(grid[1], sharex=score_axes)
    lux_axes = score_axes.twinx()

    # Route bands behind both curve panels.
    styles = route_styles(f["route"] for f in frames)
    for route, start, end in route_runs(frames):
        colour, hatch = styles[route]
        for axes in (score_axes, confidence_axes):
            axes.axvspan(start - 0.5, end + 0.5, facecolor=colour, edgecolor="#999999",
                         hatch=hatch, linewidth=0, zorder=0)

    score_axes.axhline(SCORE_NEUTRAL, color=NEUTRAL_COLOUR, linestyle="--", linewidth=1.0,
                       zorder=2)
    score_line, = score_axes.plot(xs, scores, color=SCORE_COLOUR, linewidth=1.8, zorder=3,
                                  label="score (result)")
    lux_line, = lux_axes.plot(xs, luxes, color=LUX_COLOUR, linewidth=1.0, linestyle="-.",
                              zorder=3, label="lux (aec_lux)")
    score_axes.set_xlim(first, last)
    score_low, score_high = score_axis_range(scores)
    score_axes.set_ylim(score_low, score_high)
    score_axes.set_yticks([t for t in SCORE_TICKS if score_low <= t <= score_high])
    score_axes.set_ylabel("score (dashed: neutral 18)", color=SCORE_COLOUR)
    score_axes.grid(axis="y", color="white", linewidth=0.8, zorder=1)
    lux_axes.set_ylabel("lux (aec_lux)", color=LUX_COLOUR)
    lux_axes.tick_params(axis="y", colors=LUX_COLOUR)
    finite_lux = [v for v in luxes if not math.isnan(v)]
    if finite_lux:
        low, high = min(finite_lux), max(finite_lux)
        # A flat lux curve still gets a readable axis: at least 5 % of its value around it.
        pad = max((high - low) * 0.08, abs(high) * 0.05, 1.0)
        lux_axes.set_ylim(low - pad, high + pad)
    # The lux axes lie over the score axes with a transparent background, so the lux
    # curve stays visible over the route bands drawn on the score axes.
    score_axes.tick_params(axis="x", labelbottom=False)

    confidence_axes.plot(xs, confidences, color=CONFIDENCE_COLOUR, linewidth=1.4,
                         drawstyle="steps-mid", zorder=3)
    confidence_axes.set_ylim(-0.05, 1.05)
    confidence_axes.set_yticks([0.0, 0.5, 0.8, 1.0])
    confidence_axes.set_ylabel("confidence", color=CONFIDENCE_COLOUR)
    confidence_axes.grid(axis="y", color="white", linewidth=0.8, zorder=1)
    confidence_axes.set_xlabel("frame")

    # Which frames the strip shows, as ticks on the top edge of the score panel.
    line_handles = [score_line, lux_line]
    if chosen:
        marks, = score_axes.plot([xs[i] for i in chosen], [score_high] * len(chosen),
                                 linestyle="none", marker="v", markersize=7, color="black",
                                 clip_on=False, zorder=4, label="frames of the light maps")
        line_handles.append(marks)
    lux_axes.legend(handles=line_handles, loc="upper left", framealpha=0.9)

    # Legend of the routes above the panels, with how many frames took each.
    counts = {}
    for frame in frames:
        counts[frame["route"]] = counts.get(frame["route"], 0) + 1
    order = [name for name, _ in ROUTE_COLOURS if name in counts]
    order += sorted(name for name in counts if name not in dict(ROUTE_COLOURS))
    patches = [Patch(facecolor=styles[name][0], hatch=styles[name][1], edgecolor="#888888",
                     linewidth=0.5, label=f"{name} ({counts[name]})") for name in order]
    legend_rows = -(-len(patches) // LEGEND_COLUMNS)
    figure.legend(handles=patches, loc="upper center", bbox_to_anchor=(0.5, 0.935),
                  ncol=-(-len(patches) // legend_rows), frameon=False, title="route (frames)",
                  title_fontsize=8, handlelength=1.6, columnspacing=1.4)

    scores_seen = [v for v in scores if not math.isnan(v)]
    summary = f"{len(frames)} frames"
    if scores_seen:
        summary += (f", score mean {sum(scores_seen) / len(scores_seen):.2f}"
                    f" (min {min(scores_seen):.2f}, max {max(scores_seen):.2f})")
    figure.suptitle(f"{title}\n{summary}", y=0.985, fontsize=11)

    if chosen:
        strip = grid[2].subgridspec(1, len(chosen), wspace=0.08)
        for column, index in enumerate(chosen):
            frame = frames[index]
            axes = figure.add_subplot(strip[0, column])
            if frame["light_map"] is not None:
                cells = np.frombuffer(frame["light_map"], dtype=np.uint8)
                cells = cells.reshape(MAP_ROWS, MAP_COLUMNS)
            else:
                cells = np.zeros((MAP_ROWS, MAP_COLUMNS), dtype=np.uint8)
                axes.text(MAP_COLUMNS / 2, MAP_ROWS / 2, "no map", color="white",
                          ha="center", va="center", fontsize=8)
            axes.imshow(cells, cmap="cividis", vmin=0, vmax=255, interpolation="nearest",
                        aspect="equal")
            axes.set_xticks([])
            axes.set_yticks([])
            axes.set_title(f"frame {frame['frame']}", fontsize=8, pad=3)
            axes.set_xlabel(f"{frame['light_cells']} light cells", fontsize=7, labelpad=2)
            if column == 0:
                axes.set_ylabel("light map\n64 x 48", fontsize=8)

    try:
        figure.savefig(out, dpi=FIGURE_DPI, format="png", metadata={"Software": None})
    finally:
        plt.close(figure)


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog="plot_session.py",
        description="Plot a replayed session: score, confidence, lux, routes and light maps.")
    parser.add_argument("replay", help="per-frame JSON Lines file written by xepo replay --jsonl")
    parser.add_argument("--out", required=True, help="PNG file to write")
    parser.add_argument("--title", help="title above the plot (default: the replay's file name)")
    parser.add_argument("--maps", type=int, default=DEFAULT_MAPS,
                        help=f"light maps in the strip (0 to {MAX_MAPS}, default {DEFAULT_MAPS})")
    args = parser.parse_args(argv)
    if not 0 <= args.maps <= MAX_MAPS:
        parser.error(f"--maps must be between 0 and {MAX_MAPS}")

    try:
        frames = read_replay(args.replay)
    except ReplayError as error:
        print(f"plot_session: error: {error}", file=sys.stderr)
        return 1
    try:
        import matplotlib  # noqa: F401
        import numpy  # noqa: F401
    except ImportError as error:
        print(f"plot_session: error: {error.name} is missing; run with Debian's /usr/bin/python3 "
              "(packages python3-matplotlib and python3-numpy)", file=sys.stderr)
        return 1
    title = args.title if args.title is not None else os.path.basename(args.replay)
    try:
        draw(frames, args.out, title, args.maps)
    except OSError as error:
        print(f"plot_session: error: {args.out}: cannot write ({error.strerror or error})",
              file=sys.stderr)
        return 1
    print(f"plot_session: {len(frames)} frames -> {args.out}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
