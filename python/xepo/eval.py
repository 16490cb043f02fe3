"""Batch evaluation of the engine on a Dask cluster.

    python3 -m xepo.eval PHOTOS_OR_SESSIONS... --out DIR
        [--policy engine,grey,mean-highlight] [--start-ev -2,-1,0,1,2]
        [--motion still[,pan,shake]] [--frames 60] [--size 640x480] [--lux 300]
        [--seed 1] [--speed 0.5] [--latency 1] [--boost 4] [--noise 0]
        [--models DIR]... [--scheduler tcp://host:8786] [--workers N]

Each task is one photograph x start x policy x motion (a closed-loop run, the
same code as `xepo sim`), or one replay of a recorded session (a directory
holding "session.jsonl"). Without --scheduler a LocalCluster of N worker
processes with one thread each is started (the library holds one engine per
process); with it, the tasks go to that cluster, whose workers must import
this package (PYTHONPATH) and read the same paths.

Output, in DIR (refused when it holds files this command did not write):
  <study>/frames.jsonl, frames.csv, runs.csv, summary.json
      one study per model directory and motion, byte-identical to what
      `xepo sim` writes for the same photos, starts, policies and options;
      <study> is "<models label>-<motion>" (the label is the directory's name,
      made unique).
  sessions.csv        one row per session replay and model directory.
  runs.csv            every run of every study, with its study.
  report.md           error distribution and frames to settle per policy and
                      model set, one row per photo; with report-*.png plots.
  eval-manifest.txt   the files written, so that a rerun may replace them.

A worker that dies loses no result: Dask runs its tasks again elsewhere.
Every attempt leaves a mark in DIR/.attempts, and the report says how many
tasks ran more than once.

Exits 0 on success, 1 when a task failed for good, 2 for bad options.
"""

import argparse
import csv
import io
import os
import sys
import time

import numpy as np

MANIFEST = "eval-manifest.txt"
MANIFEST_HEADER = "xepo-eval-output 1"
ATTEMPTS = ".attempts"
POLICIES = ("engine", "grey", "mean-highlight")
MOTIONS = ("still", "pan", "shake")
# Policies whose answer does not depend on the model directory run once per
# photo, start and motion, and are shared by every model set's study.
MODEL_FREE_POLICIES = ("grey", "mean-highlight")
# Width of the progress bar in characters.
PROGRESS_WIDTH = 40
# Runs within this |EV error| count as on target (a third of a stop).
ON_TARGET_EV = 1.0 / 3.0
# The local cluster's workers skip Dask's background samplers (the statistical
# profiler every 10 ms, the memory and system monitors, the event-loop tick):
# when every core runs a worker, their time comes out of the runs.
QUIET_WORKER_CONFIG = {
    "distributed.worker.profile.enabled": False,
    "distributed.worker.memory.monitor-interval": "2s",
    "distributed.admin.system-monitor.interval": "2s",
    "distributed.admin.tick.interval": "1s",
}


class UsageError(Exception):
    """A bad option: exit code 2."""


# ------------------------------------------------------------------ options

def parse_list(text, convert, name):
    items = [item for item in text.split(",")]
    if not items or any(not item.strip() for item in items):
        raise UsageError("--%s %s: expected a comma-separated list" % (name, text))
    try:
        values = [convert(item.strip()) for item in items]
    except ValueError:
        raise UsageError("--%s %s: not a list of numbers" % (name, text)) from None
    if len(set(values)) != len(values):
        raise UsageError("--%s %s: a value is repeated" % (name, text))
    return values


