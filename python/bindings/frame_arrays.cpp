#include "frame_arrays.h"

#include <algorithm>
#include <string>

#include "xepo.h"

namespace py = pybind11;

namespace xepo_python {
namespace {

// Columns of a gyro row: timestamp in nanoseconds, then x, y, z in rad/s.
constexpr int64_t kGyroColumns = 4;

std::string typeName(const py::object& value) {
    return py::str(py::type::of(value).attr("__name__")).cast<std::string>();
}

py::array uint8Array(const py::object& value, const std::string& name) {
    if (!py::isinstance<py::array>(value)) {
        throw py::type_error(name + " must be a numpy uint8 array, not " + typeName(value));
    }
    py::array array = value.cast<py::array>();
    if (!array.dtype().is(py::dtype::of<uint8_t>())) {
        throw py::type_error(name + " must have dtype uint8, not " +
                             py::str(array.dtype()).cast<std::string>());
    }
    return array;
}

// A frame dimension from a keyword: none gives `fallback` (0 = not known).
int64_t dimension(const py::object& value, const std::string& name, int64_t fallback) {
    if (value.is_none()) {
        return fallback;
    }
    if (!py::isinstance<py::int_>(value)) {
        throw py::type_error(name + " must be an int, not " + typeName(value));
    }
    const int64_t number = value.cast<int64_t>();
    if (number < 1 || number > kMaxFrameSide) {
        throw py::value_error(name + " " + std::to_string(number) + " is outside 1.." +
                              std::to_string(kMaxFrameSide));
    }
    return number;
}

// The rows of a 2-D plane: one byte per element, rows a positive step apart.
struct Rows {
    uint8_t* data;
    int64_t count;
    int64_t width;  // bytes of each row that belong to the array
    int64_t step;
};

Rows rowsOf(const py::array& array, const std::string& name) {
    if (array.ndim() != 2) {
        throw py::value_error(name + " must be 2-D (rows, bytes), not " +
                              std::to_string(array.ndim()) + "-D");
    }
    if (array.strides(1) != 1 || array.strides(0) < array.shape(1)) {
        throw py::value_error(name +
                              " rows must be contiguous bytes at a positive step; take a copy "
                              "with numpy.ascontiguousarray");
    }
    return {static_cast<uint8_t*>(const_cast<void*>(array.data())), array.shape(0), array.shape(1),
            array.strides(0)};
}

int64_t halfUp(int64_t value) {
    return (value + 1) / 2;
}

void checkStride(int64_t stride, int64_t width) {
    if (stride < width) {
        throw py::value_error("stride " + std::to_string(stride) + " is shorter than the width " +
                              std::to_string(width));
    }
    if (stride > kMaxFrameSide * 2) {
        throw py::value_error("stride " + std::to_string(stride) + " is larger than " +
                              std::to_string(kMaxFrameSide * 2));
    }
}

// Bytes each chroma row must hold: the V/U pairs, but never more than a row.
int64_t chromaRowBytes(int64_t width, int64_t stride) {
    return std::min(2 * halfUp(width), stride);
}

void fromWholeFrame(const py::array& nv21, const py::object& widthArg, const py::object& heightArg,
                    const py::object& strideArg, FrameRequest& request) {
    int64_t width = dimension(widthArg, "width", 0);
    int64_t height = dimension(heightArg, "height", 0);
    int64_t stride = 0;
    uint8_t* data = static_cast<uint8_t*>(const_cast<void*>(nv21.data()));
    if (nv21.ndim() == 1) {
        if (nv21.strides(0) != 1) {
            throw py::value_error(
                "nv21 must be contiguous; take a copy with numpy.ascontiguousarray");
        }
        if (width == 0 || height == 0) {
            throw py::value_error("a 1-D nv21 array needs width and height");
        }
        stride = dimension(strideArg, "stride", width);
        checkStride(stride, width);
        const int64_t needed =
            stride * (height + halfUp(height) - 1) + chromaRowBytes(width, stride);
        if (nv21.shape(0) < needed) {
            throw py::value_error("nv21 holds " + std::to_string(nv21.shape(0)) + " bytes; a " +
                                  std::to_string(width) + "x" + std::to_string(height) +
                                  " frame with stride " + std::to_string(stride) + " needs " +
                                  std::to_string(needed));
        }
    } else {
        const Rows rows = rowsOf(nv21, "nv21");
        if (height == 0) {
            if (rows.count % 3 != 0) {
                throw py::value_error("nv21 has " + std::to_string(rows.count) +
                                      " rows, not height * 3 / 2; give height");
            }
            height = rows.count / 3 * 2;
        }
        width = width == 0 ? rows.width : width;
        if (rows.count < height + halfUp(height) || rows.width < width) {
            throw py::value_error("nv21 of shape (" + std::to_string(rows.count) + ", " +
                                  std::to_string(rows.width) + ") is too small for a " +
                                  std::to_string(width) + "x" + std::to_string(height) + " frame");
        }
        stride = rows.step;
        if (!strideArg.is_none() && dimension(strideArg, "stride", 0) != stride) {
            throw py::value_error("stride differs from the row step of the nv21 array");
        }
        checkStride(stride, width);
        data = rows.data;
    }
    request.yPlane = data;
    request.uvPlane = data + stride * height;
    request.width = static_cast<int32_t>(width);
    request.height = static_cast<int32_t>(height);
    request.stride = static_cast<int32_t>(stride);
}

void fromPlanes(const py::array& yArray, const py::array& uvArray, const py::object& widthArg,
                const py::object& heightArg, const py::object& strideArg, FrameRequest& request) {
    const Rows y = rowsOf(yArray, "y");
    const Rows uv = rowsOf(uvArray, "uv");
    const int64_t width = dimension(widthArg, "width", y.width);
    const int64_t height = dimension(heightArg, "height", y.count);
    if (y.step != uv.step) {
        throw py::value_error(
            "y and uv rows must be the same step apart (the frame has one "
            "stride): " +
            std::to_string(y.step) + " and " + std::to_string(uv.step));
    }
    if (!strideArg.is_none() && dimension(strideArg, "stride", 0) != y.step) {
        throw py::value_error("stride differs from the row step of the planes");
    }
    checkStride(y.step, width);
    if (y.count < height || y.width < width) {
        throw py::value_error("y of shape (" + std::to_string(y.count) + ", " +
                              std::to_string(y.width) + ") is too small for a " +
                              std::to_string(width) + "x" + std::to_string(height) + " frame");
    }
    if (uv.count < halfUp(height) || uv.width < chromaRowBytes(width, y.step)) {
        throw py::value_error("uv of shape (" + std::to_string(uv.count) + ", " +
                              std::to_string(uv.width) + ") is too small; a " +
                              std::to_string(width) + "x" + std::to_string(height) +
                              " frame needs (" + std::to_string(halfUp(height)) + ", " +
                              std::to_string(2 * halfUp(width)) + ")");
    }
    request.yPlane = y.data;
    request.uvPlane = uv.data;
    request.width = static_cast<int32_t>(width);
    request.height = static_cast<int32_t>(height);
    request.stride = static_cast<int32_t>(y.step);
}

}  // namespace

IMUDataBlock gyroBlockFromArray(const py::object& gyro) {
    IMUDataBlock block{};
    if (gyro.is_none()) {
        return block;
    }
    if (!py::isinstance<py::array>(gyro) && !py::isinstance<py::sequence>(gyro)) {
        throw py::type_error("gyro must be an (n, 4) array, not " + typeName(gyro));
    }
    const auto rows = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(gyro);
    if (!rows) {
        throw py::type_error("gyro must hold numbers");
    }
    if (rows.ndim() != 2 || rows.shape(1) != kGyroColumns) {
        throw py::value_error("gyro must have shape (n, 4): timestamp ns, x, y, z");
    }
    if (rows.shape(0) > kImuMaxSamples) {
        throw py::value_error("gyro has " + std::to_string(rows.shape(0)) + " samples, at most " +
                              std::to_string(kImuMaxSamples));
    }
    const auto view = rows.unchecked<2>();
    for (py::ssize_t i = 0; i < rows.shape(0); ++i) {
        const double time = view(i, 0);
        if (!(time >= 0.0 && time < 1.8e19)) {
            throw py::value_error("gyro timestamp " + std::to_string(time) +
                                  " is not a count of nanoseconds");
        }
        block.timestamp[i] = static_cast<uint64_t>(time);
        block.gyroX[i] = static_cast<float>(view(i, 1));
        block.gyroY[i] = static_cast<float>(view(i, 2));
        block.gyroZ[i] = static_cast<float>(view(i, 3));
    }
    block.count = static_cast<int32_t>(rows.shape(0));
    return block;
}

FrameRequest frameRequestFromArrays(const py::object& nv21, const py::object& y,
                                    const py::object& uv, const py::object& width,
                                    const py::object& height, const py::object& stride,
                                    const py::object& gyro) {
    FrameRequest request;
    const bool whole = !nv21.is_none();
    const bool planes = !y.is_none() || !uv.is_none();
    if (whole == planes) {
        throw py::value_error("give either nv21, or both y and uv");
    }
    if (whole) {
        fromWholeFrame(uint8Array(nv21, "nv21"), width, height, stride, request);
    } else {
        if (y.is_none() || uv.is_none()) {
            throw py::value_error("give both y and uv");
        }
        fromPlanes(uint8Array(y, "y"), uint8Array(uv, "uv"), width, height, stride, request);
    }
    request.gyro = gyroBlockFromArray(gyro);
    return request;
}

}  // namespace xepo_python
