#!/usr/bin/python3
"""Writes the engine's default model set: four small ONNX networks whose weights
come from metering formulas instead of training.

    /usr/bin/python3 tools/models/make_default_models.py [OUTPUT_DIR]

OUTPUT_DIR defaults to tools/models/formula/ (the baseline set beside the trained
default models in models/). Every run writes
the same bytes (no time stamps, no random numbers), so the committed files can be
checked against a fresh run.

Every image model takes the engine's 1x224x224x3 NHWC float input, in which an
8-bit RGB value v arrives as (v - 127.5) / 127.5, and first undoes that:
v / 255 = 0.5 * x + 0.5. The formulas and their constants are listed below and in
models/README.md.
"""

import os
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

# The runtime accepts ONNX files up to this operator set.
OPSET = 13
# IR version 7 goes with opset 13 and is read by every ONNX importer that reads opset 13.
IR_VERSION = 7

IMAGE_SIZE = 224
CELL = 4  # a light cell is a CELL x CELL block of pixels
GRID = IMAGE_SIZE // CELL  # 56 cells per side

# Rec. 709 luminance weights, used on linear light (albedo) and on gamma-encoded
# values (luma for contrast, high-key and light cells).
LUMA_WEIGHTS = (0.2126, 0.7152, 0.0722)
# Display gamma that turns an 8-bit value into linear light: (v/255)^2.2. A frame
# of value 118 then has a linear mean of 0.18, the classic mid-grey.
DISPLAY_GAMMA = 2.2

# Entrance [1]: scene confidence = sigmoid(CONTRAST_GAIN * (std(luma) - CONTRAST_PIVOT)).
# A flat frame (std 0) gives 0.083; std 0.085 gives 0.73, the engine's threshold;
# an ordinary photo (std 0.15 to 0.3) gives 0.97 and more.
CONTRAST_PIVOT = 0.06
CONTRAST_GAIN = 40.0

# Entrance [2]: high-key share = mean over pixels of
# sigmoid(BRIGHT_GAIN * (luma - BRIGHT_PIVOT)) * sigmoid(NEUTRAL_GAIN * (NEUTRAL_PIVOT - chroma)),
# chroma = max(R,G,B) - min(R,G,B) on gamma-encoded values in [0, 1]. A pixel counts as
# bright from luma 0.75 (value 191) and as unsaturated below chroma 0.12 (31 levels).
BRIGHT_PIVOT = 0.75
BRIGHT_GAIN = 30.0
NEUTRAL_PIVOT = 0.12
NEUTRAL_GAIN = 50.0

# Light cells: a 4x4 cell is light when its mean luma exceeds LIGHT_PIVOT (value 234.6).
# The two scores are sigmoid(-g*(m - p)) and sigmoid(g*(m - p)), so the light score is
# strictly larger exactly when m > p; the gain only shapes the scores and the soft count.
LIGHT_PIVOT = 0.92
LIGHT_GAIN = 200.0

# Entrance [3]: light-scene probability = sigmoid(LIGHT_SHARE_GAIN * (share - LIGHT_SHARE_PIVOT)),
# share = mean light score over the 56x56 cells. No light cell gives 0.06; the engine's
# threshold 0.3 is passed at a share of about 2.4 % (the engine accepts a light map from
# 150 of its 3072 map cells, 4.9 %); 5 % gives 0.77.
LIGHT_SHARE_PIVOT = 0.035
LIGHT_SHARE_GAIN = 80.0

# Smooth: score = previous score - SMOOTH_SCORE_PER_LUX * (lux - previous lux).
# A higher lux index is a darker scene, so ten index steps darker lower the score by one.
SMOOTH_SCORE_PER_LUX = 0.1

MODEL_FILES = {
    "entrance": "xepo_entrance.qdnn",
    "albedo": "xepo_albedo.qdnn",
    "light": "light-STDCNet813.pt.tflite.qdnn",
    "smooth": "xepo_smooth.qdnn",
}


