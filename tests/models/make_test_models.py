#!/usr/bin/python3
"""Small ONNX models for the host runtime and the engine's tests.

Run with /usr/bin/python3 (Debian's python3-onnx and python3-numpy). Output is
deterministic: the same arguments always give byte-identical files.

  make_test_models.py test-set <outdir>
      Test models with inputs and expected outputs computed by numpy, plus bad
      model files. For a model <m>: <m>.onnx, <m>.in<i>.f32 and <m>.out<j>.f32
      (raw little-endian float32, row-major in the model's declared layout).
      Bad files are named bad_<what>.onnx. wrong_rank_entrance.onnx has the
      entrance model's input and four outputs, shaped (1,2,2) instead of (1,4).

  make_test_models.py constant-set <outdir> --entrance E0 E1 E2 E3 --albedo A
                      --smooth S [--light-rect R0 C0 R1 C1]
      The engine's four model files under their default names, each answering
      constants whatever its input (the graph still reads the input):
        xepo_entrance.qdnn               1x224x224x3 NHWC -> (1,4) = E0..E3
        xepo_albedo.qdnn                 1x224x224x3 NHWC -> (1,1) = A
        light-STDCNet813.pt.tflite.qdnn  1x224x224x3 NHWC -> NHWC (1,56,56,2):
            cells inside the inclusive rectangle rows R0..R1, columns C0..C1
            score (0, 1) (light), every other cell (1, 0); no rectangle: none
        xepo_smooth.qdnn                 (1,3) -> (1,1) = S

  make_test_models.py sum-order <outdir>
      The summation-order models of tests/cross_arch, x (1,4) -> y (1,2):
      gemm_cancel.onnx as Gemm(x, W^T) + b, matmul_cancel.onnx as MatMul + Add.
"""

import argparse
import sys
from pathlib import Path

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

OPSET = 13
IR_VERSION = 7  # the IR version that goes with opset 13
LIGHT_GRID = 56
MODEL_SIDE = 224
node = helper.make_node


# inputs and outputs: {name: dims} of float tensors, in order.
def make_model(nodes, inputs, outputs, initializers, name):
    graph = helper.make_graph(nodes, name, [float_input(*io) for io in inputs.items()],
                              [float_input(*io) for io in outputs.items()],
                              initializer=initializers)
    model = helper.make_model(graph, producer_name="xepo-test-models",
                              opset_imports=[helper.make_opsetid("", OPSET)])
    model.ir_version = IR_VERSION
    return model


def float_input(name, dims):
    return helper.make_tensor_value_info(name, TensorProto.FLOAT, dims)


def tensor(name, array):
    return numpy_helper.from_array(np.ascontiguousarray(array), name)


# A model from (1,width_in) "v" to (1,width_out) "p".
def vector_model(name, nodes, width_in, width_out, initializers=()):
    return make_model(nodes, {"v": [1, width_in]}, {"p": [1, width_out]}, list(initializers), name)


def write_model(outdir, filename, model):
    onnx.checker.check_model(model)
    Path(outdir, filename).write_bytes(model.SerializeToString())


def write_case(outdir, model, inputs, outputs):
    """Writes a model under its graph's name with its inputs and numpy's expected outputs."""
    stem = model.graph.name
    write_model(outdir, stem + ".onnx", model)
    for suffix, arrays in (("in", inputs), ("out", outputs)):
        for i, array in enumerate(arrays):
            path = Path(outdir, "%s.%s%d.f32" % (stem, suffix, i))
            path.write_bytes(np.asarray(array, dtype="<f4").tobytes())


# ------------------------------------------------------------------ test set

def conv_nhwc_case(rng):
    """NHWC image in, NHWC feature map out: Transpose, Conv 3x3, Relu, Transpose."""
    w = rng.uniform(-0.5, 0.5, (4, 3, 3, 3)).astype(np.float32)
    b = rng.uniform(-0.2, 0.2, (4,)).astype(np.float32)
    nodes = [node("Transpose", ["image"], ["nchw"], perm=[0, 3, 1, 2]),
             node("Conv", ["nchw", "w", "b"], ["conv"], kernel_shape=[3, 3], pads=[1, 1, 1, 1]),
             node("Relu", ["conv"], ["relu"]),
             node("Transpose", ["relu"], ["features"], perm=[0, 2, 3, 1])]
    model = make_model(nodes, {"image": [1, 8, 8, 3]}, {"features": [1, 8, 8, 4]},
                       [tensor("w", w), tensor("b", b)], "conv_nhwc")
    x = rng.uniform(-1, 1, (1, 8, 8, 3)).astype(np.float32)
    # Plain cross-correlation in float64 (the ONNX Conv definition), padding 1,
    # over the 3x3 windows of the padded NHWC image.
    xp = np.pad(x.astype(np.float64), ((0, 0), (1, 1), (1, 1), (0, 0)))
    windows = np.lib.stride_tricks.sliding_window_view(xp, (3, 3), axis=(1, 2))  # n h w c i j
    y = np.maximum(np.einsum("nhwcij,kcij->nhwk", windows, w.astype(np.float64)) + b, 0)
    return model, [x], [y]


