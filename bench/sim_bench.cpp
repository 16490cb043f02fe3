// The closed-loop simulation's camera: one 640 x 480 frame rendered from a
// photograph (exposure, clipping, sRGB encoding) and converted to NV21, as the
// loop does for every frame. With the camera at rest the sampled window is
// kept from the frame before; with a shaking camera every frame samples it anew.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench_support.h"
#include "closed_loop_camera.h"
#include "closed_loop_scene.h"
#include "session_frames.h"
#include "session_motion.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
// Poses of the shaking camera, cycled.
constexpr int kShakePoses = 64;
// The exposure changes a little every frame, as in a loop that settles.
constexpr double kStartEv = -1.0;
constexpr double kEvStep = 0.01;

struct BenchScene {
    SourcePhoto photo;
    Scene scene;
    WindowGeometry geometry;
};

const BenchScene& rocket() {
    static const BenchScene scene = [] {
        BenchScene s;
        std::string error;
        loadSourcePhoto(bench::samplePath("rocket.jpg"), s.photo, error);
        s.scene = makeScene(s.photo, kDefaultHighlightBoost);
        s.geometry = windowGeometry(s.photo, kWidth, kHeight);
        return s;
    }();
    return scene;
}

void renderFrames(benchmark::State& state, bool shaking) {
    const BenchScene& s = rocket();
    if (s.photo.rgb.empty()) {
        state.SkipWithError("samples/rocket.jpg cannot be decoded");
        return;
    }
    const std::vector<CameraPose> poses =
        planMotion(shaking ? MotionKind::Shake : MotionKind::Still, kShakePoses, s.geometry.maxYaw,
                   s.geometry.maxPitch, 1);
    SimCamera camera(s.scene, kWidth, kHeight, 0.0, 1);
    CameraFrame frame;
    int index = 0;
    for (auto _ : state) {
        const CameraPose& pose = poses[static_cast<size_t>(index % kShakePoses)];
        const double ev = kStartEv + kEvStep * (index % kShakePoses);
        camera.render(cropWindow(s.photo, s.geometry, pose.yaw, pose.pitch, 1.0), ev, frame);
        benchmark::DoNotOptimize(frame.nv21.data());
        ++index;
    }
    state.SetLabel(shaking ? "shake: window sampled every frame" : "still: window kept");
}
void BM_SimFrameAtRest(benchmark::State& state) {
    renderFrames(state, false);
}
void BM_SimFrameShaking(benchmark::State& state) {
    renderFrames(state, true);
}
BENCHMARK(BM_SimFrameAtRest)->Name("sim/frame_at_rest/640x480")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SimFrameShaking)->Name("sim/frame_shaking/640x480")->Unit(benchmark::kMicrosecond);

// The conversion alone, for comparison with the whole frame.
void BM_SimRgbToNv21(benchmark::State& state) {
    std::vector<uint8_t> rgb(static_cast<size_t>(kWidth) * kHeight * 3);
    for (size_t i = 0; i < rgb.size(); ++i) {
        rgb[i] = static_cast<uint8_t>(i * 7);
    }
    std::vector<uint8_t> nv21;
    for (auto _ : state) {
        rgbToNv21(rgb.data(), kWidth, kHeight, nv21);
        benchmark::DoNotOptimize(nv21.data());
    }
}
BENCHMARK(BM_SimRgbToNv21)->Name("sim/rgb_to_nv21/640x480")->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
