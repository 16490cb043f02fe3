// Image similarity and the stable-scene handler on real frames, through the
// image-operator library.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <numeric>
#include <vector>

#include "log_capture.h"
#include "tavkit_api.h"
#include "test_engine.h"
#include "xepo.h"
#include "xepo/image_similarity.h"
#include "xepo/stable_scene.h"

namespace {

using pipeline_test::makeTestEngine;
using xepo::AeEngine;

constexpr int kW = 320;
constexpr int kH = 240;

// A semi-planar frame (Y plane, then interleaved chroma at half resolution).
struct Frame {
    std::vector<uint8_t> y;
    std::vector<uint8_t> uv;
};

Frame makeFrame(const std::function<uint8_t(int, int)>& luma, uint8_t v = 128, uint8_t u = 128) {
    Frame f;
    f.y.resize(kW * kH);
    for (int r = 0; r < kH; ++r) {
        for (int c = 0; c < kW; ++c) {
            f.y[r * kW + c] = luma(c, r);
        }
    }
    f.uv.resize(kW * kH / 2);
    for (size_t i = 0; i < f.uv.size(); i += 2) {
        f.uv[i] = v;
        f.uv[i + 1] = u;
    }
    return f;
}

Frame gradientFrame() {
    return makeFrame(
        [](int c, int r) { return static_cast<uint8_t>(16 + (c * 200) / kW + r / 8); });
}
Frame blocksFrame() {
    return makeFrame(
        [](int c, int r) { return static_cast<uint8_t>(((c / 40 + r / 40) % 2) ? 230 : 25); }, 90,
        170);
}
// Pseudo-random noise: correlates with the gradient below 0.8 even in absolute value.
Frame noiseFrame() {
    return makeFrame([](int c, int r) {
        uint32_t x = static_cast<uint32_t>(r * kW + c) * 2654435761u;
        x ^= x >> 15;
        return static_cast<uint8_t>(x & 0xFF);
    });
}
Frame flatFrame() {
    return makeFrame([](int, int) { return 120; });
}

class PipelineImages : public ::testing::Test {
  protected:
    void SetUp() override {
        engine = makeTestEngine();
        long handle = 0;
        ASSERT_EQ(initTAVKIT(handle), 0);
        engine->tavkit_handle = handle;
    }
    void TearDown() override {
        if (engine && engine->tavkit_handle != 0) {
            int64_t h = engine->tavkit_handle;
            releaseTavkit(&h);
        }
    }

    void similarity(const Frame& f, float g = 0.05f) {
        xepo::calcImageSimilarity(engine.get(), f.y.data(), f.uv.data(), kW, kH, kW, kH, 17, 0,
                                  false, &s, &ncc, g);
    }
    void stable(const Frame& f, float lux, float scale = 1.0f, const float* angle = nullptr) {
        std::memset(engine->segMap.get(), 0, xepo::kSegMapBytes);
        const float zero[3] = {0, 0, 0};
        xepo::handleStableScene(engine.get(), &score, &lsResult, f.y.data(), f.uv.data(), kW, kH,
                                kW, kH, 17, 0, false, 0, 0, lux, scale, angle ? angle : zero);
    }
    std::vector<int32_t> curHist() const {
        return std::vector<int32_t>(engine->curHist.get(), engine->curHist.get() + 64);
    }

