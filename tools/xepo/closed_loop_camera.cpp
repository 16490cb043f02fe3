#include "closed_loop_camera.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "closed_loop_tone.h"

namespace {

constexpr int kChannels = 3;
constexpr int kCodes = 256;
constexpr uint8_t kMaxCode = 255;

// Noise: the sum of four uniform 16-bit numbers, centred, is close to a normal
// distribution; its standard deviation is 65536 / sqrt(3).
constexpr int kNoiseParts = 4;
constexpr int kNoisePartBits = 16;
constexpr int64_t kNoisePartMask = (int64_t{1} << kNoisePartBits) - 1;
constexpr int64_t kNoiseCentre = kNoiseParts * kNoisePartMask / 2;
constexpr double kNoiseUnit = 65536.0;
constexpr double kThree = 3.0;

bool sameWindow(const WindowRect& a, const WindowRect& b) {
    return a.left == b.left && a.top == b.top && a.width == b.width && a.height == b.height;
}

}  // namespace

uint64_t exposureGain(double ev) {
    return static_cast<uint64_t>(std::llround(portableExp2(ev) * static_cast<double>(kLinearOne)));
}

SimCamera::SimCamera(const Scene& scene, int width, int height, double noise, uint64_t seed)
    : scene_(scene),
      width_(width),
      height_(height),
      noiseScale_(noise > 0.0 ? noise * std::sqrt(kThree) / kNoiseUnit : 0.0),
      random_(seed) {}

void SimCamera::sampleWindow(const WindowRect& window) {
    const std::vector<int64_t> xs =
        samplePositions(window.left, window.width, width_, scene_.width);
    const std::vector<int64_t> ys =
        samplePositions(window.top, window.height, height_, scene_.height);
    window_.resize(static_cast<size_t>(width_) * height_ * kChannels);
    uint32_t* out = window_.data();
    for (int row = 0; row < height_; ++row) {
        for (int col = 0; col < width_; ++col, out += kChannels) {
            sampleBilinear<uint64_t>(scene_.radiance.data(), scene_.width, scene_.height, kChannels,
                                     xs[static_cast<size_t>(col)], ys[static_cast<size_t>(row)],
                                     out);
        }
    }
    sampled_ = true;
    sampledWindow_ = window;
}

void SimCamera::render(const WindowRect& window, double ev, CameraFrame& frame) {
    if (!sampled_ || !sameWindow(window, sampledWindow_)) {
        sampleWindow(window);
    }
    const uint64_t gain = exposureGain(ev);
    const uint8_t* code = codeOfLinear().data();
    frame.width = width_;
    frame.height = height_;
    frame.rgb.resize(window_.size());
    uint8_t* rgb = frame.rgb.data();
    for (size_t i = 0; i < window_.size(); ++i) {
        const uint64_t exposed = (window_[i] * gain + (kLinearOne / 2)) >> kLinearShift;
        rgb[i] = code[std::min<uint64_t>(exposed, kLinearOne)];
    }
    if (noiseScale_ > 0.0) {
        for (size_t i = 0; i < frame.rgb.size(); ++i) {
            const uint64_t bits = random_.next();
            int64_t sum = 0;
            for (int part = 0; part < kNoiseParts; ++part) {
                sum += static_cast<int64_t>(bits >> (part * kNoisePartBits)) & kNoisePartMask;
            }
            const int64_t noisy =
                rgb[i] + std::llround(noiseScale_ * static_cast<double>(sum - kNoiseCentre));
            rgb[i] = static_cast<uint8_t>(std::clamp<int64_t>(noisy, 0, kMaxCode));
        }
    }
    rgbToNv21(frame.rgb.data(), width_, height_, frame.nv21);
}

double meanLinearLuminance(const uint8_t* rgb, size_t pixels) {
    if (pixels == 0) {
        return 0.0;
    }
    // Per-channel histograms: the mean of a linear function needs only them.
    std::array<std::array<uint64_t, kCodes>, kChannels> counts{};
    for (size_t i = 0; i < pixels; ++i) {
        const uint8_t* pixel = rgb + i * kChannels;
        ++counts[0][pixel[0]];
        ++counts[1][pixel[1]];
        ++counts[2][pixel[2]];
    }
    const std::array<uint32_t, 256>& linear = linearOfCode();
    const uint64_t weights[kChannels] = {kLumaWeightR, kLumaWeightG, kLumaWeightB};
    uint64_t sum = 0;
    for (int c = 0; c < kChannels; ++c) {
        uint64_t channel = 0;
        for (int value = 0; value < kCodes; ++value) {
            channel += counts[static_cast<size_t>(c)][static_cast<size_t>(value)] *
                       linear[static_cast<size_t>(value)];
        }
        sum += channel * weights[c];
    }
    const double scale = static_cast<double>(kLinearOne) * static_cast<double>(kLinearOne);
    return static_cast<double>(sum) / (static_cast<double>(pixels) * scale);
}

float luxIndexForExposure(double baseLux, double ev) {
    return static_cast<float>(std::max(0.0, baseLux + kLuxPerEv * ev));
}

double nextExposure(double ev, double measured, double score, double speed) {
    if (!(score > 0.0) || !std::isfinite(score)) {
        return ev;
    }
    const double target = score / kScorePerTarget;
    const double seen = std::max(measured, kMeasuredFloor);
    const double step = std::clamp(speed * portableLog2(target / seen), -kMaxStepEv, kMaxStepEv);
    return std::clamp(ev + step, -kExposureLimitEv, kExposureLimitEv);
}
