#!/usr/bin/python3
"""Draws a closed-loop simulation as a PNG: how each policy moved the exposure
and what it answered, frame by frame, and where the runs ended.

    /usr/bin/python3 tools/plot_sim.py FRAMES.jsonl --out PLOT.png [--title T]

FRAMES.jsonl is the per-frame file of `xepo sim --out DIR` (DIR/frames.jsonl):
one JSON object per line with the keys run, photo, policy, start_ev, frame, ev,
score and route (null for policies without routes); other keys are ignored, and
a null score leaves a gap.

One row per policy (in the order they first appear):
  * the exposure of every run over the frames (EV 0 is the photographer's
    exposure; each run coloured by its start, the band is +-1/3 EV);
  * the score of every run over the frames (dashed line at the neutral 18);
  * the route of every frame as bands, one thin row per run (policies without
    routes show one grey band);
and at the bottom the distribution of |EV error| at the last frame, one
cumulative curve per policy, with the 1/3 EV mark.

Every run on the same input writes the same bytes: fixed canvas and
resolution, matplotlib's built-in style whatever the local configuration
says, no time stamp or version text in the PNG.

Exits with 0 when the PNG is written, 1 when the input cannot be read or a
line is malformed (the message names the file and line), 2 for bad arguments.
"""

import argparse
import json
import math
import os
import sys

# Fixed canvas: 1400 x 1200 pixels, whatever the data.
FIGURE_INCHES = (14.0, 12.0)
FIGURE_DPI = 100
# The band around the intent that counts as on target, and the neutral score.
ON_TARGET_EV = 1.0 / 3.0
SCORE_NEUTRAL = 18.0
# The exposure range the host allows.
EV_LIMIT = 8.0

# Route colours: the session plot's, so that a route looks the same in both.
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from plot_session import ROUTE_COLOURS, SPARE_COLOURS  # noqa: E402

NO_ROUTE = "(no routes)"
NO_ROUTE_COLOUR = "#eeeeee"
POLICY_COLOURS = ["#1f3b99", "#d0600e", "#2b7a3b", "#8e2c8e", "#666666"]
NEUTRAL_COLOUR = "#555555"

REQUIRED_KEYS = ("run", "photo", "policy", "start_ev", "frame", "ev", "score", "route")


class SimFileError(Exception):
    """A frames file that cannot be drawn; the text says where and why."""


def _number(record, key, where, allow_null):
    value = record.get(key)
    if value is None and allow_null:
        return float("nan")
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise SimFileError(f"{where}: \"{key}\" must be a number, got {json.dumps(value)}")
    return float(value)


def parse_frame(record, where):
    """One frame record checked and converted."""
    missing = [key for key in REQUIRED_KEYS if key not in record]
    if missing:
        raise SimFileError(f"{where}: missing key(s) {', '.join(missing)}")
    for key in ("run", "frame"):
        if isinstance(record[key], bool) or not isinstance(record[key], int):
            raise SimFileError(f"{where}: \"{key}\" must be an integer")
    for key in ("photo", "policy"):
        if not isinstance(record[key], str) or not record[key]:
            raise SimFileError(f"{where}: \"{key}\" must be a non-empty string")
    route = record["route"]
    if route is not None and (not isinstance(route, str) or not route):
        raise SimFileError(f"{where}: \"route\" must be a non-empty string or null")
    return {
        "run": record["run"],
        "photo": record["photo"],
        "policy": record["policy"],
        "start_ev": _number(record, "start_ev", where, False),
        "frame": record["frame"],
        "ev": _number(record, "ev", where, False),
        "score": _number(record, "score", where, True),
        "route": route if route is not None else NO_ROUTE,
    }


def read_runs(path):
    """Runs as {run id: {"policy", "photo", "start_ev", "frames": [...]}} in id order."""
    name = os.path.basename(path)
    try:
        with open(path, "r", encoding="utf-8") as stream:
            lines = stream.read().splitlines()
    except OSError as error:
        raise SimFileError(f"{path}: cannot read ({error.strerror or error})") from None
    except UnicodeDecodeError:
        raise SimFileError(f"{path}: not a UTF-8 text file") from None
    runs = {}
    for number, line in enumerate(lines, start=1):
        where = f"{name}:{number}"
        if not line.strip():
            continue
        try:
            record = json.loads(line)
        except json.JSONDecodeError as error:
            raise SimFileError(f"{where}: not valid JSON ({error.msg}, column {error.colno})") \
                from None
        if not isinstance(record, dict):
            raise SimFileError(f"{where}: expected a JSON object")
        frame = parse_frame(record, where)
        run = runs.setdefault(frame["run"], {"policy": frame["policy"], "photo": frame["photo"],
                                             "start_ev": frame["start_ev"], "frames": []})
        if run["policy"] != frame["policy"] or run["photo"] != frame["photo"]:
            raise SimFileError(f"{where}: run {frame['run']} changes its policy or photo")
        run["frames"].append(frame)
    if not runs:
        raise SimFileError(f"{path}: no frame records (is it the frames.jsonl of xepo sim?)")
    for run in runs.values():
        run["frames"].sort(key=lambda f: f["frame"])
    return dict(sorted(runs.items()))


