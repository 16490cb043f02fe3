#include "closed_loop_policy.h"

#include <android/log.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "closed_loop_tone.h"
#include "engine_handle.h"
#include "engine_log.h"
#include "session_results.h"
#include "session_routes.h"

namespace {

// Luminance histogram of mean-highlight: 16 linear steps per bin, fine enough
// for the brightest pixels (a bin is below 1/4096 of white).
constexpr int kHistogramShift = 4;
constexpr int kHistogramBins = (static_cast<int>(kLinearOne) >> kHistogramShift) + 1;
// Halvings of the search for the raise: 24 leave it within 1e-7 EV.
constexpr int kRaiseSearchSteps = 24;
// The full decision pipeline (any control other than -1, 0 and 1).
constexpr int kFullPipelineControl = 2;
// The frame format of the camera's NV21 frames.
constexpr int kNv21Format = 17;

// The brightest pixels of a frame as (luminance, count) from the top, counting
// `wanted` pixels in all.
std::vector<std::pair<uint32_t, uint64_t>> brightestPixels(const CameraFrame& frame,
                                                           uint64_t wanted) {
    std::vector<uint64_t> histogram(static_cast<size_t>(kHistogramBins), 0);
    const size_t pixels = static_cast<size_t>(frame.width) * frame.height;
    for (size_t i = 0; i < pixels; ++i) {
        ++histogram[linearLuminance(&frame.rgb[i * kPixelChannels]) >> kHistogramShift];
    }
    std::vector<std::pair<uint32_t, uint64_t>> top;
    for (int bin = kHistogramBins - 1; bin >= 0 && wanted > 0; --bin) {
        const uint64_t count = std::min(histogram[static_cast<size_t>(bin)], wanted);
        if (count != 0) {
            // The middle of the bin, in linear units.
            const uint32_t value = (static_cast<uint32_t>(bin) << kHistogramShift) +
                                   (uint32_t{1} << (kHistogramShift - 1));
            top.emplace_back(value, count);
            wanted -= count;
        }
    }
    return top;
}

// Mean gamma-encoded luma (0..1) of `pixels` after multiplying their light by `gain`.
double meanEncodedLuma(const std::vector<std::pair<uint32_t, uint64_t>>& pixels, double gain) {
    const uint8_t* code = codeOfLinear().data();
    uint64_t sum = 0;
    uint64_t count = 0;
    for (const auto& [value, n] : pixels) {
        const double exposed =
            std::min(static_cast<double>(value) * gain, static_cast<double>(kLinearOne));
        sum += code[static_cast<size_t>(std::llround(exposed))] * n;
        count += n;
    }
    return count == 0 ? 0.0 : static_cast<double>(sum) / (static_cast<double>(count) * kWhiteCode);
}

}  // namespace

PolicyAnswer FixedScorePolicy::answer(const PolicyInput&) {
    PolicyAnswer answer;
    answer.score = score_;
    answer.confidence = NAN;
    return answer;
}

double meanHighlightTarget(const CameraFrame& frame, double measured) {
    const uint64_t pixels = static_cast<uint64_t>(frame.width) * frame.height;
    if (pixels == 0) {
        return kHighlightBaseTarget;
    }
    const double seen = std::max(measured, kMeasuredFloor);
    const uint64_t wanted = std::max<uint64_t>(
        1, static_cast<uint64_t>(std::ceil(kHighlightShare * static_cast<double>(pixels))));
    const std::vector<std::pair<uint32_t, uint64_t>> top = brightestPixels(frame, wanted);
    const auto bright = [&top, seen](double target) {
        return meanEncodedLuma(top, target / seen) >= kHighlightFloor;
    };
    if (bright(kHighlightBaseTarget)) {
        return kHighlightBaseTarget;
    }
    if (!bright(kHighlightMaxTarget)) {
        return kHighlightMaxTarget;
    }
    // The smallest raise (in EV above the base target) that is bright enough.
    double low = 0.0;
    double high = portableLog2(kHighlightMaxTarget / kHighlightBaseTarget);
    for (int i = 0; i < kRaiseSearchSteps; ++i) {
        const double middle = 0.5 * (low + high);
        if (bright(kHighlightBaseTarget * portableExp2(middle))) {
            high = middle;
        } else {
            low = middle;
        }
    }
    return kHighlightBaseTarget * portableExp2(high);
}

