// QDNNRunner against the scripted runtime beside this program: backend names,
// the settings passed at init, every error code of init and forward, the
// upload/download order per backend, the count checks and the release.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "log_capture.h"
#include "qdnn_runner/qdnn_runner.h"
#include "runtime/qdnn_interface.h"
#include "runtime_test_support.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

constexpr const char* kModelPath = "/models/xepo_albedo.qdnn";
// The engine's settings for every model.
constexpr uint8_t kEngineHint = 20;
constexpr int32_t kEnginePriority = 3;
constexpr int kErrorPriority = 6;

// Handles the scripted runtime hands out; never dereferenced.
constexpr uint64_t kNet = 0xA000;
constexpr uint64_t kSession = 0xB000;
constexpr uint64_t kInputSessionTensor = 0xC000;
constexpr uint64_t kOutputSessionTensor = 0xD000;
constexpr uint64_t kInputHostTensor = 0xE000;
constexpr uint64_t kOutputHostTensor = 0xF000;
constexpr uint64_t kHandleStep = 0x10;

uint64_t inputSession(size_t i) {
    return kInputSessionTensor + i * kHandleStep;
}
uint64_t outputSession(size_t j) {
    return kOutputSessionTensor + j * kHandleStep;
}
uint64_t inputHost(size_t i) {
    return kInputHostTensor + i * kHandleStep;
}
uint64_t outputHost(size_t j) {
    return kOutputHostTensor + j * kHandleStep;
}
uint64_t word(const void* pointer) {
    return reinterpret_cast<uintptr_t>(pointer);
}

// Parameter cases show as their label in test names and failure messages.
template <typename Case>
std::string caseLabel(const testing::TestParamInfo<Case>& info) {
    return info.param.label;
}

struct ExpectedCall {
    std::string name;
    std::vector<uint64_t> args;
};

void expectCalls(const std::vector<ScriptedCall>& actual,
                 const std::vector<ExpectedCall>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t k = 0; k < expected.size(); ++k) {
        EXPECT_EQ(actual[k].name, expected[k].name) << "call " << k;
        EXPECT_EQ(actual[k].args, expected[k].args) << "call " << k << " " << expected[k].name;
    }
}

long indexOf(const std::vector<std::string>& names, const std::string& name) {
    const auto at = std::find(names.begin(), names.end(), name);
    return at == names.end() ? -1 : static_cast<long>(at - names.begin());
}

class RunnerTest : public testing::Test {
  protected:
    void SetUp() override {
        const QDNNInterface& table = getQDNNInterface();
        ASSERT_TRUE(table.loaded) << "the scripted runtime must sit beside this program";
        runtime = scriptedRuntimeOf(table.libHandle);
        ASSERT_NE(runtime, nullptr);
        runtime->reset();
    }
    void TearDown() override {
        if (runtime != nullptr) {
            runtime->reset();
        }
    }

    // A model with the given numbers of inputs and outputs and known handles.
    void scriptModel(size_t inputs, size_t outputs) {
        runtime->script("qdnnNetCreate", {kNet});
        runtime->script("qdnnNetCreateSession", {kSession});
        runtime->inputCount = inputs;
        runtime->outputCount = outputs;
        for (size_t i = 0; i < inputs; ++i) {
            runtime->script("qdnnSessionGetInputTensorByIndex", {inputSession(i)});
            runtime->script("qdnnTensorCreate", {inputHost(i)});
        }
        for (size_t j = 0; j < outputs; ++j) {
            runtime->script("qdnnSessionGetOutputTensorByIndex", {outputSession(j)});
            runtime->script("qdnnTensorCreate", {outputHost(j)});
        }
    }

    // An initialised runner; the recorded calls and log lines start empty.
    std::unique_ptr<QDNNRunner> readyRunner(const std::string& backend, size_t inputs,
                                            size_t outputs) {
        scriptModel(inputs, outputs);
        auto runner =
            std::make_unique<QDNNRunner>(kModelPath, backend, kEngineHint, kEnginePriority);
        EXPECT_EQ(runner->init(), QDNNRunner::kOk);
        runtime->calls.clear();
        runtime->results.clear();
        log.clear();
        return runner;
    }

