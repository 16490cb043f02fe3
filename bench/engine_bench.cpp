// Whole-engine benchmarks: the frame call (qiraAeProcess, full pipeline) over
// camera-like frame sequences at three sizes, and the image-file entry
// (runAeEngineImage) per sample photograph. Beside the host runtime, also one
// run of each model file of the default set (models/) and of the formula
// baseline (tools/models/formula/), as the engine runs them.
//
// The program is built twice: beside the instant runtime, whose models answer
// at once (the engine's own cost), and beside the host runtime with the default
// models (the cost of a whole frame). BENCH_RUNTIME names which one it is.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "bench_support.h"
#include "qdnn_runner/qdnn_runner.h"
#include "xepo.h"

// A counting allocator: every operator new of the process (the engine and the
// image-operator library included) adds one, so a benchmark can tell how many
// allocations a frame makes once the engine has warmed up.
namespace {
std::atomic<int64_t> allocations{0};

void* countedAllocation(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}

void* countedAlignedAllocation(std::size_t size, std::align_val_t alignment) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    const std::size_t align = static_cast<std::size_t>(alignment);
    const std::size_t rounded = (size == 0 ? 1 : size + align - 1) / align * align;
    if (void* p = std::aligned_alloc(align, rounded)) {
        return p;
    }
    throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) {
    return countedAllocation(size);
}
void* operator new[](std::size_t size) {
    return countedAllocation(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    return countedAlignedAllocation(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return countedAlignedAllocation(size, alignment);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}

namespace {

using bench::FrameSize;

// Frame interval of the gyro blocks: 30 frames per second.
constexpr uint64_t kFrameNs = 33'000'000;
// Gyro rates of a hand-held camera: a still one shows only sensor noise, a
// moving one turns well past the stillness limit within a frame.
constexpr float kStillRate = 0.01f;
constexpr float kMovingRate = 1.0f;
constexpr float kBaseLux = 300.0f;
// Frames run before measuring, so that every scenario has left the engine's
// start-up frames behind.
constexpr int kWarmupFrames = 60;
// Frames of the untimed route census (a multiple of the mixed period).
constexpr int kCensusFrames = 120;

enum class Scenario { Steady, Pan, Cuts, Mixed };

const char* scenarioName(Scenario scenario) {
    switch (scenario) {
        case Scenario::Steady:
            return "steady";
        case Scenario::Pan:
            return "pan";
        case Scenario::Cuts:
            return "cuts";
        case Scenario::Mixed:
            return "mixed";
    }
    return "?";
}

// What the camera shows on frame i of a scenario.
struct FrameStep {
    int photo;
    int offsetX;
    int offsetY;
    bool moving;
    float lux;
};

// Pan margin of the canvases: a sixteenth of the frame width.
int panMargin(const FrameSize& size) {
    return (size.width / 16) & ~1;
}

// Offset of a pan that sweeps the margin back and forth in ten frames.
int panOffset(int64_t i, int margin) {
    const int step = std::max(2, (margin / 10) & ~1);
    const int64_t travel = (i * step) % (2 * static_cast<int64_t>(margin));
    return static_cast<int>(travel <= margin ? travel : 2 * margin - travel);
}

// Steady: one scene, still camera, constant lux (the long-stable route).
// Pan: the camera sweeps across one scene, the lux wobbles below one unit.
// Cuts: a different scene every frame, moving camera, lux alternating by 10.
// Mixed: 30 still frames on a scene, then 10 frames panning to the next one
// with the lux moving, and so on through the four photos.
FrameStep stepOf(Scenario scenario, int64_t i, int margin) {
    const int centre = margin / 2;
    switch (scenario) {
        case Scenario::Steady:
            return {0, centre, centre, false, kBaseLux};
        case Scenario::Pan:
            return {0, panOffset(i, margin), centre, true, kBaseLux + (i % 2 == 0 ? 0.0f : 0.6f)};
        case Scenario::Cuts:
            return {static_cast<int>(i % 4), centre, centre, true,
                    kBaseLux + (i % 2 == 0 ? 0.0f : 10.0f)};
        case Scenario::Mixed: {
            constexpr int kPeriod = 40;
            constexpr int kMovingFrames = 10;
            const int phase = static_cast<int>(i % kPeriod);
            const int scene = static_cast<int>((i / kPeriod) % 4);
            if (phase < kMovingFrames) {
                return {scene, panOffset(phase, margin), centre, true,
                        kBaseLux + 4.0f * static_cast<float>(phase)};
            }
            return {scene, centre, centre, false, kBaseLux + 4.0f * kMovingFrames};
        }
    }
    return {0, 0, 0, false, kBaseLux};
}

std::string modelDir() {
    return std::string(XEPO_SOURCE_DIR) + "/models/";
}

// One engine, created from the default model file names, fed frame by frame.
class EngineSession {
  public:
    EngineSession() {
        params = CreateParamHandle();
        const std::string dir = modelDir();
        for (int key : {kAeKeyEntrance, kAeKeyAlbedo, kAeKeyLightSeg, kAeKeySmooth}) {
            AeSetParam(params, key, dir.c_str());
        }
        engine = initAeEngine(params);
    }
    ~EngineSession() {
        releaseAeEngine(&engine);
        releaseParamHandle(&params);
    }
    EngineSession(const EngineSession&) = delete;
    EngineSession& operator=(const EngineSession&) = delete;

    bool ready() const { return engine != nullptr; }
    void* handle() const { return engine; }

    _XEPO_RES_ frame(const VImage& frame, const FrameStep& step) {
        VImage image = frame;
        AEParams p{};
        p.scale = 1.0f;
        p.aec_lux = step.lux;
        p.enable_seg = 1;
        IMUDataBlock imu{};
        imu.count = 2;
        for (int i = 0; i < imu.count; ++i) {
            clockNs += kFrameNs / 2;
            imu.timestamp[i] = clockNs;
            imu.gyroX[i] = step.moving ? kMovingRate : kStillRate;
        }
        _XEPO_RES_ result{0.0f, 0.0f, &mapRecord};
        qiraAeProcess(engine, &image, &p, &result, 2, &imu);
        return result;
    }

    XEPOSegMap mapRecord{};

  private:
    void* params = nullptr;
    void* engine = nullptr;
    std::vector<uint8_t> map = std::vector<uint8_t>(64 * 48);
    uint64_t clockNs = 100'000'000'000;
};

// Which route the frames of a scenario take, from the engine's debug lines:
// "scene is stable" marks the stable-scene handler, "entrance model
// this_result" the unstable handler running the models; a full-pipeline frame
// with neither kept or damped the last score without models.
struct RouteShares {
    double stable = 0.0;
    double models = 0.0;
    double keep = 0.0;
    double albedoRuns = 0.0;  // albedo model runs per frame
    double smoothRuns = 0.0;  // smooth model runs per frame
    int64_t errors = 0;
    std::string firstError;
};

enum Watched : size_t { kFullFrame, kStable, kEntrance, kAlbedo, kSmooth, kWatchedCount };

RouteShares takeCensus(Scenario scenario, const FrameSize& size) {
    RouteShares shares;
    EngineSession session;
    if (!session.ready()) {
        return shares;
    }
    const int margin = panMargin(size);
    for (int64_t i = 0; i < kWarmupFrames; ++i) {
        const FrameStep step = stepOf(scenario, i, margin);
        session.frame(bench::canvasFor(step.photo, size.width, size.height, margin)
                          .frame(step.offsetX, step.offsetY),
                      step);
    }
    bench::LogTally tally({"yuv_format:", "scene is stable", "entrance model this_result",
                           "ae model this_result", "xepo smooth result"},
                          true);
    int64_t stable = 0;
    int64_t models = 0;
    int64_t keep = 0;
    for (int64_t i = kWarmupFrames; i < kWarmupFrames + kCensusFrames; ++i) {
        const FrameStep step = stepOf(scenario, i, margin);
        const int64_t stableBefore = tally.count(kStable);
        const int64_t entranceBefore = tally.count(kEntrance);
        session.frame(bench::canvasFor(step.photo, size.width, size.height, margin)
                          .frame(step.offsetX, step.offsetY),
                      step);
        if (tally.count(kStable) > stableBefore) {
            ++stable;
        } else if (tally.count(kEntrance) > entranceBefore) {
            ++models;
        } else {
            ++keep;
        }
    }
    const double frames = static_cast<double>(tally.count(kFullFrame));
    if (frames > 0) {
        shares.stable = static_cast<double>(stable) / frames;
        shares.models = static_cast<double>(models) / frames;
        shares.keep = static_cast<double>(keep) / frames;
        shares.albedoRuns = static_cast<double>(tally.count(kAlbedo)) / frames;
        shares.smoothRuns = static_cast<double>(tally.count(kSmooth)) / frames;
    }
    shares.errors = tally.errors();
    shares.firstError = tally.firstError();
    return shares;
}

// The census of a scenario is taken once per process.
const RouteShares& censusOf(Scenario scenario, const FrameSize& size) {
    static std::map<std::string, RouteShares> taken;
    const std::string key = std::string(scenarioName(scenario)) + std::to_string(size.width);
    auto found = taken.find(key);
    if (found == taken.end()) {
        found = taken.emplace(key, takeCensus(scenario, size)).first;
    }
    return found->second;
}

std::string routeLabel(const RouteShares& shares) {
    char text[160];
    std::snprintf(text, sizeof text, "routes: stable %.0f%% models %.0f%% keep %.0f%%",
                  100.0 * shares.stable, 100.0 * shares.models, 100.0 * shares.keep);
    return text;
}

void frameBenchmark(benchmark::State& state, Scenario scenario, FrameSize size) {
    const int margin = panMargin(size);
    if (bench::canvasFor(0, size.width, size.height, margin).empty()) {
        state.SkipWithError("sample photos could not be read");
        return;
    }
    const RouteShares& shares = censusOf(scenario, size);

    EngineSession session;
    if (!session.ready()) {
        state.SkipWithError("engine not created (runtime or models missing)");
        return;
    }
    int64_t i = 0;
    for (; i < kWarmupFrames; ++i) {
        const FrameStep step = stepOf(scenario, i, margin);
        session.frame(bench::canvasFor(step.photo, size.width, size.height, margin)
                          .frame(step.offsetX, step.offsetY),
                      step);
    }
    bench::LogTally errors({}, false);
    _XEPO_RES_ last{};
    const int64_t allocationsBefore = allocations.load();
    for (auto _ : state) {
        const FrameStep step = stepOf(scenario, i++, margin);
        last = session.frame(bench::canvasFor(step.photo, size.width, size.height, margin)
                                 .frame(step.offsetX, step.offsetY),
                             step);
        benchmark::ClobberMemory();
    }
    // Allocations per frame after the warm-up frames (operator new calls).
    state.counters["allocations_per_frame"] =
        static_cast<double>(allocations.load() - allocationsBefore) /
        static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
    state.counters["score"] = last.result;
    state.SetLabel(routeLabel(shares));
    state.counters["route_stable"] = shares.stable;
    state.counters["route_models"] = shares.models;
    state.counters["route_keep"] = shares.keep;
    state.counters["albedo_runs"] = shares.albedoRuns;
    state.counters["smooth_runs"] = shares.smoothRuns;
    state.counters["errors"] = static_cast<double>(errors.errors() + shares.errors);
    state.counters["pixels"] = static_cast<double>(size.width) * size.height;
    if (errors.errors() + shares.errors > 0) {
        std::fprintf(stderr, "engine error line: %s\n",
                     errors.errors() > 0 ? errors.firstError().c_str() : shares.firstError.c_str());
    }
}

void imageBenchmark(benchmark::State& state, int photo) {
    EngineSession session;
    if (!session.ready()) {
        state.SkipWithError("engine not created (runtime or models missing)");
        return;
    }
    const std::string path = bench::samplePath(bench::kSamplePhotos[photo]);
    std::vector<uint8_t> map(64 * 48);
    XEPOSegMap mapRecord{0, 0, 0, map.data()};
    bench::LogTally errors({}, false);
    float score = 0.0f;
    for (auto _ : state) {
        _XEPO_RES_ result{0.0f, 0.0f, &mapRecord};
        runAeEngineImage(session.handle(), path.c_str(), &result, kBaseLux, 2);
        // The call is opaque to the compiler; the clobber keeps it from
        // assuming anything about the record between iterations.
        benchmark::ClobberMemory();
        score = result.result;
    }
    state.counters["score"] = score;
    state.counters["errors"] = static_cast<double>(errors.errors());
    if (errors.errors() > 0) {
        std::fprintf(stderr, "engine error line: %s\n", errors.firstError().c_str());
    }
}

// One model file on the host runtime, as the engine runs it: a runner on the
// "NEURON" backend, one forward per iteration on a mid-grey ramp (or the
// smooth model's three numbers).
struct ModelCase {
    const char* file;
    size_t inputFloats;
    size_t outputFloats;
};
constexpr size_t kImageFloats = 224 * 224 * 3;
const ModelCase kModelCases[] = {
    {"xepo_entrance.qdnn", kImageFloats, 4},
    {"xepo_albedo.qdnn", kImageFloats, 1},
    {"light-STDCNet813.pt.tflite.qdnn", kImageFloats, 56 * 56 * 2},
    {"xepo_smooth.qdnn", 3, 1},
};

void modelBenchmark(benchmark::State& state, std::string dir, ModelCase model) {
    QDNNRunner runner(dir + model.file, "NEURON", 20, 3);
    if (runner.init() != QDNNRunner::kOk) {
        state.SkipWithError("model not loaded");
        return;
    }
    std::vector<float> input(model.inputFloats);
    for (size_t i = 0; i < input.size(); ++i) {
        input[i] = static_cast<float>(i % 224) / 224.0f - 0.5f;
    }
    std::vector<float> output(model.outputFloats);
    for (auto _ : state) {
        if (runner.forward({input.data()}, {output.data()}) != QDNNRunner::kOk) {
            state.SkipWithError("forward failed");
            return;
        }
        benchmark::ClobberMemory();
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    bench::silenceEngineLog();
    const std::string runtime = BENCH_RUNTIME;
    benchmark::AddCustomContext("xepo_runtime", runtime);
    for (Scenario scenario : {Scenario::Steady, Scenario::Pan, Scenario::Cuts, Scenario::Mixed}) {
        for (const FrameSize& size : bench::kFrameSizes) {
            const std::string name = "frame/" + runtime + "/" + scenarioName(scenario) + "/" +
                                     std::to_string(size.width) + "x" + std::to_string(size.height);
            benchmark::RegisterBenchmark(name.c_str(), frameBenchmark, scenario, size)
                ->Unit(benchmark::kMicrosecond)
                ->MeasureProcessCPUTime();
        }
    }
    for (int photo = 0; photo < 4; ++photo) {
        const std::string name = "image/" + runtime + "/" + bench::kSamplePhotos[photo];
        benchmark::RegisterBenchmark(name.c_str(), imageBenchmark, photo)
            ->Unit(benchmark::kMicrosecond)
            ->MeasureProcessCPUTime();
    }
    if (runtime == "models") {
        std::vector<std::pair<std::string, std::string>> sets = {
            {"default", modelDir()},
            {"formula", std::string(XEPO_SOURCE_DIR) + "/tools/models/formula/"}};
        // XEPO_BENCH_MODEL_SETS="label=dir/;label=dir/" adds candidate sets, so that a
        // new set runs side by side with the default one in the same process. An item
        // that is not label=dir is named on stderr and skipped.
        if (const char* extra = std::getenv("XEPO_BENCH_MODEL_SETS")) {
            std::string list(extra);
            size_t start = 0;
            while (start < list.size()) {
                size_t end = list.find(';', start);
                if (end == std::string::npos) {
                    end = list.size();
                }
                const std::string item = list.substr(start, end - start);
                const size_t eq = item.find('=');
                if (eq != std::string::npos && eq > 0 && eq + 1 < item.size()) {
                    sets.emplace_back(item.substr(0, eq), item.substr(eq + 1));
                } else if (!item.empty()) {
                    std::fprintf(stderr, "XEPO_BENCH_MODEL_SETS: '%s' is not label=dir/, skipped\n",
                                 item.c_str());
                }
                start = end + 1;
            }
        }
        for (const auto& set : sets) {
            for (const ModelCase& model : kModelCases) {
                const std::string name = std::string("model/") + set.first + "/" + model.file;
                benchmark::RegisterBenchmark(name.c_str(), modelBenchmark, set.second, model)
                    ->Unit(benchmark::kMicrosecond)
                    ->MeasureProcessCPUTime();
            }
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