class GraphBuilder:
    """Collects nodes and constant tensors under short, stable names."""

    def __init__(self, name):
        self.name = name
        self.nodes = []
        self.initializers = []
        self.counter = 0

    def _fresh(self, stem):
        self.counter += 1
        return f"{stem}_{self.counter}"

    def const(self, stem, values, shape=None):
        array = np.asarray(values, dtype=np.float32)
        if shape is not None:
            array = array.reshape(shape)
        name = self._fresh(stem)
        self.initializers.append(numpy_helper.from_array(array, name))
        return name

    def op(self, op_type, inputs, stem=None, output=None, **attrs):
        output = output or self._fresh(stem or op_type.lower())
        self.nodes.append(helper.make_node(op_type, inputs, [output], name=output, **attrs))
        return output

    def conv1x1(self, x, weights, bias, stem):
        """1x1 convolution: weights[out][in], bias[out]."""
        w = np.asarray(weights, dtype=np.float32)
        w = w.reshape(w.shape[0], w.shape[1], 1, 1)
        return self.op("Conv", [x, self.const(stem + "_w", w), self.const(stem + "_b", bias)],
                       stem=stem, kernel_shape=[1, 1])

    def scaled_sigmoid(self, x, gain, pivot, stem, channels=1):
        """sigmoid(gain * (x - pivot)) through a 1x1 convolution, per channel."""
        logit = self.conv1x1(x, np.eye(channels) * gain, [-gain * pivot] * channels, stem)
        return self.op("Sigmoid", [logit], stem=stem + "_p")

    def model(self, inputs, outputs, doc):
        graph = helper.make_graph(self.nodes, self.name, inputs, outputs, self.initializers)
        model = helper.make_model(graph, producer_name="xepo-reference-models",
                                  producer_version="1", doc_string=doc,
                                  opset_imports=[helper.make_opsetid("", OPSET)])
        model.ir_version = IR_VERSION
        onnx.checker.check_model(model)
        return model


def image_input():
    return helper.make_tensor_value_info("image", TensorProto.FLOAT,
                                         [1, IMAGE_SIZE, IMAGE_SIZE, 3])


def gamma_rgb(g):
    """NHWC normalised input -> NCHW gamma-encoded RGB in [0, 1]."""
    nchw = g.op("Transpose", ["image"], stem="nchw", perm=[0, 3, 1, 2])
    rgb = g.conv1x1(nchw, np.eye(3) * 0.5, [0.5, 0.5, 0.5], "denorm")
    # Clamp to [0, 1] as 1 - relu(1 - relu(v)): Clip with bound inputs (opset 11 on)
    # is not read by every importer, Relu and Conv are.
    above_zero = g.op("Relu", [rgb], stem="rgb_lo")
    headroom = g.op("Relu", [g.conv1x1(above_zero, -np.eye(3), [1.0] * 3, "headroom")],
                    stem="headroom_pos")
    return g.conv1x1(headroom, -np.eye(3), [1.0] * 3, "rgb")


def luma(g, rgb, stem):
    return g.conv1x1(rgb, [LUMA_WEIGHTS], [0.0], stem)


def light_scores(g, rgb):
    """(1,2,56,56): no-light and light score of every 4x4 cell."""
    cell_mean = g.op("AveragePool", [luma(g, rgb, "luma")], stem="cell",
                     kernel_shape=[CELL, CELL], strides=[CELL, CELL])
    logits = g.conv1x1(cell_mean, [[-LIGHT_GAIN], [LIGHT_GAIN]],
                       [LIGHT_GAIN * LIGHT_PIVOT, -LIGHT_GAIN * LIGHT_PIVOT], "light")
    return g.op("Sigmoid", [logits], stem="light_p")


def make_albedo():
    g = GraphBuilder("xepo_albedo")
    rgb = gamma_rgb(g)
    linear = g.op("Pow", [rgb, g.const("gamma", DISPLAY_GAMMA, [])], stem="linear")
    lum = g.conv1x1(linear, [LUMA_WEIGHTS], [0.0], "lum")
    mean = g.op("GlobalAveragePool", [lum], stem="mean")
    g.op("Flatten", [mean], output="albedo", axis=1)
    out = helper.make_tensor_value_info("albedo", TensorProto.FLOAT, [1, 1])
    return g.model([image_input()], [out],
                   "Mean linear luminance of the frame as a fraction (mid-grey about 0.18).")