    // Distinct caller buffers.
    std::vector<void*> buffers(size_t first, size_t count) {
        std::vector<void*> result;
        for (size_t k = 0; k < count; ++k) {
            result.push_back(&storage[first + k]);
        }
        return result;
    }

    ScriptedRuntime* runtime = nullptr;
    LogCapture log;
    float storage[16] = {};
};

// ---- Construction and backend names -------------------------------------

struct BackendCase {
    friend void PrintTo(const BackendCase& c, std::ostream* out) { *out << c.label; }
    const char* label;
    std::string name;
    int32_t inferenceType;
};

class BackendNameTest : public RunnerTest, public testing::WithParamInterface<BackendCase> {};

TEST_P(BackendNameTest, NamesAreComparedExactly) {
    const BackendCase& c = GetParam();
    EXPECT_EQ(QDNNRunner::parseBackend(c.name), c.inferenceType);
    {
        QDNNRunner runner(kModelPath, c.name, kEngineHint, kEnginePriority);
        EXPECT_EQ(runner.getInferenceType(), c.inferenceType);
        const bool supported = c.inferenceType != kQdnnInferenceNone;
        EXPECT_EQ(runner.isValid(), supported);
        if (supported) {
            EXPECT_TRUE(log.lines().empty());
        } else {
            ASSERT_EQ(log.lines().size(), 1u);
            EXPECT_EQ(log.lines()[0].text(), "Unsupported backend " + c.name + "\n");
            EXPECT_EQ(log.lines()[0].priority, kErrorPriority);
            log.clear();
            EXPECT_EQ(runner.init(), QDNNRunner::kInvalid);
            EXPECT_EQ(log.count("Invalid QDNNRunner.\n"), 1);
        }
    }
    if (c.inferenceType == kQdnnInferenceNone) {
        EXPECT_TRUE(runtime->calls.empty()) << "an unsupported runner never reaches the runtime";
    }
}

INSTANTIATE_TEST_SUITE_P(Names, BackendNameTest,
                         testing::Values(BackendCase{"GPU", "GPU", kQdnnInferenceGpu},
                                         BackendCase{"HTP", "HTP", kQdnnInferenceHtp},
                                         BackendCase{"NEURON", "NEURON", kQdnnInferenceNeuron},
                                         BackendCase{"lower_case", "neuron", kQdnnInferenceNone},
                                         BackendCase{"mixed_case", "Neuron", kQdnnInferenceNone},
                                         BackendCase{"empty", "", kQdnnInferenceNone},
                                         BackendCase{"trailing_space", "NEURON ",
                                                     kQdnnInferenceNone},
                                         BackendCase{"lower_gpu", "gpu", kQdnnInferenceNone},
                                         BackendCase{"unknown", "CPU", kQdnnInferenceNone}),
                         caseLabel<BackendCase>);

// ---- init: settings and call sequence -------------------------------------

