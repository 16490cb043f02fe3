#!/usr/bin/python3
"""Checks tools/plot_session.py on synthetic replay files.

    /usr/bin/python3 tests/plot/test_plot_session.py [-v]

Exits with 77 (skipped) when matplotlib or numpy is missing.
"""

import base64
import json
import unittest

from plot_test_support import (DROP, check_bad_input, check_same_png_every_run, load_script,
                               main, run_plot, script_path)

SCRIPT = script_path("plot_session.py")
ROUTES = ["hold", "zoom_hold", "stable", "history_hit", "unstable_albedo", "unstable_light",
          "unstable_fallback", "keep"]
# The canvas the script promises: 14 x 9 inches at 100 dots per inch.
EXPECTED_SIZE = (1400, 900)


def record(number, **changes):
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
              "route": ROUTES[(number // 12) % len(ROUTES)],
              "light_map": base64.b64encode(bytes(cells)).decode("ascii")}
    fields.update(changes)
    return json.dumps({key: value for key, value in fields.items() if value is not DROP})


class PlotSessionTest(unittest.TestCase):
    def test_same_bytes_every_run_at_the_promised_size_without_a_timestamp(self):
        # Beside 150 regular frames: what must be accepted (blank lines, frames out
        # of order, an unknown route with extra keys, null numbers, a missing map).
        lines = [json.dumps({"version": 1, "session": "synthetic"}), ""]
        lines += [record(n) for n in range(150)] + ["  ", record(3)]
        lines += [record(150, route="some_future_route", extra=[1, 2]),
                  record(151, result=None, aec_lux=None), record(152, light_map=None)]
        check_same_png_every_run(self, SCRIPT, lines, EXPECTED_SIZE, "--title",
                                 "synthetic session")

    def test_bad_input_fails_naming_the_line_and_writes_no_png(self):
        good = record(0)
        cases = [
            ([good, '{"frame": 1, "result": '], "bad.jsonl:2: not valid JSON"),
            ([good, "[1, 2]"], "bad.jsonl:2: expected a JSON object"),
            ([good, good, record(1, result=DROP)], "bad.jsonl:3: missing key"),
            ([record(1, result="high")], "bad.jsonl:1: \"result\""),
            ([record(1, frame=1.5)], "bad.jsonl:1: \"frame\""),
            ([record(1, light_map="***")], "bad.jsonl:1: \"light_map\""),
            ([record(1, light_map=base64.b64encode(b"\xff" * 100).decode())],
             "bad.jsonl:1: \"light_map\" holds 100 bytes"),
            ([], "no frame records"),
            (['{"version": 1}'], "no frame records"),
            (None, "bad.jsonl: cannot read"),
        ]
        check_bad_input(self, SCRIPT, cases)

    def test_maps_out_of_range_is_a_usage_error(self):
        for maps in ("-1", "25"):
            with self.subTest(maps=maps):
                done, png = run_plot(SCRIPT, [record(n) for n in range(5)], "--maps", maps)
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


if __name__ == "__main__":
    main()
