#!/usr/bin/python3
"""Checks tools/plot_session.py and tools/plot_sim.py on synthetic replay and
simulation files: the same PNG bytes every run at the promised size, bad input
named by line with no PNG written, and the numbers the plots are drawn from.

    /usr/bin/python3 tests/plot/test_plots.py [-v]

Exits with 77 (skipped) when matplotlib or numpy is missing.
"""

import base64
import json
import os
import struct
import subprocess
import sys
import tempfile
import unittest

TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools")
sys.path.insert(0, TOOLS)
import plot_session  # noqa: E402  (the scripts load matplotlib only to draw)
import plot_sim  # noqa: E402

# A key whose value is DROP is left out of a record.
DROP = object()


def write_lines(path, lines):
    with open(path, "w", encoding="utf-8") as stream:
        stream.writelines(line + "\n" for line in lines)


def run_plot(script, lines, *options, name="frames.jsonl"):
    """Runs the script in a fresh directory on the lines (None: no file);
    returns the finished process and the PNG's bytes (None when not written)."""
    with tempfile.TemporaryDirectory(prefix="plot-test-") as work:
        data, out = os.path.join(work, name), os.path.join(work, "plot.png")
        if lines is not None:
            write_lines(data, lines)
        done = subprocess.run([sys.executable, os.path.join(TOOLS, script), data, "--out", out,
                               *options], capture_output=True, text=True, check=False)
        if not os.path.exists(out):
            return done, None
        with open(out, "rb") as stream:
            return done, stream.read()


def record(fields, changes):
    fields.update(changes)
    return json.dumps({key: value for key, value in fields.items() if value is not DROP})


SESSION_ROUTES = ["hold", "zoom_hold", "stable", "history_hit", "unstable_albedo",
                  "unstable_light", "unstable_fallback", "keep"]