TEST_F(RunnerTest, InitPassesTheEngineSettingsAndBuildsOneHostTensorPerTensor) {
    scriptModel(1, 1);
    runtime->script("qdnnTensorGetBatch", {1, 1});
    runtime->script("qdnnTensorGetHeight", {224, 1});
    runtime->script("qdnnTensorGetWidth", {224, 1});
    runtime->script("qdnnTensorGetChannel", {3, 10});
    QDNNRunner runner(kModelPath, "NEURON", kEngineHint, kEnginePriority);
    ASSERT_EQ(runner.init(), QDNNRunner::kOk);
    EXPECT_TRUE(runner.isValid());
    EXPECT_TRUE(log.lines().empty());

    const std::vector<ScriptedCall> calls = runtime->calls;
    ASSERT_EQ(calls.size(), 22u);
    expectCalls(calls, {
                           {"qdnnNetCreate", {}},
                           {"qdnnNetSetFrequencyHint", {kNet, kEngineHint}},
                           {"qdnnNetSetAllocateOutput", {kNet, 0}},
                           {"qdnnNetSetInferenceType", {kNet, kQdnnInferenceNeuron}},
                           {"qdnnNetSetPriority", {kNet, kEnginePriority}},
                           {"qdnnNetLoadModelFromPath", {kNet, calls[5].args.at(1)}},
                           {"qdnnNetCreateSession", {kNet, calls[6].args.at(1)}},
                           {"qdnnSessionWarmup", {kSession}},
                           {"qdnnSessionGetNumInputs", {kSession, calls[8].args.at(1)}},
                           {"qdnnSessionGetInputTensorByIndex", {kSession, 0}},
                           {"qdnnTensorGetBatch", {inputSession(0)}},
                           {"qdnnTensorGetHeight", {inputSession(0)}},
                           {"qdnnTensorGetWidth", {inputSession(0)}},
                           {"qdnnTensorGetChannel", {inputSession(0)}},
                           {"qdnnTensorCreate", {1, 224, 224, 3, 1, 8, 0}},
                           {"qdnnSessionGetNumOutputs", {kSession, calls[15].args.at(1)}},
                           {"qdnnSessionGetOutputTensorByIndex", {kSession, 0}},
                           {"qdnnTensorGetBatch", {outputSession(0)}},
                           {"qdnnTensorGetHeight", {outputSession(0)}},
                           {"qdnnTensorGetWidth", {outputSession(0)}},
                           {"qdnnTensorGetChannel", {outputSession(0)}},
                           {"qdnnTensorCreate", {1, 1, 1, 10, 1, 8, 0}},
                       });
    EXPECT_EQ(calls[5].texts.at(1), kModelPath);
    EXPECT_EQ(calls[6].texts.at(1), "default");
    EXPECT_NE(calls[8].args.at(1), 0u) << "count pointer";
}

struct BackendSettingCase {
    friend void PrintTo(const BackendSettingCase& c, std::ostream* out) { *out << c.label; }
    const char* label;  // the backend name
    int32_t inferenceType;
    bool allocateOutputOff;  // qdnnNetSetAllocateOutput(net, 0), else qdnnNetSetGpuFloat16(net, 1)
};

class BackendSettingTest : public RunnerTest,
                           public testing::WithParamInterface<BackendSettingCase> {};

TEST_P(BackendSettingTest, OutputBindingBackendsTurnOffAllocationOthersUseFloat16) {
    const BackendSettingCase& c = GetParam();
    scriptModel(1, 1);
    QDNNRunner runner(kModelPath, c.label, kEngineHint, kEnginePriority);
    ASSERT_EQ(runner.init(), QDNNRunner::kOk);
    const auto allocate = runtime->callsOf("qdnnNetSetAllocateOutput");
    const auto float16 = runtime->callsOf("qdnnNetSetGpuFloat16");
    if (c.allocateOutputOff) {
        ASSERT_EQ(allocate.size(), 1u);
        EXPECT_EQ(allocate[0].args, (std::vector<uint64_t>{kNet, 0}));
        EXPECT_TRUE(float16.empty());
    } else {
        ASSERT_EQ(float16.size(), 1u);
        EXPECT_EQ(float16[0].args, (std::vector<uint64_t>{kNet, 1}));
        EXPECT_TRUE(allocate.empty());
    }
    const auto type = runtime->callsOf("qdnnNetSetInferenceType");
    ASSERT_EQ(type.size(), 1u);
    EXPECT_EQ(type[0].args, (std::vector<uint64_t>{kNet, static_cast<uint64_t>(c.inferenceType)}));
}