    std::unique_ptr<AeEngine> engine;
    float s = -1.0f;
    float ncc = -1.0f;
    float score = 0.0f;
    int32_t lsResult = 0;
};

int64_t sum(const int32_t* h) {
    return std::accumulate(h, h + 64, int64_t{0});
}

// --- calcImageSimilarity ---

TEST_F(PipelineImages, WithoutReferencesNothingIsCompared) {
    engine->isStable = -3;
    LogCapture log;
    similarity(gradientFrame());
    EXPECT_EQ(s, 0.0f);
    EXPECT_EQ(ncc, 0.0f);
    EXPECT_EQ(engine->isStable, -3);
    EXPECT_FALSE(log.contains("ncc_similarity"));
    EXPECT_FALSE(log.contains("all_similarity"));
    EXPECT_EQ(sum(engine->curHist.get()), 50176);
    // The thumbnail follows the frame's horizontal gradient.
    EXPECT_LT(engine->grayThumb[0] + 40, engine->grayThumb[63]);
}

TEST_F(PipelineImages, UnchangedHistogramTurnsMovingClassesIntoZero) {
    similarity(gradientFrame());
    engine->lastHist = std::make_unique<int32_t[]>(64);
    std::memcpy(engine->lastHist.get(), engine->curHist.get(), 256);
    struct Case {
        int32_t cls;
        float g;
        int32_t expected;
    } cases[] = {{-3, 0.05f, 0}, {-1, 0.0f, 0}, {0, 0.05f, 0}, {-4, 0.05f, -4}, {1, 0.05f, 1}};
    for (const Case& c : cases) {
        engine->isStable = c.cls;
        LogCapture log;
        similarity(gradientFrame(), c.g);
        EXPECT_NEAR(s, 1.0f, 1e-5f);
        EXPECT_EQ(engine->isStable, c.expected) << c.cls;
        EXPECT_TRUE(log.contains("all_similarity: "));
    }
    // A different picture keeps a moving class.
    engine->isStable = -3;
    similarity(blocksFrame());
    EXPECT_LT(s, 0.8f);
    EXPECT_EQ(engine->isStable, -3);
}

TEST_F(PipelineImages, MatchingThumbnailMakesTheFrameStable) {
    similarity(gradientFrame());
    engine->nccRefThumb = std::make_unique<uint8_t[]>(xepo::kThumbBytes);
    std::memcpy(engine->nccRefThumb.get(), engine->grayThumb.get(), xepo::kThumbBytes);
    engine->isStable = 0;
    LogCapture log;
    similarity(gradientFrame());
    EXPECT_NEAR(ncc, 1.0f, 1e-5f);
    EXPECT_EQ(engine->isStable, 1);
    EXPECT_EQ(engine->nccRefValid, 1);
    EXPECT_TRUE(log.contains("ncc_similarity: "));
}

TEST_F(PipelineImages, LostThumbnailReferenceIsNotComparedAgain) {
    similarity(gradientFrame());
    engine->nccRefThumb = std::make_unique<uint8_t[]>(xepo::kThumbBytes);
    std::memcpy(engine->nccRefThumb.get(), engine->grayThumb.get(), xepo::kThumbBytes);
    engine->isStable = -3;
    similarity(noiseFrame());
    EXPECT_LT(ncc, 0.8f);
    EXPECT_GT(ncc, 0.0f);
    EXPECT_EQ(engine->nccRefValid, 0);
    EXPECT_EQ(engine->isStable, -3);
    LogCapture log;
    similarity(gradientFrame());
    EXPECT_EQ(ncc, 0.0f);
    EXPECT_FALSE(log.contains("ncc_similarity"));
}

TEST_F(PipelineImages, UniformThumbnailChangesNothing) {
    similarity(gradientFrame());
    engine->nccRefThumb = std::make_unique<uint8_t[]>(xepo::kThumbBytes);
    std::memcpy(engine->nccRefThumb.get(), engine->grayThumb.get(), xepo::kThumbBytes);
    engine->isStable = -1;
    similarity(flatFrame());
    EXPECT_TRUE(std::isnan(ncc));
    EXPECT_EQ(engine->nccRefValid, 1);
    EXPECT_EQ(engine->isStable, -1);
}

TEST_F(PipelineImages, FailedConversionIsLoggedAndTheStepGoesOn) {
    engine->lastHist = std::make_unique<int32_t[]>(64);
    LogCapture log;
    xepo::calcImageSimilarity(engine.get(), nullptr, nullptr, kW, kH, kW, kH, 17, 0, false, &s,
                              &ncc, 0.05f);
    EXPECT_TRUE(log.contains("yuvtoRGB failed "));
    EXPECT_TRUE(log.contains("all_similarity: "));  // the later steps still ran

    auto bare = std::make_unique<AeEngine>();
    log.clear();
    xepo::calcImageSimilarity(bare.get(), nullptr, nullptr, kW, kH, kW, kH, 17, 0, false, &s, &ncc,
                              0.05f);
    EXPECT_EQ(s, 0.0f);
    EXPECT_EQ(ncc, 0.0f);
    EXPECT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].priority, 6);
}

// --- handleStableScene: references and history ---

TEST_F(PipelineImages, FirstStableFrameCapturesTheReferences) {
    const Frame f = gradientFrame();
    similarity(f);  // the driver runs the similarity step on this frame
    const std::vector<int32_t> frameHist = curHist();
    engine->lastIsStable = 1;
    engine->nccRefValid = 0;
    engine->lastAeThisScore = 23.0f;
    score = 18.0f;
    stable(f, 123.0f);
    EXPECT_EQ(score, 23.0f);
    EXPECT_EQ(engine->refAecLux, 123.0f);
    ASSERT_TRUE(engine->nccRefThumb);
    EXPECT_EQ(std::memcmp(engine->nccRefThumb.get(), engine->grayThumb.get(), 4096), 0);
    EXPECT_EQ(engine->nccRefValid, 1);
    ASSERT_TRUE(engine->lastHist);
    EXPECT_EQ(std::vector<int32_t>(engine->lastHist.get(), engine->lastHist.get() + 64), frameHist);
    EXPECT_EQ(engine->lastIsStable, 2);

    // A later stable period renews the same buffers in place.
    const uint8_t* thumb = engine->nccRefThumb.get();
    const int32_t* hist = engine->lastHist.get();
    similarity(blocksFrame());
    engine->lastIsStable = 1;
    stable(blocksFrame(), 130.0f);
    EXPECT_EQ(engine->nccRefThumb.get(), thumb);
    EXPECT_EQ(engine->lastHist.get(), hist);
    EXPECT_EQ(std::vector<int32_t>(hist, hist + 64), curHist());
}

