// A scripted stand-in of the neural-network runtime, built as a shared library
// whose 77 entry points come from qdnn_entry_points.h. Every call is recorded
// and returns the next scripted result; tests reach the state through the
// library's scriptedRuntimeState(), found with dlsym.
//
// It can also stand in for whole models: while any model is scripted, the
// runtime keeps its own nets, sessions and tensors, answers the shape queries
// from the scripted shapes and writes the scripted outputs into the caller's
// buffers on each run, so that the engine itself can be created and run on it.
#ifndef XEPO_TEST_SCRIPTED_RUNTIME_H
#define XEPO_TEST_SCRIPTED_RUNTIME_H

#include <dlfcn.h>

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <type_traits>
#include <vector>

// A value as a 64-bit word: pointers by address, integers sign- or zero-extended.
template <typename T>
uint64_t asWord(T value) {
    if constexpr (std::is_pointer_v<T>) {
        return reinterpret_cast<uintptr_t>(value);
    } else {
        return static_cast<uint64_t>(static_cast<int64_t>(value));
    }
}

struct ScriptedCall {
    std::string name;
    std::vector<uint64_t> args;      // each argument as a word
    std::vector<std::string> texts;  // the text of string arguments, else empty
};

// Batch, height, width, channel.
using ScriptedShape = std::array<int32_t, 4>;

// A model answered by the runtime itself, found by the file name in the path
// it is loaded from (what follows the last '/').
struct ScriptedModel {
    ScriptedShape input{};
    ScriptedShape output{};
    // Run k answers outputs[k] (the last one again once the list is used up;
    // nothing when it is empty) with status runStatus[k] (0 past the list). A
    // failed run writes nothing. Outputs land in the buffer bound to the output
    // before the run, or are copied out by a download after it.
    std::vector<std::vector<float>> outputs;
    std::vector<int32_t> runStatus;
    bool keepInputs = false;                 // copy each run's input into `inputs`
    std::vector<std::vector<float>> inputs;  // one per run, failed runs too
    int runs = 0;
};

// A net, session or tensor that the runtime made for a scripted model.
struct ScriptedObject {
    std::string model;       // nets and sessions: the loaded model's file name
    ScriptedShape shape{};   // tensors
    void* buffer = nullptr;  // host tensors: the caller buffer bound to it
    uint64_t input = 0;      // sessions: their input and output tensors
    uint64_t output = 0;
    uint64_t uploaded = 0;        // session tensors: the host tensor last uploaded
    std::vector<float> answer{};  // sessions: the last successful run's output
};

struct ScriptedRuntime {
    std::vector<ScriptedCall> calls;
    // Results by entry point, one per call; when none is left, pointer results
    // are a non-null handle and integers 0 (success). A successful count query
    // reports as many tensors as are scripted for its by-index query.
    std::map<std::string, std::deque<uint64_t>> results;
    std::function<void(const ScriptedCall&)> onCall;  // runs after each call is recorded
    // Scripted models by file name. While any is scripted, loading another file
    // fails, and the entry points of nets, sessions and tensors answer from
    // `objects` instead of `results`.
    std::map<std::string, ScriptedModel> models;
    std::map<uint64_t, ScriptedObject> objects;
    uint64_t nextHandle = 0x10000;

    void reset() { *this = ScriptedRuntime(); }
};

inline ScriptedRuntime* scriptedRuntimeOf(void* library) {
    auto state = reinterpret_cast<ScriptedRuntime* (*)()>(dlsym(library, "scriptedRuntimeState"));
    return state != nullptr ? state() : nullptr;
}

#endif  // XEPO_TEST_SCRIPTED_RUNTIME_H
