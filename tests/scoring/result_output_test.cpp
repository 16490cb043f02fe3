// writeResultToOutput: the result value, its confidence, the hold, the map
// record and the engine's memory of the last output.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine_state.h"
#include "log_capture.h"
#include "xepo/result_output.h"

namespace {

// A host record with a map buffer, prefilled so that untouched fields show.
struct HostResult {
    std::vector<uint8_t> mapData = std::vector<uint8_t>(xepo::kSegMapBytes, 7);
    XEPOSegMap map{-1, -1, -1, mapData.data()};
    _XEPO_RES_ res{-1.0f, -1.0f, &map};
};

// Entrance outputs that give confidence 0.9 from enResult and 0.8 from
// lastEnResult, so the chosen source shows in the confidence.
void setEntranceSources(xepo::AeEngine& engine) {
    engine.enResult[1] = 0.9f;
    engine.enResult[2] = 0.0f;
    engine.lastEnResult[1] = 0.1f;
    engine.lastEnResult[2] = 0.1f;
}

struct ScoreCase {
    float finalScore;
    float expected;
};

class ModelScoreResult : public ::testing::TestWithParam<ScoreCase> {};

TEST_P(ModelScoreResult, NearNeutralScoresSnapToNeutral) {
    auto engine = makeEngineState();
    HostResult host;
    xepo::writeResultToOutput(engine.get(), &host.res, 0, 0, GetParam().finalScore, 23.0f, 22.0f,
                              0.5f);
    EXPECT_FLOAT_EQ(host.res.result, GetParam().expected);
    EXPECT_FLOAT_EQ(engine->lastAeScore, GetParam().expected);
    EXPECT_FLOAT_EQ(engine->lastAeThisScore, 23.0f);
}

INSTANTIATE_TEST_SUITE_P(Table, ModelScoreResult,
                         ::testing::Values(ScoreCase{17.5f, 18.0f}, ScoreCase{16.0f, 16.0f},
                                           ScoreCase{20.0f, 20.0f}, ScoreCase{16.01f, 18.0f},
                                           ScoreCase{19.99f, 18.0f}, ScoreCase{11.0f, 11.0f},
                                           ScoreCase{44.0f, 44.0f}));

TEST(ResultOutput, ModelScoreEndsTheLightRegionState) {
    auto engine = makeEngineState();
    engine->segMap[5] = 255;
    engine->lastSegMap[9] = 255;
    engine->lastIsSegResult = 1;
    HostResult host;
    xepo::writeResultToOutput(engine.get(), &host.res, 0, 0, 25.0f, 25.0f, 25.0f, 0.5f);
    EXPECT_EQ(engine->lastSegMap[5], 255);
    EXPECT_EQ(engine->lastSegMap[9], 0);
    EXPECT_EQ(engine->lastIsSegResult, 0);
}

TEST(ResultOutput, LightRegionAnswerIsNeutralWithItsOwnConfidence) {
    auto engine = makeEngineState();
    setEntranceSources(*engine);
    engine->segMap[3] = 255;
    engine->lastIsSegResult = 1;
    HostResult host;
    xepo::writeResultToOutput(engine.get(), &host.res, 1, 0, 30.0f, 30.0f, 30.0f, 0.5f);
    EXPECT_FLOAT_EQ(host.res.result, 18.0f);
    EXPECT_FLOAT_EQ(host.res.confidence, 0.92f);
    EXPECT_FLOAT_EQ(engine->lastAeScore, 18.0f);
    EXPECT_FLOAT_EQ(engine->lastAeThisScore, 30.0f);
    // The light-region state stays, and the map goes to the host.
    EXPECT_EQ(engine->lastIsSegResult, 1);
    EXPECT_EQ(engine->lastSegMap[3], 0);
    EXPECT_EQ(host.mapData[3], 255);
}

TEST(ResultOutput, OtherLsResultIsNeutralWithEntranceConfidence) {
    auto engine = makeEngineState();
    setEntranceSources(*engine);
    engine->lastIsSegResult = 1;
    HostResult host;
    xepo::writeResultToOutput(engine.get(), &host.res, 2, 0, 30.0f, 30.0f, 30.0f, 0.5f);
    EXPECT_FLOAT_EQ(host.res.result, 18.0f);
    EXPECT_FLOAT_EQ(host.res.confidence, 0.9f);
    EXPECT_EQ(engine->lastIsSegResult, 1);
}

struct ConfidenceCase {
    float en1;
    float en2;
    float expected;
};

class EntranceConfidence : public ::testing::TestWithParam<ConfidenceCase> {};

TEST_P(EntranceConfidence, FromTheEntranceOutputs) {
    auto engine = makeEngineState();
    engine->enResult[1] = GetParam().en1;
    engine->enResult[2] = GetParam().en2;
    HostResult host;
    xepo::writeResultToOutput(engine.get(), &host.res, 0, 0, 25.0f, 25.0f, 25.0f, 0.5f);
    EXPECT_FLOAT_EQ(host.res.confidence, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EntranceConfidence,
    ::testing::Values(ConfidenceCase{0.73f, 0.0f, 0.9f}, ConfidenceCase{0.99f, 0.99f, 0.9f},
                      ConfidenceCase{0.72f, 0.8f, 0.82f}, ConfidenceCase{0.0f, 1.0f, 0.82f},
                      ConfidenceCase{0.72f, 0.79f, 0.8f}, ConfidenceCase{0.0f, 0.0f, 0.8f}));

struct SourceCase {
    float this_result;
    float expected;  // 0.9 from enResult, 0.8 from lastEnResult
};

class ConfidenceSource : public ::testing::TestWithParam<SourceCase> {};

TEST_P(ConfidenceSource, LastEntranceOutputWhenNoEntranceRan) {
    auto engine = makeEngineState();
    setEntranceSources(*engine);
    HostResult host;
    xepo::writeResultToOutput(engine.get(), &host.res, 0, 0, 25.0f, 25.0f, 25.0f,
                              GetParam().this_result);
    EXPECT_FLOAT_EQ(host.res.confidence, GetParam().expected) << GetParam().this_result;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ConfidenceSource,
    ::testing::Values(SourceCase{1.2f, 0.8f},  // the start value
                                               // 1.1 in single precision is just above 1.1.
                      SourceCase{1.1f, 0.8f}, SourceCase{1.09f, 0.9f}, SourceCase{0.5f, 0.9f},
                      SourceCase{0.0f, 0.9f}));

TEST(ResultOutput, HoldOutputsTheLastScoreAndKeepsTheState) {
    auto engine = makeEngineState();
    engine->lastAeScore = 26.5f;
    engine->lastAeThisScore = 24.0f;
    HostResult host;
    xepo::writeResultToOutput(engine.get(), &host.res, 0, 1, 30.0f, 31.0f, 29.0f, 0.5f);
    EXPECT_FLOAT_EQ(host.res.result, 26.5f);
    EXPECT_FLOAT_EQ(engine->lastAeScore, 26.5f);
    EXPECT_FLOAT_EQ(engine->lastAeThisScore, 24.0f);
}

TEST(ResultOutput, HoldFlagOtherThanOneDoesNotHold) {
    auto engine = makeEngineState();
    engine->lastAeScore = 26.5f;
    HostResult host;
    xepo::writeResultToOutput(engine.get(), &host.res, 0, 2, 30.0f, 31.0f, 29.0f, 0.5f);
    EXPECT_FLOAT_EQ(host.res.result, 30.0f);
    EXPECT_FLOAT_EQ(engine->lastAeScore, 30.0f);
    EXPECT_FLOAT_EQ(engine->lastAeThisScore, 31.0f);
}

TEST(ResultOutput, MapRecordIsDescribedAndFilled) {
    auto engine = makeEngineState();
    for (int i = 0; i < xepo::kSegMapBytes; ++i) {
        engine->segMap[i] = (i % 3 == 0) ? 255 : 0;
    }
    HostResult host;
    xepo::writeResultToOutput(engine.get(), &host.res, 0, 0, 25.0f, 25.0f, 25.0f, 0.5f);
    EXPECT_EQ(host.map.type, 9);
    EXPECT_EQ(host.map.width, 64);
    EXPECT_EQ(host.map.height, 48);
    EXPECT_EQ(0, std::memcmp(host.mapData.data(), engine->segMap.get(), xepo::kSegMapBytes));
}

TEST(ResultOutput, NullMapDataStillDescribesTheMap) {
    auto engine = makeEngineState();
    HostResult host;
    host.map.data = nullptr;
    xepo::writeResultToOutput(engine.get(), &host.res, 0, 0, 25.0f, 25.0f, 25.0f, 0.5f);
    EXPECT_EQ(host.map.type, 9);
    EXPECT_EQ(host.map.width, 64);
    EXPECT_EQ(host.map.height, 48);
    EXPECT_FLOAT_EQ(host.res.result, 25.0f);
}

TEST(ResultOutput, MissingMapRecordWritesTheResultAndLogsAnError) {
    auto engine = makeEngineState();
    HostResult host;
    host.res.segMap = nullptr;
    LogCapture log;
    xepo::writeResultToOutput(engine.get(), &host.res, 0, 0, 25.0f, 25.0f, 25.0f, 0.5f);
    EXPECT_FLOAT_EQ(host.res.result, 25.0f);
    EXPECT_FLOAT_EQ(host.res.confidence, 0.8f);
    ASSERT_TRUE(log.contains("segMap record is null"));
    EXPECT_EQ(log.lines()[0].priority, 6);
}

TEST(ResultOutput, MissingRecordOrEngineDoesNotCrash) {
    auto engine = makeEngineState();
    LogCapture log;
    xepo::writeResultToOutput(engine.get(), nullptr, 0, 0, 25.0f, 25.0f, 25.0f, 0.5f);
    EXPECT_FLOAT_EQ(engine->lastAeScore, 25.0f);
    HostResult host;
    xepo::writeResultToOutput(nullptr, &host.res, 0, 0, 25.0f, 25.0f, 25.0f, 0.5f);
    EXPECT_FLOAT_EQ(host.res.result, -1.0f);
}

TEST(ResultOutput, LogsThePredictionLine) {
    auto engine = makeEngineState();
    setEntranceSources(*engine);
    engine->lastAeScore = 26.5f;
    HostResult host;
    LogCapture log;
    // Held: the line shows the frame's value r, not the held output.
    xepo::writeResultToOutput(engine.get(), &host.res, 0, 1, 30.0f, 31.0f, 29.0f, 0.5f);
    EXPECT_EQ(log.texts(),
              std::vector<std::string>{"predict complete, this_albedo: 31.000000 final_albedo: "
                                       "29.000000 result 30.000000 final_confidence: 0.900000"});
    EXPECT_EQ(log.lines()[0].priority, 3);
}

}  // namespace
