// The exports and QDNNRunner against the scripted runtime beside this program.
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <thread>
#include <tuple>

#include "log_capture.h"
#include "qdnn_runner/qdnn_runner.h"
#include "runtime/qdnn_interface.h"
#include "scripted_runtime.h"

namespace {

// The recorded calls as text: Name(arg,...) without "qdnn", strings quoted,
// real addresses (beyond 32 bits) as *.
std::string trace(const ScriptedRuntime& rt) {
    std::string out;
    for (const ScriptedCall& call : rt.calls) {
        out += (out.empty() ? "" : " ") + call.name.substr(4) + "(";
        for (size_t a = 0; a < call.args.size(); ++a) {
            const int64_t value = static_cast<int64_t>(call.args[a]);
            out += (a == 0 ? "" : ",") + (!call.texts[a].empty() ? '"' + call.texts[a] + '"'
                                          : value > 0xFFFFFFFFll ? "*"
                                                                 : std::to_string(value));
        }
        out += ")";
    }
    return out;
}

// Caller buffers are fake addresses (5000+k): nothing reads them.
std::vector<void*> buffers(uintptr_t first, size_t count) {
    std::vector<void*> result(count);
    for (size_t k = 0; k < count; ++k) {
        result[k] = reinterpret_cast<void*>(first + k);
    }
    return result;
}

class ScriptedTest : public testing::Test {
  protected:
    void SetUp() override {
        rt = scriptedRuntimeOf(getQDNNInterface().libHandle);
        ASSERT_NE(rt, nullptr) << "the scripted runtime must sit beside this program";
        rt->reset();
    }
    // The scripted model's handles (never dereferenced): net 9000, session 8000,
    // session tensors 1000+i (inputs) and 2000+j (outputs), host tensors 3000+i
    // and 4000+j.
    void scriptModel(size_t inputs, size_t outputs) {
        rt->reset();
        rt->results = {{"qdnnNetCreate", {9000}}, {"qdnnNetCreateSession", {8000}}};
        for (size_t i = 0; i < inputs; ++i) {
            rt->results["qdnnSessionGetInputTensorByIndex"].push_back(1000 + i);
            rt->results["qdnnTensorCreate"].push_back(3000 + i);
        }
        for (size_t j = 0; j < outputs; ++j) {
            rt->results["qdnnSessionGetOutputTensorByIndex"].push_back(2000 + j);
            rt->results["qdnnTensorCreate"].push_back(4000 + j);
        }
    }
    // An initialised runner; recorded calls, results and log lines start empty.
    std::unique_ptr<QDNNRunner> ready(const char* backend, size_t inputs, size_t outputs) {
        scriptModel(inputs, outputs);
        auto runner = std::make_unique<QDNNRunner>("/m.qdnn", backend, 20, 3);
        EXPECT_EQ(runner->init(), QDNNRunner::kOk);
        rt->calls.clear();
        log.clear();
        return runner;
    }
    ScriptedRuntime* rt = nullptr;
    LogCapture log;
};

// A distinct value per entry and position, negative at odd positions to catch a
// lost sign extension; every pointer points at its own text, never written.
template <typename T>
T argument(size_t entry, size_t& next) {
    static char texts[][3] = {"t0", "t1", "t2", "t3", "t4", "t5"};
    const size_t position = next++;
    if constexpr (std::is_pointer_v<T>) {
        return reinterpret_cast<T>(texts[position]);
    } else {
        return static_cast<T>((position % 2 ? -1 : 1) * int64_t(1000 * entry + 17 * position + 17));
    }
}

template <typename R, typename... A>
void checkExport(ScriptedRuntime& rt, const char* name, size_t entry, bool asBool, R (*fn)(A...)) {
    SCOPED_TRACE(name);
    rt.reset();
    const uint64_t word = 40 + entry;
    rt.results[name] = {word};
    [[maybe_unused]] size_t next = 0;
    const std::tuple<A...> args{argument<A>(entry, next)...};  // in order
    if constexpr (std::is_void_v<R>) {
        std::apply(fn, args);
    } else {
        EXPECT_EQ(asWord(std::apply(fn, args)), asBool ? word & 1 : word);
    }
    ASSERT_EQ(rt.calls.size(), 1u);
    EXPECT_EQ(rt.calls[0].name, name);
    EXPECT_EQ(rt.calls[0].args,
              std::apply([](auto... a) { return std::vector<uint64_t>{asWord(a)...}; }, args));
}

// Each export reaches the runtime's function of its name with its arguments and
// hands the result back unchanged; qdnnCheckVersion reduced to its lowest bit.
TEST_F(ScriptedTest, EveryExportForwardsArgumentsAndResult) {
    size_t entry = 0;
#define EXPORT_FORWARD(name) checkExport(*rt, #name, entry++, false, &::name);
#define EXPORT_FORWARD_BOOL(name) checkExport(*rt, #name, entry++, true, &::name);
#define EXPORT_RESOLVE_ONLY(name)
#define QDNN_ENTRY(kind, result, name, params, args) EXPORT_##kind(name)
#include "qdnn_entry_points.h"
    EXPECT_EQ(entry, 76u);
    for (const auto& [result, reduced] : {std::pair{0, 0}, {1, 1}, {6, 0}, {-1, 1}}) {
        rt->results["qdnnCheckVersion"] = {static_cast<uint64_t>(result)};
        EXPECT_EQ(qdnnCheckVersion(3, 2, 1), reduced) << result;
    }
}

// Backend names are exact: any other spelling makes a runner that never
// reaches the runtime.
TEST_F(ScriptedTest, UnsupportedBackendNamesMakeAnInvalidRunner) {
    for (const std::string name : {"neuron", "Neuron", "NEURON ", ""}) {
        SCOPED_TRACE(name);
        log.clear();
        QDNNRunner runner("/m.qdnn", name, 20, 3);
        EXPECT_EQ(runner.getInferenceType(), 0);
        EXPECT_FALSE(runner.isValid());
        EXPECT_EQ(runner.init(), QDNNRunner::kInvalid);
        EXPECT_EQ(runner.forward(buffers(5000, 1), buffers(5001, 1)), QDNNRunner::kInvalid);
        EXPECT_EQ(log.texts(),
                  (std::vector<std::string>{"Unsupported backend " + name + "\n",
                                            "Invalid QDNNRunner.\n", "Invalid QDNNRunner.\n"}));
        EXPECT_EQ(trace(*rt), "");
    }
}

// The settings per backend (inference type GPU 5, HTP 6, NEURON 7) and
// frequency hint (above 100: power mode 3, then 100), then load, session
// "default", warm-up and host tensors of the session tensors' shapes.
TEST_F(ScriptedTest, InitPassesTheSettingsThenBuildsTheSession) {
    const std::string tail =
        " NetSetPriority(9000,3) NetLoadModelFromPath(9000,\"/m.qdnn\")"
        " NetCreateSession(9000,\"default\") SessionWarmup(8000) SessionGetNumInputs(8000,*)"
        " SessionGetInputTensorByIndex(8000,0) TensorGetBatch(1000) TensorGetHeight(1000)"
        " TensorGetWidth(1000) TensorGetChannel(1000) TensorCreate(1,224,224,3,1,8,0)"
        " SessionGetNumOutputs(8000,*) SessionGetOutputTensorByIndex(8000,0) TensorGetBatch(2000)"
        " TensorGetHeight(2000) TensorGetWidth(2000) TensorGetChannel(2000)"
        " TensorCreate(1,1,1,10,1,8,0)";
    // clang-format off
    const std::tuple<const char*, uint8_t, int, std::string> cases[] = {
        {"NEURON", 20, 7, "NetSetFrequencyHint(9000,20) NetSetAllocateOutput(9000,0)"},
        {"HTP", 100, 6, "NetSetFrequencyHint(9000,100) NetSetAllocateOutput(9000,0)"},
        {"GPU", 101, 5,
         "NetSetPowerMode(9000,3) NetSetFrequencyHint(9000,100) NetSetGpuFloat16(9000,1)"},
        {"NEURON", 255, 7,
         "NetSetPowerMode(9000,3) NetSetFrequencyHint(9000,100) NetSetAllocateOutput(9000,0)"}};
    // clang-format on
    for (const auto& [backend, hint, type, settings] : cases) {
        scriptModel(1, 1);
        rt->results["qdnnTensorGetBatch"] = {1, 1};
        rt->results["qdnnTensorGetHeight"] = {224, 1};
        rt->results["qdnnTensorGetWidth"] = {224, 1};
        rt->results["qdnnTensorGetChannel"] = {3, 10};
        QDNNRunner runner("/m.qdnn", backend, hint, 3);
        EXPECT_EQ(runner.init(), QDNNRunner::kOk);
        EXPECT_EQ(trace(*rt), "NetCreate() " + settings + " NetSetInferenceType(9000," +
                                  std::to_string(type) + ")" + tail);
    }
}

// Each failing step: its code and error line, nothing after the failing call,
// the runner invalid from then on; destruction frees what was made.
TEST_F(ScriptedTest, InitFailureReturnsTheStepCodeAndInvalidatesTheRunner) {
    // entry ("qdnn" omitted), which of its calls fails, with what result; code, log line,
    // calls at destruction
    const char *kNetOnly = "NetDestroy(9000)",
               *kInputAndNet = "TensorDestroy(3000) NetDestroy(9000)";
    // clang-format off
    const std::tuple<std::string, size_t, int64_t, int32_t, std::string, std::string> cases[] = {
        {"NetCreate", 0, 0, -1, "qdnnNetCreate failed\n", ""},
        {"NetLoadModelFromPath", 0, -3, -2, "qdnnNetLoadModelFromPath failed, ret = -3\n",
         kNetOnly},
        {"NetCreateSession", 0, 0, -3, "qdnnNetCreateSession failed\n", kNetOnly},
        {"SessionWarmup", 0, 9, -4, "qdnnSessionWarmup failed, ret = 9\n", kNetOnly},
        {"SessionGetNumInputs", 0, 1, -5, "qdnnSessionGetNumInputs failed", kNetOnly},
        {"TensorCreate", 0, 0, -5, "qdnnTensorCreate input failed", kNetOnly},
        {"SessionGetNumOutputs", 0, 2, -5, "qdnnSessionGetNumOutputs failed", kInputAndNet},
        {"TensorCreate", 1, 0, -5, "qdnnTensorCreate output failed", kInputAndNet}};
    // clang-format on
    for (const auto& [entry, nth, result, code, logText, released] : cases) {
        SCOPED_TRACE(logText);
        scriptModel(1, 1);
        log.clear();
        std::deque<uint64_t>& queue = rt->results["qdnn" + entry];
        queue.insert(queue.begin() + nth, static_cast<uint64_t>(result));
        {
            QDNNRunner runner("/m.qdnn", "NEURON", 20, 3);
            EXPECT_EQ(runner.init(), code);
            EXPECT_EQ(log.texts(), std::vector<std::string>{logText});
            EXPECT_EQ(rt->calls.back().name, "qdnn" + entry);
            rt->calls.clear();
            EXPECT_EQ(runner.init(), QDNNRunner::kInvalid);
            EXPECT_EQ(runner.forward(buffers(5000, 1), buffers(5001, 1)), QDNNRunner::kInvalid);
            EXPECT_EQ(trace(*rt), "");
        }
        EXPECT_EQ(trace(*rt), released);
    }
}

// Every run binds each caller buffer anew and uploads the inputs; outputs are
// bound before the run (NEURON, and HTP as its failure test shows) or
// downloaded after it (GPU). Destruction frees the host tensors, then the net,
// never the session.
TEST_F(ScriptedTest, ForwardMovesDataInTheBackendsOrder) {
    const std::string bind =
        "TensorGetSizeInBytes(3000) TensorSetHostBuffer(3000,5000,4) TensorGetSizeInBytes(3001)"
        " TensorSetHostBuffer(3001,5001,8) TensorGetSizeInBytes(4000)"
        " TensorSetHostBuffer(4000,5002,12) TensorGetSizeInBytes(4001)"
        " TensorSetHostBuffer(4001,5003,16) TensorUpload(1000,3000) TensorUpload(1001,3001) ";
    const std::pair<const char*, std::string> cases[] = {
        {"GPU", "SessionRun(8000) TensorDownload(2000,4000) TensorDownload(2001,4001)"},
        {"NEURON", "TensorUpload(2000,4000) TensorUpload(2001,4001) SessionRun(8000)"}};
    for (const auto& [backend, outputs] : cases) {
        SCOPED_TRACE(backend);
        auto runner = ready(backend, 2, 2);
        for (int run = 0; run < 2; ++run) {
            rt->calls.clear();
            rt->results["qdnnTensorGetSizeInBytes"] = {4, 8, 12, 16};
            EXPECT_EQ(runner->forward(buffers(5000, 2), buffers(5002, 2)), QDNNRunner::kOk);
            EXPECT_EQ(trace(*rt), bind + outputs);
        }
        EXPECT_TRUE(log.lines().empty());
        rt->calls.clear();
        runner.reset();
        EXPECT_EQ(trace(*rt),
                  "TensorDestroy(3000) TensorDestroy(3001) TensorDestroy(4000) TensorDestroy(4001) "
                  "NetDestroy(9000)");
    }
}

// Each failing step: its code and message, nothing after the failing call, and
// the runner stays usable. The caller's buffers hold the floats of the expected
// shapes, 16 bytes each: a size the runtime reports otherwise binds nothing more
// and fails, instead of letting the runtime read or write past the buffer.
TEST_F(ScriptedTest, ForwardFailureReturnsTheStepCode) {
    // backend, failing entry, its results, code, message (the download's on standard output)
    // clang-format off
    using Case = std::tuple<const char*, const char*, std::deque<uint64_t>, int32_t, std::string>;
    const Case cases[] = {
        {"GPU", "qdnnTensorGetSizeInBytes", {12}, -2,
         "model /m.qdnn: the runtime now reports 12 bytes for input 0, whose buffer holds 16"},
        {"GPU", "qdnnTensorGetSizeInBytes", {16, 16, 20}, -2,
         "model /m.qdnn: the runtime now reports 20 bytes for output 0, whose buffer holds 16"},
        {"NEURON", "qdnnTensorSetHostBuffer", {0, 3}, -2, "qdnnTensorSetHostBuffer input failed"},
        {"NEURON", "qdnnTensorSetHostBuffer", {0, 0, 0, 4}, -2,
         "qdnnTensorSetHostBuffer output failed"},
        {"GPU", "qdnnTensorUpload", {0, 5}, -3, "qdnnTensorUpload inputs failed"},
        {"HTP", "qdnnTensorUpload", {0, 0, 0, 6}, -3, "qdnnTensorUpload outputs failed"},
        {"NEURON", "qdnnSessionRun", {1}, -4, "qdnnSessionRun failed"},
        {"GPU", "qdnnTensorDownload", {0, 2}, -5, "qdnnTensorDownload failed"}};
    // clang-format on
    for (const auto& [backend, entry, results, code, message] : cases) {
        SCOPED_TRACE(message);
        const bool printed = code == -5;
        auto runner = ready(backend, 2, 2);
        runner->expectShapes({{1, 2, 2, 1}, {1, 2, 2, 1}}, {{1, 1, 1, 4}, {1, 1, 1, 4}});
        rt->results["qdnnTensorGetSizeInBytes"] = {16, 16, 16, 16};
        rt->results[entry] = results;
        testing::internal::CaptureStdout();
        EXPECT_EQ(runner->forward(buffers(5000, 2), buffers(5002, 2)), code);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), printed ? message : "");
        EXPECT_EQ(log.texts(), printed ? std::vector<std::string>{} : std::vector{message});
        EXPECT_EQ(rt->calls.back().name, entry);
        rt->results["qdnnTensorGetSizeInBytes"] = {16, 16, 16, 16};
        EXPECT_EQ(runner->forward(buffers(5000, 2), buffers(5002, 2)), QDNNRunner::kOk);
    }
}

