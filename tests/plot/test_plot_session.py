#!/usr/bin/python3
"""Checks tools/plot_session.py on synthetic replay files.

    /usr/bin/python3 tests/plot/test_plot_session.py [-v]

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

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(HERE, "..", "..", "tools", "plot_session.py")
SKIP_CODE = 77

ROUTES = ["hold", "zoom_hold", "stable", "history_hit", "unstable_albedo", "unstable_light",
          "unstable_fallback", "keep"]
# The canvas the script promises: 14 x 9 inches at 100 dots per inch.
EXPECTED_SIZE = (1400, 900)


def light_map(frame):
    """A 64 x 48 map with a 10 x 8 light block that drifts right and down."""
    cells = bytearray(64 * 48)
    left, top = (frame * 2) % 54, (frame // 3) % 40
    for row in range(top, top + 8):
        for column in range(left, left + 10):
            cells[row * 64 + column] = 255
    return base64.b64encode(bytes(cells)).decode("ascii"), 80


def frame_record(frame, route=None):
    encoded, cells = light_map(frame)
    return {"frame": frame, "aec_lux": 300.0 + 80.0 * ((frame % 50) / 50.0 - 0.5),
            "scale": 1.0 if frame < 100 else 2.0,
            "result": 18.0 + 10.0 * ((frame % 40) / 40.0) - 3.0 * (frame // 75),
            "confidence": 0.9 if frame % 30 < 20 else 0.8, "light_cells": cells,
            "route": route or ROUTES[(frame // 12) % len(ROUTES)], "light_map": encoded}


def replay_lines(frames=150):
    """A replay with a header, every route in runs of 12 frames and a moving light map."""
    lines = [json.dumps({"version": 1, "session": "synthetic"})]
    lines += [json.dumps(frame_record(n)) for n in range(frames)]
    return lines


def png_chunks(data):
    """(type, payload) of every chunk of a PNG."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG signature"
    chunks, at = [], 8
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        chunks.append((kind.decode("ascii"), data[at + 8:at + 8 + length]))
        at += 12 + length
    return chunks


class PlotSessionTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="plot-session-test-")
        self.addCleanup(self.dir.cleanup)

    def write(self, name, lines):
        path = os.path.join(self.dir.name, name)
        with open(path, "w", encoding="utf-8") as stream:
            stream.write("".join(line + "\n" for line in lines))
        return path

    def plot(self, replay, out, *options):
        return subprocess.run([sys.executable, SCRIPT, replay, "--out", out, *options],
                              capture_output=True, text=True, check=False)

    def test_plot_has_fixed_size_no_timestamp_and_same_bytes_every_run(self):
        replay = self.write("replay.jsonl", replay_lines())
        outputs = []
        for run in range(2):
            out = os.path.join(self.dir.name, f"plot{run}.png")
            done = self.plot(replay, out, "--title", "synthetic session")
            self.assertEqual(done.returncode, 0, done.stderr)
            with open(out, "rb") as stream:
                outputs.append(stream.read())
        self.assertEqual(outputs[0], outputs[1], "two runs wrote different bytes")
        chunks = png_chunks(outputs[0])
        self.assertEqual(struct.unpack(">II", chunks[0][1][:8]), EXPECTED_SIZE)
        kinds = [kind for kind, _ in chunks]
        self.assertNotIn("tIME", kinds)
        texts = b"".join(payload for kind, payload in chunks if kind in ("tEXt", "iTXt", "zTXt"))
        self.assertNotIn(b"Date", texts)
        self.assertNotIn(b"Software", texts)

    def test_accepted_variations(self):
        odd_route = frame_record(5, route="some_future_route")
        odd_route["extra"] = [1, 2]
        cases = [
            ("unknown route and extra keys", [json.dumps(odd_route)], []),
            ("single frame, no strip", [json.dumps(frame_record(0))], ["--maps", "0"]),
            ("more maps than frames", [json.dumps(frame_record(n)) for n in range(3)],
             ["--maps", "24"]),
            ("null numbers drawn as gaps",
             [json.dumps(dict(frame_record(n), result=None, aec_lux=None)) for n in range(3)],
             []),
            ("frame without a map", [json.dumps(dict(frame_record(0), light_map=None))], []),
            ("blank lines and frames out of order",
             ["", json.dumps(frame_record(7)), "  ", json.dumps(frame_record(2))], []),
        ]
        for name, lines, options in cases:
            with self.subTest(name):
                out = os.path.join(self.dir.name, "ok.png")
                done = self.plot(self.write("ok.jsonl", lines), out, *options)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertTrue(os.path.getsize(out) > 0)

    def test_bad_input_fails_naming_the_line(self):
        good = json.dumps(frame_record(0))

        def altered(**changes):
            record = frame_record(1)
            for key, value in changes.items():
                if value is None:
                    del record[key]
                else:
                    record[key] = value
            return json.dumps(record)

        cases = [
            ("broken JSON", [good, '{"frame": 1, "result": '], "bad.jsonl:2: not valid JSON"),
            ("not an object", [good, "[1, 2]"], "bad.jsonl:2: expected a JSON object"),
            ("missing result", [good, good, altered(result=None)], "bad.jsonl:3: missing key"),
            ("result a string", [altered(result="high")], "bad.jsonl:1: \"result\""),
            ("frame a float", [altered(frame=1.5)], "bad.jsonl:1: \"frame\""),
            ("map not base64", [altered(light_map="***")], "bad.jsonl:1: \"light_map\""),
            ("map too short", [altered(light_map=base64.b64encode(b"\xff" * 100).decode())],
             "bad.jsonl:1: \"light_map\" holds 100 bytes"),
            ("empty file", [], "no frame records"),
            ("header only", ['{"version": 1}'], "no frame records"),
        ]
        for name, lines, expected in cases:
            with self.subTest(name):
                out = os.path.join(self.dir.name, "bad.png")
                done = self.plot(self.write("bad.jsonl", lines), out)
                self.assertNotEqual(done.returncode, 0)
                self.assertIn(expected, done.stderr)
                self.assertFalse(os.path.exists(out), "a PNG was written for bad input")

    def test_missing_file_and_bad_maps_option_fail(self):
        out = os.path.join(self.dir.name, "none.png")
        missing = self.plot(os.path.join(self.dir.name, "absent.jsonl"), out)
        self.assertEqual(missing.returncode, 1)
        self.assertIn("absent.jsonl: cannot read", missing.stderr)
        replay = self.write("replay.jsonl", replay_lines(5))
        for maps in ("-1", "25"):
            with self.subTest(maps=maps):
                self.assertEqual(self.plot(replay, out, "--maps", maps).returncode, 2)
        self.assertFalse(os.path.exists(out))


if __name__ == "__main__":
    try:
        import matplotlib  # noqa: F401
        import numpy  # noqa: F401
    except ImportError as error:
        print(f"SKIP: {error.name} is not installed for {sys.executable}")
        sys.exit(SKIP_CODE)
    unittest.main()
