// Thumbnail correlation on known pictures, histogram similarity
// edge cases, and the stability rules that the image-similarity step applies.
#include <gtest/gtest.h>

#include <cmath>
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

// The mean absolute product of the centred thumbnails over both deviations, on
// pictures whose answer is known: halves of 20 and 220 (deviation 100) against
// halves of 100 and 140 (deviation 20) give 1 either way round, as does a
// picture against its negative; against a bright quarter, sqrt(3) / 2.
TEST(NccSimilarity, KnownPictures) {
    std::mt19937 rng(7);
    const Thumb a = thumb([&](int) { return rng() & 0xFF; });
    const Thumb b = thumb([&](int) { return rng() & 0xFF; });
    const Thumb negative = thumb([&](int i) { return 255 - a[i]; });
    const Thumb lr = thumb([](int i) { return i % 64 < 32 ? 20 : 220; });
    const Thumb tb = thumb([](int i) { return i / 64 < 32 ? 100 : 140; });
    const Thumb quarter = thumb([](int i) { return i % 64 < 32 && i / 64 < 32 ? 220 : 20; });
    EXPECT_NEAR(xepo::nccSimilarity(lr.data(), tb.data()), 1.0f, 1e-5f);
    EXPECT_NEAR(xepo::nccSimilarity(tb.data(), lr.data()), 1.0f, 1e-5f);
    EXPECT_NEAR(xepo::nccSimilarity(lr.data(), quarter.data()), std::sqrt(3.0f) / 2, 1e-5f);
    EXPECT_NEAR(xepo::nccSimilarity(a.data(), negative.data()), 1.0f, 1e-5f);
    EXPECT_LT(xepo::nccSimilarity(a.data(), b.data()), 0.8f);
    // A uniform thumbnail has no deviation: not a number, which no rule accepts.
    EXPECT_TRUE(std::isnan(xepo::nccSimilarity(thumb([](int) { return 128; }).data(), a.data())));
}

// Each histogram is normalised by its own total; disjoint ones share nothing,
// and a missing histogram on either side shares nothing.
TEST(HistSimilarity, OwnTotalsDisjointAndMissing) {
    const int32_t h1[64] = {100, 300}, h2[64] = {1000, 3000}, h3[64] = {0, 0, 50};
    EXPECT_NEAR(xepo::histSimilarity(h1, h2, 400.0f, 4000.0f), 1.0f, 1e-6f);
    EXPECT_EQ(xepo::histSimilarity(h1, h3, 400.0f, 50.0f), 0.0f);
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