// Buffer counts are checked (inputs first) before the run lock: a wrong call
// returns -1 at once even while another thread's run holds the lock (were it
// checked under the lock, this test would never return).
TEST_F(ScriptedTest, CountCheckComesBeforeTheLock) {
    auto runner = ready("NEURON", 2, 1);
    const std::tuple<size_t, size_t, std::string> cases[] = {
        {1, 0, "Got inputs num 1, but expected 2"}, {2, 0, "Got outputs num 0, but expected 1"}};
    for (const auto& [inputs, outputs, text] : cases) {
        log.clear();
        rt->calls.clear();
        int32_t probe = 0;
        rt->onCall = [&, in = inputs, out = outputs](const ScriptedCall& call) {
            if (call.name == "qdnnSessionRun") {
                std::thread([&] {
                    probe = runner->forward(buffers(5000, in), buffers(5004, out));
                }).join();
            }
        };
        EXPECT_EQ(runner->forward(buffers(5000, 2), buffers(5004, 1)), QDNNRunner::kOk);
        EXPECT_EQ(probe, -1);
        EXPECT_EQ(log.texts(), std::vector<std::string>{text});
        EXPECT_EQ(trace(*rt).find("SessionRun"), trace(*rt).rfind("SessionRun")) << "one run";
    }
}

}  // namespace
