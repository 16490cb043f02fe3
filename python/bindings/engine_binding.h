// The engine as Python holds it: one engine per process, opened from a model
// directory, fed frames from numpy arrays or image files, closed explicitly or
// when the object goes away.
#ifndef XEPO_PYTHON_ENGINE_BINDING_H
#define XEPO_PYTHON_ENGINE_BINDING_H

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine_handle.h"
#include "session_routes.h"
#include "xepo.h"

namespace xepo_python {

// What the engine answered on one frame or image.
struct FrameAnswer {
    float score = 0.0f;
    float confidence = 0.0f;
    std::vector<uint8_t> lightMap;      // 48 rows of 64 cells, 255 = light
    std::string route;                  // the route the engine took, from its log lines
    std::vector<std::string> messages;  // the engine's error lines during the call
};

// The records of one frame, already checked.
struct FrameRequest {
    uint8_t* yPlane = nullptr;
    uint8_t* uvPlane = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;
    float lux = 0.0f;
    float zoom = 1.0f;
    int32_t rotation = 0;
    bool flip = false;
    bool capture = false;
    bool hold = false;
    int32_t cameraType = 0;
    bool enableSeg = true;
    int control = 2;
    IMUDataBlock gyro{};
};

class Engine {
  public:
    explicit Engine(const std::string& models);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    void close();
    bool closed() const { return handle_ == nullptr; }
    const std::string& models() const { return models_; }

    FrameAnswer process(const FrameRequest& request);
    FrameAnswer image(const std::string& path, int control, float lux);

  private:
    void requireOpen() const;
    void startCall(int control);

    std::string models_;
    std::unique_ptr<EngineHandle> handle_;
    RouteTracker tracker_;
    std::vector<std::string> messages_;
};

// True while an Engine of this module holds the library's engine.
bool engineIsOpen();

void bindEngine(pybind11::module_& module);

}  // namespace xepo_python

#endif  // XEPO_PYTHON_ENGINE_BINDING_H
