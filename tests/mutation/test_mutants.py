#!/usr/bin/python3
"""Checks the mutant generator of scripts/mutate.sh: it must make faults that
compile and matter, never touch what cannot change a decision, and draw the
same mutants for the same seed.

    /usr/bin/python3 tests/mutation/test_mutants.py [-v]
"""

import argparse
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "scripts", "mutation"))
import mutants  # noqa: E402
import run_mutants  # noqa: E402


def afters(line, kind=None):
    return sorted(m.after for m in mutants.line_mutants("f.cpp", 1, line)
                  if kind is None or m.kind == kind)


class MutantsTest(unittest.TestCase):
    def test_lines_that_decide_nothing_are_left_alone(self):
        for line in ['    std::vector<float> values(4);',
                     '    XEPO_LOGD("lux %f, dark %d", lux, lux >= kDark);',
                     '    // if (a <= b) x = 1;',
                     '#if A > 1',
                     '    static_assert(sizeof(T) == 8, "size");',
                     '    const char* text = "a <= b && c";']:
            with self.subTest(line=line):
                self.assertEqual(afters(line), [])

    def test_comparisons_move_their_edge_and_equalities_flip(self):
        cases = [("if (lux >= kMin) {", ["if (lux > kMin) {"]),
                 ("if (lux <= kMax) {", ["if (lux < kMax) {"]),
                 ("if (a < b) {", ["if (a <= b) {"]),
                 ("if (a == b) {", ["if (a != b) {"])]
        for line, expected in cases:
            with self.subTest(line=line):
                self.assertEqual(afters(line, "edge"), expected)

    def test_logic_flips_only_single_operator_conditions(self):
        self.assertEqual(afters("if (a && b) {", "logic"), ["if (a || b) {"])
        self.assertEqual(afters("if (a && b && c) {", "logic"), [])

    def test_constants_move_one_step(self):
        cases = [("150", "151"), ("150.0", "151.0"), ("0.73", "0.74"), ("0.015", "0.016"),
                 ("1e-6", "2e-6"), ("-14", "-13")]
        for literal, expected in cases:
            with self.subTest(literal=literal):
                self.assertEqual(mutants.bump_literal(literal), expected)
        self.assertEqual(afters("constexpr float kSure = 0.73f;  // why", "constant"),
                         ["constexpr float kSure = 0.74f;  // why"])

    def test_buffers_trade_with_their_look_alike_only_as_whole_words(self):
        self.assertEqual(afters("x = engine->lastEnResult[1];", "buffer"),
                         ["x = engine->enResult[1];"])
        self.assertEqual(afters("    float lastAeScore = kNeutralScore;", "buffer"), [])

    def test_updates_are_dropped_but_declarations_are_not(self):
        self.assertEqual(len(afters("    engine->refAecLux = lux;", "drop")), 1)
        self.assertEqual(len(afters("    ++engine->modelRunCount;", "drop")), 1)
        self.assertEqual(afters("    const float lux = 1.0f;", "drop"), [])
        self.assertEqual(afters("    if (a) b = 1;", "drop"), [])

    def test_only_dependent_neighbours_are_swapped(self):
        text = "\n".join(["    a = b + 1;", "    c = a * 2;", "    d = 3;", "    box[1] = y;",
                          "    box[2] = x;", "    m[k] = m[m[k]];", "    k = m[k];"])
        swaps = [m for m in mutants.file_mutants("f.cpp", text) if m.kind == "swap"]
        self.assertEqual([(m.line, m.after) for m in swaps],
                         [(1, "    c = a * 2;\n    a = b + 1;"),
                          (6, "    k = m[k];\n    m[k] = m[m[k]];")])
        swapped = mutants.apply(text, swaps[0])
        self.assertEqual(swapped.split("\n")[:2], ["    c = a * 2;", "    a = b + 1;"])

    def test_a_failure_that_does_not_repeat_is_no_catch(self):
        mutant = mutants.line_mutants("src/xepo/f.cpp", 1, "if (a < b) {")[0]
        args = argparse.Namespace(seed=1, per_folder=2)
        results = [("src/xepo", mutant, "killed"), ("src/xepo", mutant, "unrepeated")]
        report, met = run_mutants.summarise(results, {}, args)
        self.assertIn("| src/xepo | 1 | 1 | 0 | 0 | 50 % |", report)
        self.assertIn("passed when rerun", report)
        self.assertFalse(met)

    def test_apply_refuses_a_file_that_changed_since_the_draw(self):
        mutant = mutants.line_mutants("f.cpp", 1, "if (a < b) {")[0]
        with self.assertRaises(ValueError):
            mutants.apply("if (a > b) {", mutant)

    def test_the_draw_is_seeded_and_spread_over_kinds(self):
        text = "\n".join(["if (a < b) {", "x = y;", "constexpr int kN = 3;", "if (c && d) {",
                          "break;"] * 5)
        candidates = mutants.file_mutants("f.cpp", text)
        first = mutants.draw(candidates, 5, 7)
        self.assertEqual(first, mutants.draw(candidates, 5, 7))
        self.assertEqual(sorted(m.kind for m in first),
                         ["constant", "drop", "edge", "jump", "logic"])


if __name__ == "__main__":
    unittest.main()
