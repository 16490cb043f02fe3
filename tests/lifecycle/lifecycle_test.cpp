// Engine creation and release with the real runtime, constant-output models
// and the real image-operator library.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

#include "cpp/img_process/img_process.h"
#include "engine_params.h"
#include "log_capture.h"
#include "xepo.h"
#include "xepo/ae_engine.h"

namespace {

using lifecycle_test::Model;
using lifecycle_test::Params;
using xepo::AeEngine;

const std::string kModelDir = LIFECYCLE_MODEL_DIR "/";
constexpr int kDebug = 3;
constexpr int kError = 6;

class Lifecycle : public ::testing::Test {
  protected:
    void SetUp() override { lifecycle_test::releaseLeftoverEngine(); }
    void TearDown() override { lifecycle_test::releaseLeftoverEngine(); }
    LogCapture log;
};

template <typename T>
bool allZero(const T* values, size_t count) {
    return std::all_of(values, values + count, [](T v) { return v == T{}; });
}

std::string pointerText(const void* p) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", p);
    return text;
}

TEST_F(Lifecycle, CreationLogsItsProgressAndRegistersTheInstance) {
    Params params(kModelDir);
    void* engine = initAeEngine(params.get());
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(engine, xepo::engineInstance);
    EXPECT_TRUE(xepo::engineInitialized);
    EXPECT_EQ(log.texts(),
              (std::vector<std::string>{"model init begin!",
                                        "init succeed! handle is " + pointerText(engine)}));
    for (const LoggedLine& line : log.lines()) {
        EXPECT_EQ(line.priority, kDebug);
        EXPECT_EQ(line.tag, "_Q_LXEPO");
    }
}

TEST_F(Lifecycle, SecondCreationReturnsTheSameEngineWhateverItsHandleNames) {
    Params params(kModelDir);
    Params elsewhere("/nonexistent/models/");
    void* first = initAeEngine(params.get());
    ASSERT_NE(first, nullptr);
    log.clear();
    EXPECT_EQ(initAeEngine(elsewhere.get()), first);
    EXPECT_EQ(log.texts(), (std::vector<std::string>{"model init begin!", "model is allready"}));
    EXPECT_EQ(log.lines()[1].priority, kDebug);
}

// Refused before "model init begin!", which is logged just before the lock.
TEST_F(Lifecycle, NullHandleIsRefusedBeforeAnythingElse) {
    EXPECT_EQ(initAeEngine(nullptr), nullptr);
    EXPECT_EQ(log.texts(),
              std::vector<std::string>{"paramHandle is null, please create paramHandle"});
    EXPECT_EQ(log.lines()[0].priority, kError);
    EXPECT_EQ(xepo::engineInstance, nullptr);
}

// Each model is required: leaving one out fails creation with that model's
// status alone, and a complete handle succeeds afterwards.
TEST_F(Lifecycle, AMissingModelFailsCreationAndLeavesNothingBehind) {
    struct MissingCase {
        Model left;
        int lifecycle_test::InitStatuses::*failing;
    };
    const MissingCase cases[] = {
        {Model::Entrance, &lifecycle_test::InitStatuses::en},
        {Model::Albedo, &lifecycle_test::InitStatuses::ae},
        {Model::LightSeg, &lifecycle_test::InitStatuses::ls},
        {Model::Smooth, &lifecycle_test::InitStatuses::smooth},
    };
    for (const MissingCase& c : cases) {
        SCOPED_TRACE(lifecycle_test::keyOf(c.left));
        log.clear();
        Params partial(kModelDir, &c.left);
        EXPECT_EQ(initAeEngine(partial.get()), nullptr);
        EXPECT_EQ(xepo::engineInstance, nullptr);
        EXPECT_FALSE(xepo::engineInitialized);

        std::vector<LoggedLine> failures;
        for (const LoggedLine& line : log.lines()) {
            if (line.text().rfind("init Engine or tavkit failed!", 0) == 0) {
                failures.push_back(line);
            }
        }
        ASSERT_EQ(failures.size(), 1u);
        EXPECT_EQ(failures[0].priority, kError);
        lifecycle_test::InitStatuses statuses{};
        ASSERT_TRUE(lifecycle_test::parseFailureLine(failures[0].text(), statuses))
            << failures[0].text();
        EXPECT_NE(statuses.*c.failing, 0);
        statuses.*c.failing = 0;
        EXPECT_EQ(statuses.ae, 0);
        EXPECT_EQ(statuses.en, 0);
        EXPECT_EQ(statuses.ls, 0);
        EXPECT_EQ(statuses.tavkit, 0);
        EXPECT_EQ(statuses.smooth, 0);
        EXPECT_FALSE(log.contains("init succeed!"));

        Params complete(kModelDir);
        void* engine = initAeEngine(complete.get());
        EXPECT_NE(engine, nullptr);
        releaseAeEngine(&engine);
    }
}

