#!/usr/bin/python3
"""Closed-loop check of exposure policies on held-out photographs, through the
engine's Python module.

    /usr/bin/python3 tools/models/fetch_training_photos.py --set heldout
    PYTHONPATH=build/host/python /usr/bin/python3 tools/models/evaluate_loop.py \
        [--models models/] [--formula tools/models/formula/] [--out build/loop-eval]

A stand-in for the project's closed-loop simulator while that is not built here,
modelled on the same camera: the photograph is the scene's radiance (sRGB
decoded, every channel at 255 taken as 4 x white); a frame exposed by EV is
clip(radiance x 2^EV), sRGB-encoded to 8 bits with sensor noise and turned into
NV21 (BT.601, limited range); the host measures the frame's mean linear
luminance and moves its exposure by half of log2(target / measured) per frame,
at most 1 EV a frame, target = score / 100; the camera's lux index is
300 + 23.45 x EV. The camera is still (gyro noise only). The intent is EV 0, the
photograph as published.

Policies: engine (the engine with the models in --models), engine-formula (the
engine with the formula models), grey (always 18) and mean-highlight (a mean
target of 0.16, raised until the brightest 2 % of the pixels average half of
white in gamma-encoded luma, at most 0.48).

Writes OUT/summary.md (the table and per-photograph rows), OUT/runs.csv and
OUT/loop.png.
"""

import argparse
import csv
import math
import os
import sys

import numpy as np
from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))

FRAME_W, FRAME_H = 320, 240
FRAMES = 30
START_EVS = (-2.0, -1.0, 1.0, 2.0)
SPEED = 0.5
MAX_STEP = 1.0
LIMIT = 8.0
BOOST = 4.0
NOISE = 1.0
LUX_BASE, LUX_PER_EV = 300.0, 23.45
SETTLE_BAND = 1.0 / 6.0
OSCILLATION_STEP = 0.05
ON_TARGET = 1.0 / 3.0
LUMA = np.array([0.2126, 0.7152, 0.0722])


def srgb_decode(v):
    return np.where(v <= 0.04045, v / 12.92, ((v + 0.055) / 1.055) ** 2.4)


def srgb_encode(x):
    x = np.clip(x, 0.0, 1.0)
    return np.where(x <= 0.0031308, 12.92 * x, 1.055 * x ** (1 / 2.4) - 0.055)


LINEAR = srgb_decode(np.arange(256) / 255.0)


