// Engine creation and release with the real runtime and the shared confident
// constant-output models; the image-operator library is the recording stand-in,
// so that its context and registrations can be failed on purpose.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "log_capture.h"
#include "recording_tavkit.h"
#include "xepo.h"
#include "xepo/ae_engine.h"

namespace {

using recording_tavkit::rec;
using Ids = std::vector<int32_t>;
using Lines = std::vector<std::string>;

const std::string kCode = std::to_string(recording_tavkit::kInjectedStatus);
const Ids kRegistrationOrder = {21, 19, 14, 3, 50, 53, 47, 27, 48, 2};
// The plain-file keys, in the order of their statuses in the failure line.
constexpr int kModelKeys[] = {kAeKeyAlbedo, kAeKeyEntrance, kAeKeyLightSeg, kAeKeySmooth};
const char* const kStatusFields[] = {"ae_ret=0,", "en_ret=0,", "ls_ret=0,", "smooth_ret=0",
                                     "tavkit_ret=0,"};

// A parameter handle naming every model in `dir` except `leftKey`.
using Handle = std::unique_ptr<void, void (*)(void*)>;
Handle params(const char* dir = TEST_MODEL_ROOT "/confident/", int leftKey = 0) {
    Handle handle(CreateParamHandle(), [](void* h) { releaseParamHandle(&h); });
    for (int key : kModelKeys) {
        if (key != leftKey) {
            AeSetParam(handle.get(), key, dir);
        }
    }
    return handle;
}

// Each test leaves no engine and a fresh recording behind.
class Lifecycle : public ::testing::Test {
  protected:
    void TearDown() override {
        void* engine = xepo::engineInstance;
        releaseAeEngine(&engine);
        rec = {};
    }
    LogCapture log;
};

// Guards the single instance: a second creation returns it whatever its handle
// names; a null handle is refused before anything else.
TEST_F(Lifecycle, CreationMakesOneInstance) {
    EXPECT_EQ(initAeEngine(nullptr), nullptr);
    const Handle mine = params(), elsewhere = params("/nonexistent/models/");
    void* first = initAeEngine(mine.get());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(initAeEngine(elsewhere.get()), first);
    char pointer[32];
    std::snprintf(pointer, sizeof pointer, "%p", first);
    EXPECT_EQ(log.texts(),
              (Lines{"paramHandle is null, please create paramHandle", "model init begin!",
                     "init succeed! handle is " + std::string(pointer), "model init begin!",
                     "model is allready"}));
}

// Guards the failure cleanup: a missing model, or a context that cannot be made
// or registered, fails creation with that status alone in the failure line; a
// created context is released, and a complete handle succeeds afterwards.
TEST_F(Lifecycle, AFailedPartFailsCreationAndLeavesNothingBehind) {
    // key left out, context fails, registration that fails, index of the failed
    // status in kStatusFields, text in the failure line, context releases
    const std::tuple<int, bool, int32_t, int, std::string, int> cases[] = {
        {kModelKeys[0], false, -1, 0, "", 1},      {kModelKeys[1], false, -1, 1, "", 1},
        {kModelKeys[2], false, -1, 2, "", 1},      {kModelKeys[3], false, -1, 3, "", 1},
        {0, true, -1, 4, "tavkit_ret=-3001, ", 0}, {0, false, 47, 4, "tavkit_ret=-3002, ", 0},
    };
    for (const auto& [leftKey, failContext, failRegistration, field, line, releases] : cases) {
        SCOPED_TRACE(kStatusFields[field]);
        rec = {};
        rec.failContextInit = failContext;
        rec.failRegistration = failRegistration;
        log.clear();
        EXPECT_EQ(initAeEngine(params(TEST_MODEL_ROOT "/confident/", leftKey).get()), nullptr);
        EXPECT_EQ(xepo::engineInstance, nullptr);
        EXPECT_EQ(rec.releases, releases);
        EXPECT_TRUE(log.contains("init Engine or tavkit failed!, "));
        EXPECT_TRUE(log.contains(line));
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(log.contains(kStatusFields[i]), i != field) << kStatusFields[i];
        }
        rec = {};
        void* engine = initAeEngine(params().get());
        EXPECT_NE(engine, nullptr);
        releaseAeEngine(&engine);
    }
}

// Guards the engine's buffers against models of another shape: each default
// file put in the place of another, and an entrance model with the right
// element count in the wrong rank, fail creation with one line that names the
// file and both shapes. Under AddressSanitizer this also shows that no run
// wrote past a buffer.
TEST_F(Lifecycle, AModelOfAnotherShapeFailsCreation) {
    namespace fs = std::filesystem;
    const std::string names[] = {"xepo_entrance.qdnn", "xepo_albedo.qdnn",
                                 "light-STDCNet813.pt.tflite.qdnn", "xepo_smooth.qdnn"};
    const fs::path dir = LIFECYCLE_SCRATCH_DIR;
    // The file the engine loads as `replaced` is `source`.
    const auto check = [&](const std::string& replaced, const std::string& source) {
        SCOPED_TRACE(replaced + " <- " + source);
        fs::remove_all(dir);
        fs::create_directories(dir);
        for (const std::string& name : names) {
            fs::copy_file(name == replaced ? source : std::string(DEFAULT_MODEL_DIR) + name,
                          dir / name);
        }
        log.clear();
        EXPECT_EQ(initAeEngine(params((dir.string() + "/").c_str()).get()), nullptr);
        EXPECT_EQ(xepo::engineInstance, nullptr);
        int shapeLines = 0;
        for (const std::string& text : log.texts()) {
            if (text.find("the engine needs input") != std::string::npos) {
                ++shapeLines;
                EXPECT_NE(text.find((dir / replaced).string()), std::string::npos) << text;
            }
        }
        EXPECT_EQ(shapeLines, 1);
    };
    for (const std::string& replaced : names) {
        for (const std::string& source : names) {
            if (source != replaced) {
                check(replaced, std::string(DEFAULT_MODEL_DIR) + source);
            }
        }
    }
    check(names[0], std::string(LIFECYCLE_TEST_SET_DIR) + "wrong_rank_entrance.onnx");
    fs::remove_all(dir);
    void* engine = initAeEngine(params(DEFAULT_MODEL_DIR).get());
    EXPECT_NE(engine, nullptr);
    releaseAeEngine(&engine);
}

