// What the operator tests share: a context with every operator registered,
// descriptor filling, and smooth synthetic images.
#ifndef TAVKIT_TEST_SUPPORT_H
#define TAVKIT_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <opencv2/core.hpp>
#include <vector>

#include "tavkit_api.h"
#include "tavkit_status.h"

namespace tavkit_test {

inline constexpr int32_t kAllOperators[] = {2, 3, 14, 19, 21, 27, 47, 48, 50, 53};

// A context with every operator registered, released at the end of the scope.
class Context {
  public:
    Context() {
        TavkitConfig config;
        EXPECT_EQ(initTavkitConfig(&config), 0);
        EXPECT_EQ(initTavkit(&handle_, &config), 0);
        for (int32_t id : kAllOperators) {
            EXPECT_EQ(registTavkitOperator(handle_, id), 0) << id;
        }
    }
    ~Context() { releaseTavkit(&handle_); }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    int64_t handle() const { return handle_; }
    int run(int32_t id, TavkitParams& params) const { return runTavkit(handle_, id, &params); }

  private:
    int64_t handle_ = 0;
};

inline TavkitParams freshParams() {
    TavkitParams params;
    initTavkitParams(&params);
    return params;
}

// Describes a cv::Mat (which carries its own size and row step).
inline void describe(TavkitImageDesc& desc, uint32_t format, uint32_t type, const cv::Mat& mat) {
    desc.format = format;
    desc.elementType = type;
    desc.width = static_cast<uint32_t>(mat.cols);
    desc.height = static_cast<uint32_t>(mat.rows);
    desc.stride = static_cast<uint32_t>(mat.step[0]);
    desc.plane0 = mat.data;
}

// An NV21 frame as Android hands it over: Y rows then V/U rows, same stride.
struct Nv21Frame {
    int width = 0;
    int height = 0;
    int stride = 0;
    std::vector<uint8_t> bytes;
    uint8_t* y() { return bytes.data(); }
    uint8_t* vu() { return bytes.data() + static_cast<size_t>(stride) * height; }

    void describeAsSource(TavkitImageDesc& desc) {
        desc.format = kTavkitFormatYuvSemiPlanar;
        desc.elementType = kTavkitTypeU8;
        desc.width = static_cast<uint32_t>(width);
        desc.height = static_cast<uint32_t>(height);
        desc.stride = static_cast<uint32_t>(stride);
        desc.planeHeight = static_cast<uint32_t>(height);
        desc.plane0 = y();
        desc.plane1 = vu();
    }
};

// Smooth content (a few periods across the frame) so that two bilinear
// resamplers with slightly different taps still agree closely.
inline Nv21Frame makeNv21(int width, int height, int stride) {
    Nv21Frame f;
    f.width = width;
    f.height = height;
    f.stride = stride;
    const int chromaRows = (height + 1) / 2;
    f.bytes.assign(static_cast<size_t>(stride) * (height + chromaRows), 7);
    // Separable content: one sine per column and one cosine per row.
    std::vector<double> columnWave(width);
    for (int c = 0; c < width; ++c) {
        columnWave[c] = 90 * std::sin(6.0 * c / width + 1.0);
    }
    for (int r = 0; r < height; ++r) {
        const double rowWave = std::cos(4.0 * r / height);
        for (int c = 0; c < width; ++c) {
            f.y()[r * stride + c] = static_cast<uint8_t>(120 + columnWave[c] * rowWave);
        }
    }
    for (int r = 0; r < chromaRows; ++r) {
        for (int c = 0; c < (width + 1) / 2; ++c) {
            const double u = 2.0 * c / width;
            const double v = 2.0 * r / height;
            f.vu()[r * stride + 2 * c] = static_cast<uint8_t>(128 + 50 * std::cos(3.0 * u + 2 * v));
            f.vu()[r * stride + 2 * c + 1] = static_cast<uint8_t>(128 + 60 * std::sin(5.0 * v));
        }
    }
    return f;
}

// Random bytes for exact data-movement tests, in a Mat of the given type.
inline cv::Mat randomMat(int rows, int cols, int type, uint64_t seed = 1) {
    cv::Mat m(rows, cols, type);
    cv::RNG rng(seed);
    rng.fill(m, cv::RNG::UNIFORM, 0, 256);
    return m;
}

inline double meanAbsDiff(const cv::Mat& a, const cv::Mat& b) {
    cv::Mat diff;
    cv::absdiff(a, b, diff);
    const cv::Scalar s = cv::mean(diff);
    double sum = 0;
    for (int c = 0; c < a.channels(); ++c) {
        sum += s[c];
    }
    return sum / a.channels();
}

inline double maxAbsDiff(const cv::Mat& a, const cv::Mat& b) {
    return cv::norm(a, b, cv::NORM_INF);
}

}  // namespace tavkit_test

#endif  // TAVKIT_TEST_SUPPORT_H