TEST_F(Lifecycle, CreatedEngineStartsFromTheCreationValues) {
    Params params(kModelDir);
    auto* engine = static_cast<AeEngine*>(initAeEngine(params.get()));
    ASSERT_NE(engine, nullptr);

    EXPECT_EQ(engine->lastAeScore, 18.0f);
    EXPECT_EQ(engine->lastAeThisScore, 18.0f);
    EXPECT_EQ(engine->nccRefValid, 1);
    EXPECT_EQ(engine->lastImuStatus, 1);
    EXPECT_EQ(engine->isStable, 0);
    EXPECT_EQ(engine->lastIsStable, 0);
    EXPECT_EQ(engine->lastAecLux, 0.0f);
    EXPECT_EQ(engine->refAecLux, 0.0f);
    EXPECT_EQ(engine->lastGyroTimestamp, 0u);
    EXPECT_EQ(engine->stillSinceTicks, 0);
    EXPECT_EQ(engine->modelRunCount, 0);
    EXPECT_EQ(engine->lastScale, 0.0f);
    EXPECT_EQ(engine->satCountdown, 0);
    EXPECT_EQ(engine->historyHitCount, 0);
    EXPECT_EQ(engine->lastIsSegResult, 0);
    EXPECT_EQ(engine->lastSegAecLux, 0.0f);
    EXPECT_TRUE(allZero(engine->imuAngle, 3));
    EXPECT_NE(engine->tavkit_handle, 0);

    EXPECT_TRUE(engine->historyHist.empty());
    EXPECT_EQ(engine->nccRefThumb, nullptr);
    EXPECT_EQ(engine->lastHist, nullptr);
    ASSERT_NE(engine->aeScoreAverage, nullptr);
    EXPECT_TRUE(engine->aeScoreAverage->values.empty());
    EXPECT_EQ(engine->aeScoreAverage->window, 5u);
    EXPECT_EQ(engine->aeScoreAverage->sum, 0.0f);

    EXPECT_TRUE(allZero(engine->albedoResult.get(), 1));
    EXPECT_TRUE(allZero(engine->enResult.get(), xepo::kEntranceOutputs));
    EXPECT_TRUE(allZero(engine->lastEnResult.get(), xepo::kEntranceOutputs));
    EXPECT_TRUE(allZero(engine->smoothResult.get(), 1));
    EXPECT_TRUE(allZero(engine->lightSegOutput.get(), xepo::kLightSegFloats));
    EXPECT_TRUE(allZero(engine->modelInput.get(), xepo::kModelInputFloats));
    EXPECT_TRUE(allZero(engine->smoothInput.get(), xepo::kSmoothInputs));
    EXPECT_TRUE(allZero(engine->rgbImage.get(), xepo::kRgbImageBytes));
    EXPECT_TRUE(allZero(engine->curHist.get(), xepo::kHistBins));
    EXPECT_TRUE(allZero(engine->grayThumb.get(), xepo::kThumbBytes));
    EXPECT_TRUE(allZero(engine->grayImage.get(), xepo::kGrayImageBytes));
    EXPECT_TRUE(allZero(engine->lastSegMap.get(), xepo::kSegMapBytes));
    EXPECT_TRUE(allZero(engine->segMap.get(), xepo::kSegMapBytes));
}

// Each runner holds the model of its own slot: the constant models answer
// with the values the test set was generated with.
TEST_F(Lifecycle, EachRunnerHoldsItsOwnModel) {
    Params params(kModelDir);
    auto* engine = static_cast<AeEngine*>(initAeEngine(params.get()));
    ASSERT_NE(engine, nullptr);

    ASSERT_EQ(engine->entranceRunner->forward({engine->modelInput.get()}, {engine->enResult.get()}),
              0);
    const float entrance[4] = {0.125f, 0.25f, 0.5f, 0.75f};
    for (int i = 0; i < 4; ++i) {
        EXPECT_FLOAT_EQ(engine->enResult[i], entrance[i]) << i;
    }
    ASSERT_EQ(
        engine->albedoRunner->forward({engine->modelInput.get()}, {engine->albedoResult.get()}), 0);
    EXPECT_FLOAT_EQ(engine->albedoResult[0], 0.375f);
    ASSERT_EQ(
        engine->smoothRunner->forward({engine->smoothInput.get()}, {engine->smoothResult.get()}),
        0);
    EXPECT_FLOAT_EQ(engine->smoothResult[0], 21.5f);
    ASSERT_EQ(
        engine->lightSegRunner->forward({engine->modelInput.get()}, {engine->lightSegOutput.get()}),
        0);
    // The light rectangle covers rows 10..12 and columns 20..22.
    const auto lit = [&](int row, int col) {
        return engine->lightSegOutput[(row * xepo::kLightSegSide + col) * 2 + 1];
    };
    EXPECT_FLOAT_EQ(lit(11, 21), 1.0f);
    EXPECT_FLOAT_EQ(lit(0, 0), 0.0f);

    // The image-operator context is ready for preprocessing.
    std::vector<uint8_t> y(64 * 48, 100);
    std::vector<uint8_t> vu(64 * 24, 128);
    EXPECT_EQ(xepo::yuvtoBuffer(engine->tavkit_handle, y.data(), vu.data(), 64, 48, 64, 48, 90, 0,
                                true, 17, engine->modelInput.get(), 1, 0.5f),
              0);
}