def parse_args(argv):
    parser = argparse.ArgumentParser(prog="python3 -m xepo.eval", description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("inputs", nargs="+", help="photographs and session directories")
    parser.add_argument("--out", required=True)
    parser.add_argument("--policy", default=",".join(POLICIES))
    parser.add_argument("--start-ev", default="-2,-1,0,1,2")
    parser.add_argument("--motion", default="still")
    parser.add_argument("--frames", type=int, default=60)
    parser.add_argument("--size", default="640x480")
    parser.add_argument("--lux", type=float, default=300.0)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--speed", type=float, default=0.5, help="host control speed")
    parser.add_argument("--latency", type=int, default=1, help="frames until an answer applies")
    parser.add_argument("--boost", type=float, default=4.0, help="highlight boost")
    parser.add_argument("--noise", type=float, default=0.0, help="sensor noise")
    parser.add_argument("--models", action="append", default=None)
    parser.add_argument("--scheduler", default=None)
    parser.add_argument("--workers", type=int, default=2)
    # "--start-ev -2,-1" would read "-2,-1" as an option: join the pair first.
    joined = []
    for item in argv:
        if joined and joined[-1] == "--start-ev" and item.startswith("-"):
            joined[-1] = "--start-ev=" + item
        else:
            joined.append(item)
    try:
        args = parser.parse_args(joined)
    except SystemExit as stop:
        raise UsageError("") if stop.code else stop
    args.policies = parse_list(args.policy, str, "policy")
    for policy in args.policies:
        if policy not in POLICIES:
            raise UsageError("--policy %s: expected some of %s" % (policy, ", ".join(POLICIES)))
    args.start_evs = parse_list(args.start_ev, float, "start-ev")
    if not all(np.isfinite(args.start_evs)):
        raise UsageError("--start-ev %s: values must be finite" % args.start_ev)
    args.motions = parse_list(args.motion, str, "motion")
    for motion in args.motions:
        if motion not in MOTIONS:
            raise UsageError("--motion %s: expected still, pan or shake" % motion)
    if args.workers < 1:
        raise UsageError("--workers must be at least 1")
    if not args.out:
        raise UsageError("--out must name a directory")
    import xepo
    args.models = args.models or [xepo.DEFAULT_MODELS]
    for models in args.models:
        if not os.path.isdir(models):
            raise UsageError("--models %s: no such directory" % models)
    args.labels = model_labels(args.models)
    args.photos, args.sessions = [], []
    for path in args.inputs:
        if os.path.isdir(path) and os.path.isfile(os.path.join(path, "session.jsonl")):
            args.sessions.append(path)
        elif os.path.isfile(path):
            args.photos.append(path)
        else:
            raise UsageError("%s: neither a photograph nor a session directory" % path)
    return args


def model_labels(directories):
    """A short, unique label per model directory: its name, numbered on a clash."""
    labels = []
    for directory in directories:
        base = os.path.basename(os.path.normpath(directory)) or "models"
        label, number = base, 2
        while label in labels:
            label, number = "%s-%d" % (base, number), number + 1
        labels.append(label)
    return labels


# ------------------------------------------------------------------ tasks

def sim_options(args):
    return dict(frames=args.frames, size=args.size, lux=args.lux, seed=args.seed,
                speed=args.speed, latency=args.latency, boost=args.boost, noise=args.noise)


def plan_tasks(args):
    """Every task once: model-free policies once per photo, start and motion."""
    tasks = []
    for motion in args.motions:
        for photo_index, photo in enumerate(args.photos):
            for start_index, start in enumerate(args.start_evs):
                for policy_index, policy in enumerate(args.policies):
                    # The id `xepo sim` gives this run: the same in every study.
                    run_id = (photo_index * len(args.start_evs) + start_index) * \
                        len(args.policies) + policy_index
                    sets = [None] if policy in MODEL_FREE_POLICIES else range(len(args.models))
                    for model_index in sets:
                        key = "sim|%s|%s|%r|%s|%s" % (motion, photo, start, policy, model_index)
                        tasks.append(dict(kind="sim", key=key, motion=motion, photo=photo,
                                          start_ev=start, policy=policy, run_id=run_id,
                                          models=None if model_index is None
                                          else args.models[model_index],
                                          model_index=model_index, **sim_options(args)))
    for session in args.sessions:
        for model_index, models in enumerate(args.models):
            tasks.append(dict(kind="replay", key="replay|%s|%d" % (session, model_index),
                              session=session, models=models, model_index=model_index))
    return tasks


def mark_attempt(out, key):
    """Leaves a mark for this attempt at `key`, so that retries can be counted."""
    folder = os.path.join(out, ATTEMPTS)
    os.makedirs(folder, exist_ok=True)
    name = "%s.%d.%d" % (abs(hash_key(key)), os.getpid(), time.monotonic_ns())
    with open(os.path.join(folder, name), "w", encoding="utf-8") as stream:
        stream.write(key + "\n")


def hash_key(key):
    """A stable hash of a task key (Python's own hash is salted per process)."""
    value = 14695981039346656037
    for byte in key.encode("utf-8"):
        value = ((value ^ byte) * 1099511628211) % (1 << 64)
    return value


def run_task(task, out):
    """Runs one task on a worker; returns plain values that pickle."""
    import xepo
    mark_attempt(out, task["key"])
    if task["kind"] == "replay":
        replayed = xepo.replay(task["session"], models=task["models"])
        return dict(task=task, pid=os.getpid(), frames=len(replayed["score"]),
                    score_mean=float(np.mean(replayed["score"])) if replayed["route"] else 0.0,
                    routes=replayed["route"])
    models = task["models"] or xepo.DEFAULT_MODELS
    run = xepo.simulate(task["photo"], policy=task["policy"], start_ev=task["start_ev"],
                        frames=task["frames"], motion=task["motion"], size=task["size"],
                        lux=task["lux"], seed=task["seed"], speed=task["speed"],
                        latency=task["latency"], boost=task["boost"], noise=task["noise"],
                        models=models, run_id=task["run_id"])
    run.pop("ms")  # timing stays out of results that must match across runs
    return dict(task=task, pid=os.getpid(), run=run)


# ------------------------------------------------------------------ output

def prepare_out(out):
    """Creates `out` or checks that this command wrote it; returns nothing.
    Never removes or overwrites a file that the manifest does not list."""
    if os.path.exists(out) and not os.path.isdir(out):
        raise UsageError("--out %s: exists and is not a directory" % out)
    if os.path.isdir(out) and os.listdir(out):
        manifest = os.path.join(out, MANIFEST)
        if not os.path.isfile(manifest):
            raise UsageError("--out %s: not empty and not written by xepo.eval; refusing to "
                             "write into it" % out)
        with open(manifest, encoding="utf-8") as stream:
            lines = stream.read().splitlines()
        if not lines or lines[0] != MANIFEST_HEADER:
            raise UsageError("--out %s: %s is not this command's manifest" % (out, MANIFEST))
        listed = set(lines[1:]) | {MANIFEST, ATTEMPTS}
        for root, dirs, files in os.walk(out):
            for name in files:
                relative = os.path.relpath(os.path.join(root, name), out)
                if not relative.startswith(ATTEMPTS + os.sep) and relative not in listed:
                    raise UsageError("--out %s: holds %s, which xepo.eval did not write" %
                                     (out, relative))
        for relative in lines[1:]:
            path = os.path.join(out, relative)
            if os.path.isfile(path) and not os.path.islink(path):
                os.remove(path)
    os.makedirs(out, exist_ok=True)
    attempts = os.path.join(out, ATTEMPTS)
    if os.path.isdir(attempts):
        for name in os.listdir(attempts):
            os.remove(os.path.join(attempts, name))


class Writer:
    """Writes files under `out` and remembers them for the manifest."""

    def __init__(self, out):
        self.out = out
        self.written = []

    def text(self, relative, content):
        path = os.path.join(self.out, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8", newline="") as stream:
            stream.write(content)
        self.written.append(relative)

    def finish(self):
        content = MANIFEST_HEADER + "\n" + "".join(name + "\n" for name in self.written)
        with open(os.path.join(self.out, MANIFEST), "w", encoding="utf-8") as stream:
            stream.write(content)


def study_runs(args, results, model_index, motion):
    """The runs of one study in `xepo sim`'s order (photo, start, policy); each
    task already carries the id `xepo sim` gives its run."""
    by_key = {}
    for result in results:
        task = result["task"]
        if task["kind"] == "sim" and task["motion"] == motion and \
                task["model_index"] in (None, model_index):
            by_key[(task["photo"], task["start_ev"], task["policy"])] = result["run"]
    return [by_key[(photo, start, policy)] for photo in args.photos
            for start in args.start_evs for policy in args.policies]


def write_study(writer, args, runs, study, motion):
    import xepo
    jsonl = "".join(line + "\n" for run in runs for line in run["frames_jsonl"])
    frames_csv = xepo.SIM_FRAMES_CSV_HEADER + "\n" + \
        "".join(line + "\n" for run in runs for line in run["frames_csv"])
    runs_csv = xepo.SIM_RUNS_CSV_HEADER + "\n" + "".join(run["run_csv"] + "\n" for run in runs)
    summary = xepo.study_summary(
        photos=args.photos, policies=args.policies, start_evs=args.start_evs,
        frames=args.frames, motion=motion, size=args.size, lux=args.lux, seed=args.seed,
        speed=args.speed, latency=args.latency, boost=args.boost, noise=args.noise,
        capture_at=[], hold_at=[], runs=runs)
    writer.text(os.path.join(study, "frames.jsonl"), jsonl)
    writer.text(os.path.join(study, "frames.csv"), frames_csv)
    writer.text(os.path.join(study, "runs.csv"), runs_csv)
    writer.text(os.path.join(study, "summary.json"), summary)


def count_retries(out):
    """Tasks that were started more than once, from the attempt marks."""
    folder = os.path.join(out, ATTEMPTS)
    starts = {}
    if os.path.isdir(folder):
        for name in os.listdir(folder):
            with open(os.path.join(folder, name), encoding="utf-8") as stream:
                key = stream.read().strip()
            starts[key] = starts.get(key, 0) + 1
    return sum(1 for count in starts.values() if count > 1)


# ------------------------------------------------------------------ cluster

def progress_bar(done, total, stream=sys.stderr):
    if not stream.isatty() or total == 0:
        return
    filled = done * PROGRESS_WIDTH // total
    stream.write("\r[%s%s] %d/%d" % ("#" * filled, " " * (PROGRESS_WIDTH - filled), done, total))
    if done == total:
        stream.write("\r%s\r" % (" " * (PROGRESS_WIDTH + 24)))
    stream.flush()


def run_tasks(args, tasks):
    """Runs the tasks on the cluster; returns the results and the failures."""
    import dask
    from distributed import Client, LocalCluster, as_completed
    cluster = None
    if args.scheduler:
        client = Client(args.scheduler)
    else:
        with dask.config.set(QUIET_WORKER_CONFIG):
            cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1,
                                   processes=True, dashboard_address=None)
        client = Client(cluster)
    results, failures = [], []
    try:
        # Only the as_completed iterator holds the futures, and each is released
        # once its result is here: a worker keeps a result for as long as a
        # future refers to it, so a list of all of them would make the workers'
        # memory grow with the study.
        pending = as_completed([client.submit(run_task, task, os.path.abspath(args.out),
                                              key="xepo-" + str(hash_key(task["key"])),
                                              pure=False) for task in tasks])
        done = 0
        for future in pending:
            try:
                results.append(future.result())
            except Exception as failure:  # the task failed on every attempt
                failures.append("%s: %s" % (future.key, failure))
            future.release()
            done += 1
            progress_bar(done, len(tasks))
    finally:
        client.close()
        if cluster is not None:
            cluster.close()
    return results, failures


# ------------------------------------------------------------------ report

def report(writer, args, results, retried, elapsed, studies):
    """report.md with its plots."""
    rows = []  # (set label, policy, photo, start, motion, metrics)
    for result in results:
        task = result["task"]
        if task["kind"] != "sim":
            continue
        sets = [args.labels[task["model_index"]]] if task["model_index"] is not None \
            else ["-"]
        for label in sets:
            rows.append((label, task["policy"], task["photo"], task["start_ev"], task["motion"],
                         result["run"]["metrics"]))
    groups = {}
    for label, policy, photo, start, motion, metrics in rows:
        name = policy if label == "-" else "%s (%s)" % (policy, label)
        groups.setdefault(name, []).append((photo, metrics))
    names = sorted(groups)

    out = io.StringIO()
    out.write("# Evaluation report\n\n")
    out.write("%d tasks (%d closed-loop runs, %d session replays) in %.1f s; %d task(s) ran "
              "more than once after a worker was lost.\n\n" % (
                  len(results), len(rows),
                  sum(1 for r in results if r["task"]["kind"] == "replay"), elapsed, retried))
    out.write("Model sets: %s.\n\n" % ", ".join("%s = `%s`" % (label, models) for label, models
                                                  in zip(args.labels, args.models)))
    out.write("| policy | runs | median \\|EV error\\| | p90 \\|EV error\\| | within 1/3 EV | "
              "median frames to settle | oscillations per run | median flicker |\n")
    out.write("|---|---|---|---|---|---|---|---|\n")
    for name in names:
        errors = np.array([m["final_error"] for _, m in groups[name]])
        settle = np.array([m["settle_frame"] for _, m in groups[name]])
        osc = np.array([m["oscillations"] for _, m in groups[name]])
        flicker = np.array([m["flicker"] for _, m in groups[name]])
        out.write("| %s | %d | %.3f | %.3f | %.0f %% | %.1f | %.2f | %.3f |\n" % (
            name, len(errors), np.median(errors), np.percentile(errors, 90),
            100.0 * np.mean(errors <= ON_TARGET_EV), np.median(settle), np.mean(osc),
            np.median(flicker)))
    out.write("\n![error distribution](report-errors.png)\n\n")
    out.write("## Per photograph: median |EV error|\n\n")
    out.write("| photo | " + " | ".join(names) + " |\n|---|" + "---|" * len(names) + "\n")
    for photo in args.photos:
        cells = []
        for name in names:
            errors = [m["final_error"] for p, m in groups[name] if p == photo]
            cells.append("%.3f" % np.median(errors) if errors else "")
        out.write("| %s | %s |\n" % (os.path.basename(photo), " | ".join(cells)))
    replays = [r for r in results if r["task"]["kind"] == "replay"]
    if replays:
        out.write("\n## Session replays\n\n| session | models | frames | mean score |\n"
                  "|---|---|---|---|\n")
        for result in sorted(replays, key=lambda r: r["task"]["key"]):
            task = result["task"]
            out.write("| %s | %s | %d | %.3f |\n" % (task["session"],
                                                   args.labels[task["model_index"]],
                                                   result["frames"], result["score_mean"]))
    out.write("\nStudies (each as `xepo sim` writes it): %s\n" % ", ".join(
        "`%s/`" % study for study in studies))
    writer.text("report.md", out.getvalue())
    plot_report(writer, names, groups)


def plot_report(writer, names, groups):
    try:
        import matplotlib
        matplotlib.use("Agg")
        matplotlib.rcdefaults()
        import matplotlib.pyplot as plt
    except ImportError:
        return
    if not names:
        return
    figure, (left, right) = plt.subplots(1, 2, figsize=(12, 4.5), dpi=100)
    left.boxplot([[m["final_error"] for _, m in groups[n]] for n in names], labels=names,
                 vert=False)
    left.set_xlabel("|final EV error|")
    left.axvline(ON_TARGET_EV, color="grey", linestyle="--", linewidth=1)
    right.boxplot([[m["settle_frame"] for _, m in groups[n]] for n in names], labels=names,
                  vert=False)
    right.set_xlabel("frames to settle")
    figure.tight_layout()
    path = os.path.join(writer.out, "report-errors.png")
    figure.savefig(path, metadata={"Software": None})
    plt.close(figure)
    writer.written.append("report-errors.png")


def write_outputs(args, results, retried, elapsed):
    writer = Writer(args.out)
    studies = []
    for model_index, label in enumerate(args.labels):
        for motion in args.motions:
            if not args.photos:
                continue
            study = "%s-%s" % (label, motion)
            runs = study_runs(args, results, model_index, motion)
            write_study(writer, args, runs, study, motion)
            studies.append(study)
    every = io.StringIO()
    table = csv.writer(every, lineterminator="\n")
    table.writerow(["study", "photo", "policy", "start_ev", "motion", "final_ev", "final_error",
                    "settle_frame", "overshoot", "oscillations", "flicker", "pid"])
    for result in sorted((r for r in results if r["task"]["kind"] == "sim"),
                         key=lambda r: r["task"]["key"]):
        task, metrics = result["task"], result["run"]["metrics"]
        study = "-" if task["model_index"] is None else "%s-%s" % (
            args.labels[task["model_index"]], task["motion"])
        table.writerow([study, task["photo"], task["policy"], task["start_ev"], task["motion"],
                        metrics["final_ev"], metrics["final_error"], metrics["settle_frame"],
                        metrics["overshoot"], metrics["oscillations"], metrics["flicker"],
                        result["pid"]])
    writer.text("runs.csv", every.getvalue())
    sessions = io.StringIO()
    table = csv.writer(sessions, lineterminator="\n")
    table.writerow(["session", "models", "frames", "score_mean"])
    for result in sorted((r for r in results if r["task"]["kind"] == "replay"),
                         key=lambda r: r["task"]["key"]):
        table.writerow([result["task"]["session"], args.labels[result["task"]["model_index"]],
                        result["frames"], "%.6f" % result["score_mean"]])
    writer.text("sessions.csv", sessions.getvalue())
    report(writer, args, results, retried, elapsed, studies)
    writer.finish()
    return studies


def main(argv=None):
    try:
        args = parse_args(sys.argv[1:] if argv is None else argv)
        prepare_out(args.out)
    except UsageError as failure:
        if str(failure):
            print("xepo.eval: %s" % failure, file=sys.stderr)
        return 2
    tasks = plan_tasks(args)
    started = time.monotonic()
    results, failures = run_tasks(args, tasks)
    elapsed = time.monotonic() - started
    for failure in failures:
        print("xepo.eval: task failed: %s" % failure, file=sys.stderr)
    if failures:
        return 1
    retried = count_retries(args.out)
    studies = write_outputs(args, results, retried, elapsed)
    runs = sum(1 for r in results if r["task"]["kind"] == "sim")
    print("%d tasks in %.1f s (%.2f runs/s), %d retried; report: %s" % (
        len(tasks), elapsed, runs / elapsed if elapsed > 0 else 0.0, retried,
        os.path.join(args.out, "report.md")))
    for study in studies:
        print("study %s/" % os.path.join(args.out, study))
    return 0


if __name__ == "__main__":
    sys.exit(main())
