// Checks the numpy arrays of one frame and describes them for the engine
// without copying a pixel.
#ifndef XEPO_PYTHON_FRAME_ARRAYS_H
#define XEPO_PYTHON_FRAME_ARRAYS_H

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "engine_binding.h"
#include "xepo_contract.h"

namespace xepo_python {

// Largest frame side the engine takes (it refuses larger frames itself; the
// module refuses them before any size arithmetic).
constexpr int64_t kMaxFrameSide = 16384;

// The frame from either `nv21` or the `y`/`uv` planes, and the gyro block.
// Throws TypeError for a wrong dtype and ValueError for a wrong shape, size,
// stride or sample count. Arrays must outlive the engine call.
FrameRequest frameRequestFromArrays(const pybind11::object& nv21, const pybind11::object& y,
                                    const pybind11::object& uv, const pybind11::object& width,
                                    const pybind11::object& height, const pybind11::object& stride,
                                    const pybind11::object& gyro);

// The gyro block from an (n, 4) array of (timestamp ns, x, y, z) rows.
IMUDataBlock gyroBlockFromArray(const pybind11::object& gyro);

}  // namespace xepo_python

#endif  // XEPO_PYTHON_FRAME_ARRAYS_H
