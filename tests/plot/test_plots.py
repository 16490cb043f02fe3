#!/usr/bin/python3
"""Checks tools/plot_session.py and tools/plot_sim.py on synthetic replay and
simulation files: the same PNG bytes every run at the promised size, bad input
named by line with no PNG written, and the numbers the plots are drawn from.

    /usr/bin/python3 tests/plot/test_plots.py [-v]

Exits with 77 (skipped) when matplotlib or numpy is missing.
"""

import base64
import importlib.util
import json
import os
import struct
import subprocess
import sys
import tempfile
import unittest

TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools")
SKIP_CODE = 77
# A key whose value is DROP is left out of a record.
DROP = object()


def script_path(name):
    return os.path.join(TOOLS, name)


def load_script(name):
    source = importlib.util.spec_from_file_location(name[:-3], script_path(name))
    module = importlib.util.module_from_spec(source)
    source.loader.exec_module(module)
    return module


def run_plot(script, lines, *options, name="frames.jsonl"):
    """Runs the script in a fresh directory on the lines (None: no file);
    returns the finished process and the PNG's bytes (None when not written)."""
    with tempfile.TemporaryDirectory(prefix="plot-test-") as work:
        data, out = os.path.join(work, name), os.path.join(work, "plot.png")
        if lines is not None:
            with open(data, "w", encoding="utf-8") as stream:
                stream.write("".join(line + "\n" for line in lines))
        done = subprocess.run([sys.executable, script, data, "--out", out, *options],
                              capture_output=True, text=True, check=False)
        if not os.path.exists(out):
            return done, None
        with open(out, "rb") as stream:
            return done, stream.read()


def check_same_png_every_run(test, script, lines, size, *options):
    """Two runs write the same bytes: a PNG of `size` pixels without a
    timestamp or a software name in it."""
    outputs = []
    for _ in range(2):
        done, png = run_plot(script, lines, *options)
        test.assertEqual(done.returncode, 0, done.stderr)
        outputs.append(png)
    test.assertEqual(outputs[0], outputs[1], "two runs wrote different bytes")
    test.assertEqual(outputs[0][:16], b"\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR")
    test.assertEqual(struct.unpack(">II", outputs[0][16:24]), size)
    for text in (b"tIME", b"Date", b"Software"):
        test.assertNotIn(text, outputs[0])


def check_bad_input(test, script, cases):
    """Each (lines, message) fails with exit 1, names the fault on standard
    error and writes no PNG."""
    for lines, expected in cases:
        with test.subTest(expected):
            done, png = run_plot(script, lines, name="bad.jsonl")
            test.assertEqual(done.returncode, 1)
            test.assertIn(expected, done.stderr)
            test.assertIsNone(png, "a PNG was written for bad input")


SESSION_SCRIPT = script_path("plot_session.py")
SESSION_ROUTES = ["hold", "zoom_hold", "stable", "history_hit", "unstable_albedo",
                  "unstable_light", "unstable_fallback", "keep"]
# The canvas the script promises: 14 x 9 inches at 100 dots per inch.
SESSION_SIZE = (1400, 900)


