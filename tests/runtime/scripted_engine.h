// The engine created through initAeEngine, fed frame by frame. By default it
// runs on the scripted runtime, whose four models answer what a test scripts,
// run by run: programs that use it so are placed beside the scripted runtime
// (see CMakeLists.txt here), where the engine opens it as its libqdnn.so.
// Given a model directory, it loads that directory's files on whatever runtime
// sits beside the program (the host runtime in <builddir>/bin).
#ifndef XEPO_TEST_SCRIPTED_ENGINE_H
#define XEPO_TEST_SCRIPTED_ENGINE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "nv21_frames.h"
#include "scripted_runtime.h"
#include "xepo.h"
#include "xepo/ae_engine.h"

namespace scripted {

// Entrance answer with the scene confidence, high-key confidence and
// light-scene probability ([0] is unused by the engine).
std::vector<float> entrance(float confidence, float highKey = 0.0f, float lightScene = 0.0f);

// Light-segmentation answer whose cells in rows r0..r1 and columns c0..c1
// (inclusive, of the 56 x 56 grid) are light; an empty range gives no light cell.
std::vector<float> lightCells(int r0, int c0, int r1, int c1);

// An engine state record, with no model runners, whose step buffers (entrance
// outputs, smooth input and answer, light output, model input, RGB picture,
// histogram, thumbnail, both maps) are allocated and zero-filled.
std::unique_ptr<xepo::AeEngine> bareEngine();

class ScriptedEngine {
  public:
    // Without a directory: scripts the four models (entrance {0.1, 0.9, 0, 0},
    // albedo 0.3, no light cell, smooth 21.5, the smooth model keeping its
    // inputs). Either way creates the engine; the test fails when that does not
    // succeed.
    explicit ScriptedEngine(const std::string& modelDir = "");
    ~ScriptedEngine();
    ScriptedEngine(const ScriptedEngine&) = delete;
    ScriptedEngine& operator=(const ScriptedEngine&) = delete;

    xepo::AeEngine& state() { return *static_cast<xepo::AeEngine*>(engine); }
    ScriptedModel& entrance() { return model(0); }
    ScriptedModel& albedo() { return model(1); }
    ScriptedModel& lightSeg() { return model(2); }
    ScriptedModel& smooth() { return model(3); }

    // Lux 300, zoom 1, everything else 0.
    static AEParams params(float lux = 300.0f);
    // One frame through qiraAeProcess (or runAeEngine, see viaRunAeEngine) with
    // a gyro block of two samples 16.5 ms apart turning at `rate` about x, y
    // and z; the host map is all 1 before the call.
    _XEPO_RES_ frame(const Nv21Frame& f, const AEParams& params, const float rate[3] = nullptr,
                     int control = 2);
    // `count` frames alike.
    void frames(int count, const Nv21Frame& f, const AEParams& p = params(),
                const float rate[3] = nullptr);
    // Light cells (255) in the last frame's host map.
    int lightCells() const;

    void* engine = nullptr;
    bool viaRunAeEngine = false;  // feed frames through the plain-buffer entry instead
    XEPOSegMap mapRecord{};

  private:
    ScriptedModel& model(int index);
    ScriptedRuntime* rt = nullptr;
    void* paramHandle = nullptr;
    uint64_t clockNs = 100'000'000'000;  // the first block restarts the angle track
    std::vector<uint8_t> map = std::vector<uint8_t>(xepo::kSegMapBytes);
};

}  // namespace scripted

#endif  // XEPO_TEST_SCRIPTED_ENGINE_H
