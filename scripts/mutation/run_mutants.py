#!/usr/bin/python3
"""Mutation testing: puts single faults into the engine, preprocessing, runtime
and tools one at a time, runs the native tests on each, and reports how many
each folder's tests caught.

    /usr/bin/python3 scripts/mutation/run_mutants.py [--seed S] [--per-folder N]
        [--build DIR] [--jobs J] [--list] [--folder F]... [--matrix FILE]
        [--keys FILE]

It works on a copy of the source tree in DIR/tree (default build/mutation), so
the checkout is never modified, and builds it in DIR/build with light
optimisation (a mutant's cost is mostly its rebuild). A mutant that does not
compile is left out of the count. A mutant counts as killed when any test
fails or times out and the failed tests fail again when rerun on their own; a
failure that does not repeat (a timeout on a busy machine, say) counts as a
survivor and is listed apart.

Survivors that cannot change any output are listed with the reason in
scripts/mutation/equivalent.txt (one per line: the key the report prints, a
tab, the reason); they are reported but not counted.

With --matrix, every mutant runs the whole suite (no stop at the first
failure) and FILE gets one JSON line per mutant: its key, outcome and the
tests that failed. A test that is the only one to kill some mutant earns its
place; one that never kills alone is a candidate to merge or drop.

With --keys, the run takes the mutants named in FILE instead of a draw: one
key per line, or the JSON lines an earlier --matrix run wrote (only the ones it
killed are taken). That shows whether a changed suite still catches what it
caught before. A key whose line is no longer in the code is reported and left
out.

Writes DIR/report.md and prints it. Exits 0 when at least 85 % of the counted
mutants were killed overall and at least 80 % in every folder, 1 otherwise,
2 when the unmutated tree does not build or pass.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mutants  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
EQUIVALENT_FILE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "equivalent.txt")
# The folders whose code the draw covers, each reported on its own.
FOLDERS = ["src/xepo", "src/cpp", "src/runtime", "src/imgproc", "tools/xepo"]
# Kill rates the suite must reach: overall, and in every folder.
OVERALL_TARGET = 0.85
FOLDER_TARGET = 0.80
# A rebuild or a test that takes longer than this has hung (the long tests'
# own limit is lowered to it as well).
BUILD_TIMEOUT_S = 900
TEST_TIMEOUT_S = 120


def run(command, cwd=None, timeout=None):
    """Runs a command quietly; its exit code, or None when it timed out."""
    try:
        done = subprocess.run(command, cwd=cwd, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=timeout, check=False)
        return done.returncode
    except subprocess.TimeoutExpired:
        return None


def copy_tree(tree, root=ROOT):
    """The checkout's files (committed or not, never ignored ones) into `tree`."""
    listed = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                            cwd=root, capture_output=True, check=True).stdout
    for name in listed.decode().split("\0"):
        if not name:
            continue
        source = os.path.join(root, name)
        target = os.path.join(tree, name)
        if not os.path.isfile(source):
            continue
        os.makedirs(os.path.dirname(target), exist_ok=True)
        if not os.path.exists(target) or not same_file(source, target):
            # A fresh time stamp, not the source's: a file edited before the
            # copy's last build but copied after it must still look newer than
            # its objects, or the build would keep testing the old code.
            shutil.copy(source, target)


def same_file(a, b):
    with open(a, "rb") as x, open(b, "rb") as y:
        return x.read() == y.read()


def source_files(tree, folder):
    found = []
    for base, _, names in os.walk(os.path.join(tree, folder)):
        for name in sorted(names):
            if name.endswith((".cpp", ".h")):
                found.append(os.path.relpath(os.path.join(base, name), tree))
    return sorted(found)


def read_equivalent():
    known = {}
    if os.path.exists(EQUIVALENT_FILE):
        with open(EQUIVALENT_FILE, encoding="utf-8") as stream:
            for line in stream:
                if line.strip() and not line.startswith("#") and "\t" in line:
                    key, reason = line.rstrip("\n").split("\t", 1)
                    known[key] = reason
    return known


