// Thumbnail correlation, histogram similarity and the stability rules of the
// image-similarity step.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "cpp/img_process/hist_similarity.h"
#include "test_engine.h"
#include "xepo/image_similarity.h"

namespace {

using xepo::histSimilarity;
using xepo::kThumbBytes;
using xepo::nccSimilarity;

std::vector<uint8_t> randomThumb(unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(0, 255);
    std::vector<uint8_t> t(kThumbBytes);
    for (auto& v : t) {
        v = static_cast<uint8_t>(d(rng));
    }
    return t;
}

// The measure computed directly in double precision.
double directNcc(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    double ma = 0, mb = 0;
    for (int i = 0; i < kThumbBytes; ++i) {
        ma += a[i];
        mb += b[i];
    }
    ma /= kThumbBytes;
    mb /= kThumbBytes;
    double va = 0, vb = 0, cross = 0;
    for (int i = 0; i < kThumbBytes; ++i) {
        va += (a[i] - ma) * (a[i] - ma);
        vb += (b[i] - mb) * (b[i] - mb);
        cross += std::fabs((a[i] - ma) * (b[i] - mb));
    }
    return (cross / kThumbBytes) / (std::sqrt(va / kThumbBytes) * std::sqrt(vb / kThumbBytes));
}

TEST(NccSimilarity, EqualAndNegativeThumbnailsGiveOne) {
    for (unsigned seed : {1u, 2u, 3u}) {
        auto a = randomThumb(seed);
        std::vector<uint8_t> negative(a.size());
        for (size_t i = 0; i < a.size(); ++i) {
            negative[i] = static_cast<uint8_t>(255 - a[i]);
        }
        EXPECT_NEAR(nccSimilarity(a.data(), a.data()), 1.0f, 1e-5f);
        EXPECT_NEAR(nccSimilarity(a.data(), negative.data()), 1.0f, 1e-5f);
    }
}

TEST(NccSimilarity, MatchesDirectComputation) {
    struct Pair {
        std::vector<uint8_t> a, b;
    };
    std::vector<Pair> pairs;
    pairs.push_back({randomThumb(7), randomThumb(8)});  // independent noise: about 0.75
    // A gradient and the same gradient with noise.
    std::vector<uint8_t> grad(kThumbBytes), noisy(kThumbBytes);
    auto noise = randomThumb(9);
    for (int i = 0; i < kThumbBytes; ++i) {
        grad[i] = static_cast<uint8_t>((i % 64) * 4);
        noisy[i] = static_cast<uint8_t>(std::min(255, grad[i] / 2 + noise[i] / 2));
    }
    pairs.push_back({grad, noisy});
    // Two halves: left dark / right bright against top dark / bottom bright.
    std::vector<uint8_t> lr(kThumbBytes), tb(kThumbBytes);
    for (int i = 0; i < kThumbBytes; ++i) {
        lr[i] = (i % 64) < 32 ? 20 : 220;
        tb[i] = (i / 64) < 32 ? 20 : 220;
    }
    pairs.push_back({lr, tb});
    for (const Pair& p : pairs) {
        const double expected = directNcc(p.a, p.b);
        EXPECT_NEAR(nccSimilarity(p.a.data(), p.b.data()), expected, 1e-4);
        EXPECT_NEAR(nccSimilarity(p.b.data(), p.a.data()), expected, 1e-4);
    }
    // Orthogonal halves correlate fully in absolute value cell by cell.
    EXPECT_NEAR(nccSimilarity(lr.data(), tb.data()), 1.0f, 1e-5f);
    EXPECT_LT(nccSimilarity(pairs[0].a.data(), pairs[0].b.data()), 0.8f);
}

TEST(NccSimilarity, PartsGiveMeanDeviationAndCentredProduct) {
    std::vector<uint8_t> t(kThumbBytes);
    for (int i = 0; i < kThumbBytes; ++i) {
        t[i] = (i % 2) ? 110 : 90;  // mean 100, deviation 10
    }
    const xepo::ThumbStats s = xepo::thumbStats(t.data());
    EXPECT_FLOAT_EQ(s.mean, 100.0f);
    EXPECT_FLOAT_EQ(s.stdDev, 10.0f);
    EXPECT_FLOAT_EQ(xepo::meanAbsCentredProduct(t.data(), t.data(), 100.0f, 100.0f), 100.0f);
    EXPECT_FLOAT_EQ(xepo::meanAbsCentredProduct(t.data(), t.data(), 0.0f, 0.0f), 10100.0f);
}

TEST(NccSimilarity, UniformThumbnailIsNotANumber) {
    std::vector<uint8_t> flat(kThumbBytes, 128);
    auto a = randomThumb(4);
    EXPECT_TRUE(std::isnan(nccSimilarity(flat.data(), a.data())));
    EXPECT_TRUE(std::isnan(nccSimilarity(a.data(), flat.data())));
}

TEST(HistSimilarity, Table) {
    const float total = 50176.0f;
    struct Case {
        std::vector<int32_t> a, b;
        float expected;
    } cases[] = {
        {{50176}, {50176}, 1.0f},
        {{50176, 0}, {0, 50176}, 0.0f},                 // no common bin
        {{50176, 0}, {25088, 25088}, std::sqrt(0.5f)},  // half of b shares a's bin
        {{12544, 12544, 12544, 12544}, {12544, 12544, 12544, 12544}, 1.0f},
        {{0}, {0}, 0.0f},  // empty histograms share nothing
    };
    for (const Case& c : cases) {
        auto a = pipeline_test::makeHist(c.a);
        auto b = pipeline_test::makeHist(c.b);
        EXPECT_NEAR(histSimilarity(a.get(), b.get(), total, total), c.expected, 1e-6f);
    }
}

TEST(HistSimilarity, MatchesDirectBhattacharyyaCoefficient) {
    std::mt19937 rng(11);
    for (int round = 0; round < 5; ++round) {
        // Random histograms of 50176 pixels each.
        int32_t a[64] = {}, b[64] = {};
        std::uniform_int_distribution<int> bin(0, round < 2 ? 63 : 15);
        for (int i = 0; i < 50176; ++i) {
            a[bin(rng)]++;
            b[bin(rng)]++;
        }
        double expected = 0;
        for (int i = 0; i < 64; ++i) {
            expected += std::sqrt((a[i] / 50176.0) * (b[i] / 50176.0));
        }
        EXPECT_NEAR(histSimilarity(a, b, 50176.0f, 50176.0f), expected, 1e-5);
        EXPECT_NEAR(histSimilarity(a, a, 50176.0f, 50176.0f), 1.0, 1e-5);
    }
}

TEST(HistSimilarity, UsesEachTotal) {
    auto a = pipeline_test::makeHist({100, 300});
    auto b = pipeline_test::makeHist({1000, 3000});
    EXPECT_NEAR(histSimilarity(a.get(), b.get(), 400.0f, 4000.0f), 1.0f, 1e-6f);
    EXPECT_EQ(histSimilarity(nullptr, b.get(), 1.0f, 1.0f), 0.0f);
}

// --- Stability rules ---

TEST(SimilarityRules, StrongThumbnailMatchMakesTheFrameStable) {
    struct Case {
        int32_t cls;
        float ncc;
        int32_t expected;
    } cases[] = {
        {0, 0.9f, 1},   {-3, 0.86f, 1}, {-4, 0.95f, 1},
        {0, 0.85f, 1},  // 0.85f lies above 0.85 in double precision
        {-1, 0.5f, -1}, {1, 0.2f, 1},   {0, std::nanf(""), 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(xepo::stabilityAfterNcc(c.cls, c.ncc), c.expected) << c.cls << " " << c.ncc;
    }
}

struct RuleCase {
    int32_t cls;
    float s;
    float g;
    float lastScore;
    int32_t expected;
};

class HistogramRuleTable : public ::testing::TestWithParam<RuleCase> {};

TEST_P(HistogramRuleTable, Applies) {
    const RuleCase& c = GetParam();
    EXPECT_EQ(xepo::stabilityAfterHistogram(c.cls, c.s, c.g, c.lastScore), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Similarity, HistogramRuleTable,
    ::testing::Values(
        // Rule A, unchanged colours whatever the gyro.
        RuleCase{-3, 0.95f, 0.05f, 20.0f, 0}, RuleCase{-4, 0.95f, 0.05f, 20.0f, -4},
        RuleCase{1, 0.99f, 0.0f, 20.0f, 1}, RuleCase{-1, 0.95f, 0.0f, 20.0f, 0},
        RuleCase{-1, 0.9f, 0.0f, 20.0f, -1},  // 0.9f lies below 0.9 in double precision
        RuleCase{-1, 0.9000001f, 0.0f, 20.0f, 0}, RuleCase{0, 0.95f, 0.0f, 20.0f, 0},
        RuleCase{-1, 0.89f, 0.0f, 20.0f, -1},
        // Rule A, still gyro and a similar picture.
        RuleCase{-1, 0.85f, 0.01f, 20.0f, 0}, RuleCase{-3, 0.8f, 0.0149f, 20.0f, 0},
        RuleCase{-1, 0.79f, 0.01f, 20.0f, -1},
        RuleCase{-1, 0.85f, 0.0f, 20.0f, -1},   // no measured movement is not still
        RuleCase{-1, 0.85f, 0.015f, 20.0f, 0},  // 0.015f is below 0.015 in double precision
        // Rule B, moving with a similar picture and a darker-than-neutral score.
        RuleCase{-1, 0.85f, 0.02f, 17.0f, 0}, RuleCase{-1, 0.85f, 0.02f, 18.0f, -1},
        RuleCase{-3, 0.8f, 0.5f, 11.0f, 0}, RuleCase{-4, 0.85f, 0.02f, 17.0f, -4},
        RuleCase{1, 0.85f, 0.02f, 17.0f, 1},
        // No histogram reference: similarity 0 changes nothing.
        RuleCase{-3, 0.0f, 0.01f, 11.0f, -3}, RuleCase{-1, 0.0f, 0.5f, 11.0f, -1},
        RuleCase{-1, std::nanf(""), 0.01f, 11.0f, -1}));

}  // namespace