INSTANTIATE_TEST_SUITE_P(Backends, BackendSettingTest,
                         testing::Values(BackendSettingCase{"GPU", kQdnnInferenceGpu, false},
                                         BackendSettingCase{"HTP", kQdnnInferenceHtp, true},
                                         BackendSettingCase{"NEURON", kQdnnInferenceNeuron, true}),
                         caseLabel<BackendSettingCase>);

struct FrequencyCase {
    friend void PrintTo(const FrequencyCase& c, std::ostream* out) { *out << c.label; }
    const char* label;
    uint8_t requested;
    bool highPerformance;  // power mode 3 set before the hint
    uint64_t passedHint;
};

class FrequencyHintTest : public RunnerTest, public testing::WithParamInterface<FrequencyCase> {};

TEST_P(FrequencyHintTest, HintsAboveTheTopBecomeTopHintWithPowerMode) {
    const FrequencyCase& c = GetParam();
    scriptModel(1, 1);
    QDNNRunner runner(kModelPath, "NEURON", c.requested, kEnginePriority);
    ASSERT_EQ(runner.init(), QDNNRunner::kOk);
    const auto hints = runtime->callsOf("qdnnNetSetFrequencyHint");
    ASSERT_EQ(hints.size(), 1u);
    EXPECT_EQ(hints[0].args, (std::vector<uint64_t>{kNet, c.passedHint}));
    const auto modes = runtime->callsOf("qdnnNetSetPowerMode");
    if (c.highPerformance) {
        ASSERT_EQ(modes.size(), 1u);
        EXPECT_EQ(modes[0].args, (std::vector<uint64_t>{kNet, 3}));
        const auto names = runtime->callNames();
        EXPECT_LT(indexOf(names, "qdnnNetSetPowerMode"), indexOf(names, "qdnnNetSetFrequencyHint"));
    } else {
        EXPECT_TRUE(modes.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Hints, FrequencyHintTest,
                         testing::Values(FrequencyCase{"hint_0", 0, false, 0},
                                         FrequencyCase{"hint_20", 20, false, 20},
                                         FrequencyCase{"hint_100", 100, false, 100},
                                         FrequencyCase{"hint_101", 101, true, 100},
                                         FrequencyCase{"hint_255", 255, true, 100}),
                         caseLabel<FrequencyCase>);

// ---- init: failures -------------------------------------------------------

struct InitFailureCase {
    friend void PrintTo(const InitFailureCase& c, std::ostream* out) { *out << c.label; }
    const char* label;
    std::function<void(ScriptedRuntime&)> script;  // applied after the model script
    int32_t code;
    std::string logText;
    const char* lastCall;               // the failing call; nothing follows it
    bool netExists;                     // destroyed once at destruction
    std::vector<uint64_t> hostTensors;  // destroyed at destruction, in order
};

class InitFailureTest : public RunnerTest, public testing::WithParamInterface<InitFailureCase> {};

TEST_P(InitFailureTest, ReturnsTheStepCodeLogsOnceAndInvalidatesTheRunner) {
    const InitFailureCase& c = GetParam();
    scriptModel(1, 1);
    c.script(*runtime);
    {
        QDNNRunner runner(kModelPath, "NEURON", kEngineHint, kEnginePriority);
        EXPECT_EQ(runner.init(), c.code);
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_EQ(log.lines()[0].text(), c.logText);
        EXPECT_EQ(log.lines()[0].priority, kErrorPriority);
        EXPECT_EQ(runtime->calls.back().name, c.lastCall);
        EXPECT_FALSE(runner.isValid());

        log.clear();
        const size_t callsBefore = runtime->calls.size();
        EXPECT_EQ(runner.init(), QDNNRunner::kInvalid);
        EXPECT_EQ(runner.forward(buffers(0, 1), buffers(1, 1)), QDNNRunner::kInvalid);
        EXPECT_EQ(log.count("Invalid QDNNRunner.\n"), 2);
        EXPECT_EQ(runtime->calls.size(), callsBefore);
        runtime->calls.clear();
    }
    std::vector<ExpectedCall> release;
    for (uint64_t tensor : c.hostTensors) {
        release.push_back({"qdnnTensorDestroy", {tensor}});
    }
    if (c.netExists) {
        release.push_back({"qdnnNetDestroy", {kNet}});
    }
    expectCalls(runtime->calls, release);
}

void fail(ScriptedRuntime& runtime, const char* entry, uint64_t result) {
    runtime.results[entry].push_front(result);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, InitFailureTest,
    testing::Values(
        InitFailureCase{"net_create",
                        [](ScriptedRuntime& r) { r.results["qdnnNetCreate"] = {0}; },
                        -1,
                        "qdnnNetCreate failed\n",
                        "qdnnNetCreate",
                        false,
                        {}},
        InitFailureCase{"load_positive",
                        [](ScriptedRuntime& r) { fail(r, "qdnnNetLoadModelFromPath", 7); },
                        -2,
                        "qdnnNetLoadModelFromPath failed, ret = 7\n",
                        "qdnnNetLoadModelFromPath",
                        true,
                        {}},
        InitFailureCase{"load_negative",
                        [](ScriptedRuntime& r) {
                            fail(r, "qdnnNetLoadModelFromPath", static_cast<uint64_t>(-3));
                        },
                        -2,
                        "qdnnNetLoadModelFromPath failed, ret = -3\n",
                        "qdnnNetLoadModelFromPath",
                        true,
                        {}},
        InitFailureCase{"session",
                        [](ScriptedRuntime& r) { r.results["qdnnNetCreateSession"] = {0}; },
                        -3,
                        "qdnnNetCreateSession failed\n",
                        "qdnnNetCreateSession",
                        true,
                        {}},
        InitFailureCase{"warmup",
                        [](ScriptedRuntime& r) { fail(r, "qdnnSessionWarmup", 9); },
                        -4,
                        "qdnnSessionWarmup failed, ret = 9\n",
                        "qdnnSessionWarmup",
                        true,
                        {}},
        InitFailureCase{"input_count",
                        [](ScriptedRuntime& r) { fail(r, "qdnnSessionGetNumInputs", 1); },
                        -5,
                        "qdnnSessionGetNumInputs failed",
                        "qdnnSessionGetNumInputs",
                        true,
                        {}},
        InitFailureCase{"input_tensor",
                        [](ScriptedRuntime& r) { fail(r, "qdnnSessionGetInputTensorByIndex", 0); },
                        -5,
                        "qdnnSessionGetInputTensorByIndex failed",
                        "qdnnSessionGetInputTensorByIndex",
                        true,
                        {}},
        InitFailureCase{"input_host_tensor",
                        [](ScriptedRuntime& r) { fail(r, "qdnnTensorCreate", 0); },
                        -5,
                        "qdnnTensorCreate input failed",
                        "qdnnTensorCreate",
                        true,
                        {}},
        InitFailureCase{"output_count",
                        [](ScriptedRuntime& r) { fail(r, "qdnnSessionGetNumOutputs", 2); },
                        -5,
                        "qdnnSessionGetNumOutputs failed",
                        "qdnnSessionGetNumOutputs",
                        true,
                        {inputHost(0)}},
        InitFailureCase{"output_tensor",
                        [](ScriptedRuntime& r) { fail(r, "qdnnSessionGetOutputTensorByIndex", 0); },
                        -5,
                        "qdnnSessionGetOutputTensorByIndex failed",
                        "qdnnSessionGetOutputTensorByIndex",
                        true,
                        {inputHost(0)}},
        InitFailureCase{"output_host_tensor",
                        [](ScriptedRuntime& r) {
                            r.results["qdnnTensorCreate"] = {inputHost(0), 0};
                        },
                        -5,
                        "qdnnTensorCreate output failed",
                        "qdnnTensorCreate",
                        true,
                        {inputHost(0)}}),
    caseLabel<InitFailureCase>);

TEST_F(RunnerTest, LoadFailureKeepsTheNetUntilDestructionWhichDestroysItOnce) {
    scriptModel(1, 1);
    fail(*runtime, "qdnnNetLoadModelFromPath", 1);
    auto runner = std::make_unique<QDNNRunner>(kModelPath, "NEURON", kEngineHint, kEnginePriority);
    ASSERT_EQ(runner->init(), -2);
    EXPECT_TRUE(runtime->callsOf("qdnnNetDestroy").empty()) << "the net lives until destruction";
    runner.reset();
    const auto destroyed = runtime->callsOf("qdnnNetDestroy");
    ASSERT_EQ(destroyed.size(), 1u);
    EXPECT_EQ(destroyed[0].args, (std::vector<uint64_t>{kNet}));
}

TEST_F(RunnerTest, DestructionOfAReadyRunnerDestroysHostTensorsThenTheNetButNoSession) {
    auto runner = readyRunner("NEURON", 2, 2);
    runner.reset();
    expectCalls(runtime->calls, {{"qdnnTensorDestroy", {inputHost(0)}},
                                 {"qdnnTensorDestroy", {inputHost(1)}},
                                 {"qdnnTensorDestroy", {outputHost(0)}},
                                 {"qdnnTensorDestroy", {outputHost(1)}},
                                 {"qdnnNetDestroy", {kNet}}});
}

// ---- forward ----------------------------------------------------------------

struct ForwardOrderCase {
    friend void PrintTo(const ForwardOrderCase& c, std::ostream* out) { *out << c.label; }
    const char* label;  // the backend name
    bool outputsBoundBeforeRun;
};

class ForwardOrderTest : public RunnerTest, public testing::WithParamInterface<ForwardOrderCase> {};

TEST_P(ForwardOrderTest, BindsEveryBufferThenMovesDataInTheBackendsOrder) {
    const ForwardOrderCase& c = GetParam();
    auto runner = readyRunner(c.label, 2, 2);
    runtime->script("qdnnTensorGetSizeInBytes", {100, 200, 300, 400});
    const std::vector<void*> inputs = buffers(0, 2);
    const std::vector<void*> outputs = buffers(2, 2);

    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        runtime->calls.clear();
        ASSERT_EQ(runner->forward(inputs, outputs), QDNNRunner::kOk);
        const bool firstRun = run == 0;
        // Sizes are scripted for the first run only; later ones get the default 0.
        std::vector<ExpectedCall> expected = {
            {"qdnnTensorGetSizeInBytes", {inputHost(0)}},
            {"qdnnTensorSetHostBuffer", {inputHost(0), word(inputs[0]), firstRun ? 100u : 0u}},
            {"qdnnTensorGetSizeInBytes", {inputHost(1)}},
            {"qdnnTensorSetHostBuffer", {inputHost(1), word(inputs[1]), firstRun ? 200u : 0u}},
            {"qdnnTensorGetSizeInBytes", {outputHost(0)}},
            {"qdnnTensorSetHostBuffer", {outputHost(0), word(outputs[0]), firstRun ? 300u : 0u}},
            {"qdnnTensorGetSizeInBytes", {outputHost(1)}},
            {"qdnnTensorSetHostBuffer", {outputHost(1), word(outputs[1]), firstRun ? 400u : 0u}},
            {"qdnnTensorUpload", {inputSession(0), inputHost(0)}},
            {"qdnnTensorUpload", {inputSession(1), inputHost(1)}},
        };
        if (c.outputsBoundBeforeRun) {
            expected.push_back({"qdnnTensorUpload", {outputSession(0), outputHost(0)}});
            expected.push_back({"qdnnTensorUpload", {outputSession(1), outputHost(1)}});
            expected.push_back({"qdnnSessionRun", {kSession}});
        } else {
            expected.push_back({"qdnnSessionRun", {kSession}});
            expected.push_back({"qdnnTensorDownload", {outputSession(0), outputHost(0)}});
            expected.push_back({"qdnnTensorDownload", {outputSession(1), outputHost(1)}});
        }
        expectCalls(runtime->calls, expected);
    }
    EXPECT_TRUE(log.lines().empty());
}

INSTANTIATE_TEST_SUITE_P(Backends, ForwardOrderTest,
                         testing::Values(ForwardOrderCase{"GPU", false},
                                         ForwardOrderCase{"HTP", true},
                                         ForwardOrderCase{"NEURON", true}),
                         caseLabel<ForwardOrderCase>);

struct ForwardFailureCase {
    friend void PrintTo(const ForwardFailureCase& c, std::ostream* out) { *out << c.label; }
    const char* label;
    const char* backend;
    const char* entry;              // the entry point that fails ...
    std::vector<uint64_t> results;  // ... with these results, one per call
    int32_t code;
    std::string logText;  // empty: no log line
    std::string stdoutText;
};

class ForwardFailureTest : public RunnerTest,
                           public testing::WithParamInterface<ForwardFailureCase> {};

TEST_P(ForwardFailureTest, ReturnsTheStepCodeAndTheNextRunStartsAfresh) {
    const ForwardFailureCase& c = GetParam();
    auto runner = readyRunner(c.backend, 2, 2);
    for (uint64_t result : c.results) {
        runtime->results[c.entry].push_back(result);
    }
    CaptureStdout();
    EXPECT_EQ(runner->forward(buffers(0, 2), buffers(2, 2)), c.code);
    EXPECT_EQ(GetCapturedStdout(), c.stdoutText);
    if (c.logText.empty()) {
        EXPECT_TRUE(log.lines().empty());
    } else {
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_EQ(log.lines()[0].text(), c.logText);
        EXPECT_EQ(log.lines()[0].priority, kErrorPriority);
    }
    ASSERT_FALSE(runtime->calls.empty());
    EXPECT_EQ(runtime->calls.back().name, c.entry) << "nothing follows the failing call";
    EXPECT_TRUE(runner->isValid()) << "a failed run leaves the runner usable";

    runtime->calls.clear();
    runtime->results.clear();
    EXPECT_EQ(runner->forward(buffers(0, 2), buffers(2, 2)), QDNNRunner::kOk);
    ASSERT_FALSE(runtime->calls.empty());
    EXPECT_EQ(runtime->calls[0].name, "qdnnTensorGetSizeInBytes");
    EXPECT_EQ(runtime->calls[1].name, "qdnnTensorSetHostBuffer");
    EXPECT_EQ(runtime->calls[1].args.at(0), inputHost(0));
}

INSTANTIATE_TEST_SUITE_P(
    Steps, ForwardFailureTest,
    testing::Values(
        ForwardFailureCase{"bind_input",
                           "NEURON",
                           "qdnnTensorSetHostBuffer",
                           {0, 3},
                           -2,
                           "qdnnTensorSetHostBuffer input failed",
                           ""},
        ForwardFailureCase{"bind_output",
                           "NEURON",
                           "qdnnTensorSetHostBuffer",
                           {0, 0, 0, 4},
                           -2,
                           "qdnnTensorSetHostBuffer output failed",
                           ""},
        ForwardFailureCase{"upload_input",
                           "GPU",
                           "qdnnTensorUpload",
                           {0, 5},
                           -3,
                           "qdnnTensorUpload inputs failed",
                           ""},
        ForwardFailureCase{"upload_output",
                           "HTP",
                           "qdnnTensorUpload",
                           {0, 0, 0, 6},
                           -3,
                           "qdnnTensorUpload outputs failed",
                           ""},
        ForwardFailureCase{"run", "NEURON", "qdnnSessionRun", {1}, -4, "qdnnSessionRun failed", ""},
        ForwardFailureCase{
            "download", "GPU", "qdnnTensorDownload", {0, 2}, -5, "", "qdnnTensorDownload failed"}),
    caseLabel<ForwardFailureCase>);

struct CountMismatchCase {
    friend void PrintTo(const CountMismatchCase& c, std::ostream* out) { *out << c.label; }
    const char* label;
    size_t inputs;
    size_t outputs;
    std::string logText;
};

class CountMismatchTest : public RunnerTest,
                          public testing::WithParamInterface<CountMismatchCase> {};

TEST_P(CountMismatchTest, RejectedWithoutTouchingTheRuntime) {
    const CountMismatchCase& c = GetParam();
    auto runner = readyRunner("NEURON", 2, 1);
    EXPECT_EQ(runner->forward(buffers(0, c.inputs), buffers(8, c.outputs)), -1);
    EXPECT_TRUE(runtime->calls.empty());
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].text(), c.logText);
    EXPECT_EQ(log.lines()[0].priority, kErrorPriority);
}

