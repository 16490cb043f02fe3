// Scoring helpers: the lux-banded score mappings, when the smooth model is
// asked and when its answer wins (the model answered by the scripted runtime),
// and what the result writer outputs and keeps.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <tuple>
#include <utility>
#include <vector>

#include "log_capture.h"
#include "scripted_engine.h"
#include "xepo/result_output.h"
#include "xepo/score_smoothing.h"

namespace {

// The worked values first, then the band edges (150, 210, 400) and each rule's
// bounds. NaN fails every comparison and lands on the neutral 18.
TEST(ScoreMapping, FramePath) {
    // score, model runs, lux, mapped score
    const std::tuple<float, int32_t, float, float> cases[] = {
        {30, 10, 300, 28},   {24, 10, 300, 20},        {15.5f, 3, 300, 15.5f},
        {15.5f, 6, 300, 18}, {13, 10, 180, 13},        {12, 10, 180, 11},
        {50, 10, 180, 44},   {30, 10, 400, 18},        {30, 10, 150, 18},
        {5, 10, 150.5f, 11}, {11.5f, 10, 210, 11},     {11.5f, 10, 210.01f, 11.5f},
        {15, 10, 180, 15},   {15.5f, 3, 180, 18},      {21.9f, 10, 180, 18},
        {22, 10, 180, 18},   {27, 10, 180, 25},        {45, 10, 180, 43},
        {11, 10, 300, 11},   {15.99f, 5, 300, 15.99f}, {16, 3, 300, 18},
        {22, 10, 300, 18},   {22.5f, 10, 300, 18.5f},  {46, 10, 399.9f, 44},
        {NAN, 10, 300, 18}};
    for (const auto& [score, runs, lux, expected] : cases) {
        EXPECT_FLOAT_EQ(xepo::getSmoothScore(score, runs, lux), expected)
            << score << " " << runs << " " << lux;
    }
}

// The image-file entry's mapping: capped at 36 in the mid band, keeping scores
// up to 13 in the dark band.
TEST(ScoreMapping, ImageEntry) {
    // score, lux, mapped score
    const std::tuple<float, float, float> cases[] = {
        {40, 180, 36},       {13, 180, 18},     {13, 300, 13}, {14, 300, 18}, {31.25f, 300, 29.25f},
        {12.5f, 180, 18},    {30, 150, 18},     {30, 400, 18}, {12, 180, 11}, {26.5f, 180, 22.5f},
        {37.9f, 180, 35.9f}, {38.5f, 180, 36},  {60, 210, 36}, {11, 300, 11}, {13.1f, 300, 18},
        {45, 300, 43},       {60, 210.01f, 44}, {NAN, 180, 18}};
    for (const auto& [score, lux, expected] : cases) {
        EXPECT_FLOAT_EQ(xepo::getSmoothScoreGT(score, lux), expected) << score << " " << lux;
    }
}

// The model runs only when the scene moved (class 0, similarity below 0.98 in
// double precision, five model runs), the score is away from neutral (below 17
// or above 19), a lux is reported and it changed by 1.0 or more from 300. Its
// answer, clamped to 11..44, wins only when it moves the score the same way as
// the lux. A failed run leaves the previous answer (30) in place.
TEST(SmoothModel, ConditionsAndArbitration) {
    struct Case {
        const char* name;
        float answer, lux, candidate, expected;
        int32_t cls = 0;
        float similarity = 0.5f, thisScore = 25;
        int32_t runs = 5, status = 0;
    } cases[] = {
        {"lux falls, model above", 25, 290, 20, 25},
        {"lux falls, model below", 15, 290, 20, 20},
        {"answer clamped to 44", 60, 290, 20, 44},
        {"equal to the clamped answer", 60, 290, 44, 44},
        {"lux rises, model below", 15, 310, 20, 15},
        {"answer clamped to 11", 5, 310, 20, 11},
        {"lux rises, model above", 25, 310, 20, 20},
        {"failed run", 25, 290, 20, 30, 0, 0.5f, 25, 5, -1},
        {"steady scene", 25, 290, 20, 20, 1},
        {"lux moving class", 25, 290, 20, 20, -1},
        {"similarity 0.98", 25, 290, 20, 20, 0, 0.98f},
        {"similarity 0.979", 25, 290, 20, 25, 0, 0.979f},
        {"four model runs", 25, 290, 20, 20, 0, 0.5f, 25, 4},
        {"score 17", 25, 290, 20, 20, 0, 0.5f, 17},
        {"score 18", 25, 290, 20, 20, 0, 0.5f, 18},
        {"score 19", 25, 290, 20, 20, 0, 0.5f, 19},
        {"score 16.99", 25, 290, 20, 25, 0, 0.5f, 16.99f},
        {"score 19.01", 25, 290, 20, 25, 0, 0.5f, 19.01f},
        {"lux not reported", 25, 0, 20, 20},
        {"lux change 0.5", 25, 299.5f, 20, 20},
        {"lux change exactly 1", 25, 299, 20, 25},
    };
    for (const Case& c : cases) {
        scripted::ScriptedEngine se;
        se.smooth().outputs = {{c.answer}};
        se.smooth().runStatus = {c.status};
        xepo::AeEngine& e = se.state();
        std::tie(e.isStable, e.modelRunCount, e.lastAecLux, e.lastAeScore, e.smoothResult[0]) =
            std::make_tuple(c.cls, c.runs, 300.0f, 21.0f, 30.0f);
        const float out = xepo::applySmoothModel(&e, c.candidate, c.thisScore, c.lux, c.similarity);
        EXPECT_FLOAT_EQ(out, c.expected) << c.name;
        if (se.smooth().runs == 1) {
            EXPECT_EQ(se.smooth().inputs.at(0), (std::vector<float>{300.0f, 21.0f, c.lux}));
        }
    }
}

// The result (near-neutral 16..20 exclusive snaps to 18; a light-region
// answer is 18 with 0.92; a hold repeats lastAeScore and keeps the state),
// the entrance confidence (0.9 from [1] >= 0.73, 0.82 from [2] >= 0.8, else
// 0.8) taken from lastEnResult while this_result is above 1.1, and the state
// a model score (lsResult 0) ends.
TEST(ResultOutput, Table) {
    // lsResult, hold flag, final score, this_result, entrance [1] and [2], result, confidence
    const std::tuple<int32_t, int32_t, float, float, float, float, float, float> cases[] = {
        {0, 0, 17.5f, 0.5f, 0.9f, 0, 18, 0.9f},   {0, 0, 16, 0.5f, 0.9f, 0, 16, 0.9f},
        {0, 0, 20, 0.5f, 0.9f, 0, 20, 0.9f},      {0, 0, 16.01f, 0.5f, 0.9f, 0, 18, 0.9f},
        {0, 0, 19.99f, 0.5f, 0.9f, 0, 18, 0.9f},  {1, 0, 30, 0.5f, 0.9f, 0, 18, 0.92f},
        {2, 0, 30, 0.5f, 0.9f, 0, 18, 0.9f},      {0, 1, 30, 0.5f, 0.9f, 0, 26.5f, 0.9f},
        {0, 2, 30, 0.5f, 0.9f, 0, 30, 0.9f},      {0, 0, 25, 0.5f, 0.73f, 0, 25, 0.9f},
        {0, 0, 25, 0.5f, 0.72f, 0.8f, 25, 0.82f}, {0, 0, 25, 0.5f, 0.72f, 0.79f, 25, 0.8f},
        {0, 0, 25, 1.2f, 0.9f, 0, 25, 0.8f},      {0, 0, 25, 1.1f, 0.9f, 0, 25, 0.8f},
        {0, 0, 25, 1.09f, 0.9f, 0, 25, 0.9f}};
    for (const auto& [ls, hold, finalScore, thisResult, en1, en2, result, confidence] : cases) {
        auto e = scripted::bareEngine();
        e->lastEnResult[1] = e->lastEnResult[2] = 0.1f;  // gives 0.8
        std::tie(e->enResult[1], e->enResult[2], e->lastAeScore, e->lastAeThisScore,
                 e->lastIsSegResult, e->segMap[3], e->lastSegMap[9]) =
            std::make_tuple(en1, en2, 26.5f, 24.0f, 1, uint8_t{255}, uint8_t{255});
        std::vector<uint8_t> data(xepo::kSegMapBytes, 7);
        XEPOSegMap map{-1, -1, -1, data.data()};
        _XEPO_RES_ res{-1, -1, &map};
        xepo::writeResultToOutput(e.get(), &res, ls, hold, finalScore, 23.0f, 22.0f, thisResult);
        // A model score leaves this frame's map as the last one.
        const bool model = ls == 0;
        EXPECT_EQ(std::make_tuple(res.result, res.confidence, e->lastAeScore, e->lastAeThisScore,
                                  e->lastIsSegResult, int{e->lastSegMap[3]}, int{e->lastSegMap[9]}),
                  std::make_tuple(result, confidence, hold == 1 ? 26.5f : result,
                                  hold == 1 ? 24.0f : 23.0f, model ? 0 : 1, model ? 255 : 0,
                                  model ? 0 : 255))
            << ls << hold << ' ' << finalScore << ' ' << thisResult << ' ' << en1 << ' ' << en2;
        EXPECT_EQ(std::make_tuple(map.type, map.width, map.height), std::make_tuple(9, 64, 48));
        EXPECT_EQ(std::memcmp(data.data(), e->segMap.get(), xepo::kSegMapBytes), 0);
    }
}

// Without map data only the map description is written; without a map record
// the result is still written and the gap logged.
TEST(ResultOutput, MissingMapDataOrRecord) {
    auto e = scripted::bareEngine();
    XEPOSegMap map{-1, -1, -1, nullptr};
    _XEPO_RES_ res{-1, -1, &map};
    xepo::writeResultToOutput(e.get(), &res, 0, 0, 25, 25, 25, 0.5f);
    EXPECT_EQ(std::make_tuple(map.type, map.width, res.result), std::make_tuple(9, 64, 25.0f));
    res = {-1, -1, nullptr};
    LogCapture log;
    xepo::writeResultToOutput(e.get(), &res, 0, 0, 25, 25, 25, 0.5f);
    EXPECT_EQ(std::make_pair(res.result, res.confidence), std::make_pair(25.0f, 0.8f));
    EXPECT_TRUE(log.contains("segMap record is null"));
    // Without this frame's map buffer the kept map is left alone, and the
    // light-region state still ends.
    e->segMap.reset();
    e->lastIsSegResult = 3;
    xepo::writeResultToOutput(e.get(), &res, 0, 0, 25, 25, 25, 0.5f);
    EXPECT_EQ(std::make_pair(e->lastIsSegResult, res.result), std::make_pair(0, 25.0f));
}

}  // namespace
