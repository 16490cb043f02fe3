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
"""

import argparse
import os
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

OPSET = 13
IR_VERSION = 7  # the IR version that goes with opset 13
LIGHT_GRID = 56
MODEL_SIDE = 224


def make_model(nodes, inputs, outputs, initializers, name):
    graph = helper.make_graph(nodes, name, inputs, outputs, initializer=initializers)
    model = helper.make_model(graph, producer_name="xepo-test-models",
                              opset_imports=[helper.make_opsetid("", OPSET)])
    model.ir_version = IR_VERSION
    return model


def float_input(name, dims):
    return helper.make_tensor_value_info(name, TensorProto.FLOAT, dims)


def tensor(name, array):
    return numpy_helper.from_array(np.ascontiguousarray(array), name)


def write_bytes(path, data):
    with open(path, "wb") as f:
        f.write(data)


def write_model(outdir, filename, model):
    onnx.checker.check_model(model)
    write_bytes(os.path.join(outdir, filename), model.SerializeToString())


def write_f32(path, array):
    write_bytes(path, np.asarray(array, dtype="<f4").tobytes())


def write_case(outdir, stem, model, inputs, outputs):
    """Writes a model with its inputs and numpy's expected outputs."""
    write_model(outdir, stem + ".onnx", model)
    for i, array in enumerate(inputs):
        write_f32(os.path.join(outdir, "%s.in%d.f32" % (stem, i)), array)
    for j, array in enumerate(outputs):
        write_f32(os.path.join(outdir, "%s.out%d.f32" % (stem, j)), array)


# ---------------------------------------------------------------- numpy maths

def conv2d_nchw(x, w, b, stride, pad):
    """Plain cross-correlation, the ONNX Conv definition."""
    n, c, h, wd = x.shape
    k, _, kh, kw = w.shape
    xp = np.pad(x, ((0, 0), (0, 0), (pad, pad), (pad, pad)))
    oh = (h + 2 * pad - kh) // stride + 1
    ow = (wd + 2 * pad - kw) // stride + 1
    out = np.zeros((n, k, oh, ow), dtype=np.float64)
    for i in range(oh):
        for j in range(ow):
            patch = xp[:, :, i * stride:i * stride + kh, j * stride:j * stride + kw]
            out[:, :, i, j] = np.tensordot(patch, w, axes=([1, 2, 3], [1, 2, 3]))
    return out + b.reshape(1, k, 1, 1)


# ------------------------------------------------------------------ test set

def conv_nhwc_case(rng):
    """NHWC image in, NHWC feature map out: Transpose, Conv 3x3, Relu, Transpose."""
    w = rng.uniform(-0.5, 0.5, (4, 3, 3, 3)).astype(np.float32)
    b = rng.uniform(-0.2, 0.2, (4,)).astype(np.float32)
    nodes = [
        helper.make_node("Transpose", ["image"], ["nchw"], perm=[0, 3, 1, 2]),
        helper.make_node("Conv", ["nchw", "w", "b"], ["conv"], kernel_shape=[3, 3],
                         pads=[1, 1, 1, 1]),
        helper.make_node("Relu", ["conv"], ["relu"]),
        helper.make_node("Transpose", ["relu"], ["features"], perm=[0, 2, 3, 1]),
    ]
    model = make_model(nodes, [float_input("image", [1, 8, 8, 3])],
                       [float_input("features", [1, 8, 8, 4])],
                       [tensor("w", w), tensor("b", b)], "conv_nhwc")
    x = rng.uniform(-1, 1, (1, 8, 8, 3)).astype(np.float32)
    y = conv2d_nchw(x.transpose(0, 3, 1, 2).astype(np.float64), w.astype(np.float64),
                    b.astype(np.float64), 1, 1)
    y = np.maximum(y, 0).transpose(0, 2, 3, 1)
    return model, [x], [y]


def vector_nc_case(rng):
    """(N,C) vector in and out: fully connected layer and a sigmoid."""
    w = rng.uniform(-1, 1, (3, 5)).astype(np.float32)
    b = rng.uniform(-0.5, 0.5, (3,)).astype(np.float32)
    nodes = [
        helper.make_node("Gemm", ["v", "w", "b"], ["fc"], transB=1),
        helper.make_node("Sigmoid", ["fc"], ["p"]),
    ]
    model = make_model(nodes, [float_input("v", [1, 5])], [float_input("p", [1, 3])],
                       [tensor("w", w), tensor("b", b)], "vector_nc")
    x = rng.uniform(-2, 2, (1, 5)).astype(np.float32)
    y = 1.0 / (1.0 + np.exp(-(x.astype(np.float64) @ w.T.astype(np.float64) + b)))
    return model, [x], [y]


