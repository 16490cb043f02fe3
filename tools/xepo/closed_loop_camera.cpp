#include "closed_loop_camera.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "closed_loop_tone.h"

namespace {

// Noise: the sum of four uniform 16-bit numbers, centred, is close to a normal
// distribution; its standard deviation is 65536 / sqrt(3) (each part's is
// 65536 / sqrt(12)), so noise * sqrt(3) / 65536 scales it to `noise` levels.
constexpr int kNoiseParts = 4;
constexpr int kNoisePartBits = 16;
constexpr int64_t kNoisePartMask = (int64_t{1} << kNoisePartBits) - 1;
constexpr int64_t kNoiseCentre = kNoiseParts * kNoisePartMask / 2;
constexpr double kNoiseUnit = 65536.0;
constexpr double kNoiseSumVarianceDivisor = 3.0;  // the sum's sigma is 65536 / sqrt(this)

// The sampled window is kept as 16-bit levels: level = round(32 sqrt(radiance))
// in kLinearOne units, so 64 x white fits in 16 bits and one level is below
// 0.4 % of the light of code 1 and below 0.02 % of mid-grey, finer than the
// 8-bit encoding resolves. Rendering then needs one table look-up per
// channel: the table maps every level to its code at the frame's exposure.
constexpr double kLevelsPerSqrtLinear = 32.0;
constexpr int kLevelSquareShift = 10;  // 32^2
constexpr int kLevels = 65536;
constexpr double kMaxLevel = 65535.0;

// Rounded to nearest (the value is never negative, so adding a half and
// truncating rounds; faster than llround in the sampling loop).
uint16_t levelOf(uint32_t radiance) {
    const double level = std::sqrt(static_cast<double>(radiance)) * kLevelsPerSqrtLinear + 0.5;
    return static_cast<uint16_t>(std::min(level, kMaxLevel));
}

uint64_t linearOfLevel(uint32_t level) {
    return (static_cast<uint64_t>(level) * level + (uint64_t{1} << (kLevelSquareShift - 1))) >>
           kLevelSquareShift;
}

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
      noiseScale_(noise > 0.0 ? noise * std::sqrt(kNoiseSumVarianceDivisor) / kNoiseUnit : 0.0),
      random_(seed) {}

void SimCamera::sampleWindow(const WindowRect& window) {
    const std::vector<int64_t> xs =
        samplePositions(window.left, window.width, width_, scene_.width);
    const std::vector<int64_t> ys =
        samplePositions(window.top, window.height, height_, scene_.height);
    window_.resize(static_cast<size_t>(width_) * height_ * kPixelChannels);
    uint16_t* out = window_.data();
    uint32_t sample[kPixelChannels];
    for (int row = 0; row < height_; ++row) {
        for (int col = 0; col < width_; ++col, out += kPixelChannels) {
            sampleBilinear<uint64_t>(scene_.radiance.data(), scene_.width, scene_.height,
                                     kPixelChannels, xs[static_cast<size_t>(col)],
                                     ys[static_cast<size_t>(row)], sample);
            for (int c = 0; c < kPixelChannels; ++c) {
                out[c] = levelOf(sample[c]);
            }
        }
    }
    sampled_ = true;
    sampledWindow_ = window;
}

void SimCamera::buildCodeTable(uint64_t gain) {
    const uint8_t* code = codeOfLinear().data();
    codeOfLevel_.resize(kLevels);
    for (uint32_t level = 0; level < kLevels; ++level) {
        const uint64_t exposed = (linearOfLevel(level) * gain + (kLinearOne / 2)) >> kLinearShift;
        codeOfLevel_[level] = code[std::min<uint64_t>(exposed, kLinearOne)];
    }
    tableGain_ = gain;
}

void SimCamera::render(const WindowRect& window, double ev, CameraFrame& frame) {
    if (!sampled_ || !sameWindow(window, sampledWindow_)) {
        sampleWindow(window);
    }
    const uint64_t gain = exposureGain(ev);
    if (codeOfLevel_.empty() || gain != tableGain_) {
        buildCodeTable(gain);
    }
    const size_t pixels = static_cast<size_t>(width_) * height_;
    frame.width = width_;
    frame.height = height_;
    frame.rgb.resize(pixels * kPixelChannels);
    frame.nv21.resize(pixels * 3 / 2);
    const uint8_t* table = codeOfLevel_.data();
    const uint16_t* levels = window_.data();
    uint8_t* rgb = frame.rgb.data();
    uint8_t* luma = frame.nv21.data();
    if (noiseScale_ > 0.0) {
        for (size_t i = 0; i < pixels * kPixelChannels; ++i) {
            const uint64_t bits = random_.next();
            int64_t sum = 0;
            for (int part = 0; part < kNoiseParts; ++part) {
                sum += static_cast<int64_t>(bits >> (part * kNoisePartBits)) & kNoisePartMask;
            }
            const int64_t noisy =
                table[levels[i]] +
                std::llround(noiseScale_ * static_cast<double>(sum - kNoiseCentre));
            rgb[i] = static_cast<uint8_t>(std::clamp<int64_t>(noisy, 0, kWhiteCode));
        }
        for (size_t i = 0; i < pixels; ++i) {
            luma[i] = bt601Luma(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]);
        }
    } else {
        // Encoding and luma in one pass: the frame is touched once.
        for (size_t i = 0; i < pixels; ++i, levels += kPixelChannels, rgb += kPixelChannels) {
            const uint8_t r = table[levels[0]];
            const uint8_t g = table[levels[1]];
            const uint8_t b = table[levels[2]];
            rgb[0] = r;
            rgb[1] = g;
            rgb[2] = b;
            luma[i] = bt601Luma(r, g, b);
        }
    }
    rgbToNv21Chroma(frame.rgb.data(), width_, height_, luma + pixels);
}

double meanLinearLuminance(const uint8_t* rgb, size_t pixels) {
    if (pixels == 0) {
        return 0.0;
    }
    // Per-channel histograms: the mean of a linear function needs only them.
    std::array<std::array<uint64_t, kCodeCount>, kPixelChannels> counts{};
    for (size_t i = 0; i < pixels; ++i) {
        const uint8_t* pixel = rgb + i * kPixelChannels;
        ++counts[0][pixel[0]];
        ++counts[1][pixel[1]];
        ++counts[2][pixel[2]];
    }
    const std::array<uint32_t, kCodeCount>& linear = linearOfCode();
    const uint64_t weights[kPixelChannels] = {kLumaWeightR, kLumaWeightG, kLumaWeightB};
    uint64_t sum = 0;
    for (int c = 0; c < kPixelChannels; ++c) {
        uint64_t channel = 0;
        for (int value = 0; value < kCodeCount; ++value) {
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
