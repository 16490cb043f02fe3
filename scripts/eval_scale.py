#!/usr/bin/python3
"""Measures the Dask evaluation at scale (for docs/evaluation.md; not a test):

  1. the machine's own ceiling: the same closed-loop runs in one process, and
     in two processes side by side, without Dask;
  2. throughput with 1 and with 2 Dask workers on the same study;
  3. a long study (1,000+ closed-loop runs of 60 frames at 640x480) with the
     resident memory of every worker sampled along the way, and the same count
     of runs in this process alone, to tell the engine's memory from Dask's.

    PYTHONPATH=build/host/python /usr/bin/python3 scripts/eval_scale.py [--quick]

--quick shrinks every study (for a smoke run). Prints Markdown tables.
"""

import argparse
import multiprocessing
import os
import shutil
import statistics
import sys
import tempfile
import threading
import time

import dask
from distributed import Client, LocalCluster

import xepo
from xepo import eval as xepo_eval

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
PHOTOS = [os.path.join(ROOT, "samples", name) for name in sorted(os.listdir(
    os.path.join(ROOT, "samples"))) if name.endswith(".jpg")]
# Seconds between samples of the workers' resident memory.
SAMPLE_INTERVAL_S = 5.0
# Runs between samples of this process's own resident memory.
LOCAL_SAMPLE_RUNS = 50


def resident_kb():
    with open("/proc/self/status", encoding="ascii") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def starts(count):
    """`count` start exposures spread evenly over -3..+3 EV."""
    return [-3.0 + 6.0 * i / (count - 1) for i in range(count)]


def start_list(count):
    return ",".join("%.4f" % ev for ev in starts(count))


def local_runs(count):
    """`count` engine runs in this process, one after another; returns seconds."""
    started = time.monotonic()
    for i in range(count):
        xepo.simulate(PHOTOS[i % len(PHOTOS)], policy="engine", start_ev=starts(9)[i % 9],
                      frames=60, size="640x480")
    return time.monotonic() - started


def ceiling(count):
    """Runs/s of one process, and of two processes side by side (each timing
    its own runs, so that starting the processes is not counted)."""
    one = count / local_runs(count)
    with multiprocessing.get_context("spawn").Pool(2) as pool:
        pool.map(local_runs, [1, 1], chunksize=1)  # imports and first decode, untimed
        two = 2 * count / max(pool.map(local_runs, [count, count], chunksize=1))
    return one, two


def study(args, workers, out, sampler=None):
    # The same quiet workers as the command's own local cluster.
    with dask.config.set(xepo_eval.QUIET_WORKER_CONFIG), LocalCluster(
            n_workers=workers, threads_per_worker=1, processes=True,
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


def quarters(values):
    """Medians of the second and the last quarter (the first is warm-up)."""
    quarter = max(1, len(values) // 4)
    return statistics.median(values[quarter:2 * quarter]), statistics.median(values[-quarter:])


def measure_speed(options, work):
    one_process, two_processes = ceiling(8 if options.quick else 40)
    print("| without Dask | runs/s |\n|---|---|")
    print("| 1 process | %.2f |\n| 2 processes side by side | %.2f |" % (one_process,
                                                                         two_processes))
    print("\nceiling of this machine: %.2fx\n" % (two_processes / one_process))

    count = 3 if options.quick else 12
    small = ["--start-ev", start_list(count), "--frames", "60", "--size", "640x480",
             "--policy", "engine,grey", "--motion", "still,pan"]
    runs_small = len(PHOTOS) * count * 2 * 2
    one, _ = study(small, 1, os.path.join(work, "one"))
    two, _ = study(small, 2, os.path.join(work, "two"))
    print("| workers | runs | seconds | runs/s | runs/s per worker |")
    print("|---|---|---|---|---|")
    for workers, seconds in ((1, one), (2, two)):
        print("| %d | %d | %.1f | %.2f | %.2f |" % (workers, runs_small, seconds,
                                                  runs_small / seconds,
                                                  runs_small / seconds / workers))
    print("\nspeed-up with 2 workers: %.2fx\n" % (one / two))


def long_study_runs(options):
    """Start exposures of the long study, and its number of runs."""
    count = 4 if options.quick else 49
    return count, len(PHOTOS) * count * 2 * 3


def measure_worker_memory(options, work):
    count, runs_long = long_study_runs(options)
    long_study = ["--start-ev", start_list(count), "--frames", "60", "--size", "640x480",
                  "--policy", "engine,grey", "--motion", "still,pan,shake"]
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
        for worker in samples[0][1]:
            early, late = quarters([by[worker] / 1024.0 for _, by in samples
                                    if worker in by])
            print("\nworker %s: median %.1f MB in the second quarter, %.1f MB in the last"
                  % (worker, early, late))



def measure_engine_memory(options):
    _, runs_long = long_study_runs(options)
    local = []
    for i in range(runs_long):
        xepo.simulate(PHOTOS[i % len(PHOTOS)], policy="engine", start_ev=starts(9)[i % 9],
                      frames=60, size="640x480", motion=("still", "pan", "shake")[i % 3])
        if i % LOCAL_SAMPLE_RUNS == 0 or i == runs_long - 1:
            local.append((i + 1, resident_kb() / 1024.0))
    print("\n%d engine runs in this process alone:\n\n| runs | resident memory (MB) |"
          "\n|---|---|" % runs_long)
    step = max(1, len(local) // 10)
    for runs, mb in local[::step] + [local[-1]]:
        print("| %d | %.1f |" % (runs, mb))
    early, late = quarters([mb for _, mb in local])
    print("\nmedian %.1f MB in the second quarter, %.1f MB in the last" % (early, late))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--only", choices=("speed", "workers", "engine"),
                        help="measure only the throughput, the workers' memory over a long "
                        "study, or the engine's memory in this process")
    options = parser.parse_args()
    work = tempfile.mkdtemp(prefix="xepo-eval-scale-")
    try:
        if options.only in (None, "speed"):
            measure_speed(options, work)
        if options.only in (None, "workers"):
            measure_worker_memory(options, work)
        if options.only in (None, "engine"):
            measure_engine_memory(options)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
