#!/usr/bin/python3
"""Checks tools/plot_session.py on synthetic replay files.

    /usr/bin/python3 tests/plot/test_plot_session.py [-v]

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

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools",
                      "plot_session.py")
SKIP_CODE = 77
ROUTES = ["hold", "zoom_hold", "stable", "history_hit", "unstable_albedo", "unstable_light",
          "unstable_fallback", "keep"]
# The canvas the script promises: 14 x 9 inches at 100 dots per inch.
EXPECTED_SIZE = (1400, 900)
DROP = object()


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
    def plot(self, lines, *options, name="replay.jsonl"):
        """Runs the script in a fresh directory on the lines (None: no file);
        returns the finished process and the PNG's bytes (None when not written)."""
        with tempfile.TemporaryDirectory(prefix="plot-session-test-") as work:
            replay, out = os.path.join(work, name), os.path.join(work, "plot.png")
            if lines is not None:
                with open(replay, "w", encoding="utf-8") as stream:
                    stream.write("".join(line + "\n" for line in lines))
            done = subprocess.run([sys.executable, SCRIPT, replay, "--out", out, *options],
                                  capture_output=True, text=True, check=False)
            if not os.path.exists(out):
                return done, None
            with open(out, "rb") as stream:
                return done, stream.read()

    def test_same_bytes_every_run_at_the_promised_size_without_a_timestamp(self):
        # Beside 150 regular frames: what must be accepted (blank lines, frames out
        # of order, an unknown route with extra keys, null numbers, a missing map).
        lines = [json.dumps({"version": 1, "session": "synthetic"}), ""]
        lines += [record(n) for n in range(150)] + ["  ", record(3)]
        lines += [record(150, route="some_future_route", extra=[1, 2]),
                  record(151, result=None, aec_lux=None), record(152, light_map=None)]
        outputs = []
        for _ in range(2):
            done, png = self.plot(lines, "--title", "synthetic session")
            self.assertEqual(done.returncode, 0, done.stderr)
            outputs.append(png)
        self.assertEqual(outputs[0], outputs[1], "two runs wrote different bytes")
        self.assertEqual(outputs[0][:16], b"\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR")
        self.assertEqual(struct.unpack(">II", outputs[0][16:24]), EXPECTED_SIZE)
        for text in (b"tIME", b"Date", b"Software"):
            self.assertNotIn(text, outputs[0])

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
        for lines, expected in cases:
            with self.subTest(expected):
                done, png = self.plot(lines, name="bad.jsonl")
                self.assertEqual(done.returncode, 1)
                self.assertIn(expected, done.stderr)
                self.assertIsNone(png, "a PNG was written for bad input")

    def test_maps_out_of_range_is_a_usage_error(self):
        for maps in ("-1", "25"):
            with self.subTest(maps=maps):
                done, png = self.plot([record(n) for n in range(5)], "--maps", maps)
                self.assertEqual((done.returncode, png), (2, None))

    def test_score_axis_takes_in_raised_scores(self):
        source = importlib.util.spec_from_file_location("plot_session", SCRIPT)
        plot_session = importlib.util.module_from_spec(source)
        source.loader.exec_module(plot_session)
        cases = [([18.0], (10.0, 45.0)),           # the mapped scale, with margins
                 ([18.0, 52.0], (10.0, 53.0)),     # a raised image-entry score
                 ([48.0, float("nan")], (10.0, 49.0)),
                 ([5.0], (4.0, 45.0))]
        for scores, expected in cases:
            with self.subTest(scores=scores):
                self.assertEqual(plot_session.score_axis_range(scores), expected)


if __name__ == "__main__":
    try:
        import matplotlib  # noqa: F401
        import numpy  # noqa: F401
    except ImportError as error:
        print(f"SKIP: {error.name} is not installed for {sys.executable}")
        sys.exit(SKIP_CODE)
    unittest.main()
