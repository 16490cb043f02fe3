#include "engine_binding.h"

#include <android/log.h>

#include <cmath>
#include <cstring>
#include <filesystem>

#include "engine_log.h"
#include "errors.h"
#include "frame_arrays.h"
#include "xepo.h"

namespace py = pybind11;

namespace xepo_python {
namespace {

// The library keeps one engine per process; the module says so instead of
// handing a second caller the first caller's engine.
bool engineOpen = false;

constexpr int kMapWidth = 64;
constexpr int kMapHeight = 48;
constexpr int kMapBytes = kMapWidth * kMapHeight;

// Joins the engine's error lines into one message after `what`.
std::string withMessages(const std::string& what, const std::vector<std::string>& messages) {
    std::string text = what;
    for (const std::string& message : messages) {
        text += "\n  " + message;
    }
    return text;
}

// The message after the engine's "file:line function() " prefix, without its
// own line end.
std::string messageText(const char* message) {
    std::string text = message;
    const size_t at = text.find("() ");
    if (at != std::string::npos) {
        text = text.substr(at + 3);
    }
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

}  // namespace

bool engineIsOpen() {
    return engineOpen;
}

Engine::Engine(const std::string& models) : models_(models) {
    if (engineOpen) {
        throw EngineError(
            "an engine is already open in this process (the library holds one); close it first");
    }
    // Every engine line reaches the route tracker; error lines are kept for
    // the exception or the result of the call that caused them.
    captureEngineLog(true, [this](const char*, int priority, const char* message) {
        tracker_.observe(message);
        if (priority >= ANDROID_LOG_ERROR &&
            std::strstr(message, kEngineReleaseNotice) == nullptr) {
            messages_.push_back(messageText(message));
        }
    });
    auto handle = std::make_unique<EngineHandle>();
    std::string error;
    messages_.clear();
    if (!handle->open(models, error)) {
        captureEngineLog(false, nullptr);
        throw EngineError(withMessages(error, messages_));
    }
    handle_ = std::move(handle);
    engineOpen = true;
}

Engine::~Engine() {
    close();
}

void Engine::close() {
    if (handle_ == nullptr) {
        return;
    }
    handle_.reset();
    captureEngineLog(false, nullptr);
    engineOpen = false;
}

void Engine::requireOpen() const {
    if (handle_ == nullptr) {
        throw EngineClosedError();
    }
}

void Engine::startCall(int control) {
    messages_.clear();
    tracker_.startFrame(control);
}

FrameAnswer Engine::process(const FrameRequest& request) {
    requireOpen();
    VImage image{};
    image.yuv_format = kFrameFormatNv21;
    image.width = request.width;
    image.height = request.height;
    image.stride = request.stride;
    image.yPlane = request.yPlane;
    image.uvPlane = request.uvPlane;
    AEParams params{};
    params.rotation = request.rotation;
    params.scale = request.zoom;
    params.flip = request.flip;
    params.aec_lux = request.lux;
    params.isPhotoing = request.capture ? 1 : 0;
    params.holdFlag = request.hold ? 1 : 0;
    params.cameraType = request.cameraType;
    params.enable_seg = request.enableSeg ? 1 : 0;
    IMUDataBlock gyro = request.gyro;

    FrameAnswer answer;
    answer.lightMap.assign(kMapBytes, 0);
    XEPOSegMap map{0, 0, 0, answer.lightMap.data()};
    // A NaN left behind shows that the engine did not answer.
    _XEPO_RES_ result{NAN, NAN, &map};
    startCall(request.control);
    {
        py::gil_scoped_release unlocked;
        qiraAeProcess(handle_->get(), &image, &params, &result, request.control, &gyro);
    }
    if (std::isnan(result.result)) {
        throw EngineError(withMessages("the engine did not answer the frame", messages_));
    }
    answer.score = result.result;
    answer.confidence = result.confidence;
    answer.route = routeName(tracker_.route(result.confidence));
    answer.messages = messages_;
    return answer;
}

FrameAnswer Engine::image(const std::string& path, int control, float lux) {
    requireOpen();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        throw MissingFileError(path + ": no such image file");
    }
    FrameAnswer answer;
    answer.lightMap.assign(kMapBytes, 0);
    XEPOSegMap map{0, 0, 0, answer.lightMap.data()};
    _XEPO_RES_ result{NAN, NAN, &map};
    startCall(control);
    {
        py::gil_scoped_release unlocked;
        runAeEngineImage(handle_->get(), path.c_str(), &result, lux, control);
    }
    if (std::isnan(result.result)) {
        throw EngineError(withMessages(path + ": the engine could not read the image", messages_));
    }
    answer.score = result.result;
    answer.confidence = result.confidence;
    answer.route = "image";
    answer.messages = messages_;
    return answer;
}

void bindEngine(py::module_& module) {
    py::class_<FrameAnswer>(module, "Result", R"doc(
What the engine answered on one frame or image.

Attributes:
    score: the exposure target (18.0 neutral; mapped onto 11..44, raised by 4
        for high-key and light scenes, so up to 48.0 on frames and 52.0 on
        images). Controls 0 and 1 answer the models' own values instead.
    confidence: the engine's confidence (0.8, 0.82, 0.9 or 0.92 on the full
        pipeline).
    light_map: (48, 64) uint8 array, 255 where the engine found a light region.
    route: the route the engine took ("stable", "unstable_albedo", ...; see
        docs/session-format.md), read from its own log lines.
    messages: the engine's error lines during the call (a frame the engine
        answered with its fallback).
)doc")
        .def_readonly("score", &FrameAnswer::score)
        .def_readonly("confidence", &FrameAnswer::confidence)
        .def_property_readonly("light_map",
                               [](const FrameAnswer& answer) {
                                   py::array_t<uint8_t> map({kMapHeight, kMapWidth});
                                   std::memcpy(map.mutable_data(), answer.lightMap.data(),
                                               kMapBytes);
                                   return map;
                               })
        .def_readonly("route", &FrameAnswer::route)
        .def_readonly("messages", &FrameAnswer::messages)
        .def("__repr__", [](const FrameAnswer& answer) {
            return "<xepo.Result score=" + std::to_string(answer.score) +
                   " confidence=" + std::to_string(answer.confidence) + " route=" + answer.route +
                   ">";
        });

    py::class_<Engine>(module, "Engine", R"doc(
The XEPO engine, created from a directory of the four model files.

The library holds one engine per process: a second Engine raises
xepo.EngineError until the first is closed. Use it as a context manager, or
call close(); calls after close() raise xepo.EngineClosedError.

    with xepo.Engine(models="models/") as engine:
        result = engine.image("samples/rocket.jpg")
        print(result.score, result.confidence)
)doc")
        .def(py::init<const std::string&>(),
             py::arg("models") = std::string(XEPO_DEFAULT_MODEL_DIR),
             "Creates the engine from the model files in `models` (a directory). Raises "
             "xepo.EngineError with the engine's own lines when a model cannot be loaded.")
        .def("close", &Engine::close, "Releases the engine; closing twice is harmless.")
        .def_property_readonly("closed", &Engine::closed)
        .def_property_readonly("models", &Engine::models)
        .def(
            "__enter__", [](Engine& engine) -> Engine& { return engine; },
            py::return_value_policy::reference)
        .def("__exit__", [](Engine& engine, py::object, py::object, py::object) { engine.close(); })
        .def(
            "process",
            [](Engine& engine, py::object nv21, py::object y, py::object uv, py::object width,
               py::object height, py::object stride, float lux, float zoom, int rotation, bool flip,
               bool capture, bool hold, py::object gyro, int control, bool enableSeg,
               int cameraType) {
                FrameRequest request =
                    frameRequestFromArrays(nv21, y, uv, width, height, stride, gyro);
                request.lux = lux;
                request.zoom = zoom;
                request.rotation = rotation;
                request.flip = flip;
                request.capture = capture;
                request.hold = hold;
                request.control = control;
                request.enableSeg = enableSeg;
                request.cameraType = cameraType;
                return engine.process(request);
            },
            py::arg("nv21") = py::none(), py::kw_only(), py::arg("y") = py::none(),
            py::arg("uv") = py::none(), py::arg("width") = py::none(),
            py::arg("height") = py::none(), py::arg("stride") = py::none(), py::arg("lux") = 300.0f,
            py::arg("zoom") = 1.0f, py::arg("rotation") = 0, py::arg("flip") = false,
            py::arg("capture") = false, py::arg("hold") = false, py::arg("gyro") = py::none(),
            py::arg("control") = 2, py::arg("enable_seg") = true, py::arg("camera_type") = 0, R"doc(
Runs one camera frame through the engine and returns a Result.

The frame is NV21 (a full-resolution Y plane, then interleaved V/U rows at
half resolution): either `nv21`, one uint8 array of the whole frame (1-D with
width, height and optionally stride given, or 2-D of shape
(height + ceil(height/2), stride)), or the planes `y` (height, width) and
`uv` (ceil(height/2), 2*ceil(width/2)) as uint8 arrays whose rows may be
views into larger buffers with the same row step. No pixel is copied.

lux is the camera's lux index (larger = darker), zoom its zoom ratio,
rotation in degrees, capture/hold the still-capture and hold flags. gyro is
an (n, 4) array of (timestamp ns, x, y, z rad/s) rows, n <= 80, the samples
since the previous frame. control: -1 neutral, 0 entrance model only,
1 albedo model only, anything else the full pipeline.

Raises TypeError for a wrong dtype, ValueError for a wrong shape, size or
stride, xepo.EngineClosedError after close().
)doc")
        .def("image", &Engine::image, py::arg("path"), py::arg("control") = 2,
             py::arg("lux") = 300.0f, R"doc(
Runs the models on an image file (any format the engine's decoder reads) and
returns a Result; control 3 fills the light map. Raises FileNotFoundError for
a missing file and xepo.EngineError, with the engine's lines, when the engine
cannot read it.
)doc");
}

}  // namespace xepo_python
