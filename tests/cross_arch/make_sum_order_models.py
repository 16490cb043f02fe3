#!/usr/bin/python3
"""Writes the models of the summation-order test into a directory.

  make_sum_order_models.py OUTDIR

gemm_cancel.onnx: x (1,4) -> Gemm(x, W^T) + b -> y (1,2), with weights whose
products cancel: in float32 the result depends on the order of the sum, while
the exact sum is representable. matmul_cancel.onnx: the same as MatMul + Add.
"""
import os
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

# Row 0 cancels: 1e8 + 1 - 1e8 + 1 = 2 exactly, but float32 loses the 1s next
# to 1e8 (its spacing there is 8), so a float32 sum in any order gives 0 or 1.
WEIGHTS = np.array([[1.0e8, 1.0, -1.0e8, 1.0],
                    [0.25, -0.5, 0.125, 2.0]], dtype=np.float32)
BIAS = np.array([0.5, -3.0], dtype=np.float32)


def model(nodes, initializers, name):
    graph = helper.make_graph(
        nodes, name,
        [helper.make_tensor_value_info("x", TensorProto.FLOAT, [1, 4])],
        [helper.make_tensor_value_info("y", TensorProto.FLOAT, [1, 2])],
        initializers)
    result = helper.make_model(graph, opset_imports=[helper.make_opsetid("", 13)])
    result.ir_version = 7
    onnx.checker.check_model(result)
    return result


def main():
    outdir = sys.argv[1]
    os.makedirs(outdir, exist_ok=True)
    gemm = model([helper.make_node("Gemm", ["x", "W", "b"], ["y"], transB=1)],
                 [numpy_helper.from_array(WEIGHTS, "W"), numpy_helper.from_array(BIAS, "b")],
                 "gemm_cancel")
    onnx.save(gemm, os.path.join(outdir, "gemm_cancel.onnx"))
    matmul = model([helper.make_node("MatMul", ["x", "Wt"], ["p"]),
                    helper.make_node("Add", ["p", "b"], ["y"])],
                   [numpy_helper.from_array(WEIGHTS.T.copy(), "Wt"),
                    numpy_helper.from_array(BIAS, "b")],
                   "matmul_cancel")
    onnx.save(matmul, os.path.join(outdir, "matmul_cancel.onnx"))


if __name__ == "__main__":
    main()
