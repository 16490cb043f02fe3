#!/usr/bin/python3
"""Measures the Dask evaluation at scale (for docs/evaluation.md; not a test):

  1. throughput with 1 and with 2 workers on the same study;
  2. a long study (1,000+ closed-loop runs of 60 frames at 640x480) with the
     resident memory of every worker sampled along the way.

    PYTHONPATH=build/host/python /usr/bin/python3 scripts/eval_scale.py [--quick]

--quick shrinks both studies (for a smoke run). Prints a Markdown table.
"""

import argparse
import os
import shutil
import sys
import tempfile
import threading
import time

from distributed import Client, LocalCluster

from xepo import eval as xepo_eval

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
PHOTOS = [os.path.join(ROOT, "samples", name) for name in sorted(os.listdir(
    os.path.join(ROOT, "samples"))) if name.endswith(".jpg")]
# Seconds between samples of the workers' resident memory.
SAMPLE_INTERVAL_S = 5.0


def resident_kb():
    with open("/proc/self/status", encoding="ascii") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def starts(count):
    """`count` start exposures spread evenly over -3..+3 EV."""
    return ",".join("%.4f" % (-3.0 + 6.0 * i / (count - 1)) for i in range(count))


def study(args, workers, out, sampler=None):
    with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                      dashboard_address=None) as cluster:
        stop = threading.Event()
        samples = []
        if sampler:
            def sample():
                with Client(cluster.scheduler_address) as client:
                    while not stop.wait(SAMPLE_INTERVAL_S):
                        samples.append((time.monotonic(), client.run(resident_kb)))
            thread = threading.Thread(target=sample, daemon=True)
            thread.start()
        started = time.monotonic()
        status = xepo_eval.main([*PHOTOS, *args, "--out", out, "--scheduler",
                                 cluster.scheduler_address])
        elapsed = time.monotonic() - started
        stop.set()
    if status != 0:
        sys.exit("the study failed (%d)" % status)
    return elapsed, samples


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--quick", action="store_true")
    options = parser.parse_args()
    work = tempfile.mkdtemp(prefix="xepo-eval-scale-")
    try:
        small = ["--start-ev", starts(3 if options.quick else 6), "--frames", "60",
                 "--size", "640x480", "--policy", "engine,grey"]
        runs_small = len(PHOTOS) * (3 if options.quick else 6) * 2
        one, _ = study(small, 1, os.path.join(work, "one"))
        two, _ = study(small, 2, os.path.join(work, "two"))
        print("| workers | runs | seconds | runs/s | runs/s per worker |")
        print("|---|---|---|---|---|")
        for workers, seconds in ((1, one), (2, two)):
            print("| %d | %d | %.1f | %.2f | %.2f |" % (workers, runs_small, seconds,
                                                      runs_small / seconds,
                                                      runs_small / seconds / workers))
        print("\nspeed-up with 2 workers: %.2fx\n" % (one / two))

        count = 4 if options.quick else 49
        long_study = ["--start-ev", starts(count), "--frames", "60", "--size", "640x480",
                      "--policy", "engine,grey", "--motion", "still,pan,shake"]
        runs_long = len(PHOTOS) * count * 2 * 3
        seconds, samples = study(long_study, 2, os.path.join(work, "long"), sampler=True)
        print("long study: %d runs of 60 frames at 640x480 on 2 workers in %.1f s "
              "(%.2f runs/s, %.2f runs/s per worker)" % (runs_long, seconds, runs_long / seconds,
                                                          runs_long / seconds / 2))
        if samples:
            print("\n| time (s) | resident memory per worker (MB) |\n|---|---|")
            first = samples[0][0]
            step = max(1, len(samples) // 10)
            for at, by_worker in samples[::step] + [samples[-1]]:
                print("| %.0f | %s |" % (at - first, ", ".join(
                    "%.1f" % (kb / 1024.0) for kb in by_worker.values())))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
