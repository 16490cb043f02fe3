// Thumbnail correlation and histogram similarity against a direct computation,
// and the stability rules that the image-similarity step applies.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "cpp/img_process/hist_similarity.h"
#include "test_engine.h"
#include "xepo/image_similarity.h"

namespace {

using xepo::kThumbBytes;
using Thumb = std::vector<uint8_t>;

template <typename Pixel>
Thumb thumb(Pixel pixel) {
    Thumb t(kThumbBytes);
    for (int i = 0; i < kThumbBytes; ++i) {
        t[i] = static_cast<uint8_t>(pixel(i));
    }
    return t;
}

// Mean absolute product of the centred thumbnails over both deviations.
double directNcc(const Thumb& a, const Thumb& b) {
    double ma = 0, mb = 0, va = 0, vb = 0, cross = 0;
    for (int i = 0; i < kThumbBytes; ++i) {
        ma += a[i] / double{kThumbBytes};
        mb += b[i] / double{kThumbBytes};
    }
    for (int i = 0; i < kThumbBytes; ++i) {
        va += (a[i] - ma) * (a[i] - ma);
        vb += (b[i] - mb) * (b[i] - mb);
        cross += std::fabs((a[i] - ma) * (b[i] - mb));
    }
    return cross / std::sqrt(va * vb);
}

TEST(NccSimilarity, MatchesDirectComputation) {
    std::mt19937 rng(7);
    const Thumb a = thumb([&](int) { return rng() & 0xFF; });
    const Thumb b = thumb([&](int) { return rng() & 0xFF; });
    const Thumb negative = thumb([&](int i) { return 255 - a[i]; });
    const Thumb lr = thumb([](int i) { return i % 64 < 32 ? 20 : 220; });
    const Thumb tb = thumb([](int i) { return i / 64 < 32 ? 20 : 220; });
    for (const auto& [x, y] : {std::pair{a, b}, std::pair{a, negative}, std::pair{lr, tb}}) {
        EXPECT_NEAR(xepo::nccSimilarity(x.data(), y.data()), directNcc(x, y), 1e-4);
        EXPECT_NEAR(xepo::nccSimilarity(y.data(), x.data()), directNcc(x, y), 1e-4);
    }
    EXPECT_NEAR(xepo::nccSimilarity(a.data(), negative.data()), 1.0f, 1e-5f);
    EXPECT_LT(xepo::nccSimilarity(a.data(), b.data()), 0.8f);
    // A uniform thumbnail has no deviation: not a number, which no rule accepts.
    EXPECT_TRUE(std::isnan(xepo::nccSimilarity(thumb([](int) { return 128; }).data(), a.data())));
}

TEST(HistSimilarity, MatchesDirectComputation) {
    std::mt19937 rng(11);
    for (int binsUsed : {64, 16}) {
        int32_t a[64] = {}, b[64] = {};
        std::uniform_int_distribution<int> bin(0, binsUsed - 1);
        for (int i = 0; i < 50176; ++i) {
            a[bin(rng)]++;
            b[bin(rng)]++;
        }
        double expected = 0;
        for (int i = 0; i < 64; ++i) {
            expected += std::sqrt((a[i] / 50176.0) * (b[i] / 50176.0));
        }
        EXPECT_NEAR(xepo::histSimilarity(a, b, 50176.0f, 50176.0f), expected, 1e-5);
    }
    // Each histogram is normalised by its own total; disjoint ones share nothing.
    auto h1 = pipeline_test::makeHist({100, 300}), h2 = pipeline_test::makeHist({1000, 3000});
    auto h3 = pipeline_test::makeHist({0, 0, 50});
    EXPECT_NEAR(xepo::histSimilarity(h1.get(), h2.get(), 400.0f, 4000.0f), 1.0f, 1e-6f);
    EXPECT_EQ(xepo::histSimilarity(h1.get(), h3.get(), 400.0f, 50.0f), 0.0f);
}

// A thumbnail correlation above 0.85 (double precision) makes the frame stable.
TEST(SimilarityRules, ThumbnailMatch) {
    struct Case {
        int32_t cls;
        float ncc;
        int32_t expected;
    } cases[] = {{0, 0.9f, 1}, {-4, 0.95f, 1}, {0, 0.85f, 1}, {-1, 0.5f, -1}, {0, NAN, 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(xepo::stabilityAfterNcc(c.cls, c.ncc), c.expected) << c.cls << " " << c.ncc;
    }
}

// Rule A: colours unchanged (0.9; 0.9f is below 0.9 in double precision), or
// 0.8 with a still gyro (a measured distance below 0.015), make a moving class
// 0. Rule B: moving, similar (0.8) and a last score below neutral. Classes 1
// and -4 are kept; no histogram reference (0) or NaN changes nothing.
TEST(SimilarityRules, HistogramRules) {
    struct Case {
        int32_t cls;
        float s, g, lastScore;
        int32_t expected;
    } cases[] = {{-3, 0.95f, 0.05f, 20, 0},  {-4, 0.95f, 0.05f, 20, -4}, {1, 0.99f, 0, 20, 1},
                 {-1, 0.9f, 0, 20, -1},      {-1, 0.9000001f, 0, 20, 0}, {-1, 0.85f, 0.01f, 20, 0},
                 {-1, 0.79f, 0.01f, 20, -1}, {-1, 0.85f, 0, 20, -1},     {-1, 0.85f, 0.02f, 17, 0},
                 {-1, 0.85f, 0.02f, 18, -1}, {-4, 0.85f, 0.02f, 17, -4}, {-3, 0, 0.01f, 11, -3},
                 {-1, NAN, 0.01f, 11, -1}};
    for (const Case& c : cases) {
        EXPECT_EQ(xepo::stabilityAfterHistogram(c.cls, c.s, c.g, c.lastScore), c.expected)
            << c.cls << " s " << c.s << " g " << c.g << " last " << c.lastScore;
    }
}

}  // namespace