def read_keys(path):
    """Mutant keys from a file: plain lines, or an earlier matrix's killed ones."""
    keys = []
    with open(path, encoding="utf-8") as stream:
        for line in stream:
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            if line.startswith("{"):
                row = json.loads(line)
                if row.get("outcome") == "killed":
                    keys.append(row["key"])
            else:
                keys.append(line)
    return list(dict.fromkeys(keys))


def pick_by_key(candidates, keys):
    """The first candidate with each wanted key (keys carry no line number)."""
    first = {}
    for mutant in candidates:
        first.setdefault(mutant.key(), mutant)
    return [first[key] for key in keys if key in first]


def failed_tests(build):
    """The names ctest wrote as failed in its last run."""
    log = os.path.join(build, "Testing", "Temporary", "LastTestsFailed.log")
    if not os.path.exists(log):
        return []
    with open(log, encoding="utf-8") as stream:
        return [line.strip().split(":", 1)[1] for line in stream if ":" in line]


def build_and_test(build, jobs, whole_suite=False):
    """'killed', 'survived', 'unrepeated' (failed once, passed when rerun) or
    'stillborn' (does not compile), and the failed tests when the whole suite
    ran."""
    if run(["cmake", "--build", build, "-j", str(jobs)], timeout=BUILD_TIMEOUT_S) != 0:
        return "stillborn", []
    command = ["ctest", "--test-dir", build, "-j", str(jobs), "--timeout", str(TEST_TIMEOUT_S)]
    if not whole_suite:
        command.append("--stop-on-failure")
    rerun = ["ctest", "--test-dir", build, "--rerun-failed", "--timeout", str(TEST_TIMEOUT_S)]
    # A catch must repeat: the failed tests run once more on their own, so that
    # a test that timed out while the machine was busy is not counted as one.
    # Such a failure stopped the suite before the tests after it, so the whole
    # suite then runs once more.
    once = []
    for _ in range(2):
        if run(command, timeout=TEST_TIMEOUT_S * 20) == 0:
            return ("unrepeated" if once else "survived"), once
        failed = failed_tests(build)
        if run(rerun, timeout=TEST_TIMEOUT_S * 20) != 0:
            return "killed", failed if whole_suite else []
        once += failed
    return "unrepeated", once


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--per-folder", type=int, default=12)
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "mutation"))
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    parser.add_argument("--folder", action="append", choices=FOLDERS)
    parser.add_argument("--list", action="store_true", help="print the draw and stop")
    parser.add_argument("--matrix", help="run the whole suite per mutant; JSON lines to this file")
    parser.add_argument("--keys", help="run the mutants with these keys instead of a draw")
    args = parser.parse_args()
    if args.per_folder < 1:
        parser.error("--per-folder must be at least 1")
    folders = args.folder or FOLDERS

    tree = os.path.join(args.build, "tree")
    build = os.path.join(args.build, "build")
    os.makedirs(tree, exist_ok=True)
    copy_tree(tree)

    drawn = []
    wanted = read_keys(args.keys) if args.keys else None
    for index, folder in enumerate(FOLDERS):
        candidates = []
        for path in source_files(tree, folder):
            with open(os.path.join(tree, path), encoding="utf-8") as stream:
                candidates.extend(mutants.file_mutants(path, stream.read()))
        if wanted is not None:
            chosen = pick_by_key(candidates, wanted)
        else:
            chosen = mutants.draw(candidates, args.per_folder, args.seed * 1000 + index)
        if folder in folders:
            drawn.extend((folder, m) for m in chosen)
    if wanted is not None:
        found = {m.key() for _, m in drawn}
        for key in wanted:
            if key not in found:
                print("no longer in the code: %s" % key, file=sys.stderr)
    if args.list:
        for folder, mutant in drawn:
            print(mutant.describe())
        return 0

    if run(["cmake", "-S", tree, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
            "-DCMAKE_CXX_FLAGS_RELEASE=-O1", "-DCMAKE_C_FLAGS_RELEASE=-O1",
            "-DXEPO_BUILD_BENCHMARKS=OFF", "-DXEPO_BUILD_FUZZERS=OFF",
            "-DXEPO_LONG_TEST_TIMEOUT=%d" % TEST_TIMEOUT_S]) != 0:
        print("the unmutated tree does not configure", file=sys.stderr)
        return 2
    if build_and_test(build, args.jobs)[0] != "survived":
        print("the unmutated tree does not build or pass its tests", file=sys.stderr)
        return 2

    equivalent = read_equivalent()
    if args.matrix:
        open(args.matrix, "w", encoding="utf-8").close()
    results = []
    started = time.monotonic()
    for number, (folder, mutant) in enumerate(drawn, start=1):
        path = os.path.join(tree, mutant.path)
        with open(path, encoding="utf-8") as stream:
            original = stream.read()
        with open(path, "w", encoding="utf-8") as stream:
            stream.write(mutants.apply(original, mutant))
        try:
            outcome, failed = build_and_test(build, args.jobs, bool(args.matrix))
        finally:
            with open(path, "w", encoding="utf-8") as stream:
                stream.write(original)
        if outcome == "survived" and mutant.key() in equivalent:
            outcome = "equivalent"
        results.append((folder, mutant, outcome, failed))
        if args.matrix:
            with open(args.matrix, "a", encoding="utf-8") as stream:
                stream.write(json.dumps({"key": mutant.key(), "folder": folder,
                                         "outcome": outcome, "failed": failed}) + "\n")
        print("[%d/%d %4.0fs] %-10s %s" % (number, len(drawn), time.monotonic() - started, outcome,
                                          mutant.describe()), flush=True)
    # Leave the copy as the checkout has it, built.
    run(["cmake", "--build", build, "-j", str(args.jobs)], timeout=BUILD_TIMEOUT_S)

    report, met = summarise(results, equivalent, args)
    with open(os.path.join(args.build, "report.md"), "w", encoding="utf-8") as stream:
        stream.write(report)
    print(report)
    return 0 if met else 1


