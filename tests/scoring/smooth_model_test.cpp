// applySmoothModel: when the smooth model is asked, and when its answer wins.
// The smooth models are constant-output models made at build time.
#include <gtest/gtest.h>

#include <string>

#include "engine_state.h"
#include "log_capture.h"
#include "xepo/score_smoothing.h"

namespace {

constexpr const char* kSmoothRunLine = "xepo smooth result:";

std::unique_ptr<QDNNRunner> constantSmoothRunner(const char* set) {
    const std::string path = std::string(SMOOTH_MODEL_ROOT) + "/" + set + "/xepo_smooth.qdnn";
    auto runner = std::make_unique<QDNNRunner>(path, "NEURON", 0, 0);
    EXPECT_EQ(runner->init(), 0) << path;
    return runner;
}

// State in which all four conditions for a model run hold, with the lux
// falling from 300 to 290 (given by the caller).
std::unique_ptr<xepo::AeEngine> movedScene(const char* set) {
    auto engine = makeEngineState();
    engine->smoothRunner = constantSmoothRunner(set);
    engine->isStable = 0;
    engine->modelRunCount = 5;
    engine->lastAecLux = 300.0f;
    engine->lastAeScore = 21.0f;
    return engine;
}

struct ArbitrationCase {
    const char* set;  // model set whose smooth model answers `answer`
    float answer;
    float lux;  // from 300
    float candidate;
    float expected;
};

class SmoothArbitration : public ::testing::TestWithParam<ArbitrationCase> {};

TEST_P(SmoothArbitration, ModelWinsOnlyWhenItMovesWithTheLux) {
    const ArbitrationCase& c = GetParam();
    auto engine = movedScene(c.set);
    LogCapture log;
    const float out = xepo::applySmoothModel(engine.get(), c.candidate, 25.0f, c.lux, 0.5f);
    EXPECT_FLOAT_EQ(out, c.expected) << "model " << c.answer << " lux " << c.lux;
    EXPECT_EQ(log.count("xepo smooth result: " + std::to_string(c.answer)), 1);
}

INSTANTIATE_TEST_SUITE_P(Directions, SmoothArbitration,
                         ::testing::Values(
                             // Lux falls, model above the candidate: both differences negative.
                             ArbitrationCase{"smooth25", 25.0f, 290.0f, 20.0f, 25.0f},
                             // Lux falls, model below the candidate.
                             ArbitrationCase{"smooth15", 15.0f, 290.0f, 20.0f, 20.0f},
                             // The answer is clamped to 44 before the comparison.
                             ArbitrationCase{"smooth60", 60.0f, 290.0f, 20.0f, 44.0f},
                             // Lux rises: the model wins when it is below the candidate.
                             ArbitrationCase{"smooth15", 15.0f, 310.0f, 20.0f, 15.0f},
                             ArbitrationCase{"smooth25", 25.0f, 310.0f, 20.0f, 20.0f},
                             ArbitrationCase{"smooth60", 60.0f, 310.0f, 20.0f, 20.0f},
                             // Equal to the clamped answer: no difference, candidate kept.
                             ArbitrationCase{"smooth60", 60.0f, 290.0f, 44.0f, 44.0f}));

TEST(SmoothModel, FillsTheInputAndLogsIt) {
    auto engine = movedScene("smooth25");
    LogCapture log;
    xepo::applySmoothModel(engine.get(), 20.0f, 25.0f, 290.0f, 0.5f);
    EXPECT_FLOAT_EQ(engine->smoothInput[0], 300.0f);
    EXPECT_FLOAT_EQ(engine->smoothInput[1], 21.0f);
    EXPECT_FLOAT_EQ(engine->smoothInput[2], 290.0f);
    EXPECT_EQ(
        log.count("xepo smooth last_aec: 300.000000, last_albedo: 21.000000, aec: 290.000000"), 1);
    // The function itself does not change the engine's memory of lux or score.
    EXPECT_FLOAT_EQ(engine->lastAecLux, 300.0f);
    EXPECT_FLOAT_EQ(engine->lastAeScore, 21.0f);
}

struct ConditionCase {
    const char* what;
    int32_t isStable;
    float similarity;
    int32_t modelRunCount;
    float thisScore;
    float lux;  // lastAecLux is 300
    bool runs;
};

class SmoothConditions : public ::testing::TestWithParam<ConditionCase> {};

TEST_P(SmoothConditions, ModelRunsOnlyWhenAllConditionsHold) {
    const ConditionCase& c = GetParam();
    auto engine = movedScene("smooth25");
    engine->isStable = c.isStable;
    engine->modelRunCount = c.modelRunCount;
    LogCapture log;
    const float out = xepo::applySmoothModel(engine.get(), 20.0f, c.thisScore, c.lux, c.similarity);
    EXPECT_EQ(log.contains(kSmoothRunLine), c.runs) << c.what;
    if (!c.runs) {
        EXPECT_FLOAT_EQ(out, 20.0f) << c.what;
        EXPECT_TRUE(log.texts().empty()) << c.what;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SmoothConditions,
    ::testing::Values(ConditionCase{"all hold", 0, 0.5f, 5, 25.0f, 290.0f, true},
                      ConditionCase{"steady scene", 1, 0.5f, 5, 25.0f, 290.0f, false},
                      ConditionCase{"lux moving class", -1, 0.5f, 5, 25.0f, 290.0f, false},
                      // 0.98 in single precision is slightly above 0.98 in double precision.
                      ConditionCase{"similarity 0.98", 0, 0.98f, 5, 25.0f, 290.0f, false},
                      ConditionCase{"similarity 0.979", 0, 0.979f, 5, 25.0f, 290.0f, true},
                      ConditionCase{"four model runs", 0, 0.5f, 4, 25.0f, 290.0f, false},
                      ConditionCase{"score 17 is near neutral", 0, 0.5f, 5, 17.0f, 290.0f, false},
                      ConditionCase{"score 18", 0, 0.5f, 5, 18.0f, 290.0f, false},
                      ConditionCase{"score 19 is near neutral", 0, 0.5f, 5, 19.0f, 290.0f, false},
                      ConditionCase{"score 16.9", 0, 0.5f, 5, 16.9f, 290.0f, true},
                      ConditionCase{"score 19.1", 0, 0.5f, 5, 19.1f, 290.0f, true},
                      ConditionCase{"lux 0 not reported", 0, 0.5f, 5, 25.0f, 0.0f, false},
                      ConditionCase{"negative lux", 0, 0.5f, 5, 25.0f, -5.0f, false},
                      ConditionCase{"lux change 0.5", 0, 0.5f, 5, 25.0f, 299.5f, false},
                      ConditionCase{"lux change exactly 1", 0, 0.5f, 5, 25.0f, 299.0f, true},
                      ConditionCase{"lux change 1 upwards", 0, 0.5f, 5, 25.0f, 301.0f, true}));

TEST(SmoothModel, FailedRunUsesThePreviousAnswer) {
    auto engine = movedScene("smooth25");
    engine->smoothRunner.reset();  // runModel refuses a missing runner
    engine->smoothResult[0] = 30.0f;
    LogCapture log;
    EXPECT_FLOAT_EQ(xepo::applySmoothModel(engine.get(), 20.0f, 25.0f, 290.0f, 0.5f), 30.0f);
    EXPECT_EQ(log.count("Invalid QDNNRunner handle.\n"), 1);
    EXPECT_EQ(log.count("xepo smooth result: 30.000000"), 1);
}

TEST(SmoothModel, MissingStateKeepsTheCandidate) {
    LogCapture log;
    EXPECT_FLOAT_EQ(xepo::applySmoothModel(nullptr, 20.0f, 25.0f, 290.0f, 0.5f), 20.0f);
    auto engine = makeEngineState();
    engine->smoothResult.reset();
    engine->modelRunCount = 5;
    engine->lastAecLux = 300.0f;
    EXPECT_FLOAT_EQ(xepo::applySmoothModel(engine.get(), 20.0f, 25.0f, 290.0f, 0.5f), 20.0f);
}

}  // namespace
