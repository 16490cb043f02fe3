#!/usr/bin/python3
"""Checks tools/plot_sim.py on synthetic simulation files.

    /usr/bin/python3 tests/plot/test_plot_sim.py [-v]

Exits with 77 (skipped) when matplotlib or numpy is missing.
"""

import json
import os
import subprocess
import sys
import tempfile
import unittest

from plot_test_support import (DROP, check_bad_input, check_same_png_every_run, load_script,
                               main, script_path)

SCRIPT = script_path("plot_sim.py")
# The canvas the script promises: 14 x 12 inches at 100 dots per inch.
EXPECTED_SIZE = (1400, 1200)
POLICIES = ["engine", "grey", "mean-highlight"]
ROUTES = ["unstable_albedo", "keep", "stable", "history_hit"]


def record(run, frame, **changes):
    """One frame: runs cycle through the policies and starts -2..2; the exposure
    halves its distance to a per-run end point; engine frames carry routes."""
    policy = POLICIES[run % 3]
    start = float(run // 3 % 5 - 2)
    end = 0.1 * (run % 7) - 0.3
    ev = end + (start - end) * 0.5 ** frame
    fields = {"run": run, "photo": f"photo{run // 15}.jpg", "policy": policy, "start_ev": start,
              "frame": frame, "ev": ev, "aec_lux": 300 + 23.45 * ev, "measured": 0.18,
              "score": 18.0 + (run % 5) - (frame % 3 if policy == "engine" else 0),
              "confidence": 0.9 if policy == "engine" else None,
              "route": ROUTES[(frame // 7 + run) % len(ROUTES)] if policy == "engine" else None,
              "light_cells": 4 if policy == "engine" else None, "capture": False, "hold": False}
    fields.update(changes)
    return json.dumps({key: value for key, value in fields.items() if value is not DROP})


class PlotSimTest(unittest.TestCase):
    def test_same_bytes_every_run_at_the_promised_size_without_a_timestamp(self):
        # 30 runs of 40 frames, shuffled by run, a blank line, an unknown route
        # and a null score among them.
        lines = [record(run, frame) for frame in range(40) for run in range(30)]
        lines += ["", record(30, 0, policy="grey", score=None),
                  record(31, 0, route="some_future_route")]
        check_same_png_every_run(self, SCRIPT, lines, EXPECTED_SIZE, "--title",
                                 "synthetic simulation")

    def test_bad_input_fails_naming_the_line_and_writes_no_png(self):
        good = record(0, 0)
        cases = [
            ([good, '{"run": 1, "frame": '], "bad.jsonl:2: not valid JSON"),
            ([good, "[1, 2]"], "bad.jsonl:2: expected a JSON object"),
            ([good, record(1, 0, ev=DROP)], "bad.jsonl:2: missing key(s) ev"),
            ([record(1, 0, ev="dark")], "bad.jsonl:1: \"ev\" must be a number"),
            ([record(1, 0, ev=None)], "bad.jsonl:1: \"ev\" must be a number"),
            ([record(1, 0.5)], "bad.jsonl:1: \"frame\" must be an integer"),
            ([record(1, 0, policy="")], "bad.jsonl:1: \"policy\""),
            ([record(1, 0, route=3)], "bad.jsonl:1: \"route\""),
            ([good, record(0, 1, policy="grey")], "bad.jsonl:2: run 0 changes"),
            ([], "no frame records"),
            (None, "bad.jsonl: cannot read"),
        ]
        check_bad_input(self, SCRIPT, cases)

    def test_missing_out_is_a_usage_error(self):
        done = subprocess.run([sys.executable, SCRIPT, "frames.jsonl"], capture_output=True,
                              text=True, check=False)
        self.assertEqual(done.returncode, 2)

    def test_error_distribution_takes_the_last_frame_of_each_run(self):
        plot_sim = load_script("plot_sim.py")
        with tempfile.TemporaryDirectory(prefix="plot-test-") as work:
            path = os.path.join(work, "frames.jsonl")
            with open(path, "w", encoding="utf-8") as stream:
                stream.writelines(record(run, frame) + "\n" for run in range(6)
                                  for frame in (2, 0, 1))
            runs = plot_sim.read_runs(path)
        self.assertEqual(plot_sim.policies_in_order(runs), POLICIES)
        # The grey runs 1 and 4 end at frame 2: -0.2 - 1.8 / 4 and 0.1 - 1.1 / 4.
        errors = plot_sim.final_errors(runs, "grey")
        self.assertEqual([round(error, 9) for error in errors], [0.175, 0.65])
        self.assertEqual(plot_sim.median([3.0, 1.0, 2.0, 10.0]), 2.5)
        self.assertEqual(plot_sim.median([3.0, 1.0, 2.0]), 2.0)


if __name__ == "__main__":
    main()