def summarise(results, equivalent, args):
    title = ("the mutants listed in %s" % args.keys if args.keys else
             "seed %d, %d per folder" % (args.seed, args.per_folder))
    lines = ["# Mutation run: %s" % title, "",
             "| folder | killed | survived | equivalent | did not compile | kill rate |",
             "|---|---|---|---|---|---|"]
    met = True
    total_killed = total_counted = 0
    for folder in FOLDERS:
        rows = [outcome for f, _, outcome, _ in results if f == folder]
        if not rows:
            continue
        # A failure that did not repeat is no catch: it counts as a survivor.
        killed = rows.count("killed")
        survived = rows.count("survived") + rows.count("unrepeated")
        counted = killed + survived
        rate = killed / counted if counted else 1.0
        met = met and rate >= FOLDER_TARGET
        total_killed += killed
        total_counted += counted
        lines.append("| %s | %d | %d | %d | %d | %.0f %% |" % (
            folder, killed, survived, rows.count("equivalent"), rows.count("stillborn"),
            100 * rate))
    overall = total_killed / total_counted if total_counted else 1.0
    met = met and overall >= OVERALL_TARGET
    lines.append("| **all** | %d | %d | | | **%.0f %%** |" % (
        total_killed, total_counted - total_killed, 100 * overall))
    lines.append("")
    survivors = [m for _, m, outcome, _ in results if outcome == "survived"]
    if survivors:
        lines += ["Survivors (key for equivalent.txt after the tab):", ""]
        lines += ["- %s\t%s" % (m.describe(), m.key()) for m in survivors]
        lines.append("")
    unrepeated = [(m, failed) for _, m, outcome, failed in results if outcome == "unrepeated"]
    if unrepeated:
        lines += ["Failed once but passed when rerun (counted as survivors; run again on a "
                  "quiet machine):", ""]
        lines += ["- %s (failed once: %s)" % (m.describe(), ", ".join(failed) or "?")
                  for m, failed in unrepeated]
        lines.append("")
    listed = [m for _, m, outcome, _ in results if outcome == "equivalent"]
    if listed:
        lines += ["Equivalent survivors:", ""]
        lines += ["- %s: %s" % (m.describe(), equivalent[m.key()]) for m in listed]
        lines.append("")
    lines.append("Targets (%.0f %% overall, %.0f %% per folder): %s" % (
        100 * OVERALL_TARGET, 100 * FOLDER_TARGET, "met" if met else "NOT met"))
    return "\n".join(lines) + "\n", met


if __name__ == "__main__":
    sys.exit(main())