def policies_in_order(runs):
    order = []
    for run in runs.values():
        if run["policy"] not in order:
            order.append(run["policy"])
    return order


def final_errors(runs, policy):
    """|EV| of the last frame of every run of a policy, sorted."""
    return sorted(abs(run["frames"][-1]["ev"]) for run in runs.values()
                  if run["policy"] == policy)


def route_styles(routes):
    styles = dict(ROUTE_COLOURS)
    styles[NO_ROUTE] = NO_ROUTE_COLOUR
    for index, route in enumerate(sorted(set(routes) - styles.keys())):
        styles[route] = SPARE_COLOURS[index % len(SPARE_COLOURS)]
    return styles


def median(values):
    ordered = sorted(values)
    middle = len(ordered) // 2
    if len(ordered) % 2:
        return ordered[middle]
    return 0.5 * (ordered[middle - 1] + ordered[middle])


def draw(runs, out, title):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.colors import ListedColormap
    from matplotlib.patches import Patch
    import numpy as np

    matplotlib.rcdefaults()
    plt.rcParams.update({"font.size": 9, "axes.titlesize": 10, "legend.fontsize": 8})

    policies = policies_in_order(runs)
    starts = sorted({run["start_ev"] for run in runs.values()})
    low_start, high_start = (min(starts), max(starts)) if starts else (0.0, 0.0)
    start_map = plt.get_cmap("coolwarm")

    def start_colour(start):
        if high_start == low_start:
            return start_map(0.5)
        return start_map((start - low_start) / (high_start - low_start))

    figure = plt.figure(figsize=FIGURE_INCHES, dpi=FIGURE_DPI)
    grid = figure.add_gridspec(len(policies) + 1, 3, width_ratios=[4.0, 4.0, 2.4],
                               height_ratios=[3.0] * len(policies) + [2.6], left=0.06,
                               right=0.98, top=0.9, bottom=0.05, hspace=0.42, wspace=0.22)
    all_routes = [f["route"] for run in runs.values() for f in run["frames"]]
    styles = route_styles(all_routes)
    route_order = [name for name in styles if name in set(all_routes)]
    route_index = {name: i for i, name in enumerate(route_order)}
    colour_map = ListedColormap([styles[name] for name in route_order] or [NO_ROUTE_COLOUR])

    evs_seen = [f["ev"] for run in runs.values() for f in run["frames"]]
    ev_bound = min(EV_LIMIT, max([1.0] + [abs(v) for v in evs_seen])) + 0.25
    scores_seen = [f["score"] for run in runs.values() for f in run["frames"]
                   if math.isfinite(f["score"])]
    score_low = min([SCORE_NEUTRAL] + scores_seen) - 1.0
    score_high = max([SCORE_NEUTRAL] + scores_seen) + 1.0
    frames_max = max(f["frame"] for run in runs.values() for f in run["frames"])

    for row, policy in enumerate(policies):
        policy_runs = [run for run in runs.values() if run["policy"] == policy]
        ev_axes = figure.add_subplot(grid[row, 0])
        score_axes = figure.add_subplot(grid[row, 1], sharex=ev_axes)
        route_axes = figure.add_subplot(grid[row, 2])
        ev_axes.axhspan(-ON_TARGET_EV, ON_TARGET_EV, color="#dfeedd", zorder=0)
        ev_axes.axhline(0.0, color=NEUTRAL_COLOUR, linewidth=0.8, linestyle="--", zorder=1)
        score_axes.axhline(SCORE_NEUTRAL, color=NEUTRAL_COLOUR, linewidth=0.8, linestyle="--",
                           zorder=1)
        raster = np.zeros((len(policy_runs), frames_max + 1))
        for index, run in enumerate(policy_runs):
            xs = [f["frame"] for f in run["frames"]]
            colour = start_colour(run["start_ev"])
            ev_axes.plot(xs, [f["ev"] for f in run["frames"]], color=colour, linewidth=1.0,
                         alpha=0.8, zorder=2)
            score_axes.plot(xs, [f["score"] for f in run["frames"]], color=colour,
                            linewidth=1.0, alpha=0.8, zorder=2)
            for f in run["frames"]:
                raster[index, f["frame"]] = route_index.get(f["route"], 0)
        ev_axes.set_xlim(-0.5, frames_max + 0.5)
        ev_axes.set_ylim(-ev_bound, ev_bound)
        ev_axes.set_ylabel("EV (0 = intent)")
        score_axes.set_ylim(score_low, score_high)
        score_axes.set_ylabel("score")
        errors = final_errors(runs, policy)
        ev_axes.set_title(f"{policy}: exposure of {len(policy_runs)} runs, median |error| "
                          f"{median(errors):.2f} EV", loc="left")
        score_axes.set_title(f"{policy}: score (dashed: neutral 18)", loc="left")
        route_axes.imshow(raster, aspect="auto", interpolation="nearest", cmap=colour_map,
                          vmin=-0.5, vmax=max(len(route_order), 1) - 0.5,
                          extent=(-0.5, frames_max + 0.5, len(policy_runs) - 0.5, -0.5))
        route_axes.set_title(f"{policy}: route per frame", loc="left")
        route_axes.set_ylabel("run")
        route_axes.set_yticks([])
        if row == len(policies) - 1:
            for axes in (ev_axes, score_axes, route_axes):
                axes.set_xlabel("frame")

    error_axes = figure.add_subplot(grid[len(policies), :])
    largest = 0.0
    for index, policy in enumerate(policies):
        errors = final_errors(runs, policy)
        largest = max([largest] + errors)
        shares = [(i + 1) / len(errors) for i in range(len(errors))]
        error_axes.step([0.0] + errors, [0.0] + shares, where="post", linewidth=1.8,
                        color=POLICY_COLOURS[index % len(POLICY_COLOURS)],
                        label=f"{policy} (median {median(errors):.2f} EV)")
    error_axes.axvline(ON_TARGET_EV, color=NEUTRAL_COLOUR, linestyle="--", linewidth=1.0)
    error_axes.set_xlim(0.0, max(1.0, largest * 1.05))
    error_axes.set_ylim(0.0, 1.02)
    error_axes.set_xlabel("|EV error| at the last frame (dashed: 1/3 EV)")
    error_axes.set_ylabel("share of runs")
    error_axes.legend(loc="lower right", framealpha=0.9)
    error_axes.grid(color="#dddddd", linewidth=0.6)

    start_handles = [Patch(facecolor=start_colour(s), label=f"start {s:+g} EV") for s in starts]
    route_handles = [Patch(facecolor=styles[name], edgecolor="#888888", linewidth=0.5,
                           label=name) for name in route_order]
    figure.legend(handles=start_handles + route_handles, loc="upper center",
                  bbox_to_anchor=(0.5, 0.955), ncol=min(8, len(start_handles + route_handles)),
                  frameon=False)
    photos = sorted({run["photo"] for run in runs.values()})
    figure.suptitle(f"{title}\n{len(runs)} runs on {len(photos)} photo(s), "
                    f"{frames_max + 1} frames each", y=0.995, fontsize=11)
    try:
        figure.savefig(out, dpi=FIGURE_DPI, format="png", metadata={"Software": None})
    finally:
        plt.close(figure)


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog="plot_sim.py",
        description="Plot a closed-loop simulation: exposure, score and routes per policy, "
                    "and the error distribution.")
    parser.add_argument("frames", help="per-frame JSON Lines file written by xepo sim --out")
    parser.add_argument("--out", required=True, help="PNG file to write")
    parser.add_argument("--title", help="title above the plot (default: the file's path)")
    args = parser.parse_args(argv)
    try:
        runs = read_runs(args.frames)
    except SimFileError as error:
        print(f"plot_sim: error: {error}", file=sys.stderr)
        return 1
    try:
        import matplotlib  # noqa: F401
        import numpy  # noqa: F401
    except ImportError as error:
        print(f"plot_sim: error: {error.name} is missing; run with Debian's /usr/bin/python3 "
              "(packages python3-matplotlib and python3-numpy)", file=sys.stderr)
        return 1
    title = args.title if args.title is not None else args.frames
    try:
        draw(runs, args.out, title)
    except OSError as error:
        print(f"plot_sim: error: {args.out}: cannot write ({error.strerror or error})",
              file=sys.stderr)
        return 1
    print(f"plot_sim: {len(runs)} runs -> {args.out}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
