// A scripted stand-in of the neural-network runtime, built as a shared library
// whose 77 entry points come from qdnn_entry_points.h. Every call is recorded
// and returns the next scripted result; tests reach the state through the
// library's scriptedRuntimeState(), found with dlsym.
#ifndef XEPO_TEST_SCRIPTED_RUNTIME_H
#define XEPO_TEST_SCRIPTED_RUNTIME_H

#include <dlfcn.h>

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

struct ScriptedRuntime {
    std::vector<ScriptedCall> calls;
    // Results by entry point, one per call; when none is left, pointer results
    // are a non-null handle and integers 0 (success). A successful count query
    // reports as many tensors as are scripted for its by-index query.
    std::map<std::string, std::deque<uint64_t>> results;
    std::function<void(const ScriptedCall&)> onCall;  // runs after each call is recorded

    void reset() { *this = ScriptedRuntime(); }
};

inline ScriptedRuntime* scriptedRuntimeOf(void* library) {
    auto state = reinterpret_cast<ScriptedRuntime* (*)()>(dlsym(library, "scriptedRuntimeState"));
    return state != nullptr ? state() : nullptr;
}

#endif  // XEPO_TEST_SCRIPTED_RUNTIME_H
