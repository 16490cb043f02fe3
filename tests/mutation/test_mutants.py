#!/usr/bin/python3
"""Checks the mutant generator of scripts/mutate.sh: it must make faults that
compile and matter, never touch what cannot change a decision, and draw the
same mutants for the same seed.

    /usr/bin/python3 tests/mutation/test_mutants.py [-v]
"""

import argparse
import json
import os
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "scripts", "mutation"))
import mutants  # noqa: E402
import run_mutants  # noqa: E402

# (line, kind or None for every kind, the mutated lines expected)
LINE_CASES = [
    # Guards: lines that decide nothing (declarations, logging, comments, the
    # preprocessor, static_assert, string contents) must give no mutant.
    ("    std::vector<float> values(4);", None, []),
    ('    XEPO_LOGD("lux %f, dark %d", lux, lux >= kDark);', None, []),
    ("    // if (a <= b) x = 1;", None, []),
    ("#if A > 1", None, []),
    ('    static_assert(sizeof(T) == 8, "size");', None, []),
    ('    const char* text = "a <= b && c";', None, []),
    # Guards: comparisons move their edge by one, equalities flip.
    ("if (lux >= kMin) {", "edge", ["if (lux > kMin) {"]),
    ("if (lux <= kMax) {", "edge", ["if (lux < kMax) {"]),
    ("if (a < b) {", "edge", ["if (a <= b) {"]),
    ("if (a == b) {", "edge", ["if (a != b) {"]),
    # Guards: only single-operator conditions flip (a chain would need brackets).
    ("if (a && b) {", "logic", ["if (a || b) {"]),
    ("if (a && b && c) {", "logic", []),
    # Guards: a constant moves one step and keeps its suffix and comment.
    ("constexpr float kSure = 0.73f;  // why", "constant",
     ["constexpr float kSure = 0.74f;  // why"]),
    # Guards: buffers trade with their look-alike only as whole words.
    ("x = engine->lastEnResult[1];", "buffer", ["x = engine->enResult[1];"]),
    ("    float lastAeScore = kNeutralScore;", "buffer", []),
    # Guards: updates are dropped, declarations and conditional bodies are not.
    ("    engine->refAecLux = lux;", "drop", [""]),
    ("    ++engine->modelRunCount;", "drop", [""]),
    ("    const float lux = 1.0f;", "drop", []),
    ("    if (a) b = 1;", "drop", []),
]


class MutantsTest(unittest.TestCase):
    def test_line_mutants(self):
        for line, kind, expected in LINE_CASES:
            with self.subTest(line=line, kind=kind):
                found = mutants.line_mutants("f.cpp", 1, line)
                self.assertEqual(sorted(m.after for m in found if kind in (None, m.kind)),
                                 expected)

    # Guards: a literal's step is one unit of its last digit, sign and exponent kept.
    def test_constants_move_one_step(self):
        cases = [("150", "151"), ("150.0", "151.0"), ("0.73", "0.74"), ("0.015", "0.016"),
                 ("1e-6", "2e-6"), ("-14", "-13")]
        for literal, expected in cases:
            with self.subTest(literal=literal):
                self.assertEqual(mutants.bump_literal(literal), expected)

    # Guards: only neighbours where the second reads what the first writes are
    # swapped, and a mutant is never applied to a line that is no longer what
    # was drawn.
    def test_only_dependent_neighbours_are_swapped_into_the_drawn_text(self):
        text = "\n".join(["    a = b + 1;", "    c = a * 2;", "    d = 3;", "    box[1] = y;",
                          "    box[2] = x;", "    m[k] = m[m[k]];", "    k = m[k];"])
        swaps = [m for m in mutants.file_mutants("f.cpp", text) if m.kind == "swap"]
        self.assertEqual([(m.line, m.after) for m in swaps],
                         [(1, "    c = a * 2;\n    a = b + 1;"),
                          (6, "    k = m[k];\n    m[k] = m[m[k]];")])
        swapped = mutants.apply(text, swaps[0])
        self.assertEqual(swapped.split("\n")[:2], ["    c = a * 2;", "    a = b + 1;"])
        with self.assertRaises(ValueError):
            mutants.apply(swapped, swaps[0])

    # Guards: a failure that passes on the rerun counts as a survivor, not a kill,
    # and the report names the test that failed once.
    def test_a_failure_that_does_not_repeat_is_no_catch(self):
        mutant = mutants.line_mutants("src/xepo/f.cpp", 1, "if (a < b) {")[0]
        args = argparse.Namespace(seed=1, per_folder=2, keys=None)
        results = [("src/xepo", mutant, "killed", []),
                   ("src/xepo", mutant, "unrepeated", ["Slow.Test"])]
        report, met = run_mutants.summarise(results, {}, args)
        self.assertIn("| src/xepo | 1 | 1 | 0 | 0 | 50 % |", report)
        self.assertIn("passed when rerun", report)
        self.assertIn("(failed once: Slow.Test)", report)
        self.assertFalse(met)

    # Guards: the same seed draws the same mutants, one of each kind first.
    def test_the_draw_is_seeded_and_spread_over_kinds(self):
        text = "\n".join(["if (a < b) {", "x = y;", "constexpr int kN = 3;", "if (c && d) {",
                          "break;"] * 5)
        candidates = mutants.file_mutants("f.cpp", text)
        first = mutants.draw(candidates, 5, 7)
        self.assertEqual(first, mutants.draw(candidates, 5, 7))
        self.assertEqual(sorted(m.kind for m in first),
                         ["constant", "drop", "edge", "jump", "logic"])

    # Guards: a rerun by key takes an earlier matrix's kills only, each key once,
    # the first of identical lines, and passes over keys no longer in the code.
    def test_mutants_are_picked_again_by_key(self):
        line_a, line_b = "if (a < b) {", "if (c && d) {"
        candidates = mutants.file_mutants("f.cpp", "\n".join([line_a, line_b, line_a]))
        edge = next(m for m in candidates if m.kind == "edge" and m.line == 1)
        logic = next(m for m in candidates if m.kind == "logic")
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "keys")
            with open(path, "w", encoding="utf-8") as stream:
                stream.write("# earlier kills\n\n%s\n" % logic.key())
                for key, outcome in ((edge.key(), "killed"), ("gone|edge|x|y", "killed"),
                                     (edge.key(), "killed"), ("f.cpp|drop|z|", "survived")):
                    stream.write(json.dumps({"key": key, "outcome": outcome}) + "\n")
            keys = run_mutants.read_keys(path)
        self.assertEqual(keys, [logic.key(), edge.key(), "gone|edge|x|y"])
        picked = run_mutants.pick_by_key(candidates, keys)
        self.assertEqual([(m.kind, m.line) for m in picked], [("logic", 2), ("edge", 1)])

    # Guards: a file copied into the runner's tree gets a fresh time stamp, so
    # that the build of the copy sees it as newer than its objects even when
    # the source was edited before the copy's last build.
    def test_copied_files_look_newer_than_earlier_builds(self):
        with tempfile.TemporaryDirectory() as folder:
            root, tree = os.path.join(folder, "root"), os.path.join(folder, "tree")
            os.makedirs(root)
            subprocess.run(["git", "init", "-q", root], check=True)
            source = os.path.join(root, "f.cpp")
            with open(source, "w", encoding="utf-8") as stream:
                stream.write("int f();\n")
            long_ago = time.time() - 3600
            os.utime(source, (long_ago, long_ago))
            run_mutants.copy_tree(tree, root)
            self.assertGreater(os.path.getmtime(os.path.join(tree, "f.cpp")), long_ago + 60)


if __name__ == "__main__":
    unittest.main()
