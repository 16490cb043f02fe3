// initTAVKIT and the engine's handling of the image-operator context, against
// the recording stand-in of the operator library (models and runtime are real).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine_params.h"
#include "log_capture.h"
#include "recording_tavkit.h"
#include "xepo.h"
#include "xepo/ae_engine.h"

namespace {

using recording_tavkit::kInjectedStatus;
using recording_tavkit::recorder;

const std::string kModelDir = LIFECYCLE_MODEL_DIR "/";
const std::vector<int32_t> kRegistrationOrder = {21, 19, 14, 3, 50, 53, 47, 27, 48, 2};
constexpr int kError = 6;

class TavkitRegistration : public ::testing::Test {
  protected:
    void SetUp() override {
        lifecycle_test::releaseLeftoverEngine();
        recording_tavkit::reset();
        log.clear();
    }
    void TearDown() override {
        recorder().failRelease = false;
        lifecycle_test::releaseLeftoverEngine();
    }
    LogCapture log;
};

TEST_F(TavkitRegistration, ConfiguresTheContextAndRegistersEveryOperatorInOrder) {
    long handle = 0;
    ASSERT_EQ(initTAVKIT(handle), 0);
    EXPECT_EQ(handle, recording_tavkit::kContextHandle);
    EXPECT_EQ(recorder().configInits, 1);
    EXPECT_EQ(recorder().contextInits, 1);
    EXPECT_EQ(recorder().registrations, kRegistrationOrder);
    EXPECT_TRUE(log.texts().empty());

    // Words 0, 1, 3 and 7 are set; the rest keep the library's defaults.
    const int32_t* words = recorder().configSeen.words;
    EXPECT_EQ(words[0], 0);
    EXPECT_EQ(words[1], -1);
    EXPECT_EQ(words[3], 5);
    EXPECT_EQ(words[7], 1);
    for (int i : {2, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14, 15}) {
        EXPECT_TRUE(recording_tavkit::untouched(&words[i], sizeof words[i])) << "word " << i;
    }
}

TEST_F(TavkitRegistration, StopsAtTheFirstOperatorThatFails) {
    for (size_t failing = 0; failing < kRegistrationOrder.size(); ++failing) {
        const int32_t id = kRegistrationOrder[failing];
        SCOPED_TRACE(id);
        recording_tavkit::reset();
        recorder().failRegistration = id;
        log.clear();
        long handle = 0;
        EXPECT_EQ(initTAVKIT(handle), -3002);
        const std::vector<int32_t> attempted(kRegistrationOrder.begin(),
                                             kRegistrationOrder.begin() + failing + 1);
        EXPECT_EQ(recorder().registrations, attempted);
        const std::string prefix = id == 53 ? "" : "XEPO ";
        EXPECT_EQ(log.texts(), std::vector<std::string>{prefix + "Tavkit regist operators failed " +
                                                        std::to_string(kInjectedStatus)});
        EXPECT_EQ(log.lines()[0].priority, kError);
        EXPECT_EQ(recorder().releases, 0) << "the context is left to the caller";
    }
}

TEST_F(TavkitRegistration, ContextCreationFailureRegistersNothing) {
    recorder().failContextInit = true;
    long handle = 0;
    EXPECT_EQ(initTAVKIT(handle), -3001);
    EXPECT_TRUE(recorder().registrations.empty());
    EXPECT_EQ(log.texts(), std::vector<std::string>{"XEPO Tavkit init failed " +
                                                    std::to_string(kInjectedStatus)});
}

// ---- The engine's use of the context -----------------------------------------

struct EngineFailureCase {
    const char* name;
    bool failContextInit;
    int32_t failRegistration;
    int expectedTavkitRet;
    int expectedReleases;  // the context is released only when initTAVKIT succeeded
};

TEST_F(TavkitRegistration, ContextFailureFailsCreation) {
    const EngineFailureCase cases[] = {
        {"context creation fails", true, recording_tavkit::kNoOperator, -3001, 0},
        {"a registration fails", false, 47, -3002, 0},
    };
    for (const EngineFailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        recording_tavkit::reset();
        recorder().failContextInit = c.failContextInit;
        recorder().failRegistration = c.failRegistration;
        log.clear();
        lifecycle_test::Params params(kModelDir);
        EXPECT_EQ(initAeEngine(params.get()), nullptr);
        EXPECT_EQ(xepo::engineInstance, nullptr);
        EXPECT_EQ(log.count("init Engine or tavkit failed!, ae_ret=0, en_ret=0, ls_ret=0, "
                            "tavkit_ret=" +
                            std::to_string(c.expectedTavkitRet) + ", smooth_ret=0"),
                  1);
        EXPECT_EQ(recorder().releases, c.expectedReleases);
    }
}

TEST_F(TavkitRegistration, ModelFailureReleasesTheCreatedContext) {
    const lifecycle_test::Model left = lifecycle_test::Model::Albedo;
    for (const bool releaseFails : {false, true}) {
        SCOPED_TRACE(releaseFails);
        recording_tavkit::reset();
        recorder().failRelease = releaseFails;
        log.clear();
        lifecycle_test::Params partial(kModelDir, &left);
        EXPECT_EQ(initAeEngine(partial.get()), nullptr);
        EXPECT_EQ(recorder().releases, 1);
        EXPECT_EQ(log.count("release XEPO release tavkit handle failed"), releaseFails ? 1 : 0);
    }
}

TEST_F(TavkitRegistration, ReleaseGoesOnWhenTheContextReleaseFails) {
    lifecycle_test::Params params(kModelDir);
    void* engine = initAeEngine(params.get());
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(static_cast<xepo::AeEngine*>(engine)->tavkit_handle,
              recording_tavkit::kContextHandle);
    recorder().failRelease = true;
    log.clear();
    releaseAeEngine(&engine);
    EXPECT_EQ(engine, nullptr);
    EXPECT_EQ(recorder().releases, 1);
    EXPECT_EQ(log.texts(), (std::vector<std::string>{"release XEPO release tavkit handle failed",
                                                     "release AeEngine completed"}));
    EXPECT_FALSE(xepo::engineInitialized);
}

}  // namespace