def make_entrance():
    g = GraphBuilder("xepo_entrance")
    rgb = gamma_rgb(g)
    y = luma(g, rgb, "luma")

    # [0] and [1]: contrast as the standard deviation of luma.
    mean = g.op("GlobalAveragePool", [y], stem="luma_mean")
    mean_sq = g.op("GlobalAveragePool", [g.op("Mul", [y, y], stem="luma_sq")], stem="luma_sq_mean")
    variance = g.op("Sub", [mean_sq, g.op("Mul", [mean, mean], stem="mean_sq")], stem="variance")
    std = g.op("Sqrt", [g.op("Relu", [variance], stem="variance_pos")], stem="std")
    scene = g.conv1x1(std, [[-CONTRAST_GAIN], [CONTRAST_GAIN]],
                      [CONTRAST_GAIN * CONTRAST_PIVOT, -CONTRAST_GAIN * CONTRAST_PIVOT], "scene")
    scene = g.op("Sigmoid", [scene], stem="scene_p")  # (1,2,1,1): 1 - p, p

    # [2]: share of bright, unsaturated pixels. |a-b| = relu(a-b) + relu(b-a), and the
    # three absolute channel differences add up to twice max - min.
    diffs = g.conv1x1(rgb, [[1, -1, 0], [-1, 1, 0], [0, 1, -1], [0, -1, 1], [-1, 0, 1],
                            [1, 0, -1]], [0.0] * 6, "diff")
    chroma = g.conv1x1(g.op("Relu", [diffs], stem="diff_abs"), [[0.5] * 6], [0.0], "chroma")
    bright = g.scaled_sigmoid(y, BRIGHT_GAIN, BRIGHT_PIVOT, "bright")
    neutral = g.scaled_sigmoid(chroma, -NEUTRAL_GAIN, NEUTRAL_PIVOT, "neutral")
    high_key = g.op("GlobalAveragePool", [g.op("Mul", [bright, neutral], stem="high_key_px")],
                    stem="high_key")

    # [3]: soft share of light cells, through the same cell scores as the light model.
    cells = light_scores(g, rgb)
    share = g.op("GlobalAveragePool", [cells], stem="cell_share")  # (1,2,1,1)
    light_scene = g.conv1x1(share, [[0.0, LIGHT_SHARE_GAIN]],
                            [-LIGHT_SHARE_GAIN * LIGHT_SHARE_PIVOT], "light_scene")
    light_scene = g.op("Sigmoid", [light_scene], stem="light_scene_p")

    joined = g.op("Concat", [scene, high_key, light_scene], stem="joined", axis=1)
    g.op("Flatten", [joined], output="entrance", axis=1)
    out = helper.make_tensor_value_info("entrance", TensorProto.FLOAT, [1, 4])
    return g.model([image_input()], [out],
                   "[0] 1 - scene confidence, [1] scene confidence from contrast, "
                   "[2] high-key share, [3] light-scene probability.")


def make_light():
    g = GraphBuilder("xepo_light_cells")
    scores = light_scores(g, gamma_rgb(g))
    g.op("Transpose", [scores], output="light_cells", perm=[0, 2, 3, 1])
    out = helper.make_tensor_value_info("light_cells", TensorProto.FLOAT, [1, GRID, GRID, 2])
    return g.model([image_input()], [out],
                   "Per 4x4 cell (56x56, NHWC): channel 0 no-light score, channel 1 light score; "
                   f"light wins exactly when the cell's mean luma exceeds {LIGHT_PIVOT}.")


def make_smooth():
    g = GraphBuilder("xepo_smooth")
    weights = g.const("w", [SMOOTH_SCORE_PER_LUX, 1.0, -SMOOTH_SCORE_PER_LUX], [1, 3])
    g.op("Gemm", ["lux_score", weights, g.const("b", [0.0], [1])], output="score", transB=1)
    inp = helper.make_tensor_value_info("lux_score", TensorProto.FLOAT, [1, 3])
    out = helper.make_tensor_value_info("score", TensorProto.FLOAT, [1, 1])
    return g.model([inp], [out],
                   "(previous lux, previous score, lux) -> "
                   f"previous score - {SMOOTH_SCORE_PER_LUX} * (lux - previous lux).")


MAKERS = {"entrance": make_entrance, "albedo": make_albedo, "light": make_light,
          "smooth": make_smooth}


def main(argv):
    if len(argv) > 2 or (len(argv) == 2 and argv[1] in ("-h", "--help")):
        print(__doc__.strip())
        return 0 if len(argv) == 2 else 2
    here = os.path.dirname(os.path.abspath(__file__))
    out_dir = argv[1] if len(argv) == 2 else os.path.join(here, "formula")
    os.makedirs(out_dir, exist_ok=True)
    for key, file_name in MODEL_FILES.items():
        data = MAKERS[key]().SerializeToString()
        with open(os.path.join(out_dir, file_name), "wb") as f:
            f.write(data)
        print(f"{file_name}: {len(data)} bytes")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
