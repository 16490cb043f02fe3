// The engine created through initAeEngine on the scripted runtime, whose four
// models answer what a test scripts, run by run. Programs that use it are
// placed beside the scripted runtime (see CMakeLists.txt here), where the
// engine opens it as its libqdnn.so.
#ifndef XEPO_TEST_SCRIPTED_ENGINE_H
#define XEPO_TEST_SCRIPTED_ENGINE_H

#include <cstdint>
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

class ScriptedEngine {
  public:
    // Scripts the four models (entrance {0.1, 0.9, 0, 0}, albedo 0.3, no light
    // cell, smooth 21.5, the smooth model keeping its inputs) and creates the
    // engine; the test fails when that does not succeed.
    ScriptedEngine();
    ~ScriptedEngine();
    ScriptedEngine(const ScriptedEngine&) = delete;
    ScriptedEngine& operator=(const ScriptedEngine&) = delete;

    xepo::AeEngine& state() { return *static_cast<xepo::AeEngine*>(engine); }
    ScriptedRuntime& runtime() { return *rt; }
    ScriptedModel& entrance();
    ScriptedModel& albedo();
    ScriptedModel& lightSeg();
    ScriptedModel& smooth();

    // One frame through qiraAeProcess (control 2) with a gyro block of two
    // samples 16.5 ms apart turning at `rate` about x, y and z.
    _XEPO_RES_ frame(const Nv21Frame& f, const AEParams& params, const float rate[3] = nullptr);
    // Lux 300, zoom 1, everything else 0.
    static AEParams params(float lux = 300.0f);

    void* engine = nullptr;

  private:
    ScriptedRuntime* rt = nullptr;
    void* paramHandle = nullptr;
    uint64_t clockNs = 100'000'000'000;
    std::vector<uint8_t> map = std::vector<uint8_t>(xepo::kSegMapBytes);
    XEPOSegMap mapRecord{};
};

}  // namespace scripted

#endif  // XEPO_TEST_SCRIPTED_ENGINE_H