def vector_nc_case(rng):
    """(N,C) vector in and out: fully connected layer and a sigmoid."""
    w = rng.uniform(-1, 1, (3, 5)).astype(np.float32)
    b = rng.uniform(-0.5, 0.5, (3,)).astype(np.float32)
    nodes = [node("Gemm", ["v", "w", "b"], ["fc"], transB=1), node("Sigmoid", ["fc"], ["p"])]
    model = vector_model("vector_nc", nodes, 5, 3, [tensor("w", w), tensor("b", b)])
    x = rng.uniform(-2, 2, (1, 5)).astype(np.float32)
    y = 1.0 / (1.0 + np.exp(-(x.astype(np.float64) @ w.T.astype(np.float64) + b)))
    return model, [x], [y]


def two_input_case(rng):
    """Two (N,C) inputs and two outputs: their sum, and a projection of the first."""
    w = rng.uniform(-1, 1, (2, 4)).astype(np.float32)
    b = rng.uniform(-0.5, 0.5, (2,)).astype(np.float32)
    nodes = [node("Add", ["a", "b_in"], ["sum"]), node("Gemm", ["a", "w", "b"], ["proj"], transB=1)]
    model = make_model(nodes, {"a": [1, 4], "b_in": [1, 4]}, {"sum": [1, 4], "proj": [1, 2]},
                       [tensor("w", w), tensor("b", b)], "two_input")
    a = rng.uniform(-1, 1, (1, 4)).astype(np.float32)
    c = rng.uniform(-1, 1, (1, 4)).astype(np.float32)
    s = a.astype(np.float64) + c.astype(np.float64)
    p = a.astype(np.float64) @ w.T.astype(np.float64) + b
    return model, [a, c], [s, p]