def scene_of(path):
    """Radiance at the frame size: the photograph cropped to 4:3 and shrunk."""
    image = Image.open(path).convert("RGB")
    w, h = image.size
    if w * 3 > h * 4:
        cw = h * 4 // 3
        image = image.crop(((w - cw) // 2, 0, (w - cw) // 2 + cw, h))
    else:
        ch = w * 3 // 4
        image = image.crop((0, (h - ch) // 2, w, (h - ch) // 2 + ch))
    pixels = np.asarray(image)
    radiance = np.where(pixels == 255, BOOST, LINEAR[pixels]).astype(np.float32)
    fy, fx = pixels.shape[0] / FRAME_H, pixels.shape[1] / FRAME_W
    rows = (np.arange(FRAME_H + 1) * fy).astype(int)
    cols = (np.arange(FRAME_W + 1) * fx).astype(int)
    # area average per output pixel
    summed = np.add.reduceat(np.add.reduceat(radiance, rows[:-1], axis=0), cols[:-1], axis=1)
    counts = np.outer(np.diff(rows), np.diff(cols))[..., None]
    published = np.where(pixels == 255, 1.0, LINEAR[pixels]).astype(np.float32)
    level = float((published * LUMA).sum(axis=2).mean())
    return summed / counts, level


def render(radiance, ev, rng):
    frame = srgb_encode(radiance * 2.0 ** ev) * 255.0 + rng.normal(0.0, NOISE, radiance.shape)
    return np.clip(np.round(frame), 0, 255).astype(np.uint8)


def nv21_of(rgb):
    r, g, b = (rgb[..., c].astype(np.int32) for c in range(3))
    y = (((66 * r + 129 * g + 25 * b + 128) >> 8) + 16).astype(np.uint8)
    q = lambda a: a.reshape(FRAME_H // 2, 2, FRAME_W // 2, 2).sum(axis=(1, 3))  # noqa: E731
    rs, gs, bs = q(r), q(g), q(b)
    rs, gs, bs = (rs + 2) // 4, (gs + 2) // 4, (bs + 2) // 4
    u = ((-38 * rs - 74 * gs + 112 * bs + 128 + (128 << 8)) >> 8).astype(np.uint8)
    v = ((112 * rs - 94 * gs - 18 * bs + 128 + (128 << 8)) >> 8).astype(np.uint8)
    vu = np.stack([v, u], axis=2).reshape(FRAME_H // 2, FRAME_W)
    return np.concatenate([y, vu], axis=0)


def measured_of(rgb):
    return float((LINEAR[rgb] * LUMA).sum(axis=2).mean())


def mean_highlight(rgb, measured):
    """Target 0.16, raised until the brightest 2 % average 0.5 in gamma luma."""
    luma = (rgb.astype(np.float64) / 255.0 * LUMA).sum(axis=2).ravel()
    top = np.sort(luma)[-max(1, int(0.02 * luma.size)):]
    target = 0.16
    while target < 0.48:
        gain = (target / max(measured, 1e-6)) ** (1 / 2.2)
        if np.minimum(top * gain, 1.0).mean() >= 0.5:
            break
        target = min(0.48, target * 1.05)
    return 100.0 * target


def still_gyro(frame):
    t = 1.0e9 + frame * 33.0e6
    return np.array([[t, 0.001, -0.001, 0.0005], [t + 16.0e6, -0.001, 0.001, 0.0]])


def run(policy, radiance, start_ev, seed, engine=None):
    rng = np.random.default_rng(seed)
    ev = start_ev
    evs, scores = [], []
    for frame in range(FRAMES):
        rgb = render(radiance, ev, rng)
        measured = measured_of(rgb)
        if policy == "grey":
            score = 18.0
        elif policy == "mean-highlight":
            score = mean_highlight(rgb, measured)
        else:
            answer = engine.process(nv21_of(rgb), width=FRAME_W, height=FRAME_H,
                                    lux=LUX_BASE + LUX_PER_EV * ev, gyro=still_gyro(frame))
            score = float(answer.score)
        evs.append(ev)
        scores.append(score)
        if score > 0 and math.isfinite(score):
            step = SPEED * math.log2((score / 100.0) / max(measured, 1.0 / 65536.0))
            ev = max(-LIMIT, min(LIMIT, ev + max(-MAX_STEP, min(MAX_STEP, step))))
    return evs, scores


def metrics(start, evs, scores):
    final = evs[-1]
    settle = len(evs) - 1
    while settle > 0 and abs(evs[settle - 1] - final) <= SETTLE_BAND:
        settle -= 1
    steps = [b - a for a, b in zip([start] + evs[:-1], evs)]
    big = [s for s in steps if abs(s) > OSCILLATION_STEP]
    turns = sum(1 for a, b in zip(big, big[1:]) if a * b < 0)
    return {"final_ev": final, "error": abs(final), "settle": settle, "oscillations": turns,
            "flicker": float(np.std(scores[-30:]))}


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--models", default=os.path.join(ROOT, "models"))
    parser.add_argument("--formula", default=os.path.join(HERE, "formula"))
    parser.add_argument("--photos", default=os.path.join(ROOT, "build", "heldout-photos"))
    parser.add_argument("--out", default=os.path.join(ROOT, "build", "loop-eval"))
    args = parser.parse_args(argv[1:])
    import xepo  # the engine's module from the build tree (PYTHONPATH)

    rows = list(csv.DictReader(open(os.path.join(HERE, "heldout_manifest.csv"), newline="",
                                    encoding="utf-8")))
    photos = [(r["photo"], os.path.join(args.photos, r["photo"] + os.path.splitext(r["file"])[1]))
              for r in rows]
    for name in ("astronaut", "chelsea", "coffee", "rocket"):
        photos.append((name, os.path.join(ROOT, "samples", name + ".jpg")))

    policies = {"engine": args.models, "engine-formula": args.formula, "grey": None,
                "mean-highlight": None}
    runs = []
    for index, (name, path) in enumerate(photos):
        radiance, level = scene_of(path)
        for policy, model_dir in policies.items():
            for start in START_EVS:
                engine = xepo.Engine(model_dir.rstrip("/") + "/") if model_dir else None
                try:
                    seed = 1000 * index + int((start + 5) * 10)
                    evs, scores = run(policy, radiance, start, seed,
                                      engine)
                finally:
                    if engine is not None:
                        engine.close()
                m = metrics(start, evs, scores)
                m.update({"photo": name, "policy": policy, "start_ev": start, "level": level,
                          "evs": evs})
                runs.append(m)
        errors = {p: np.median([r["error"] for r in runs
                                if r["photo"] == name and r["policy"] == p]) for p in policies}
        print(f"{name}: level {level:.3f} " + " ".join(f"{p} {e:.2f}" for p, e in errors.items()),
              flush=True)

    os.makedirs(args.out, exist_ok=True)
    with open(os.path.join(args.out, "runs.csv"), "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(["photo", "policy", "start_ev", "final_ev", "settle", "oscillations",
                    "flicker"])
        for r in runs:
            w.writerow([r["photo"], r["policy"], r["start_ev"], f"{r['final_ev']:.3f}",
                        r["settle"], r["oscillations"], f"{r['flicker']:.3f}"])
    lines = ["| policy | runs | median abs EV error | p90 abs EV error | within 1/3 EV | "
             "median frames to settle | oscillations per run | median flicker |",
             "|---|---|---|---|---|---|---|---|"]
    for p in policies:
        rs = [r for r in runs if r["policy"] == p]
        e = [r["error"] for r in rs]
        lines.append(f"| {p} | {len(rs)} | {np.median(e):.2f} | {np.percentile(e, 90):.2f} | "
                     f"{np.mean([x <= ON_TARGET for x in e]) * 100:.0f} % | "
                     f"{np.median([r['settle'] for r in rs]):.0f} | "
                     f"{np.mean([r['oscillations'] for r in rs]):.2f} | "
                     f"{np.median([r['flicker'] for r in rs]):.2f} |")
    lines += ["", "| photograph | level | " + " | ".join(policies) + " |",
              "|---|---|" + "---|" * len(policies)]
    for name, _ in photos:
        rs = [r for r in runs if r["photo"] == name]
        cells = [f"{np.mean([r['final_ev'] for r in rs if r['policy'] == p]):+.2f}"
                 for p in policies]
        lines.append(f"| {name} | {rs[0]['level']:.3f} | " + " | ".join(cells) + " |")
    text = "\n".join(lines) + "\n"
    open(os.path.join(args.out, "summary.md"), "w").write(text)
    print(text)

    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    fig, axes = plt.subplots(1, 2, figsize=(13, 4.5))
    names = [n for n, _ in photos]
    width = 0.2
    for k, p in enumerate(policies):
        vals = [np.mean([r["final_ev"] for r in runs if r["photo"] == n and r["policy"] == p])
                for n in names]
        axes[0].bar(np.arange(len(names)) + (k - 1.5) * width, vals, width, label=p)
    axes[0].axhline(0, color="black", lw=0.8)
    axes[0].set_xticks(np.arange(len(names)))
    axes[0].set_xticklabels(names, rotation=60, ha="right", fontsize=8)
    axes[0].set_ylabel("final EV (mean of the four starts; 0 = as published)")
    axes[0].legend(fontsize=8)
    for p, colour in zip(policies, ["C0", "C1", "C2", "C3"]):
        for r in runs:
            if r["policy"] == p:
                axes[1].plot(r["evs"], color=colour, alpha=0.15, lw=0.8)
        axes[1].plot([], color=colour, label=p)
    axes[1].set_xlabel("frame")
    axes[1].set_ylabel("EV (0 = as published)")
    axes[1].legend(fontsize=8)
    fig.tight_layout()
    fig.savefig(os.path.join(args.out, "loop.png"), dpi=90)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
