#!/usr/bin/python3
"""Trains the engine's reference models on Debian-packaged photographs and writes
them as ONNX files the host runtime reads.

    /usr/bin/python3 tools/models/fetch_training_photos.py        # once
    /usr/bin/python3 tools/models/train_reference_models.py [--photos DIR] [--out DIR]

Needs Debian's python3-torch, python3-onnx, python3-numpy and python3-pil (CPU
only). Runs on one thread with fixed seeds in a few minutes, and writes the same
bytes on every run given the same package versions. OUT defaults to models/;
besides the four model files it writes training_record.json there: the SHA-256 of
every model file and of every photograph used, and the validation figures.

What is learned:
  * albedo: the intended exposure level of a scene, the mean linear luminance
    (sRGB decoded, Rec. 709 weights) of the photograph as published, from what the
    frame shows and not from how it is exposed: three coefficients on the
    brightness of the frame's brightest cell against its mean and on its
    colourfulness, fitted by least squares (see Albedo). Both measures are
    unchanged by an exposure change until the brightest cell clips. The fitted
    level is used on flat frames only; on any other frame it is kept next to
    mid-grey, where the two measures cannot tell a dark scene from a bright one.
  * light segmentation: light sources, pixels that stay clipped when the exposure
    falls by 2 EV (a clipped channel of the photograph is taken as 4 x white),
    in compact regions (a clipped sky, wall or snow field is no light), with the
    glare around them: every cell within 2 cells of a source cell.
The entrance model joins the light network with formulas (texture, clipping,
black and high-key share); the smooth model stays a formula. See models/README.md.

Training frames are rendered the way the camera would see the scene: a crop of
the photograph's radiance (random size, aspect and position, mirrored at random),
exposed by -2.5 to +2.5 EV, clipped at white, sRGB-encoded to 8 bits with sensor
noise. Photographs are split into training and validation by photograph
(training_manifest.csv); the validation photographs are never trained on.
"""

import argparse
import csv
import hashlib
import json
import math
import os
import sys

import numpy as np
import onnx
import torch
import torch.nn.functional as F
from onnx import TensorProto, helper, numpy_helper
from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, HERE)
from make_default_models import (  # noqa: E402  (the formula generator's graph helpers)
    BRIGHT_GAIN, BRIGHT_PIVOT, LIGHT_SHARE_GAIN, LIGHT_SHARE_PIVOT, LUMA_WEIGHTS, MODEL_FILES,
    NEUTRAL_GAIN, NEUTRAL_PIVOT, GraphBuilder, image_input, make_smooth)

SEED = 20240611
IMAGE = 224
GRID = 56  # light cells per side (4 x 4 pixels each)
WORK_SHORT_SIDE = 320  # photographs are kept at this short side for cropping

# Scene model of the renders (the same as the closed-loop simulation's).
HIGHLIGHT_BOOST = 4.0  # a channel at 255 is taken as this many times white
EV_RANGE = 2.5  # training exposures are drawn from [-EV_RANGE, EV_RANGE]
MAX_NOISE = 2.5  # sensor noise, standard deviation in 8-bit codes, up to this

# Pixel classes measured on 224 x 224 frames (luma Y' of gamma-encoded values).
CLIP_PIVOT = 0.96  # clip share: relu(CLIP_GAIN * (Y' - CLIP_PIVOT)), 1 at white
CLIP_GAIN = 25.0
BLACK_PIVOT = 0.04  # black share: relu(BLACK_GAIN * (BLACK_PIVOT - Y')), 1 at black
BLACK_GAIN = 25.0
# Brightness normalisation: cell values are divided by the frame's mean luma
# plus this, so that a dark frame's noise is not blown up into texture.
NORM_EPS = 0.05

# Albedo: cell luma Y' is taken to linear light as Y'^DECODE_GAMMA (close to the
# sRGB curve, and one operator); LEVEL_EPS keeps a black frame's ratio finite.
DECODE_GAMMA = 2.2
LEVEL_EPS = 1e-4
COLOUR_POWER = 8.0  # 2^(c x) is computed as (1 + c ln2 x / 8)^8
FIT_RIDGE = 0.05  # a light ridge keeps the three coefficients from chasing outliers
# Two answers, chosen by how flat the frame looks. A frame whose brightest cell is
# at most FLAT_RATIO times its mean (cells counted as delivered, a clipped cell at
# white) is a flat scene: every training photograph that flat at its published
# exposure is published at 0.27 or brighter, and the fitted level is used, at least
# FLAT_FLOOR. The other training photographs are published from 0.13 to 0.26, dark
# and mid-grey scenes alike, and the fitted level does not sort them (it gives a
# black object the level of a daylight scene), so on any other frame the level stays
# within [DIM_FLOOR, DIM_CAP], next to mid-grey: a wrong guess there costs little.
FLAT_RATIO = 3.5
FLAT_GAIN = 30.0  # the switch is a sigmoid this steep in the ratio, nearly a step
FLAT_FLOOR = 0.27
DIM_FLOOR = 0.16
DIM_CAP = 0.20
# Fitted on the training photographs whole, at the published exposure and half an
# EV under it: the exposures near which the loop settles.
FIT_EVS = (-0.5, 0.0)
# The engine's score mapping in the albedo model's lux band (score_smoothing.cpp):
# from PULL_FROM it takes PULL_LARGE off, from PULL_EASE_TO (27) PULL_SMALL.
PULL_FROM = 20.0  # levels from 0.20: the lowest score the large pull maps above 18
PULL_LARGE = 4.0
PULL_SMALL = 2.0
PULL_EASE_FROM = 23.0
PULL_EASE_TO = 25.0

# Light sources: boosted linear luminance at least this (white 2 EV down with the
# 4x boost), in connected regions no larger than LIGHT_MAX_AREA of the frame and
# no smaller than LIGHT_MIN_PIXELS pixels of the 224 x 224 frame.
LIGHT_SOURCE_LUMINANCE = 1.0
LIGHT_MAX_AREA = 0.02
LIGHT_MIN_PIXELS = 2.0
GLARE_CELLS = 2  # the light map covers every cell within this of a source cell

# Entrance [1]: texture, clipping and black shares.
CLIPPED_FRAME = 0.5  # a frame with half its pixels clipped is badly clipped
BLACK_FRAME = 0.6
SHARE_GAIN = 20.0

# the light network of 4 hidden channels needs more steps than the earlier one of 8
STEPS = {"light": int(os.environ.get("XEPO_LIGHT_STEPS", 3000))}
BATCH = 32
# The light scores are sigmoid(+-LIGHT_SCORE_GAIN * z): the decision (z > 0) is the
# network's, the gain makes the entrance's soft share of light cells a count.
LIGHT_SCORE_GAIN = 6.0
LIGHT_INPUTS = 8  # cell measures the light network reads (LightNet.inputs)
# Channels of the light network's hidden layers. A 3 x 3 convolution at 56 x 56 costs
# the runtime 15 to 20 us per input channel, so this sets most of the models' cost;
# fewer than 4 moved the closed loop on a validation photograph.
LIGHT_HIDDEN = 4
# pairs (i, j) of R', G', B' whose differences i - j make the chroma: max - min of
# three values is the sum of the positive parts of their three cyclic differences
CHROMA_PAIRS = [(0, 1), (1, 2), (2, 0)]
# A lamp is a clipped region of at most LIGHT_MAX_AREA of the frame (some 60 cells):
# the share of clipping cells in this many cells around a cell tells it from a
# clipped wall or sky
CONTEXT_CELLS = 15
# Share of light cells at which entrance [3] reaches the engine's 0.3
LIGHT_SCENE_SHARE = LIGHT_SHARE_PIVOT - math.log(7.0 / 3.0) / LIGHT_SHARE_GAIN


