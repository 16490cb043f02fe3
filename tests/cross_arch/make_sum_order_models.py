#!/usr/bin/python3
"""make_sum_order_models.py OUTDIR: writes the models of the summation-order test,
x (1,4) -> y (1,2): gemm_cancel.onnx as Gemm(x, W^T) + b, matmul_cancel.onnx as MatMul + Add.
"""
import os
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

# Row 0 cancels: 1e8 + 1 - 1e8 + 1 = 2 exactly, but float32 loses the 1s next
# to 1e8 (its spacing there is 8), so a float32 sum in any order gives 0 or 1,
# while the exact sum is representable.
WEIGHTS = np.array([[1.0e8, 1.0, -1.0e8, 1.0],
                    [0.25, -0.5, 0.125, 2.0]], dtype=np.float32)
BIAS = np.array([0.5, -3.0], dtype=np.float32)


def save(outdir, name, nodes, weights):
    graph = helper.make_graph(
        nodes, name,
        [helper.make_tensor_value_info("x", TensorProto.FLOAT, [1, 4])],
        [helper.make_tensor_value_info("y", TensorProto.FLOAT, [1, 2])],
        [weights, numpy_helper.from_array(BIAS, "b")])
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", 13)])
    model.ir_version = 7
    onnx.checker.check_model(model)
    onnx.save(model, os.path.join(outdir, name + ".onnx"))


def main(outdir):
    os.makedirs(outdir, exist_ok=True)
    save(outdir, "gemm_cancel", [helper.make_node("Gemm", ["x", "W", "b"], ["y"], transB=1)],
         numpy_helper.from_array(WEIGHTS, "W"))
    save(outdir, "matmul_cancel", [helper.make_node("MatMul", ["x", "Wt"], ["p"]),
                                   helper.make_node("Add", ["p", "b"], ["y"])],
         numpy_helper.from_array(WEIGHTS.T.copy(), "Wt"))


if __name__ == "__main__":
    main(sys.argv[1])