def two_input_case(rng):
    """Two (N,C) inputs and two outputs: their sum, and a projection of the first."""
    w = rng.uniform(-1, 1, (2, 4)).astype(np.float32)
    b = rng.uniform(-0.5, 0.5, (2,)).astype(np.float32)
    nodes = [
        helper.make_node("Add", ["a", "b_in"], ["sum"]),
        helper.make_node("Gemm", ["a", "w", "b"], ["proj"], transB=1),
    ]
    model = make_model(nodes, [float_input("a", [1, 4]), float_input("b_in", [1, 4])],
                       [float_input("sum", [1, 4]), float_input("proj", [1, 2])],
                       [tensor("w", w), tensor("b", b)], "two_input")
    a = rng.uniform(-1, 1, (1, 4)).astype(np.float32)
    c = rng.uniform(-1, 1, (1, 4)).astype(np.float32)
    s = a.astype(np.float64) + c.astype(np.float64)
    p = a.astype(np.float64) @ w.T.astype(np.float64) + b
    return model, [a, c], [s, p]


def bad_models(outdir, rng, good_model):
    """Files that must not load: each one breaks the model in one way."""
    good = good_model.SerializeToString()
    write_bytes(os.path.join(outdir, "bad_empty.onnx"), b"")
    write_bytes(os.path.join(outdir, "bad_garbage.onnx"),
                rng.randint(0, 256, 4096).astype(np.uint8).tobytes())
    write_bytes(os.path.join(outdir, "bad_text.onnx"),
                b"This is a plain text file, not a model.\n" * 8)
    write_bytes(os.path.join(outdir, "bad_truncated.onnx"), good[:len(good) // 2])

    short = onnx.ModelProto()
    short.CopyFrom(good_model)
    weight = short.graph.initializer[0]
    weight.raw_data = weight.raw_data[:len(weight.raw_data) // 2]
    write_bytes(os.path.join(outdir, "bad_short_weight.onnx"), short.SerializeToString())

    no_nodes = make_model([], [float_input("image", [1, 8, 8, 3])],
                          [float_input("image", [1, 8, 8, 3])], [], "no_nodes")
    write_bytes(os.path.join(outdir, "bad_no_nodes.onnx"), no_nodes.SerializeToString())

    unknown = make_model([helper.make_node("Frobnicate", ["v"], ["p"])],
                         [float_input("v", [1, 5])], [float_input("p", [1, 5])], [],
                         "unknown_op")
    write_bytes(os.path.join(outdir, "bad_unknown_op.onnx"), unknown.SerializeToString())

    # The format's checker lets operators of foreign domains pass; the runtime
    # itself must refuse them.
    foreign = make_model([helper.make_node("Frobnicate", ["v"], ["p"], domain="test.foreign")],
                         [float_input("v", [1, 5])], [float_input("p", [1, 5])], [],
                         "foreign_op")
    foreign.opset_import.append(helper.make_opsetid("test.foreign", 1))
    write_bytes(os.path.join(outdir, "bad_foreign_op.onnx"), foreign.SerializeToString())

    missing = make_model([helper.make_node("Add", ["v", "nowhere"], ["p"])],
                         [float_input("v", [1, 5])], [float_input("p", [1, 5])], [],
                         "missing_input")
    write_bytes(os.path.join(outdir, "bad_missing_input.onnx"), missing.SerializeToString())

    # Declares more output elements than the graph makes: a caller sizing its
    # buffer by the declaration must never receive the graph's other size.
    oversized = make_model([helper.make_node("Gemm", ["v", "w", "b"], ["p"], transB=1)],
                           [float_input("v", [1, 5])], [float_input("p", [1, 8])],
                           [tensor("w", np.zeros((3, 5), np.float32)),
                            tensor("b", np.zeros((3,), np.float32))], "declared_size")
    write_bytes(os.path.join(outdir, "bad_declared_size.onnx"), oversized.SerializeToString())


def write_test_set(outdir):
    rng = np.random.RandomState(20240611)
    cases = {
        "conv_nhwc": conv_nhwc_case(rng),
        "vector_nc": vector_nc_case(rng),
        "two_input": two_input_case(rng),
    }
    for stem, (model, inputs, outputs) in cases.items():
        write_case(outdir, stem, model, inputs, outputs)
    bad_models(outdir, rng, cases["conv_nhwc"][0])
    write_model(outdir, "wrong_rank_entrance.onnx", wrong_rank_entrance_model())


# -------------------------------------------------------------- constant set

def constant_head_model(name, values):
    """NHWC image -> (1,K) constants: a zero-weight fully connected layer on the
    channel means, so the graph reads its input and adds only the bias."""
    k = len(values)
    nodes = [
        helper.make_node("Transpose", ["image"], ["nchw"], perm=[0, 3, 1, 2]),
        helper.make_node("GlobalAveragePool", ["nchw"], ["pooled"]),
        helper.make_node("Flatten", ["pooled"], ["flat"], axis=1),
        helper.make_node("Gemm", ["flat", "w", "b"], ["scores"], transB=1),
    ]
    inits = [tensor("w", np.zeros((k, 3), np.float32)),
             tensor("b", np.asarray(values, np.float32))]
    return make_model(nodes, [float_input("image", [1, MODEL_SIDE, MODEL_SIDE, 3])],
                      [float_input("scores", [1, k])], inits, name)


def wrong_rank_entrance_model():
    """The constant entrance head with its four values reshaped to (1,2,2): the
    element count the engine expects in a layout it does not."""
    head = constant_head_model("wrong_rank_entrance", [0.25, 0.5, 0.75, 1.0])
    graph = head.graph
    graph.node[-1].output[0] = "flat_scores"
    graph.node.append(helper.make_node("Reshape", ["flat_scores", "rank3"], ["scores"]))
    graph.initializer.append(tensor("rank3", np.asarray([1, 2, 2], np.int64)))
    del graph.output[:]
    graph.output.append(float_input("scores", [1, 2, 2]))
    return head


def constant_light_model(rect):
    """NHWC image -> NHWC (1,56,56,2) fixed two-class map: a zero-weight stride-4
    convolution (so the graph reads its input) plus a constant map."""
    scores = np.zeros((1, LIGHT_GRID, LIGHT_GRID, 2), np.float32)
    scores[..., 0] = 1.0
    if rect is not None:
        r0, c0, r1, c1 = rect
        scores[0, r0:r1 + 1, c0:c1 + 1, 0] = 0.0
        scores[0, r0:r1 + 1, c0:c1 + 1, 1] = 1.0
    stride = MODEL_SIDE // LIGHT_GRID
    nodes = [
        helper.make_node("Transpose", ["image"], ["nchw"], perm=[0, 3, 1, 2]),
        helper.make_node("Conv", ["nchw", "w", "b"], ["conv"],
                         kernel_shape=[stride, stride], strides=[stride, stride]),
        helper.make_node("Transpose", ["conv"], ["nhwc"], perm=[0, 2, 3, 1]),
        helper.make_node("Add", ["nhwc", "map"], ["scores"]),
    ]
    inits = [tensor("w", np.zeros((2, 3, stride, stride), np.float32)),
             tensor("b", np.zeros((2,), np.float32)), tensor("map", scores)]
    return make_model(nodes, [float_input("image", [1, MODEL_SIDE, MODEL_SIDE, 3])],
                      [float_input("scores", [1, LIGHT_GRID, LIGHT_GRID, 2])], inits,
                      "constant_light")


def constant_smooth_model(value):
    """(1,3) -> (1,1) constant: a zero-weight fully connected layer."""
    nodes = [helper.make_node("Gemm", ["v", "w", "b"], ["score"], transB=1)]
    inits = [tensor("w", np.zeros((1, 3), np.float32)),
             tensor("b", np.asarray([value], np.float32))]
    return make_model(nodes, [float_input("v", [1, 3])], [float_input("score", [1, 1])],
                      inits, "constant_smooth")


def write_constant_set(outdir, args):
    rect = args.light_rect
    if rect is not None:
        r0, c0, r1, c1 = rect
        if not (0 <= r0 <= r1 < LIGHT_GRID and 0 <= c0 <= c1 < LIGHT_GRID):
            sys.exit("light rectangle %s lies outside the %dx%d grid" % (rect, LIGHT_GRID,
                                                                          LIGHT_GRID))
    write_model(outdir, "xepo_entrance.qdnn", constant_head_model("constant_entrance",
                                                                  args.entrance))
    write_model(outdir, "xepo_albedo.qdnn", constant_head_model("constant_albedo",
                                                                [args.albedo]))
    write_model(outdir, "light-STDCNet813.pt.tflite.qdnn", constant_light_model(rect))
    write_model(outdir, "xepo_smooth.qdnn", constant_smooth_model(args.smooth))


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="mode", required=True)
    test = sub.add_parser("test-set")
    test.add_argument("outdir")
    const = sub.add_parser("constant-set")
    const.add_argument("outdir")
    const.add_argument("--entrance", type=float, nargs=4, required=True)
    const.add_argument("--albedo", type=float, required=True)
    const.add_argument("--smooth", type=float, required=True)
    const.add_argument("--light-rect", type=int, nargs=4, default=None)
    args = parser.parse_args()
    os.makedirs(args.outdir, exist_ok=True)
    if args.mode == "test-set":
        write_test_set(args.outdir)
    else:
        write_constant_set(args.outdir, args)


if __name__ == "__main__":
    main()