# ---------------------------------------------------------------------------
# Photographs


def srgb_decode(v):
    v = np.asarray(v, dtype=np.float64)
    return np.where(v <= 0.04045, v / 12.92, ((v + 0.055) / 1.055) ** 2.4)


def srgb_encode_t(x):
    x = x.clamp(0.0, 1.0)
    return torch.where(x <= 0.0031308, 12.92 * x, 1.055 * x.clamp(min=1e-9) ** (1 / 2.4) - 0.055)


LINEAR_OF_CODE = srgb_decode(np.arange(256) / 255.0).astype(np.float32)
LUMA = np.array(LUMA_WEIGHTS, dtype=np.float32)


def load_photo(path, cache_dir):
    """Linear RGB (unboosted and boosted) at WORK_SHORT_SIDE, cached by content hash."""
    digest = hashlib.sha256(open(path, "rb").read()).hexdigest()
    cache = os.path.join(cache_dir, f"{digest[:16]}_{WORK_SHORT_SIDE}.npz")
    if os.path.exists(cache):
        data = np.load(cache)
        return digest, data["linear"], data["boosted"]
    image = np.asarray(Image.open(path).convert("RGB"))
    factor = max(1, min(image.shape[:2]) // WORK_SHORT_SIDE)
    h = image.shape[0] // factor * factor
    w = image.shape[1] // factor * factor
    image = image[:h, :w]
    linear = LINEAR_OF_CODE[image]
    boosted = np.where(image == 255, HIGHLIGHT_BOOST, linear).astype(np.float32)

    def shrink(a):
        return a.reshape(h // factor, factor, w // factor, factor, 3).mean(axis=(1, 3))

    linear, boosted = shrink(linear).astype(np.float16), shrink(boosted).astype(np.float16)
    os.makedirs(cache_dir, exist_ok=True)
    np.savez(cache, linear=linear, boosted=boosted)
    return digest, linear, boosted


def light_sources(boosted):
    """Source mask of a photograph: bright enough and in compact regions."""
    from scipy import ndimage

    lum = (boosted.astype(np.float32) * LUMA).sum(axis=2)
    mask = lum >= LIGHT_SOURCE_LUMINANCE
    labels, count = ndimage.label(mask, structure=np.ones((3, 3)))
    if count == 0:
        return mask.astype(np.float32)
    areas = ndimage.sum(mask, labels, index=np.arange(1, count + 1))
    too_big = np.concatenate([[True], areas > LIGHT_MAX_AREA * mask.size])
    return (~too_big[labels] & mask).astype(np.float32)


class Photo:
    def __init__(self, name, digest, linear, boosted):
        self.name = name
        self.digest = digest
        self.linear = torch.from_numpy(linear.astype(np.float32)).permute(2, 0, 1)
        self.boosted = torch.from_numpy(boosted.astype(np.float32)).permute(2, 0, 1)
        self.source = torch.from_numpy(light_sources(boosted))[None]


def read_photos(photo_dir, cache_dir):
    rows = list(csv.DictReader(open(os.path.join(HERE, "training_manifest.csv"), newline="",
                                    encoding="utf-8")))
    photos = {"train": [], "val": []}
    for row in rows:
        if row["split"] not in photos:
            continue
        path = os.path.join(photo_dir, row["photo"] + os.path.splitext(row["file"])[1].lower())
        digest, linear, boosted = load_photo(path, cache_dir)
        if digest != row["sha256"]:
            raise SystemExit(f"{path} is not the manifest's file (run fetch_training_photos.py)")
        photos[row["split"]].append(Photo(row["photo"], digest, linear, boosted))
    return photos


# ---------------------------------------------------------------------------
# Rendering


def crop_window(rng, height, width, scale=None):
    aspect = [4 / 3, 16 / 9, 1.0, 3 / 4][rng.integers(4)]
    scale = scale if scale is not None else rng.uniform(0.45, 1.0)
    ch = height * scale
    cw = ch * aspect
    if cw > width:
        cw = width * scale
        ch = cw / aspect
    ch, cw = int(min(ch, height)), int(min(cw, width))
    y = int(rng.integers(0, height - ch + 1))
    x = int(rng.integers(0, width - cw + 1))
    return y, x, ch, cw


def render(photo, window, ev, boost, noise, flip, gen):
    """One frame as the engine's model input (224 x 224 x 3, values (v - 127.5) / 127.5),
    its intended level (log2 of the published crop's mean linear luminance) and its
    light-source cells (56 x 56)."""
    y, x, ch, cw = window
    lin = photo.linear[:, y:y + ch, x:x + cw]
    rad = (photo.boosted if boost else photo.linear)[:, y:y + ch, x:x + cw]
    src = photo.source[:, y:y + ch, x:x + cw]
    level = float((lin * torch.tensor(LUMA)[:, None, None]).sum(0).mean())
    frame = F.interpolate(rad[None], size=(IMAGE, IMAGE), mode="bilinear", align_corners=False,
                          antialias=True)
    frame = srgb_encode_t(frame * (2.0 ** ev)) * 255.0
    if noise > 0:
        frame = frame + noise * torch.randn(frame.shape, generator=gen)
    frame = frame.round().clamp(0, 255)
    cells = F.interpolate(src[None], size=(IMAGE, IMAGE), mode="area")
    # a cell holds a source when at least LIGHT_MIN_PIXELS of its pixels are source
    cells = (F.avg_pool2d(cells, 4) * 16 >= LIGHT_MIN_PIXELS / 2).float()
    if flip:
        frame = frame.flip(3)
        cells = cells.flip(3)
    model_input = ((frame - 127.5) / 127.5).permute(0, 2, 3, 1)  # NHWC
    return model_input[0], math.log2(max(level, 1e-6)), cells[0, 0]


def batch(photos, rng, gen, size, always_boost=False):
    """`size` frames in pairs: frames 2i and 2i + 1 show the same crop of the same
    photograph at two different exposures (and independent noise). With
    `always_boost` every clipped channel of the photograph is taken as 4 x white, the
    assumption the light labels are made under (without it a quarter of the frames
    show the labelled lamps at white, where they do not stay clipped as the exposure
    falls, and teach the network to mark white surfaces)."""
    inputs, levels, cells = [], [], []
    for _ in range(size // 2):
        photo = photos[rng.integers(len(photos))]
        window = crop_window(rng, photo.linear.shape[1], photo.linear.shape[2])
        boost, flip = rng.uniform() < 0.75 or always_boost, rng.uniform() < 0.5
        for ev in rng.uniform(-EV_RANGE, EV_RANGE, 2):
            frame, level, cell = render(photo, window, ev, boost, rng.uniform(0, MAX_NOISE),
                                        flip, gen)
            inputs.append(frame)
            levels.append(level)
            cells.append(cell)
    return torch.stack(inputs), torch.tensor(levels), torch.stack(cells)


# ---------------------------------------------------------------------------
# Networks. Each mirrors, operation for operation, the ONNX graph written below.


def tile(t, size):
    return t.expand(-1, -1, size, size)


class Albedo:
    """The intended exposure level from two exposure-free measures of the frame:

        log2 level = a + b * log2(brightest cell / mean) + c * colourfulness

    Photographers expose so that the brightest part of the scene sits near white:
    the brighter the brightest 4 x 4 cell is against the frame's mean, the darker
    the published picture is on average (a night street with lamps, a dark lake at
    dusk), and a flat, evenly lit scene is published bright. Both measures are
    ratios or colours, unchanged by an exposure change until the brightest cell
    clips. A clipped cell counts as HIGHLIGHT_BOOST x white (the renders' and the
    simulator's assumption about clipped light): an overexposed frame then still
    shows a bright brightest cell against its mean and asks for less light, where
    a clipped maximum taken at white would let each brighter frame ask for more.
    a, b and c are fitted by least squares on the training photographs.

    The fitted level is only used as it is on flat frames (see FLAT_RATIO); other
    frames get it bounded next to mid-grey. The flatness is measured with clipped
    cells at white, so that a brighter frame can only look flatter: the switch can
    move to the bright answer as the exposure rises, never back, and the camera's
    loop, which would hop between the two answers if a brighter frame could ask
    for the darker one, settles on one side of it instead. Both answers keep clear
    of the engine's jump at score 27 (between them lie scores 20 to 27), so a level
    drifting with the exposure cannot make the loop hop across that jump either.

    The level is then raised where the engine's score mapping lowers it (see
    engine_preimage), so that the loop settles at the level itself."""

    def __init__(self, coefficients=(0.0, 0.0, 0.0)):
        self.a, self.b, self.c = (float(v) for v in coefficients)

    @staticmethod
    def features(x):
        """(log2(brightest cell / mean), colourfulness) of NHWC model inputs, computed
        as the exported graph computes them."""
        v = (0.5 * x + 0.5).permute(0, 3, 1, 2)
        y = (v * torch.tensor(LUMA)[None, :, None, None]).sum(1, keepdim=True)
        cells = F.avg_pool2d(torch.cat([v, y], 1), 4)  # (B, 4, 56, 56)
        luma = F.relu(cells[:, 3:])
        lin = luma ** DECODE_GAMMA * (1.0 + (HIGHLIGHT_BOOST - 1.0)
                                      * F.relu(CLIP_GAIN * (luma - CLIP_PIVOT)))
        mean = lin.mean((1, 2, 3)) + LEVEL_EPS
        brightest = lin.amax((1, 2, 3)) + LEVEL_EPS
        rgb = cells[:, :3]
        chroma = (rgb.amax(1) - rgb.amin(1)).mean((1, 2))
        return torch.log2(brightest / mean), chroma

    @staticmethod
    def flatness(x):
        """Brightest cell against the mean with every cell as delivered (a clipped
        cell at white): the ratio the flat-scene switch reads."""
        v = (0.5 * x + 0.5).permute(0, 3, 1, 2)
        y = (v * torch.tensor(LUMA)[None, :, None, None]).sum(1, keepdim=True)
        lin = F.relu(F.avg_pool2d(y, 4)) ** DECODE_GAMMA
        return (lin.amax((1, 2, 3)) + LEVEL_EPS) / (lin.mean((1, 2, 3)) + LEVEL_EPS)

    def fit(self, x, log2_levels):
        ratio, chroma = self.features(x)
        a = torch.stack([torch.ones_like(ratio), ratio, chroma], 1).double()
        ridge = FIT_RIDGE * torch.eye(3, dtype=torch.float64)
        ridge[0, 0] = 0.0
        w = torch.linalg.solve(a.T @ a + ridge, a.T @ log2_levels.double())
        self.a, self.b, self.c = (round(float(v), 4) for v in w)

    def level(self, x):
        """The level as the exported graph computes it: 2^(c * chroma) by
        (1 + c ln2 chroma / 8)^8, which the runtime's operators can express."""
        ratio, chroma = self.features(x)
        colour = (1.0 + self.c * math.log(2.0) * chroma / COLOUR_POWER) ** COLOUR_POWER
        fitted = (2.0 ** self.a) * (2.0 ** ratio) ** self.b * colour
        flat = torch.sigmoid(FLAT_GAIN * (FLAT_RATIO - self.flatness(x)))
        bright = FLAT_FLOOR + F.relu(fitted - FLAT_FLOOR)
        dim = DIM_FLOOR + F.relu(fitted - DIM_FLOOR) - F.relu(fitted - DIM_CAP)
        return dim + flat * (bright - dim)

    def log2_level(self, x):
        return torch.log2(self.level(x).clamp(min=1e-9))

    def __call__(self, x):
        return engine_preimage(self.level(x))[:, None]


def ramp(v, low, high):
    return (F.relu(v - low) - F.relu(v - high)) / (high - low)


def engine_preimage(level):
    """The model output that the engine's score mapping turns back into `level`
    (as a score, 100 x the fraction). In the lux band where the engine uses the
    albedo model it keeps scores up to 15, answers 18 from there to 22, takes 4 off
    from 22 to 27 and 2 off from 27 on: so levels from 0.20 are raised by 0.04,
    easing to 0.02 from 0.23 to 0.25. Between 0.15 and 0.20 the engine answers 18
    whatever the model says."""
    score = 100.0 * level
    raised = score + PULL_LARGE * ramp(score, PULL_FROM - 1.0, PULL_FROM) \
        - (PULL_LARGE - PULL_SMALL) * ramp(score, PULL_EASE_FROM, PULL_EASE_TO)
    return raised / 100.0


def cell_features(x):
    """(mean R', G', B', Y') per 4 x 4 cell (B, 4, 56, 56), the brightest channel value
    of each cell (B, 1, 56, 56) and the frame's mean Y' (B, 1, 1, 1), computed as the
    exported graph computes them: the NHWC input is read as one plane of 224 rows of
    672 interleaved values, so that a single strided convolution and a single max
    pooling over 4 x 12 values are the only work at full size (no transpose)."""
    plane = x.reshape(x.shape[0], 1, IMAGE, 3 * IMAGE)
    w, b = cell_weights()
    cells = F.conv2d(plane, torch.from_numpy(w), torch.from_numpy(b), stride=(4, 12))
    brightest = 0.5 * F.max_pool2d(plane, (4, 12), stride=(4, 12)) + 0.5
    frame_mean = cells[:, 3:].mean((2, 3), keepdim=True)
    return cells, brightest, frame_mean


def cell_weights():
    """Weights of the strided convolution that turns a 4 x 12 block of interleaved
    normalised values into the cell's mean R', G', B' and Y' (v / 255)."""
    w = np.zeros((4, 1, 4, 12), dtype=np.float32)
    for c in range(3):
        w[c, 0, :, c::3] = 0.5 / 16.0
        w[3, 0, :, c::3] = 0.5 * LUMA[c] / 16.0
    return w, np.full(4, 0.5, dtype=np.float32)


class LightNet(torch.nn.Module):
    """Light sources per cell from eight cell measures: mean Y', brightest channel,
    whether the brightest pixel clips, whether the whole cell clips, how black it is,
    mean and brightest against the frame's mean, and the share of clipping cells in
    the 15 x 15 cells around it. That last one tells a lamp (a clipped region of at
    most 2 % of the frame, some 60 cells) from a clipped wall or sky, which fills
    the cells around it; the relative brightness finds lamps on frames dark enough
    that they no longer clip."""

    def __init__(self):
        super().__init__()
        # the eight measures are mixed per cell first, so that the 3 x 3 convolutions
        # (dilations 1, 2, 4: a cell sees the 15 x 15 cells around it) read only
        # LIGHT_HIDDEN channels
        self.c1 = torch.nn.Conv2d(LIGHT_INPUTS, LIGHT_HIDDEN, 1)
        self.c2 = torch.nn.Conv2d(LIGHT_HIDDEN, LIGHT_HIDDEN, 3, padding=1)
        self.c3 = torch.nn.Conv2d(LIGHT_HIDDEN, LIGHT_HIDDEN, 3, padding=2, dilation=2)
        self.c4 = torch.nn.Conv2d(LIGHT_HIDDEN, LIGHT_HIDDEN, 3, padding=4, dilation=4)
        self.c5 = torch.nn.Conv2d(LIGHT_HIDDEN, 1, 1)

    @staticmethod
    def cells(x):
        """(mean Y', brightest channel) per cell (B, 2, 56, 56) and the frame's mean Y'."""
        cells, brightest, frame_mean = cell_features(x)
        return torch.cat([cells[:, 3:], brightest], 1), frame_mean

    def source_logit(self, x):
        return self.source_head(*self.cells(x))

    @staticmethod
    def inputs(cell_planes, frame_mean):
        mean_y, top = cell_planes[:, :1], cell_planes[:, 1:2]
        clip_top = F.relu(CLIP_GAIN * (top - CLIP_PIVOT))
        clip_cell = F.relu(CLIP_GAIN * (mean_y - CLIP_PIVOT))
        black = F.relu(BLACK_GAIN * (BLACK_PIVOT - mean_y))
        rel = cell_planes / tile(frame_mean.expand(-1, 2, -1, -1) + NORM_EPS, GRID)
        around = F.avg_pool2d(clip_top, CONTEXT_CELLS, stride=1, padding=CONTEXT_CELLS // 2,
                              count_include_pad=True)
        return torch.cat([mean_y, top, clip_top, clip_cell, black, rel, around], 1)

    def source_head(self, cell_planes, frame_mean):
        """cell_planes: (B, 2, 56, 56) mean Y' and brightest channel per cell."""
        h = F.relu(self.c1(self.inputs(cell_planes, frame_mean)))
        h = F.relu(self.c2(h))
        h = F.relu(self.c3(h))
        h = F.relu(self.c4(h))
        return self.c5(h)  # (B, 1, 56, 56)

    def forward(self, x):
        z = F.max_pool2d(self.source_logit(x), 2 * GLARE_CELLS + 1, stride=1,
                         padding=GLARE_CELLS)
        return torch.sigmoid(LIGHT_SCORE_GAIN * torch.cat([-z, z], 1)).permute(0, 2, 3, 1)


def glare(cells):
    return F.max_pool2d(cells[:, None], 2 * GLARE_CELLS + 1, stride=1, padding=GLARE_CELLS)[:, 0]


# ---------------------------------------------------------------------------
# Training


POOL_FRAMES = int(os.environ.get("XEPO_POOL_FRAMES", 2400))


def render_pool(photos, rng, gen, count, log):
    """`count` training frames reduced to what the light network's trained layers
    see: the light cells, the frame's mean luma and the light-source cells. The
    fixed first stage runs once here, not on every step."""
    light_planes, frame_means, sources = [], [], []
    with torch.no_grad():
        for start in range(0, count, 32):
            x, _, cells = batch(photos, rng, gen, min(32, count - start), always_boost=True)
            cell_planes, frame_mean = LightNet.cells(x)
            light_planes.append(cell_planes)
            frame_means.append(frame_mean)
            sources.append(cells)
    log(f"rendered {count} training frames")
    return torch.cat(light_planes), torch.cat(frame_means), torch.cat(sources)


def fit_albedo(photos, log):
    """Fits the albedo coefficients on every training photograph whole, at each of
    FIT_EVS, plain and mirrored, with light sensor noise."""
    gen = torch.Generator().manual_seed(SEED + 5)
    frames, levels = [], []
    for photo in photos:
        window = crop_window(np.random.default_rng(SEED), photo.linear.shape[1],
                             photo.linear.shape[2], scale=1.0)
        for ev in FIT_EVS:
            for flip in (False, True):
                x, level, _ = render(photo, window, ev, True, 1.0, flip, gen)
                frames.append(x)
                levels.append(level)
    albedo = Albedo()
    albedo.fit(torch.stack(frames), torch.tensor(levels))
    log(f"albedo: log2 level = {albedo.a} + {albedo.b} log2(brightest / mean) "
        f"+ {albedo.c} colourfulness ({len(frames)} frames)")
    return albedo


def train_light(pool, rng, log):
    planes, frame_means, sources = pool
    net = LightNet()
    opt = torch.optim.Adam(net.parameters(), lr=3e-3)
    sched = torch.optim.lr_scheduler.CosineAnnealingLR(opt, STEPS["light"])
    weight = torch.tensor(2.0)
    for step in range(STEPS["light"]):
        pick = torch.from_numpy(rng.integers(0, len(sources), BATCH))
        logit = net.source_head(planes[pick], frame_means[pick])[:, 0]
        loss = F.binary_cross_entropy_with_logits(logit, sources[pick], pos_weight=weight)
        opt.zero_grad()
        loss.backward()
        opt.step()
        sched.step()
        if step % 500 == 0 or step == STEPS["light"] - 1:
            log(f"light step {step}: loss {loss.item():.4f}")
    calibrate_light(net, pool, log)
    return net


def calibrate_light(net, pool, log):
    """Shifts the source logit so that the training frames get as many source cells
    as their labels have: the share of light cells then matches what was taught."""
    planes, frame_means, sources = pool
    with torch.no_grad():
        logits = torch.cat([net.source_head(planes[i:i + 256], frame_means[i:i + 256])
                            for i in range(0, len(planes), 256)]).flatten()
        share = float(sources.mean())
        shift = float(torch.quantile(logits[::7], 1.0 - share))
        net.c5.bias -= shift
    log(f"light calibration: source share {share:.4f}, logit shift {shift:.3f}")


# ---------------------------------------------------------------------------
# Entrance formulas, calibrated on the training photographs.


def texture_of(mean_y, frame_mean):
    """Mean absolute difference of neighbouring cells' normalised luma, across and
    down, over the first 55 x 55 cells (the graph's unpadded 2 x 2 kernels)."""
    u = mean_y / tile(frame_mean + NORM_EPS, GRID)
    dx = (u[:, :, :-1, :-1] - u[:, :, :-1, 1:]).abs()
    dy = (u[:, :, :-1, :-1] - u[:, :, 1:, :-1]).abs()
    return dx.mean((1, 2, 3)) + dy.mean((1, 2, 3))


def calibrate_texture(pool):
    """Gain and pivot of entrance [1]'s texture term: a flat frame gives 0.1, the
    fifth percentile of the training frames 0.9."""
    planes, frame_means, _ = pool
    values = texture_of(planes[:, :1], frame_means).numpy()
    p5 = float(np.percentile(values, 5))
    gain = 2.0 * math.log(9.0) / p5
    return gain, p5 / 2.0


# ---------------------------------------------------------------------------
# ONNX export


def f32(t):
    return t.detach().numpy().astype(np.float32)


class Export:
    """Graph pieces shared by the exported models (names stay stable)."""

    def __init__(self, g):
        self.g = g

    def conv(self, x, conv, stem):
        """The torch convolution as one Conv node, or, when it is undilated, in the
        depthwise form below (the same sums, faster in this runtime)."""
        g = self.g
        k = conv.kernel_size
        pads = [conv.padding[0], conv.padding[1]] * 2
        if tuple(conv.dilation) == (1, 1) and k != (1, 1):
            return self.conv_by_depthwise(x, conv, stem, pads)
        return g.op("Conv", [x, g.const(stem + "_w", f32(conv.weight)),
                             g.const(stem + "_b", f32(conv.bias))], stem=stem,
                    kernel_shape=list(k), pads=pads, dilations=list(conv.dilation))

    def conv_by_depthwise(self, x, conv, stem, pads):
        """A C-to-C convolution as C copies of x side by side, one depthwise
        convolution over the C x C channels (copy j, channel i carries the kernel
        from input i to output j) and a 1 x 1 convolution that adds each copy's C
        channels. For C = 4 at 56 x 56 the runtime takes about 50 us for this against
        70 us for the plain convolution: its undilated depthwise kernel is fast, its
        plain one is not at so few channels. Dilated depthwise convolutions are
        slow in it (90 us and more), so only undilated ones take this form."""
        g = self.g
        weight = f32(conv.weight)
        c = weight.shape[0]
        depthwise = weight.reshape(c * c, 1, *weight.shape[2:])  # row c * j + i: input i to j
        adder = np.kron(np.eye(c, dtype=np.float32), np.ones((1, c), dtype=np.float32))
        copies = g.op("Concat", [x] * c, stem=stem + "_copies", axis=1)
        parts = g.op("Conv", [copies, g.const(stem + "_dw", depthwise),
                              g.const(stem + "_dw_b", np.zeros(c * c))], stem=stem + "_dw",
                     kernel_shape=list(conv.kernel_size), pads=pads, group=c * c)
        return g.conv1x1(parts, adder, f32(conv.bias), stem)

    def light_cells(self, high_key=False):
        """Cell measures shared by the light and entrance models, as cell_features and
        LightNet.inputs compute them. The NHWC input is read as one plane of 224 x 672
        interleaved values; one strided convolution and one max pooling (4 x 1, then
        1 x 12 on the quarter it leaves) are all the full-size work. The convolution
        gives, per cell and through one Relu, mean Y', the whole-cell clip share and
        the black share (and, for the high-key share, the three cyclic differences
        of mean R', G', B', whose positive parts sum to the chroma): each is linear
        in the cell's values before its Relu, and mean Y' is never negative. Each
        1 x 1 convolution at 56 x 56 costs the runtime 8 to 25 us whatever it
        computes, so the measures are taken in one, and so are the brightest channel
        value and its clip share from the max pooling. Returns the
        (1, 3 or 6, 56, 56) measures, mean Y' (1, 1, 56, 56), the brightest channel
        value and its clip share (each 1, 1, 56, 56) and the frame's mean Y'
        (1, 1, 1, 1).
        Mean Y' is cut out of the measures with a Slice (about 1 us, where a
        selecting 1 x 1 convolution took 10 to 14 us), and only it is averaged over
        the frame; the entrance averages the two shares it needs on its own."""
        g = self.g
        shape = g._fresh("plane_shape")
        g.initializers.append(numpy_helper.from_array(
            np.array([1, 1, IMAGE, 3 * IMAGE], dtype=np.int64), shape))
        plane = g.op("Reshape", ["image", shape], stem="plane")
        w, b = cell_weights()
        rows = [w[3], CLIP_GAIN * w[3], -BLACK_GAIN * w[3]]
        bias = [b[3], CLIP_GAIN * (b[3] - CLIP_PIVOT), BLACK_GAIN * (BLACK_PIVOT - b[3])]
        if high_key:
            for i, j in CHROMA_PAIRS:
                rows.append(w[i] - w[j])
                bias.append(0.0)
        measures = g.op("Relu", [g.op("Conv", [plane, g.const("cells_w", np.stack(rows)),
                                                g.const("cells_b", np.array(bias))],
                                       stem="cells", kernel_shape=[4, 12], strides=[4, 12])],
                        stem="cells_pos")
        # top = (v + 1) / 2 of the normalised maximum v, and CLIP_GAIN (top - CLIP_PIVOT)
        # the 4 x 12 maximum as a 4 x 1 and a 1 x 12 one: the same values, in 38 us
        # where one pooling took 44
        column_top = g.op("MaxPool", [plane], stem="column_top", kernel_shape=[4, 1],
                          strides=[4, 1])
        brightest = g.conv1x1(g.op("MaxPool", [column_top], stem="cell_top", kernel_shape=[1, 12],
                                   strides=[1, 12]), [[0.5], [0.5 * CLIP_GAIN]],
                              [0.5, CLIP_GAIN * (0.5 - CLIP_PIVOT)], "top_clip")
        top = self.channels(brightest, 0, 1, "top")
        clip_top = g.op("Relu", [self.channels(brightest, 1, 2, "clip_top")],
                        stem="clip_top_pos")
        self.count = len(rows)
        mean_y = self.channels(measures, 0, 1, "mean_y")
        frame_y = g.op("GlobalAveragePool", [mean_y], stem="frame_y")
        return measures, mean_y, top, clip_top, frame_y

    def channels(self, x, first, stop, stem):
        """Channels first .. stop - 1 of x."""
        return self.slice(x, [first], [stop], [1], stem)

    def window(self, x, offset, stem):
        """The (GRID - 1) x (GRID - 1) cells of x from (row, column) `offset` on."""
        return self.slice(x, list(offset), [offset[0] + GRID - 1, offset[1] + GRID - 1], [2, 3],
                          stem)

    def slice(self, x, starts, ends, axes, stem):
        g = self.g
        bounds = [g._fresh(stem + suffix) for suffix in ("_from", "_to", "_axis")]
        for name, value in zip(bounds, (starts, ends, axes)):
            g.initializers.append(numpy_helper.from_array(np.array(value, dtype=np.int64),
                                                          name))
        return g.op("Slice", [x] + bounds, stem=stem)

    def source_logit(self, net, measures, mean_y, top, clip_top, frame_y, riders=None):
        """LightNet.source_head times LIGHT_SCORE_GAIN, spread over the glare band
        (the gain is folded into the last layer; the maximum keeps its order).
        `riders` (weights over the first layer's inputs: the measures, then the
        brightest value, its clip share, the two relative values and the clipping
        around; and biases) are further 1 x 1 outputs on the first layer's convolution,
        whose cost hardly grows with them, where a convolution of their own at
        56 x 56 would cost 15 to 20 us each; they are returned second, before any
        activation."""
        g = self.g
        count = self.count
        # (1, 2, 1, 1) divides each (1, 2, 56, 56) plane by broadcasting; the runtime
        # multiplies by its reciprocal (1.4 us, where a norm tiled to 56 x 56 by
        # concatenation and divided took 13 us)
        norm = g.conv1x1(frame_y, [[1.0], [1.0]], [NORM_EPS, NORM_EPS], "norm")
        rel = g.op("Div", [g.op("Concat", [mean_y, top], stem="cell_y", axis=1), norm],
                   stem="rel")
        # the 15 x 15 average as two 1 x 15 ones (zeros outside, so the same sum), 30
        # additions a cell instead of 225; the second runs across the transposed map,
        # because this runtime takes 12 us for a 1 x 15 pass and 17 us for a 15 x 1 one
        half = CONTEXT_CELLS // 2
        around = clip_top
        for stem in ("around_across", "around_down"):
            around = g.op("AveragePool", [around], stem=stem, kernel_shape=[1, CONTEXT_CELLS],
                          strides=[1, 1], pads=[0, half, 0, half], count_include_pad=1)
            around = g.op("Transpose", [around], stem=stem + "_t", perm=[0, 1, 3, 2])
        h = g.op("Concat", [measures, top, clip_top, rel, around], stem="light_in", axis=1)
        # LightNet.inputs order: mean Y', top, clip top, clip cell, black, rel (2), around
        where = [0, 3, 4] + [None] * (count - 3) + [1, 2, 5, 6, 7]
        w1 = f32(net.c1.weight)[:, :, 0, 0]
        mixed = np.zeros((w1.shape[0], len(where)), dtype=np.float32)
        for k, source in enumerate(where):
            if source is not None:
                mixed[:, k] = w1[:, source]
        bias = f32(net.c1.bias)
        rode = None
        if riders is None:
            h = g.op("Relu", [g.conv1x1(h, mixed, bias, "l1")], stem="l1_r")
        else:
            rider_w, rider_b = riders
            both = g.conv1x1(h, np.concatenate([mixed, rider_w]),
                             np.concatenate([bias, rider_b]), "l1")
            hidden = len(bias)
            h = g.op("Relu", [self.channels(both, 0, hidden, "l1_hidden")], stem="l1_r")
            rode = self.channels(both, hidden, hidden + len(rider_b), "l1_riders")
        h = g.op("Relu", [self.conv(h, net.c2, "l2")], stem="l2_r")
        h = g.op("Relu", [self.conv(h, net.c3, "l3")], stem="l3_r")
        h = g.op("Relu", [self.conv(h, net.c4, "l4")], stem="l4_r")
        z = g.conv1x1(h, LIGHT_SCORE_GAIN * f32(net.c5.weight)[:, :, 0, 0],
                      LIGHT_SCORE_GAIN * f32(net.c5.bias), "l5")
        # the 5 x 5 maximum as a 5 x 1 and a 1 x 5 one
        z = g.op("MaxPool", [z], stem="glare_v", kernel_shape=[2 * GLARE_CELLS + 1, 1],
                 strides=[1, 1], pads=[GLARE_CELLS, 0, GLARE_CELLS, 0])
        z = g.op("MaxPool", [z], stem="glare", kernel_shape=[1, 2 * GLARE_CELLS + 1],
                 strides=[1, 1], pads=[0, GLARE_CELLS, 0, GLARE_CELLS])
        return z if riders is None else (z, rode)

    def light_scores(self, z):
        """z already carries LIGHT_SCORE_GAIN."""
        g = self.g
        # -z beside z: a Mul and a Concat cost the runtime less than a 1 x 1 convolution
        minus = g.op("Mul", [z, g.const("minus_one", [-1.0])], stem="light_minus")
        both = g.op("Concat", [minus, z], stem="light", axis=1)
        return g.op("Sigmoid", [both], stem="light_p")  # (1, 2, 56, 56)


def model_of(g, inputs, outputs, doc):
    return g.model(inputs, outputs, doc)


def export_albedo(albedo):
    g = GraphBuilder("xepo_albedo")
    nchw = g.op("Transpose", ["image"], stem="nchw", perm=[0, 3, 1, 2])
    # R', G', B', Y' of the gamma-encoded values, averaged over 4 x 4 cells: the
    # input is averaged first and undone per cell (both steps are linear), so the
    # only work at full size is one pooling of three planes
    w = np.zeros((4, 3), dtype=np.float32)
    w[:3] = np.eye(3) * 0.5
    w[3] = 0.5 * LUMA
    pooled = g.op("AveragePool", [nchw], stem="pooled", kernel_shape=[4, 4], strides=[4, 4])
    cells = g.conv1x1(pooled, w, [0.5] * 4, "cells")
    luma = g.op("Relu", [g.conv1x1(cells, [[0.0, 0.0, 0.0, 1.0]], [0.0], "luma")],
                stem="luma_pos")
    decoded = g.op("Pow", [luma, g.const("decode", DECODE_GAMMA, [])], stem="decoded")
    # a clipped cell counts as HIGHLIGHT_BOOST x white, rising from CLIP_PIVOT
    boost = g.conv1x1(g.op("Relu", [g.conv1x1(luma, [[CLIP_GAIN]], [-CLIP_GAIN * CLIP_PIVOT],
                                              "clip")], stem="clip_pos"),
                      [[HIGHLIGHT_BOOST - 1.0]], [1.0], "boost")
    lin = g.op("Mul", [decoded, boost], stem="lin")
    mean = g.conv1x1(g.op("GlobalAveragePool", [lin], stem="mean"), [[1.0]], [LEVEL_EPS],
                     "mean_eps")
    brightest = g.conv1x1(g.op("MaxPool", [lin], stem="brightest", kernel_shape=[GRID, GRID],
                               strides=[GRID, GRID]), [[1.0]], [LEVEL_EPS], "brightest_eps")
    # (brightest / mean)^b
    ratio = g.op("Pow", [g.op("Div", [brightest, mean], stem="ratio"),
                         g.const("b", albedo.b, [])], stem="ratio_b")
    # colourfulness: max - min of the cell's R', G', B', the sum of the positive parts
    # of the cyclic differences
    pairs = np.zeros((len(CHROMA_PAIRS), 4), dtype=np.float32)
    for k, (i, j) in enumerate(CHROMA_PAIRS):
        pairs[k, i], pairs[k, j] = 1.0, -1.0
    diffs = g.conv1x1(cells, pairs, [0.0] * len(CHROMA_PAIRS), "diff")
    chroma = g.conv1x1(g.op("Relu", [diffs], stem="diff_abs"), [[1.0] * len(CHROMA_PAIRS)],
                       [0.0], "chroma")
    colour_base = g.conv1x1(g.op("GlobalAveragePool", [chroma], stem="chroma_mean"),
                            [[albedo.c * math.log(2.0) / COLOUR_POWER]], [1.0], "colour_base")
    colour = g.op("Pow", [colour_base, g.const("colour_power", COLOUR_POWER, [])],
                  stem="colour")
    product = g.op("Mul", [ratio, colour], stem="level_rel")
    fitted = g.conv1x1(product, [[2.0 ** albedo.a]], [0.0], "fitted")
    # flat-scene switch on the brightest cell against the mean, cells as delivered
    plain_mean = g.conv1x1(g.op("GlobalAveragePool", [decoded], stem="plain_mean"), [[1.0]],
                           [LEVEL_EPS], "plain_mean_eps")
    plain_max = g.conv1x1(g.op("MaxPool", [decoded], stem="plain_max", kernel_shape=[GRID, GRID],
                               strides=[GRID, GRID]), [[1.0]], [LEVEL_EPS], "plain_max_eps")
    flat = g.op("Sigmoid", [g.conv1x1(g.op("Div", [plain_max, plain_mean], stem="flatness"),
                                      [[-FLAT_GAIN]], [FLAT_GAIN * FLAT_RATIO], "flat")],
                stem="flat_p")
    # bright = FLAT_FLOOR + relu(fitted - FLAT_FLOOR);
    # dim = DIM_FLOOR + relu(fitted - DIM_FLOOR) - relu(fitted - DIM_CAP)
    knees3 = g.op("Relu", [g.conv1x1(fitted, [[1.0]] * 3, [-FLAT_FLOOR, -DIM_FLOOR, -DIM_CAP],
                                     "bounds")], stem="bounds_pos")
    bright = g.conv1x1(knees3, [[1.0, 0.0, 0.0]], [FLAT_FLOOR], "bright")
    dim = g.conv1x1(knees3, [[0.0, 1.0, -1.0]], [DIM_FLOOR], "dim")
    gap = g.op("Mul", [flat, g.op("Sub", [bright, dim], stem="gap")], stem="flat_gap")
    level = g.op("Add", [dim, gap], stem="level")
    # engine_preimage: score + 4 ramp(19, 20) - 2 ramp(23, 25), as fractions
    knees = [PULL_FROM - 1.0, PULL_FROM, PULL_EASE_FROM, PULL_EASE_TO]
    hinge = g.op("Relu", [g.conv1x1(level, [[100.0]] * 4, [-k for k in knees], "knees")],
                 stem="hinges")
    up = PULL_LARGE / (knees[1] - knees[0]) / 100.0
    down = (PULL_LARGE - PULL_SMALL) / (knees[3] - knees[2]) / 100.0
    joined = g.op("Concat", [level, hinge], stem="pre_in", axis=1)
    out = g.conv1x1(joined, [[1.0, up, -up, -down, down]], [0.0], "preimage")
    g.op("Flatten", [out], output="albedo", axis=1)
    info = helper.make_tensor_value_info("albedo", TensorProto.FLOAT, [1, 1])
    return model_of(g, [image_input()], [info],
                    "Intended exposure level of the scene (mean linear luminance of the scene "
                    "as published, a fraction, mid-grey about 0.18) from the brightest cell "
                    "against the frame's mean and from colourfulness; used as fitted, at "
                    f"least {FLAT_FLOOR}, on flat frames, else kept within {DIM_FLOOR} to "
                    f"{DIM_CAP}; raised where the engine's score mapping lowers it.")


def export_light(net):
    g = GraphBuilder("xepo_light_sources")
    e = Export(g)
    z = e.source_logit(net, *e.light_cells())
    g.op("Transpose", [e.light_scores(z)], output="light_cells", perm=[0, 2, 3, 1])
    out = helper.make_tensor_value_info("light_cells", TensorProto.FLOAT, [1, GRID, GRID, 2])
    return model_of(g, [image_input()], [out],
                    "Per 4x4 cell (56x56, NHWC): channel 0 no-light score, channel 1 light "
                    "score; light cells are light sources and the cells within "
                    f"{GLARE_CELLS} of one.")


def export_entrance(net, texture_gain, texture_pivot):
    g = GraphBuilder("xepo_entrance")
    e = Export(g)
    measures, mean_y, top, clip_top, frame_y = e.light_cells(high_key=True)
    # high-key: share of bright, neutral cells; chroma (max - min of the cell's mean
    # R', G', B') is the sum of the positive cyclic differences (measures 3 to 5).
    # Both logits ride on the light network's first convolution.
    count = e.count
    first_inputs = count + LIGHT_INPUTS - 3  # the measures, then top, clip top, rel, around
    riders = np.zeros((2, first_inputs), dtype=np.float32)
    riders[0, 0] = BRIGHT_GAIN
    riders[1, 3:count] = -NEUTRAL_GAIN
    z, hk_logits = e.source_logit(net, measures, mean_y, top, clip_top, frame_y,
                                  (riders, [-BRIGHT_GAIN * BRIGHT_PIVOT,
                                            NEUTRAL_GAIN * NEUTRAL_PIVOT]))
    light_share = g.op("GlobalAveragePool", [g.op("Sigmoid", [z], stem="light_p")],
                       stem="light_share")
    light_scene = g.scaled_sigmoid(light_share, LIGHT_SHARE_GAIN, LIGHT_SHARE_PIVOT,
                                   "light_scene")

    # texture: |difference| of neighbouring cells' luma, across and down, over the
    # first 55 x 55 cells, over the frame's mean + NORM_EPS; the mean of
    # |differences| is taken first and divided once (the same value as dividing
    # every cell). Slices, Sub and Abs take 15 us where 2 x 2 difference kernels
    # took 30.
    corner = e.window(mean_y, (0, 0), "tex_here")
    across = g.op("Sub", [corner, e.window(mean_y, (0, 1), "tex_right")], stem="tex_across")
    down = g.op("Sub", [corner, e.window(mean_y, (1, 0), "tex_below")], stem="tex_down")
    steps = g.op("GlobalAveragePool", [g.op("Add", [g.op("Abs", [across], stem="tex_across_abs"),
                                                    g.op("Abs", [down], stem="tex_down_abs")],
                                            stem="tex_steps")], stem="tex_mean")
    norm = g.conv1x1(frame_y, [[1.0]], [NORM_EPS], "tex_norm")
    texture = g.op("Div", [steps, norm], stem="texture")
    texture_ok = g.scaled_sigmoid(texture, texture_gain, texture_pivot, "tex_ok")
    # clipped and black shares: the frame means of measures 1 and 2
    shares = g.op("GlobalAveragePool", [e.channels(measures, 1, 3, "shares")],
                  stem="frame_shares")
    exposure_ok = g.op("Sigmoid", [g.conv1x1(shares, -SHARE_GAIN * np.eye(2),
                                             [SHARE_GAIN * CLIPPED_FRAME,
                                              SHARE_GAIN * BLACK_FRAME], "exp_ok")],
                       stem="exp_ok_p")
    clip_ok = g.conv1x1(exposure_ok, [[1.0, 0.0]], [0.0], "clip_ok")
    black_ok = g.conv1x1(exposure_ok, [[0.0, 1.0]], [0.0], "black_ok")
    scene = g.op("Mul", [g.op("Mul", [texture_ok, clip_ok], stem="scene_a"), black_ok],
                 stem="scene")

    hk = g.op("Sigmoid", [hk_logits], stem="hk_p")
    bright = e.channels(hk, 0, 1, "hk_bright")
    neutral = e.channels(hk, 1, 2, "hk_neutral")
    high_key = g.op("GlobalAveragePool", [g.op("Mul", [bright, neutral], stem="hk_px")],
                    stem="high_key")

    not_scene = g.conv1x1(scene, [[-1.0]], [1.0], "not_scene")
    joined = g.op("Concat", [not_scene, scene, high_key, light_scene], stem="joined", axis=1)
    g.op("Flatten", [joined], output="entrance", axis=1)
    out = helper.make_tensor_value_info("entrance", TensorProto.FLOAT, [1, 4])
    return model_of(g, [image_input()], [out],
                    "[0] 1 - [1], [1] confidence in a content score (texture, clipping, "
                    "black), [2] high-key share, [3] light-scene probability.")


def entrance_reference(net, x, texture_gain, texture_pivot):
    """The exported entrance's arithmetic in torch, to check the export."""
    cell_planes, frame_mean = net.cells(x)
    mean_y = cell_planes[:, :1]
    shares = net.inputs(cell_planes, frame_mean)[:, 3:5]
    z = F.max_pool2d(net.source_logit(x), 2 * GLARE_CELLS + 1, stride=1, padding=GLARE_CELLS)
    share = torch.sigmoid(LIGHT_SCORE_GAIN * z).mean((1, 2, 3))
    light_scene = torch.sigmoid(LIGHT_SHARE_GAIN * (share - LIGHT_SHARE_PIVOT))
    texture = texture_of(mean_y, frame_mean)
    clip, black = shares.mean((2, 3)).unbind(1)
    scene = (torch.sigmoid(texture_gain * (texture - texture_pivot))
             * torch.sigmoid(SHARE_GAIN * (CLIPPED_FRAME - clip))
             * torch.sigmoid(SHARE_GAIN * (BLACK_FRAME - black)))
    return scene, light_scene


# ---------------------------------------------------------------------------
# Validation on photographs never trained on


def validate(albedo, light, photos, log):
    rows = []
    evs = [-2.0, -1.0, 0.0, 1.0, 2.0]
    gen = torch.Generator().manual_seed(SEED + 7)
    hits = {"tp": 0, "fp": 0, "fn": 0}
    # frames the entrance marks a light scene ([3] at least 0.3), and of those the
    # ones whose taught light map is as large as the share that sets it
    scenes = {"marked": 0, "marked_taught": 0, "taught": 0}
    with torch.no_grad():
        for photo in photos:
            rng = np.random.default_rng(SEED + 11)
            window = crop_window(rng, photo.linear.shape[1], photo.linear.shape[2], scale=1.0)
            preds = []
            for ev in evs:
                x, level, cells = render(photo, window, ev, True, 1.0, False, gen)
                preds.append(float(albedo.log2_level(x[None])[0]))
                scores = light(x[None])[0, :, :, 1]
                predicted = scores > 0.5
                truth = glare(cells[None])[0] > 0.5
                marked = float(torch.sigmoid(LIGHT_SHARE_GAIN * (scores.mean()
                                                                 - LIGHT_SHARE_PIVOT))) >= 0.3
                taught = float(truth.float().mean()) >= LIGHT_SCENE_SHARE
                scenes["marked"] += int(marked)
                scenes["taught"] += int(taught)
                scenes["marked_taught"] += int(marked and taught)
                hits["tp"] += int((predicted & truth).sum())
                hits["fp"] += int((predicted & ~truth).sum())
                hits["fn"] += int((~predicted & truth).sum())
            rows.append({"photo": photo.name, "level": round(2.0 ** level, 4),
                         "predicted": [round(2.0 ** p, 4) for p in preds],
                         "error_ev": round(preds[2] - level, 3),
                         "spread_ev": round(max(preds) - min(preds), 3),
                         "grey_error_ev": round(math.log2(0.18) - level, 3)})
            log(f"  {photo.name:40s} level {2 ** level:.3f} error {preds[2] - level:+.2f} EV "
                f"spread {max(preds) - min(preds):.2f} EV (grey {math.log2(0.18) - level:+.2f})")
    errors = [abs(r["error_ev"]) for r in rows]
    grey = [abs(r["grey_error_ev"]) for r in rows]
    spreads = [r["spread_ev"] for r in rows]
    summary = {
        "photographs": len(rows),
        "median_abs_error_ev": round(float(np.median(errors)), 3),
        "median_abs_error_ev_grey": round(float(np.median(grey)), 3),
        "median_spread_ev": round(float(np.median(spreads)), 3),
        "max_spread_ev": round(float(np.max(spreads)), 3),
        "light_precision": round(hits["tp"] / max(1, hits["tp"] + hits["fp"]), 3),
        "light_recall": round(hits["tp"] / max(1, hits["tp"] + hits["fn"]), 3),
        "light_scene_frames": scenes,
    }
    log(f"validation: {json.dumps(summary)}")
    return summary, rows


# ---------------------------------------------------------------------------


def check_export(path, torch_fn, x, tolerance):
    """The file passes onnx's checker, uses only operators the runtime reads, and
    matches the torch network on x (evaluated with a small numpy interpreter is not
    available here, so the check is structural; the C++ tests run the files)."""
    model = onnx.load(path)
    onnx.checker.check_model(model)
    allowed = {"Conv", "Relu", "Sigmoid", "Add", "Sub", "Mul", "Div", "Pow", "Sqrt", "Abs",
               "AveragePool", "MaxPool", "GlobalAveragePool", "Transpose", "Reshape",
               "Flatten", "Concat", "Gemm", "Slice"}
    used = {node.op_type for node in model.graph.node}
    if not used <= allowed:
        raise SystemExit(f"{path}: operators the runtime does not read: {used - allowed}")
    return used


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--photos", default=os.path.join(ROOT, "build", "training-photos"))
    parser.add_argument("--out", default=os.path.join(ROOT, "models"))
    parser.add_argument("--cache", default=os.path.join(ROOT, "build", "model-training-cache"))
    args = parser.parse_args(argv[1:])

    torch.set_num_threads(1)
    torch.manual_seed(SEED)
    torch.use_deterministic_algorithms(True)
    lines = []

    def log(text):
        print(text, flush=True)
        lines.append(text)

    photos = read_photos(args.photos, args.cache)
    log(f"photographs: {len(photos['train'])} training, {len(photos['val'])} validation")
    gen = torch.Generator().manual_seed(SEED)
    pool = render_pool(photos["train"], np.random.default_rng(SEED), gen, POOL_FRAMES, log)
    # the light network's starting weights are the first draws after the seed
    torch.manual_seed(SEED)
    light = train_light(pool, np.random.default_rng(SEED + 2), log)
    albedo = fit_albedo(photos["train"], log)
    light.eval()
    texture_gain, texture_pivot = calibrate_texture(pool)
    log(f"entrance texture: gain {texture_gain:.2f} pivot {texture_pivot:.4f}")
    summary, rows = validate(albedo, light, photos["val"], log)

    os.makedirs(args.out, exist_ok=True)
    models = {
        "albedo": export_albedo(albedo),
        "light": export_light(light),
        "entrance": export_entrance(light, texture_gain, texture_pivot),
        "smooth": make_smooth(),
    }
    record = {"models": {}, "photographs": {}, "validation": summary, "validation_rows": rows,
              "seed": SEED, "albedo_coefficients": [albedo.a, albedo.b, albedo.c],
              "texture_gain": round(texture_gain, 4),
              "texture_pivot": round(texture_pivot, 5)}
    for key, model in models.items():
        data = model.SerializeToString()
        path = os.path.join(args.out, MODEL_FILES[key])
        with open(path, "wb") as f:
            f.write(data)
        check_export(path, None, None, None)
        record["models"][MODEL_FILES[key]] = hashlib.sha256(data).hexdigest()
        log(f"{MODEL_FILES[key]}: {len(data)} bytes")
    for split in ("train", "val"):
        for photo in photos[split]:
            record["photographs"][photo.name] = {"split": split, "sha256": photo.digest}
    with open(os.path.join(args.out, "training_record.json"), "w", encoding="utf-8") as f:
        json.dump(record, f, indent=1, sort_keys=True)
        f.write("\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
