#!/usr/bin/python3
"""Merges the benchmark programs' JSON outputs and summarises them.

    summarize_results.py --out results.json part1.json part2.json ...
        writes one JSON file: the first part's context (with each program's
        context under "programs") and every part's benchmarks;
    summarize_results.py --table results.md results.json
        writes a Markdown table of the medians, the preprocessing ratios
        against the OpenCV baseline and against the output floor, and the
        targets met or not.

A results file that is missing, empty or not JSON (a benchmark program whose
benchmarks all fell outside --benchmark_filter writes nothing) is skipped.

Only the standard library is used.
"""
import argparse
import json
import re
import sys

# Targets on one core, in microseconds of CPU time per call.
FRAME_WITHOUT_INFERENCE_TARGETS = {"1920x1080": 150.0, "4000x3000": 200.0}
FRAME_WITH_MODELS_TARGET = 3000.0
SIM_FRAME_TARGET = 1000.0  # a simulated 640 x 480 frame, camera at rest
# yuvtoBuffer time / OpenCV baseline time, per frame size.
PREPROCESS_RATIO_TARGETS = {"1920x1080": 0.1, "640x480": 0.5}
# yuvtoBuffer time / time to write the float output alone, at every size.
PREPROCESS_FLOOR_RATIO_TARGET = 3.0
LABELLING_TARGETS = {"labelling/56x56/empty": 10.0, "labelling/56x56/noise": 200.0}


def load_part(path):
    """A part's JSON, or None (with a note) when there is none to read."""
    try:
        with open(path) as f:
            text = f.read()
    except OSError as error:
        print(f"summarize_results: {path} skipped: {error.strerror}", file=sys.stderr)
        return None
    if not text.strip():
        print(f"summarize_results: {path} skipped: empty (no benchmark matched)",
              file=sys.stderr)
        return None
    try:
        return json.loads(text)
    except json.JSONDecodeError as error:
        print(f"summarize_results: {path} skipped: not JSON ({error})", file=sys.stderr)
        return None


def merge(parts):
    merged = None
    for path in parts:
        data = load_part(path)
        if data is None:
            continue
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


COUNTERS = ("mean_level_diff_vs_opencv", "regions", "score", "errors", "allocations_per_frame")


GROUP_ORDER = ("preprocess/", "labelling/", "frame/instant/", "frame/models/", "image/instant/",
                "image/models/", "model/default/", "model/formula/")
SCENARIO_ORDER = ("steady", "pan", "cuts", "mixed", "yuvtoBuffer", "opencv_baseline",
                  "output_floor", "sample_floor")


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
        "| benchmark | size | median CPU | median wall | ratio vs baseline | ratio vs floor | notes |",
        "|---|---|---|---|---|---|---|",
    ]
    ratios = {}
    floor_ratios = {}
    for name, row in sorted(rows.items(), key=lambda item: sort_key(item[0])):
        parts = name.split("/")
        size = parts[-1] if re.match(r"\d+x\d+$", parts[-1]) else ""
        label = "/".join(parts[:-1]) if size else name
        if "error" in row:
            lines.append(f"| {label} | {size} | – | – | – | – | {row['error']} |")
            continue
        ratio = ""
        floor_ratio = ""
        if name.startswith("preprocess/yuvtoBuffer/"):
            baseline = rows.get(name.replace("yuvtoBuffer", "opencv_baseline"))
            if baseline and "cpu" in baseline and baseline["cpu"] > 0:
                ratios[size] = row["cpu"] / baseline["cpu"]
                ratio = f"{ratios[size]:.3f}"
            floor = rows.get(name.replace("yuvtoBuffer", "output_floor"))
            if floor and "cpu" in floor and floor["cpu"] > 0:
                floor_ratios[size] = row["cpu"] / floor["cpu"]
                floor_ratio = f"{floor_ratios[size]:.2f}"
            samples = rows.get(name.replace("yuvtoBuffer", "sample_floor"))
            if samples and "cpu" in samples and samples["cpu"] > 0:
                against = f"{row['cpu'] / samples['cpu']:.2f} × the sample floor"
                row["label"] = "; ".join(x for x in (row["label"], against) if x)
        notes = row["label"].replace("routes: ", "")
        extra = [
            f"{k} {v:.3g}" for k, v in row["counters"].items()
            if k not in ("errors", "allocations_per_frame") or v
        ]
        if "allocations_per_frame" in row["counters"] and not row["counters"]["allocations_per_frame"]:
            extra.append("no allocations")
        notes = "; ".join(x for x in [notes] + extra if x)
        lines.append(
            f"| {label} | {size} | {fmt_us(row['cpu'])} | {fmt_us(row['real'])} | {ratio} | "
            f"{floor_ratio} | {notes} |"
        )

    def verdict(met):
        return "met" if met else "NOT met"

    ordered = sorted(rows.items(), key=lambda item: sort_key(item[0]))
    verdicts = ["", "| target | measured (median CPU) | verdict |", "|---|---|---|"]
    for size, limit in FRAME_WITHOUT_INFERENCE_TARGETS.items():
        for name, row in ordered:
            if name.startswith("frame/instant/") and name.endswith(size) and "cpu" in row:
                verdicts.append(
                    f"| frame without inference ≤ {fmt_us(limit)} ({name}; {row['label']}) | "
                    f"{fmt_us(row['cpu'])} | {verdict(row['cpu'] <= limit)} |"
                )
    for size, limit in PREPROCESS_RATIO_TARGETS.items():
        if size in ratios:
            verdicts.append(
                f"| preprocessing ≤ {limit} × OpenCV baseline at {size} | {ratios[size]:.3f} | "
                f"{verdict(ratios[size] <= limit)} |"
            )
    for size, r in sorted(floor_ratios.items(), key=lambda item: sort_key("x/" + item[0])):
        verdicts.append(
            f"| preprocessing ≤ {PREPROCESS_FLOOR_RATIO_TARGET:g} × output floor at {size} | "
            f"{r:.2f} | {verdict(r <= PREPROCESS_FLOOR_RATIO_TARGET)} |"
        )
    for name, limit in LABELLING_TARGETS.items():
        row = rows.get(name)
        if row and "cpu" in row:
            verdicts.append(
                f"| {name} ≤ {fmt_us(limit)} | {fmt_us(row['cpu'])} | "
                f"{verdict(row['cpu'] <= limit)} |"
            )
    for name, row in ordered:
        if name.startswith("frame/instant/") and "allocations_per_frame" in row.get("counters", {}):
            count = row["counters"]["allocations_per_frame"]
            verdicts.append(
                f"| no allocations per frame after warm-up ({name}) | {count:.3g} | "
                f"{verdict(count == 0)} |"
            )
    for name, row in ordered:
        if name.startswith("frame/models/") and "cpu" in row:
            met = row["cpu"] <= FRAME_WITH_MODELS_TARGET
            verdicts.append(
                f"| frame with default models ≤ {fmt_us(FRAME_WITH_MODELS_TARGET)} ({name}) | "
                f"{fmt_us(row['cpu'])} | {verdict(met)} |"
            )
    sim = rows.get("sim/frame_at_rest/640x480")
    if sim and "cpu" in sim:
        met = sim["cpu"] <= SIM_FRAME_TARGET
        verdicts.append(
            f"| simulated 640x480 frame ≤ {fmt_us(SIM_FRAME_TARGET)} (sim/frame_at_rest) | "
            f"{fmt_us(sim['cpu'])} | {verdict(met)} |"
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
