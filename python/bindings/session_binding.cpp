#include "session_binding.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cstring>
#include <filesystem>
#include <memory>

#include "errors.h"
#include "session_format.h"

namespace py = pybind11;

namespace xepo_python {
namespace {

// The gyro block as an (n, 4) array of (timestamp ns, x, y, z) rows.
py::array_t<double> gyroRows(const IMUDataBlock& block) {
    const py::ssize_t count = block.count > 0 ? block.count : 0;
    py::array_t<double> rows({count, py::ssize_t{4}});
    auto view = rows.mutable_unchecked<2>();
    for (py::ssize_t i = 0; i < count; ++i) {
        view(i, 0) = static_cast<double>(block.timestamp[i]);
        view(i, 1) = block.gyroX[i];
        view(i, 2) = block.gyroY[i];
        view(i, 3) = block.gyroZ[i];
    }
    return rows;
}

}  // namespace

void bindSessions(py::module_& module) {
    py::class_<SessionFrame>(module, "SessionFrame", R"doc(
One recorded frame: the records the host handed to the engine and the name of
its pixel file. `gyro` is an (n, 4) array of (timestamp ns, x, y, z) rows.
)doc")
        .def_readonly("frame_file", &SessionFrame::frameFile)
        .def_readonly("width", &SessionFrame::width)
        .def_readonly("height", &SessionFrame::height)
        .def_readonly("stride", &SessionFrame::stride)
        .def_readonly("rotation", &SessionFrame::rotation)
        .def_readonly("zoom", &SessionFrame::scale)
        .def_readonly("flip", &SessionFrame::flip)
        .def_readonly("lux", &SessionFrame::aec_lux)
        .def_property_readonly("capture",
                               [](const SessionFrame& frame) { return frame.isPhotoing != 0; })
        .def_property_readonly("hold",
                               [](const SessionFrame& frame) { return frame.holdFlag != 0; })
        .def_readonly("camera_type", &SessionFrame::cameraType)
        .def_property_readonly("enable_seg",
                               [](const SessionFrame& frame) { return frame.enable_seg != 0; })
        .def_readonly("control", &SessionFrame::control)
        .def_property_readonly("gyro",
                               [](const SessionFrame& frame) { return gyroRows(frame.gyro); });

    py::class_<Session, std::shared_ptr<Session>>(module, "Session", R"doc(
A recorded session: its directory and its frames in order. pixels(i) reads
frame i's NV21 bytes as a 1-D uint8 array.
)doc")
        .def_readonly("directory", &Session::directory)
        .def_readonly("frames", &Session::frames)
        .def("__len__", [](const Session& session) { return session.frames.size(); })
        .def(
            "pixels",
            [](const Session& session, py::ssize_t index) {
                const auto count = static_cast<py::ssize_t>(session.frames.size());
                if (index < 0) {
                    index += count;
                }
                if (index < 0 || index >= count) {
                    throw py::index_error("frame " + std::to_string(index) + " is outside 0.." +
                                          std::to_string(count - 1));
                }
                std::vector<uint8_t> bytes;
                try {
                    loadFramePixels(session, session.frames[static_cast<size_t>(index)], bytes);
                } catch (const SessionError& failure) {
                    throw EngineError(failure.what());
                }
                py::array_t<uint8_t> pixels(static_cast<py::ssize_t>(bytes.size()));
                std::memcpy(pixels.mutable_data(), bytes.data(), bytes.size());
                return pixels;
            },
            py::arg("index"));

    module.def(
        "read_session",
        [](const std::string& directory) {
            std::error_code ec;
            if (!std::filesystem::exists(directory, ec)) {
                throw MissingFileError(directory + ": no such session directory");
            }
            try {
                return std::make_shared<Session>(readSession(directory));
            } catch (const SessionError& failure) {
                throw py::value_error(failure.what());
            }
        },
        py::arg("directory"), R"doc(
Reads a session directory (its "session.jsonl" index and the size of every
frame file). Raises FileNotFoundError for a missing directory and ValueError,
naming the file and line, for a malformed session.
)doc");
}

}  // namespace xepo_python