INSTANTIATE_TEST_SUITE_P(
    Counts, CountMismatchTest,
    testing::Values(CountMismatchCase{"one_input", 1, 1, "Got inputs num 1, but expected 2"},
                    CountMismatchCase{"no_input", 0, 1, "Got inputs num 0, but expected 2"},
                    CountMismatchCase{"three_inputs", 3, 1, "Got inputs num 3, but expected 2"},
                    CountMismatchCase{"no_output", 2, 0, "Got outputs num 0, but expected 1"},
                    CountMismatchCase{"two_outputs", 2, 2, "Got outputs num 2, but expected 1"},
                    CountMismatchCase{"both_wrong", 1, 2, "Got inputs num 1, but expected 2"}),
    caseLabel<CountMismatchCase>);

TEST_F(RunnerTest, CountCheckDoesNotWaitForARunInProgress) {
    auto runner = readyRunner("NEURON", 2, 1);
    int32_t probeResult = 0;
    bool probed = false;
    // While the run below holds the runner's lock inside the runtime, another
    // thread calls forward with one input too few. Were the count checked under
    // the lock, that call (and so this test) would never return.
    runtime->onCall = [&](const ScriptedCall& call) {
        if (call.name != "qdnnSessionRun" || probed) {
            return;
        }
        probed = true;
        std::thread other([&] { probeResult = runner->forward(buffers(0, 1), buffers(8, 1)); });
        other.join();
    };
    EXPECT_EQ(runner->forward(buffers(0, 2), buffers(8, 1)), QDNNRunner::kOk);
    ASSERT_TRUE(probed);
    EXPECT_EQ(probeResult, -1);
    EXPECT_EQ(log.count("Got inputs num 1, but expected 2"), 1);
    EXPECT_EQ(runtime->callsOf("qdnnSessionRun").size(), 1u);
}