def session_record(number, **changes):
    """One frame as a JSON line: a 10 x 8 light block drifting through the 64 x 48
    map, every route in runs of 12 frames; a change to DROP removes the key."""
    cells = bytearray(64 * 48)
    left, top = (number * 2) % 54, (number // 3) % 40
    for row in range(top, top + 8):
        cells[row * 64 + left:row * 64 + left + 10] = b"\xff" * 10
    fields = {"frame": number, "aec_lux": 300.0 + 80.0 * ((number % 50) / 50.0 - 0.5),
              "scale": 1.0 if number < 100 else 2.0,
              "result": 18.0 + 10.0 * ((number % 40) / 40.0) - 3.0 * (number // 75),
              "confidence": 0.9 if number % 30 < 20 else 0.8, "light_cells": 80,
              "route": SESSION_ROUTES[(number // 12) % len(SESSION_ROUTES)],
              "light_map": base64.b64encode(bytes(cells)).decode("ascii")}
    fields.update(changes)
    return json.dumps({key: value for key, value in fields.items() if value is not DROP})


class PlotSessionTest(unittest.TestCase):
    def test_same_bytes_every_run_at_the_promised_size_without_a_timestamp(self):
        # Beside 150 regular frames: what must be accepted (blank lines, frames out
        # of order, an unknown route with extra keys, null numbers, a missing map).
        lines = [json.dumps({"version": 1, "session": "synthetic"}), ""]
        lines += [session_record(n) for n in range(150)] + ["  ", session_record(3)]
        lines += [session_record(150, route="some_future_route", extra=[1, 2]),
                  session_record(151, result=None, aec_lux=None),
                  session_record(152, light_map=None)]
        check_same_png_every_run(self, SESSION_SCRIPT, lines, SESSION_SIZE, "--title",
                                 "synthetic session")

    def test_bad_input_fails_naming_the_line_and_writes_no_png(self):
        good = session_record(0)
        cases = [
            ([good, '{"frame": 1, "result": '], "bad.jsonl:2: not valid JSON"),
            ([good, "[1, 2]"], "bad.jsonl:2: expected a JSON object"),
            ([good, good, session_record(1, result=DROP)], "bad.jsonl:3: missing key"),
            ([session_record(1, result="high")], "bad.jsonl:1: \"result\""),
            ([session_record(1, frame=1.5)], "bad.jsonl:1: \"frame\""),
            ([session_record(1, light_map="***")], "bad.jsonl:1: \"light_map\""),
            ([session_record(1, light_map=base64.b64encode(b"\xff" * 100).decode())],
             "bad.jsonl:1: \"light_map\" holds 100 bytes"),
            ([], "no frame records"),
            (['{"version": 1}'], "no frame records"),
            (None, "bad.jsonl: cannot read"),
        ]
        check_bad_input(self, SESSION_SCRIPT, cases)

    def test_maps_out_of_range_is_a_usage_error(self):
        for maps in ("-1", "25"):
            with self.subTest(maps=maps):
                lines = [session_record(n) for n in range(5)]
                done, png = run_plot(SESSION_SCRIPT, lines, "--maps", maps)
                self.assertEqual((done.returncode, png), (2, None))

    def test_score_axis_takes_in_raised_scores(self):
        plot_session = load_script("plot_session.py")
        cases = [([18.0], (10.0, 45.0)),           # the mapped scale, with margins
                 ([18.0, 52.0], (10.0, 53.0)),     # a raised image-entry score
                 ([48.0, float("nan")], (10.0, 49.0)),
                 ([5.0], (4.0, 45.0))]
        for scores, expected in cases:
            with self.subTest(scores=scores):
                self.assertEqual(plot_session.score_axis_range(scores), expected)


SIM_SCRIPT = script_path("plot_sim.py")
# The canvas the script promises: 14 x 12 inches at 100 dots per inch.
SIM_SIZE = (1400, 1200)
POLICIES = ["engine", "grey", "mean-highlight"]
SIM_ROUTES = ["unstable_albedo", "keep", "stable", "history_hit"]


def sim_record(run, frame, **changes):
    """One frame: runs cycle through the policies and starts -2..2; the exposure
    halves its distance to a per-run end point; engine frames carry routes."""
    policy = POLICIES[run % 3]
    start = float(run // 3 % 5 - 2)
    end = 0.1 * (run % 7) - 0.3
    ev = end + (start - end) * 0.5 ** frame
    engine = policy == "engine"
    fields = {"run": run, "photo": f"photo{run // 15}.jpg", "policy": policy, "start_ev": start,
              "frame": frame, "ev": ev, "aec_lux": 300 + 23.45 * ev, "measured": 0.18,
              "score": 18.0 + (run % 5) - (frame % 3 if engine else 0),
              "confidence": 0.9 if engine else None,
              "route": SIM_ROUTES[(frame // 7 + run) % len(SIM_ROUTES)] if engine else None,
              "light_cells": 4 if engine else None, "capture": False, "hold": False}
    fields.update(changes)
    return json.dumps({key: value for key, value in fields.items() if value is not DROP})


class PlotSimTest(unittest.TestCase):
    def test_same_bytes_every_run_at_the_promised_size_without_a_timestamp(self):
        # 30 runs of 40 frames, shuffled by run, a blank line, an unknown route
        # and a null score among them.
        lines = [sim_record(run, frame) for frame in range(40) for run in range(30)]
        lines += ["", sim_record(30, 0, policy="grey", score=None),
                  sim_record(31, 0, route="some_future_route")]
        check_same_png_every_run(self, SIM_SCRIPT, lines, SIM_SIZE, "--title",
                                 "synthetic simulation")

    def test_bad_input_fails_naming_the_line_and_writes_no_png(self):
        good = sim_record(0, 0)
        cases = [
            ([good, '{"run": 1, "frame": '], "bad.jsonl:2: not valid JSON"),
            ([good, "[1, 2]"], "bad.jsonl:2: expected a JSON object"),
            ([good, sim_record(1, 0, ev=DROP)], "bad.jsonl:2: missing key(s) ev"),
            ([sim_record(1, 0, ev="dark")], "bad.jsonl:1: \"ev\" must be a number"),
            ([sim_record(1, 0, ev=None)], "bad.jsonl:1: \"ev\" must be a number"),
            ([sim_record(1, 0.5)], "bad.jsonl:1: \"frame\" must be an integer"),
            ([sim_record(1, 0, policy="")], "bad.jsonl:1: \"policy\""),
            ([sim_record(1, 0, route=3)], "bad.jsonl:1: \"route\""),
            ([good, sim_record(0, 1, policy="grey")], "bad.jsonl:2: run 0 changes"),
            ([], "no frame records"),
            (None, "bad.jsonl: cannot read"),
        ]
        check_bad_input(self, SIM_SCRIPT, cases)

    def test_error_distribution_takes_the_last_frame_of_each_run(self):
        plot_sim = load_script("plot_sim.py")
        with tempfile.TemporaryDirectory(prefix="plot-test-") as work:
            path = os.path.join(work, "frames.jsonl")
            with open(path, "w", encoding="utf-8") as stream:
                stream.writelines(sim_record(run, frame) + "\n" for run in range(6)
                                  for frame in (2, 0, 1))
            runs = plot_sim.read_runs(path)
        self.assertEqual(plot_sim.policies_in_order(runs), POLICIES)
        # The grey runs 1 and 4 end at frame 2: -0.2 - 1.8 / 4 and 0.1 - 1.1 / 4.
        errors = plot_sim.final_errors(runs, "grey")
        self.assertEqual([round(error, 9) for error in errors], [0.175, 0.65])
        self.assertEqual(plot_sim.median([3.0, 1.0, 2.0, 10.0]), 2.5)
        self.assertEqual(plot_sim.median([3.0, 1.0, 2.0]), 2.0)


if __name__ == "__main__":
    try:
        import matplotlib  # noqa: F401
        import numpy  # noqa: F401
    except ImportError as error:
        print(f"SKIP: {error.name} is not installed for {sys.executable}")
        sys.exit(SKIP_CODE)
    unittest.main()
