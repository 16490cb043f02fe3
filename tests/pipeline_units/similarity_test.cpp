// Thumbnail correlation and histogram similarity against a direct computation,
// and the stability rules that the image-similarity step applies.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <random>
#include <tuple>
#include <vector>

#include "cpp/img_process/hist_similarity.h"
#include "scripted_engine.h"
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
    const double ma = std::accumulate(a.begin(), a.end(), 0.0) / kThumbBytes;
    const double mb = std::accumulate(b.begin(), b.end(), 0.0) / kThumbBytes;
    double va = 0, vb = 0, cross = 0;
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
    const int32_t h1[64] = {100, 300}, h2[64] = {1000, 3000}, h3[64] = {0, 0, 50};
    EXPECT_NEAR(xepo::histSimilarity(h1, h2, 400.0f, 4000.0f), 1.0f, 1e-6f);
    EXPECT_EQ(xepo::histSimilarity(h1, h3, 400.0f, 50.0f), 0.0f);
    // A missing histogram on either side shares nothing.
    EXPECT_EQ(xepo::histSimilarity(h1, nullptr, 400.0f, 400.0f), 0.0f);
    EXPECT_EQ(xepo::histSimilarity(nullptr, h1, 400.0f, 400.0f), 0.0f);
}

// A thumbnail correlation above 0.85 (double precision) makes the frame stable.
TEST(SimilarityRules, ThumbnailMatch) {
    const std::tuple<int32_t, float, int32_t> cases[] = {
        {0, 0.9f, 1}, {-4, 0.95f, 1}, {0, 0.85f, 1}, {-1, 0.5f, -1}, {0, NAN, 0}};
    for (const auto& [cls, ncc, expected] : cases) {
        EXPECT_EQ(xepo::stabilityAfterNcc(cls, ncc), expected) << cls << " " << ncc;
    }
}

// Rule A: colours unchanged (0.9; 0.9f is below 0.9 in double precision), or
// 0.8 with a still gyro (a measured distance below 0.015), make a moving class
// 0. Rule B: moving, similar (0.8) and a last score below neutral. Classes 1
// and -4 are kept; no histogram reference (0) or NaN changes nothing.
TEST(SimilarityRules, HistogramRules) {
    // class, histogram similarity, gyro distance, last score, class after
    const std::tuple<int32_t, float, float, float, int32_t> cases[] = {
        {-3, 0.95f, 0.05f, 20, 0},  {-4, 0.95f, 0.05f, 20, -4}, {1, 0.99f, 0, 20, 1},
        {-1, 0.9f, 0, 20, -1},      {-1, 0.9000001f, 0, 20, 0}, {-1, 0.85f, 0.01f, 20, 0},
        {-1, 0.79f, 0.01f, 20, -1}, {-1, 0.85f, 0, 20, -1},     {-1, 0.85f, 0.02f, 17, 0},
        {-1, 0.85f, 0.02f, 18, -1}, {-4, 0.85f, 0.02f, 17, -4}, {-3, 0, 0.01f, 11, -3},
        {-1, NAN, 0.01f, 11, -1}};
    for (const auto& [cls, s, g, lastScore, expected] : cases) {
        EXPECT_EQ(xepo::stabilityAfterHistogram(cls, s, g, lastScore), expected)
            << cls << " s " << s << " g " << g << " last " << lastScore;
    }
}

// The step on real frames: a stable reference that correlates below 0.8 with
// the frame is no longer compared, so returning to its picture later does not
// make the frame stable; until then the same picture does (correlation 1).
TEST(SimilarityStep, AReferenceThatNoLongerMatchesIsLeftAlone) {
    const Nv21Frame coffee = nv21FromImageFile(samplePath("coffee.jpg"), 320, 240);
    const Nv21Frame astronaut = nv21FromImageFile(samplePath("astronaut.jpg"), 320, 240);
    scripted::ScriptedEngine se;
    xepo::AeEngine& e = se.state();
    float ncc = -1;
    auto compare = [&](const Nv21Frame& f) {
        float s = -1;
        e.isStable = -3;
        xepo::calcImageSimilarity(&e, f.y.data(), f.vu.data(), f.width, f.height, f.width, f.height,
                                  17, 0, false, &s, &ncc, 0.05f);
        return std::make_tuple(e.isStable, e.nccRefValid);
    };
    compare(coffee);
    e.nccRefThumb = std::make_unique<uint8_t[]>(kThumbBytes);
    std::copy_n(e.grayThumb.get(), kThumbBytes, e.nccRefThumb.get());
    EXPECT_EQ(compare(coffee), std::make_tuple(1, 1));
    EXPECT_NEAR(ncc, 1.0f, 1e-5f);
    EXPECT_EQ(compare(astronaut), std::make_tuple(-3, 0));
    EXPECT_LT(ncc, 0.8f);
    EXPECT_EQ(compare(coffee), std::make_tuple(-3, 0));
    EXPECT_EQ(ncc, 0.0f) << "not compared";
}

}  // namespace