TEST_F(RunnerTest, ForwardOnAnUnsupportedBackendIsInvalid) {
    QDNNRunner runner(kModelPath, "neuron", kEngineHint, kEnginePriority);
    log.clear();
    EXPECT_EQ(runner.forward(buffers(0, 1), buffers(1, 1)), QDNNRunner::kInvalid);
    EXPECT_EQ(log.count("Invalid QDNNRunner.\n"), 1);
    EXPECT_TRUE(runtime->calls.empty());
}

TEST_F(RunnerTest, LogLinesCarryTheRunnerFunctionNames) {
    { QDNNRunner unsupported(kModelPath, "", kEngineHint, kEnginePriority); }
    scriptModel(1, 1);
    fail(*runtime, "qdnnSessionGetNumInputs", 1);
    QDNNRunner runner(kModelPath, "NEURON", kEngineHint, kEnginePriority);
    EXPECT_EQ(runner.init(), -5);
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].message.find(" QDNNRunner() Unsupported backend"), std::string::npos);
    EXPECT_NE(lines[1].message.find("qdnn_runner.cpp:"), std::string::npos);
    EXPECT_NE(lines[1].message.find(" initMetaData() qdnnSessionGetNumInputs"), std::string::npos);
    for (const LoggedLine& line : lines) {
        EXPECT_EQ(line.tag, "_Q_LXEPO");
    }
}

}  // namespace