TEST_F(PipelineImages, TenthStableFrameRecordsTheScene) {
    const Frame f = blocksFrame();
    similarity(f);
    const std::vector<int32_t> frameHist = curHist();
    engine->rgbImage[0] = 1;  // the record converts the frame itself
    engine->lastIsStable = 10;
    engine->lastAeThisScore = 27.5f;
    engine->lastEnResult[1] = 0.81f;
    engine->lastEnResult[3] = 0.12f;
    const float angle[3] = {0.1f, -0.2f, 0.3f};
    LogCapture log;
    stable(f, 210.0f, 2.0f, angle);
    ASSERT_EQ(engine->historyHist.size(), 1u);
    const xepo::HistoryEntry& h = engine->historyHist.back();
    EXPECT_EQ(std::vector<int32_t>(h.hist.get(), h.hist.get() + 64), frameHist);
    EXPECT_EQ(h.score, 27.5f);
    EXPECT_EQ(h.enConfidence, 0.81f);
    EXPECT_EQ(h.enLsProb, 0.12f);
    EXPECT_EQ(h.isSegResult, 0);
    EXPECT_EQ(h.aecLux, 210.0f);
    EXPECT_EQ(h.scale, 2.0f);
    EXPECT_EQ(h.imuAngle[1], -0.2f);
    EXPECT_EQ(log.count("update historyHist add"), 1);
    EXPECT_EQ(engine->lastIsStable, 11);
}

TEST_F(PipelineImages, HistoryKeepsTheTenNewestScenes) {
    const Frame f = gradientFrame();
    for (int i = 1; i <= 12; ++i) {
        engine->lastIsStable = 10;
        engine->lastAeThisScore = static_cast<float>(i);
        LogCapture log;
        stable(f, 200.0f);
        EXPECT_EQ(log.count("update historyHist add"), i <= 10 ? 1 : 0) << i;
        EXPECT_EQ(log.count("update historyHist update"), i > 10 ? 1 : 0) << i;
        EXPECT_LE(engine->historyHist.size(), 10u);
    }
    std::vector<float> scores;
    for (const auto& h : engine->historyHist) {
        scores.push_back(h.score);
    }
    EXPECT_EQ(scores, (std::vector<float>{3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
}

TEST_F(PipelineImages, LightSceneIsRecordedAsSuch) {
    engine->lastIsStable = 10;
    engine->lastIsSegResult = 4;
    engine->lastAeThisScore = 30.0f;
    stable(gradientFrame(), 200.0f);
    ASSERT_EQ(engine->historyHist.size(), 1u);
    EXPECT_EQ(engine->historyHist.back().isSegResult, 1);
    EXPECT_EQ(engine->historyHist.back().score, 18.0f);
    EXPECT_EQ(engine->lastIsSegResult, 5);
}

TEST_F(PipelineImages, ReturningToARecordedSceneHitsTheHistory) {
    // Record scene A at count 10 with score 26.
    const Frame a = gradientFrame();
    engine->lastIsStable = 10;
    engine->lastAeThisScore = 26.0f;
    engine->lastEnResult[1] = 0.9f;
    stable(a, 250.0f);
    // Later, a first stable frame of scene B, then of scene A.
    engine->modelRunCount = 40;
    engine->isStable = 1;
    engine->lastAeThisScore = 15.0f;
    struct Case {
        const Frame frame;
        bool hit;
    } cases[] = {{blocksFrame(), false}, {gradientFrame(), true}};
    for (const Case& c : cases) {
        similarity(c.frame);
        engine->lastIsStable = 1;
        engine->historyHitCount = 0;
        float thisResult = 1.2f;
        const float result = xepo::tryHitHistory(engine.get(), &thisResult, 18.0f, 251.0f, 1.0f);
        EXPECT_EQ(engine->historyHitCount, c.hit ? 1 : 0);
        // 15 lies 42 % below 26: the last score stays, up to rounding.
        EXPECT_FLOAT_EQ(result, c.hit ? 15.0f : 18.0f);
        EXPECT_EQ(thisResult, c.hit ? 0.9f : 1.2f);
    }
    // The stable handler on the hit frame keeps the history score.
    score = 15.0f;
    engine->lastAeThisScore = 20.0f;
    stable(gradientFrame(), 251.0f);
    EXPECT_EQ(score, 15.0f);
    EXPECT_EQ(engine->historyHitCount, 2);
}

}  // namespace