PolicyAnswer MeanHighlightPolicy::answer(const PolicyInput& input) {
    PolicyAnswer answer;
    answer.score = kScorePerTarget * meanHighlightTarget(*input.frame, input.measured);
    answer.confidence = NAN;
    return answer;
}

// The tracker comes first so that it outlives the engine, whose release still logs.
struct EnginePolicy::State {
    RouteTracker tracker;
    EngineHandle engine;
    std::vector<uint8_t> map = std::vector<uint8_t>(kResultMapBytes, 0);
};

EnginePolicy::EnginePolicy(std::string modelDir) : modelDir_(std::move(modelDir)) {}

EnginePolicy::~EnginePolicy() {
    endRun();
}

bool EnginePolicy::startRun(std::string& error) {
    endRun();
    state_ = std::make_unique<State>();
    RouteTracker& tracker = state_->tracker;
    // Every line reaches the tracker; errors are shown, except the notice the
    // engine logs at error priority when it is released.
    captureEngineLog(true, [&tracker](const char* tag, int priority, const char* message) {
        tracker.observe(message);
        if (priority >= ANDROID_LOG_ERROR &&
            std::strstr(message, kEngineReleaseNotice) == nullptr) {
            const size_t length = std::strlen(message);
            const int shown =
                static_cast<int>(length > 0 && message[length - 1] == '\n' ? length - 1 : length);
            std::fprintf(stderr, "%s: %.*s\n", tag, shown, message);
        }
    });
    if (!state_->engine.open(modelDir_, error)) {
        endRun();
        return false;
    }
    return true;
}

PolicyAnswer EnginePolicy::answer(const PolicyInput& input) {
    const CameraFrame& frame = *input.frame;
    std::vector<uint8_t> nv21 = frame.nv21;  // the engine takes non-const planes
    VImage image{};
    image.yuv_format = kNv21Format;
    image.width = frame.width;
    image.height = frame.height;
    image.stride = frame.width;
    image.yPlane = nv21.data();
    image.uvPlane = nv21.data() + static_cast<size_t>(frame.width) * frame.height;
    AEParams params = input.params;
    IMUDataBlock gyro = input.gyro;
    std::fill(state_->map.begin(), state_->map.end(), 0);
    XEPOSegMap mapRecord{0, 0, 0, state_->map.data()};
    // A NaN left behind shows that the engine did not answer.
    _XEPO_RES_ result{NAN, NAN, &mapRecord};

    state_->tracker.startFrame(kFullPipelineControl);
    const auto start = std::chrono::steady_clock::now();
    qiraAeProcess(state_->engine.get(), &image, &params, &result, kFullPipelineControl, &gyro);
    const auto end = std::chrono::steady_clock::now();

    PolicyAnswer answer;
    answer.score = result.result;
    answer.confidence = result.confidence;
    answer.route = routeName(state_->tracker.route(result.confidence));
    answer.lightCells = countMapCells(state_->map.data());
    answer.milliseconds = std::chrono::duration<double, std::milli>(end - start).count();
    return answer;
}

void EnginePolicy::endRun() {
    if (state_ != nullptr) {
        state_.reset();  // releases the engine while its lines still reach the tracker
        captureEngineLog(false, nullptr);
    }
}

const std::vector<std::string>& policyNames() {
    static const std::vector<std::string> names = {"engine", "grey", "mean-highlight"};
    return names;
}

std::unique_ptr<ExposurePolicy> makePolicy(const std::string& name, const std::string& modelDir) {
    if (name == "engine") {
        return std::make_unique<EnginePolicy>(modelDir);
    }
    if (name == "grey") {
        return std::make_unique<FixedScorePolicy>("grey", kNeutralScore);
    }
    if (name == "mean-highlight") {
        return std::make_unique<MeanHighlightPolicy>();
    }
    return nullptr;
}