def session_record(number, **changes):
    """One replayed frame as a JSON line: a 10 x 8 light block drifting through
    the 64 x 48 map, every route in runs of 12 frames."""
    cells = bytearray(64 * 48)
    left, top = (number * 2) % 54, (number // 3) % 40
    for row in range(top, top + 8):
        cells[row * 64 + left:row * 64 + left + 10] = b"\xff" * 10
    return record({"frame": number, "aec_lux": 300.0 + 80.0 * ((number % 50) / 50.0 - 0.5),
                   "scale": 1.0 if number < 100 else 2.0,
                   "result": 18.0 + 10.0 * ((number % 40) / 40.0) - 3.0 * (number // 75),
                   "confidence": 0.9 if number % 30 < 20 else 0.8, "light_cells": 80,
                   "route": SESSION_ROUTES[(number // 12) % len(SESSION_ROUTES)],
                   "light_map": base64.b64encode(bytes(cells)).decode("ascii")}, changes)


POLICIES = ["engine", "grey", "mean-highlight"]
SIM_ROUTES = ["unstable_albedo", "keep", "stable", "history_hit"]


def sim_record(run, frame, **changes):
    """One simulated frame: runs cycle through the policies and starts -2..2; the
    exposure halves its distance to a per-run end point; engine frames carry routes."""
    policy = POLICIES[run % 3]
    start = float(run // 3 % 5 - 2)
    end = 0.1 * (run % 7) - 0.3
    ev = end + (start - end) * 0.5 ** frame
    engine = policy == "engine"
    return record({"run": run, "photo": f"photo{run // 15}.jpg", "policy": policy,
                   "start_ev": start, "frame": frame, "ev": ev, "aec_lux": 300 + 23.45 * ev,
                   "measured": 0.18, "score": 18.0 + (run % 5) - (frame % 3 if engine else 0),
                   "confidence": 0.9 if engine else None,
                   "route": SIM_ROUTES[(frame // 7 + run) % len(SIM_ROUTES)] if engine else None,
                   "light_cells": 4 if engine else None, "capture": False, "hold": False},
                  changes)


class PlotScriptsTest(unittest.TestCase):
    def test_same_bytes_every_run_at_the_promised_size_without_a_timestamp(self):
        # Beside the regular frames (the simulation's 30 runs of 40 frames shuffled
        # by run), what must be accepted: blank lines, frames out of order, an
        # unknown route with extra keys, null numbers, a missing map.
        session = [json.dumps({"version": 1, "session": "synthetic"}), ""]
        session += [session_record(n) for n in range(150)] + ["  ", session_record(3)]
        session += [session_record(150, route="some_future_route", extra=[1, 2]),
                    session_record(151, result=None, aec_lux=None),
                    session_record(152, light_map=None)]
        sim = [sim_record(run, frame) for frame in range(40) for run in range(30)]
        sim += ["", sim_record(30, 0, policy="grey", score=None),
                sim_record(31, 0, route="some_future_route")]
        # The canvases the scripts promise: 14 x 9 and 14 x 12 inches at 100 dots per inch.
        for script, lines, size in (("plot_session.py", session, (1400, 900)),
                                    ("plot_sim.py", sim, (1400, 1200))):
            with self.subTest(script):
                (done, png), (again, png_again) = [run_plot(script, lines, "--title", "synthetic")
                                                   for _ in range(2)]
                self.assertEqual((done.returncode, again.returncode), (0, 0), done.stderr)
                self.assertEqual(png, png_again, "two runs wrote different bytes")
                self.assertEqual(png[:16], b"\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR")
                self.assertEqual(struct.unpack(">II", png[16:24]), size)
                for text in (b"tIME", b"Date", b"Software"):
                    self.assertNotIn(text, png)

    def test_bad_input_fails_naming_the_line_and_writes_no_png(self):
        session, sim = session_record(0), sim_record(0, 0)
        cases = {"plot_session.py": [
            ([session, '{"frame": 1, "result": '], "bad.jsonl:2: not valid JSON"),
            ([session, "[1, 2]"], "bad.jsonl:2: expected a JSON object"),
            ([session, session, session_record(1, result=DROP)], "bad.jsonl:3: missing key"),
            ([session_record(1, result="high")], "bad.jsonl:1: \"result\""),
            ([session_record(1, frame=1.5)], "bad.jsonl:1: \"frame\""),
            ([session_record(1, light_map="***")], "bad.jsonl:1: \"light_map\""),
            ([session_record(1, light_map=base64.b64encode(b"\xff" * 100).decode())],
             "bad.jsonl:1: \"light_map\" holds 100 bytes"),
            ([], "no frame records"),
            (['{"version": 1}'], "no frame records"),
            (None, "bad.jsonl: cannot read"),
        ], "plot_sim.py": [
            ([sim, '{"run": 1, "frame": '], "bad.jsonl:2: not valid JSON"),
            ([sim, "[1, 2]"], "bad.jsonl:2: expected a JSON object"),
            ([sim, sim_record(1, 0, ev=DROP)], "bad.jsonl:2: missing key(s) ev"),
            ([sim_record(1, 0, ev="dark")], "bad.jsonl:1: \"ev\" must be a number"),
            ([sim_record(1, 0, ev=None)], "bad.jsonl:1: \"ev\" must be a number"),
            ([sim_record(1, 0.5)], "bad.jsonl:1: \"frame\" must be an integer"),
            ([sim_record(1, 0, policy="")], "bad.jsonl:1: \"policy\""),
            ([sim_record(1, 0, route=3)], "bad.jsonl:1: \"route\""),
            ([sim, sim_record(0, 1, policy="grey")], "bad.jsonl:2: run 0 changes"),
            ([], "no frame records"),
            (None, "bad.jsonl: cannot read"),
        ]}
        for script, rows in cases.items():
            for lines, expected in rows:
                with self.subTest(script=script, expected=expected):
                    done, png = run_plot(script, lines, name="bad.jsonl")
                    self.assertEqual((done.returncode, png), (1, None), "no PNG for bad input")
                    self.assertIn(expected, done.stderr)

    def test_maps_out_of_range_is_a_usage_error(self):
        for maps in ("-1", "25"):
            done, png = run_plot("plot_session.py", [session_record(n) for n in range(5)],
                                 "--maps", maps)
            self.assertEqual((done.returncode, png), (2, None), maps)

    def test_score_axis_takes_in_raised_scores(self):
        cases = [([18.0], (10.0, 45.0)),           # the mapped scale, with margins
                 ([18.0, 52.0], (10.0, 53.0)),     # a raised image-entry score
                 ([48.0, float("nan")], (10.0, 49.0)),
                 ([5.0], (4.0, 45.0))]
        for scores, expected in cases:
            self.assertEqual(plot_session.score_axis_range(scores), expected, scores)

    def test_error_distribution_takes_the_last_frame_of_each_run(self):
        with tempfile.TemporaryDirectory(prefix="plot-test-") as work:
            path = os.path.join(work, "frames.jsonl")
            write_lines(path, [sim_record(run, frame) for run in range(6) for frame in (2, 0, 1)])
            runs = plot_sim.read_runs(path)
        self.assertEqual(plot_sim.policies_in_order(runs), POLICIES)
        # The grey runs 1 and 4 end at frame 2: -0.2 - 1.8 / 4 and 0.1 - 1.1 / 4.
        self.assertEqual([round(e, 9) for e in plot_sim.final_errors(runs, "grey")], [0.175, 0.65])
        self.assertEqual(plot_sim.median([3.0, 1.0, 2.0, 10.0]), 2.5)
        self.assertEqual(plot_sim.median([3.0, 1.0, 2.0]), 2.0)


if __name__ == "__main__":
    try:
        import matplotlib  # noqa: F401
        import numpy  # noqa: F401
    except ImportError as error:
        print(f"SKIP: {error.name} is not installed for {sys.executable}")
        sys.exit(77)  # skipped, as the docstring says
    unittest.main()