TEST_F(Lifecycle, ReleaseForgetsEverythingAndANewEngineStartsAfresh) {
    Params params(kModelDir);
    void* engine = initAeEngine(params.get());
    ASSERT_NE(engine, nullptr);
    {
        auto* state = static_cast<AeEngine*>(engine);
        state->lastAeScore = 30.0f;
        state->modelRunCount = 7;
        state->nccRefThumb = std::make_unique<uint8_t[]>(xepo::kThumbBytes);
        state->lastHist = std::make_unique<int32_t[]>(xepo::kHistBins);
        state->historyHist.emplace_back();
        state->historyHist.back().hist = std::make_unique<int32_t[]>(xepo::kHistBins);
        state->aeScoreAverage->values.push_back(25.0f);
        state->aeScoreAverage->sum = 25.0f;
        state->lastEnResult[1] = 0.9f;
        state->segMap[5] = 255;
    }
    log.clear();
    releaseAeEngine(&engine);
    EXPECT_EQ(engine, nullptr);
    EXPECT_EQ(xepo::engineInstance, nullptr);
    EXPECT_FALSE(xepo::engineInitialized);
    ASSERT_EQ(log.texts(), std::vector<std::string>{"release AeEngine completed"});
    EXPECT_EQ(log.lines()[0].priority, kError);

    auto* fresh = static_cast<AeEngine*>(initAeEngine(params.get()));
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->lastAeScore, 18.0f);
    EXPECT_EQ(fresh->modelRunCount, 0);
    EXPECT_TRUE(fresh->historyHist.empty());
    EXPECT_EQ(fresh->nccRefThumb, nullptr);
    EXPECT_EQ(fresh->lastHist, nullptr);
    EXPECT_TRUE(fresh->aeScoreAverage->values.empty());
    EXPECT_EQ(fresh->aeScoreAverage->sum, 0.0f);
    EXPECT_TRUE(allZero(fresh->lastEnResult.get(), xepo::kEntranceOutputs));
    EXPECT_TRUE(allZero(fresh->segMap.get(), xepo::kSegMapBytes));
}

TEST_F(Lifecycle, ReleasingNothingChangesNothing) {
    Params params(kModelDir);
    void* engine = initAeEngine(params.get());
    ASSERT_NE(engine, nullptr);
    log.clear();

    void* none = nullptr;
    releaseAeEngine(&none);
    releaseAeEngine(nullptr);
    EXPECT_EQ(log.count("qdnn_struct is null"), 2);
    EXPECT_EQ(log.lines().size(), 2u);
    EXPECT_EQ(xepo::engineInstance, engine);
    EXPECT_TRUE(xepo::engineInitialized);

    // A pointer that is not the engine is not freed either.
    int notAnEngine = 0;
    void* foreign = &notAnEngine;
    releaseAeEngine(&foreign);
    EXPECT_EQ(foreign, &notAnEngine);
    EXPECT_EQ(xepo::engineInstance, engine);
}

TEST_F(Lifecycle, ConcurrentCreationsBuildOneEngine) {
    Params params(kModelDir);
    constexpr int kThreads = 4;
    std::vector<void*> engines(kThreads, nullptr);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] { engines[i] = initAeEngine(params.get()); });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    ASSERT_NE(engines[0], nullptr);
    for (void* engine : engines) {
        EXPECT_EQ(engine, engines[0]);
    }
    EXPECT_EQ(log.count("model is allready"), kThreads - 1);
    EXPECT_EQ(log.count("init succeed! handle is " + pointerText(engines[0])), 1);
}

}  // namespace
