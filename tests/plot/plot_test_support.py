"""What the plot script tests share: running a script on JSON Lines in a fresh
directory, the deterministic-PNG checks, bad input, loading a script as a
module, and the skip when matplotlib or numpy is missing."""

import importlib.util
import os
import struct
import subprocess
import sys
import tempfile

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


def main():
    import unittest
    try:
        import matplotlib  # noqa: F401
        import numpy  # noqa: F401
    except ImportError as error:
        print(f"SKIP: {error.name} is not installed for {sys.executable}")
        sys.exit(SKIP_CODE)
    unittest.main(module="__main__")
