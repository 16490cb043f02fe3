#!/usr/bin/python3
"""Merges the benchmark programs' JSON outputs and summarises them.

    summarize_results.py --out results.json part1.json part2.json ...
        writes one JSON file: the first part's context (with each program's
        context under "programs") and every part's benchmarks;
    summarize_results.py --table results.md results.json
        writes a Markdown table of the medians, the preprocessing ratio
        against the OpenCV baseline, and the targets met or not.

Only the standard library is used.
"""
import argparse
import json
import re
import sys

# Targets on one core, in microseconds of CPU time per call.
FRAME_WITHOUT_INFERENCE_TARGETS = {"1920x1080": 300.0, "4000x3000": 500.0}
FRAME_WITH_MODELS_TARGET = 3000.0
PREPROCESS_RATIO_TARGET = 0.25  # yuvtoBuffer time / OpenCV baseline time at 12 MP
PREPROCESS_RATIO_SIZE = "4000x3000"


def merge(parts):
    merged = None
    for path in parts:
        with open(path) as f:
            data = json.load(f)
        if merged is None:
            merged = {"context": dict(data.get("context", {})), "benchmarks": []}
            merged["context"]["programs"] = []
        merged["context"]["programs"].append(data.get("context", {}))
        merged["benchmarks"].extend(data.get("benchmarks", []))
    return merged or {"context": {}, "benchmarks": []}


def base_name(run_name):
    """The benchmark's own name, without the timing suffixes Google Benchmark
    appends ("/process_time", "/real_time")."""
    return re.sub(r"(/process_time|/real_time)+$", "", run_name)


def to_us(value, unit):
    return value * {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}[unit]


def medians(results):
    """run_name -> median entry (in microseconds), from the aggregates or,
    without repetitions, from the single run."""
    rows = {}
    for b in results["benchmarks"]:
        name = base_name(b["run_name"])
        if b.get("error_occurred"):
            rows[name] = {"error": b.get("error_message", "error")}
            continue
        aggregate = b.get("aggregate_name")
        if aggregate not in (None, "median"):
            continue
        if aggregate is None and name in rows:
            continue  # a repetition; the median comes from the aggregate
        rows[name] = {
            "real": to_us(b["real_time"], b["time_unit"]),
            "cpu": to_us(b["cpu_time"], b["time_unit"]),
            "label": b.get("label", ""),
            "repetitions": b.get("repetitions", 1),
            "counters": {k: v for k, v in b.items() if k in COUNTERS},
        }
    return rows


COUNTERS = ("mean_level_diff_vs_opencv", "regions", "score", "errors")


GROUP_ORDER = ("preprocess/", "labelling/", "frame/instant/", "frame/models/", "image/instant/",
               "image/models/", "model/default/", "model/formula/")
SCENARIO_ORDER = ("steady", "pan", "cuts", "mixed", "yuvtoBuffer", "opencv_baseline")


def sort_key(name):
    """Groups in a fixed order; inside a preprocessing size the chain before
    its baseline; frames by scenario, then size."""
    group = next((i for i, g in enumerate(GROUP_ORDER) if name.startswith(g)), len(GROUP_ORDER))
    parts = name.split("/")
    pixels = 0
    if re.match(r"\d+x\d+$", parts[-1]):
        w, h = parts[-1].split("x")
        pixels = int(w) * int(h)
    scenario = next((i for i, s in enumerate(SCENARIO_ORDER) if s in parts), len(SCENARIO_ORDER))
    if group == 0:
        return (group, pixels, scenario, name)
    return (group, scenario, pixels, name)


def fmt_us(value):
    return f"{value / 1000:.2f} ms" if value >= 1000 else f"{value:.1f} µs"


def table(results):
    rows = medians(results)
    lines = [
        "| benchmark | size | median CPU | median wall | ratio vs baseline | notes |",
        "|---|---|---|---|---|---|",
    ]
    ratios = {}
    for name, row in sorted(rows.items(), key=lambda item: sort_key(item[0])):
        parts = name.split("/")
        size = parts[-1] if re.match(r"\d+x\d+$", parts[-1]) else ""
        label = "/".join(parts[:-1]) if size else name
        if "error" in row:
            lines.append(f"| {label} | {size} | – | – | – | {row['error']} |")
            continue
        ratio = ""
        if name.startswith("preprocess/yuvtoBuffer/"):
            baseline = rows.get(name.replace("yuvtoBuffer", "opencv_baseline"))
            if baseline and "cpu" in baseline and baseline["cpu"] > 0:
                ratios[size] = row["cpu"] / baseline["cpu"]
                ratio = f"{ratios[size]:.3f}"
        notes = row["label"].replace("routes: ", "")
        extra = [f"{k} {v:.3g}" for k, v in row["counters"].items() if k != "errors" or v]
        notes = "; ".join(x for x in [notes] + extra if x)
        lines.append(
            f"| {label} | {size} | {fmt_us(row['cpu'])} | {fmt_us(row['real'])} | {ratio} | {notes} |"
        )

    ordered = sorted(rows.items(), key=lambda item: sort_key(item[0]))
    verdicts = ["", "| target | measured (median CPU) | verdict |", "|---|---|---|"]
    for size, limit in FRAME_WITHOUT_INFERENCE_TARGETS.items():
        for name, row in ordered:
            if name.startswith("frame/instant/") and name.endswith(size) and "cpu" in row:
                met = row["cpu"] <= limit
                verdicts.append(
                    f"| frame without inference ≤ {fmt_us(limit)} ({name}) | "
                    f"{fmt_us(row['cpu'])} | {'met' if met else 'NOT met'} |"
                )
    if PREPROCESS_RATIO_SIZE in ratios:
        r = ratios[PREPROCESS_RATIO_SIZE]
        verdicts.append(
            f"| preprocessing ≤ {PREPROCESS_RATIO_TARGET} × OpenCV baseline at 12 MP | "
            f"{r:.3f} | {'met' if r <= PREPROCESS_RATIO_TARGET else 'NOT met'} |"
        )
    for name, row in ordered:
        if name.startswith("frame/models/") and "cpu" in row:
            met = row["cpu"] <= FRAME_WITH_MODELS_TARGET
            verdicts.append(
                f"| frame with default models ≤ {fmt_us(FRAME_WITH_MODELS_TARGET)} ({name}) | "
                f"{fmt_us(row['cpu'])} | {'met' if met else 'NOT met'} |"
            )
    return "\n".join(lines + verdicts) + "\n"


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", help="write the merged JSON here")
    parser.add_argument("--table", help="write the Markdown summary here ('-' for stdout)")
    parser.add_argument("inputs", nargs="+")
    args = parser.parse_args(argv)
    results = merge(args.inputs)
    if args.out:
        with open(args.out, "w") as f:
            json.dump(results, f, indent=1)
    if args.table:
        text = table(results)
        if args.table == "-":
            sys.stdout.write(text)
        else:
            with open(args.table, "w") as f:
                f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