def bad_models(outdir, rng, good_model):
    """Files that must not load: each one breaks the model in one way."""
    good = good_model.SerializeToString()
    short = onnx.ModelProto.FromString(good)
    weight = short.graph.initializer[0]
    weight.raw_data = weight.raw_data[:len(weight.raw_data) // 2]
    # The format's checker lets operators of foreign domains pass; the runtime
    # itself must refuse them.
    foreign = vector_model("foreign_op", [node("Frobnicate", ["v"], ["p"], domain="test.foreign")],
                           5, 5)
    foreign.opset_import.append(helper.make_opsetid("test.foreign", 1))
    image = {"image": [1, 8, 8, 3]}
    gemm = [node("Gemm", ["v", "w", "b"], ["p"], transB=1)]
    zeros = [tensor("w", np.zeros((3, 5), np.float32)), tensor("b", np.zeros((3,), np.float32))]
    files = {
        "empty": b"",
        "garbage": rng.randint(0, 256, 4096).astype(np.uint8).tobytes(),
        "text": b"This is a plain text file, not a model.\n" * 8,
        "truncated": good[:len(good) // 2],
        "short_weight": short,
        "no_nodes": make_model([], image, image, [], "no_nodes"),
        "unknown_op": vector_model("unknown_op", [node("Frobnicate", ["v"], ["p"])], 5, 5),
        "foreign_op": foreign,
        "missing_input": vector_model("missing_input", [node("Add", ["v", "nowhere"], ["p"])],
                                      5, 5),
        # Declares more output elements than the graph makes: a caller sizing its
        # buffer by the declaration must never receive the graph's other size.
        "declared_size": vector_model("declared_size", gemm, 5, 8, zeros),
    }
    for what, data in files.items():
        data = data if isinstance(data, bytes) else data.SerializeToString()
        Path(outdir, "bad_%s.onnx" % what).write_bytes(data)


def write_test_set(args):
    rng = np.random.RandomState(20240611)
    cases = [conv_nhwc_case(rng), vector_nc_case(rng), two_input_case(rng)]
    for model, inputs, outputs in cases:
        write_case(args.outdir, model, inputs, outputs)
    bad_models(args.outdir, rng, cases[0][0])
    write_model(args.outdir, "wrong_rank_entrance.onnx", wrong_rank_entrance_model())


# -------------------------------------------------------------- constant set

def constant_head_model(name, values):
    """NHWC image -> (1,K) constants: a zero-weight fully connected layer on the
    channel means, so the graph reads its input and adds only the bias."""
    nodes = [node("Transpose", ["image"], ["nchw"], perm=[0, 3, 1, 2]),
             node("GlobalAveragePool", ["nchw"], ["pooled"]),
             node("Flatten", ["pooled"], ["flat"], axis=1),
             node("Gemm", ["flat", "w", "b"], ["scores"], transB=1)]
    inits = [tensor("w", np.zeros((len(values), 3), np.float32)),
             tensor("b", np.asarray(values, np.float32))]
    return make_model(nodes, {"image": [1, MODEL_SIDE, MODEL_SIDE, 3]},
                      {"scores": [1, len(values)]}, inits, name)


def wrong_rank_entrance_model():
    """The constant entrance head with its four values reshaped to (1,2,2): the
    element count the engine expects in a layout it does not."""
    head = constant_head_model("wrong_rank_entrance", [0.25, 0.5, 0.75, 1.0])
    graph = head.graph
    graph.node[-1].output[0] = "flat_scores"
    graph.node.append(node("Reshape", ["flat_scores", "rank3"], ["scores"]))
    graph.initializer.append(tensor("rank3", np.asarray([1, 2, 2], np.int64)))
    graph.output[0].CopyFrom(float_input("scores", [1, 2, 2]))
    return head


def constant_light_model(rect):
    """NHWC image -> NHWC (1,56,56,2) fixed two-class map: a zero-weight stride-4
    convolution (so the graph reads its input) plus a constant map."""
    scores = np.tile(np.float32([1.0, 0.0]), (1, LIGHT_GRID, LIGHT_GRID, 1))
    if rect is not None:
        r0, c0, r1, c1 = rect
        scores[0, r0:r1 + 1, c0:c1 + 1] = [0.0, 1.0]
    stride = MODEL_SIDE // LIGHT_GRID
    nodes = [node("Transpose", ["image"], ["nchw"], perm=[0, 3, 1, 2]),
             node("Conv", ["nchw", "w", "b"], ["conv"], kernel_shape=[stride, stride],
                  strides=[stride, stride]),
             node("Transpose", ["conv"], ["nhwc"], perm=[0, 2, 3, 1]),
             node("Add", ["nhwc", "map"], ["scores"])]
    inits = [tensor("w", np.zeros((2, 3, stride, stride), np.float32)),
             tensor("b", np.zeros((2,), np.float32)), tensor("map", scores)]
    return make_model(nodes, {"image": [1, MODEL_SIDE, MODEL_SIDE, 3]},
                      {"scores": [1, LIGHT_GRID, LIGHT_GRID, 2]}, inits, "constant_light")


def write_constant_set(args):
    rect = args.light_rect
    if rect is not None and not (0 <= rect[0] <= rect[2] < LIGHT_GRID and
                                 0 <= rect[1] <= rect[3] < LIGHT_GRID):
        sys.exit("light rectangle %s lies outside the %dx%d grid" % (rect, LIGHT_GRID, LIGHT_GRID))
    # The smooth model: (1,3) -> (1,1) constant from a zero-weight fully connected layer.
    smooth = make_model([node("Gemm", ["v", "w", "b"], ["score"], transB=1)],
                        {"v": [1, 3]}, {"score": [1, 1]},
                        [tensor("w", np.zeros((1, 3), np.float32)),
                         tensor("b", np.asarray([args.smooth], np.float32))], "constant_smooth")
    models = {"xepo_entrance.qdnn": constant_head_model("constant_entrance", args.entrance),
              "xepo_albedo.qdnn": constant_head_model("constant_albedo", [args.albedo]),
              "light-STDCNet813.pt.tflite.qdnn": constant_light_model(rect),
              "xepo_smooth.qdnn": smooth}
    for filename, model in models.items():
        write_model(args.outdir, filename, model)


# ------------------------------------------------------------- sum-order set

# Row 0 cancels: 1e8 + 1 - 1e8 + 1 = 2 exactly, but float32 loses the 1s next
# to 1e8 (its spacing there is 8), so a float32 sum in any order gives 0 or 1,
# while the exact sum is representable.
SUM_WEIGHTS = np.array([[1.0e8, 1.0, -1.0e8, 1.0], [0.25, -0.5, 0.125, 2.0]], dtype=np.float32)
SUM_BIAS = np.array([0.5, -3.0], dtype=np.float32)


def write_sum_order_set(args):
    gemm = [node("Gemm", ["x", "W", "b"], ["y"], transB=1)]
    matmul = [node("MatMul", ["x", "Wt"], ["p"]), node("Add", ["p", "b"], ["y"])]
    for name, nodes, weights in (("gemm_cancel", gemm, tensor("W", SUM_WEIGHTS)),
                                 ("matmul_cancel", matmul, tensor("Wt", SUM_WEIGHTS.T))):
        model = make_model(nodes, {"x": [1, 4]}, {"y": [1, 2]}, [weights, tensor("b", SUM_BIAS)],
                           name)
        write_model(args.outdir, name + ".onnx", model)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="mode", required=True)
    sub.add_parser("test-set").add_argument("outdir")
    sub.add_parser("sum-order").add_argument("outdir")
    const = sub.add_parser("constant-set")
    const.add_argument("outdir")
    for flag, count in (("--entrance", 4), ("--albedo", None), ("--smooth", None)):
        const.add_argument(flag, type=float, nargs=count, required=True)
    const.add_argument("--light-rect", type=int, nargs=4, default=None)
    args = parser.parse_args()
    Path(args.outdir).mkdir(parents=True, exist_ok=True)
    {"test-set": write_test_set, "constant-set": write_constant_set,
     "sum-order": write_sum_order_set}[args.mode](args)


if __name__ == "__main__":
    main()