// Guards release: of nothing (null, a pointer to null, a pointer that is not
// the engine) the engine stays; of the engine, everything is forgotten even when
// the context release fails, and a fresh engine starts from the creation values.
TEST_F(Lifecycle, ReleaseForgetsEverythingAndANewEngineStartsAfresh) {
    void* engine = initAeEngine(params().get());
    ASSERT_NE(engine, nullptr);
    void* none = nullptr;
    int notAnEngine = 0;
    void* foreign = &notAnEngine;
    releaseAeEngine(&none);
    releaseAeEngine(nullptr);
    releaseAeEngine(&foreign);
    EXPECT_EQ(log.count("qdnn_struct is null"), 2);
    EXPECT_EQ(foreign, &notAnEngine);
    ASSERT_EQ(xepo::engineInstance, engine);
    auto* state = static_cast<xepo::AeEngine*>(engine);
    std::tie(state->lastAeScore, state->modelRunCount, state->segMap[5]) =
        std::make_tuple(30.0f, 7, uint8_t{255});
    state->nccRefThumb = std::make_unique<uint8_t[]>(xepo::kThumbBytes);
    state->historyHist.push_back({});
    state->aeScoreAverage->values.push_back(25.0f);
    rec.failRelease = true;
    log.clear();
    releaseAeEngine(&engine);
    EXPECT_EQ(engine, nullptr);
    EXPECT_EQ(xepo::engineInstance, nullptr);
    EXPECT_EQ(log.texts(),
              (Lines{"release XEPO release tavkit handle failed", "release AeEngine completed"}));

    auto* fresh = static_cast<xepo::AeEngine*>(initAeEngine(params().get()));
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(std::make_tuple(fresh->lastAeScore, fresh->lastAeThisScore, fresh->nccRefValid,
                              fresh->lastImuStatus, fresh->modelRunCount, fresh->segMap[5]),
              std::make_tuple(18.0f, 18.0f, 1, 1, 0, uint8_t{0}));
    EXPECT_EQ(fresh->nccRefThumb, nullptr);
    EXPECT_TRUE(fresh->historyHist.empty() && fresh->aeScoreAverage->values.empty());
}

// Guards the lock around creation: concurrent creations build one engine.
TEST_F(Lifecycle, ConcurrentCreationsBuildOneEngine) {
    Handle handle = params();
    std::vector<void*> engines(4, nullptr);
    std::vector<std::thread> threads;
    for (void*& engine : engines) {
        threads.emplace_back([&] { engine = initAeEngine(handle.get()); });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    ASSERT_NE(engines[0], nullptr);
    EXPECT_EQ(engines, std::vector<void*>(4, engines[0]));
    EXPECT_EQ(log.count("model is allready"), 3);
}

// Guards -3001 when the context cannot be made, the configuration words, the
// registration order, and that it stops at the first failing operator with
// -3002 (the context is left to the caller).
TEST_F(Lifecycle, InitTavkitRegistersInOrderAndStopsAtTheFirstFailure) {
    long handle = 0;
    rec.failContextInit = true;
    EXPECT_EQ(initTAVKIT(handle), -3001);
    EXPECT_EQ(log.texts(), Lines{"XEPO Tavkit init failed " + kCode});
    rec = {};
    ASSERT_EQ(initTAVKIT(handle), 0);
    EXPECT_EQ(handle, recording_tavkit::kContextHandle);
    EXPECT_EQ(rec.registrations, kRegistrationOrder);
    const int32_t* words = rec.configSeen.words;
    EXPECT_EQ((Ids{words[0], words[1], words[3], words[7]}), (Ids{0, -1, 5, 1}));
    for (size_t failing = 0; failing < kRegistrationOrder.size(); ++failing) {
        const int32_t id = kRegistrationOrder[failing];
        SCOPED_TRACE(id);
        rec = {};
        rec.failRegistration = id;
        log.clear();
        EXPECT_EQ(initTAVKIT(handle), -3002);
        EXPECT_EQ(rec.registrations,
                  Ids(kRegistrationOrder.begin(), kRegistrationOrder.begin() + failing + 1));
        EXPECT_EQ(log.texts(), Lines{(id == 53 ? "" : "XEPO ") +
                                     std::string("Tavkit regist operators failed ") + kCode});
        EXPECT_EQ(rec.releases, 0);
    }
}

}  // namespace
