// The scripted runtime library: every entry point records its call and returns
// the next scripted result. With SCRIPTED_RUNTIME_WITHOUT_ION_DEREGISTER the
// library lacks exactly qdnnTensorIonDeregister (it is built under another name),
// for the loader's missing-symbol path.
#include "scripted_runtime.h"

#include <type_traits>

#ifdef SCRIPTED_RUNTIME_WITHOUT_ION_DEREGISTER
#define qdnnTensorIonDeregister scriptedOmittedIonDeregister
#endif

#include "qdnn_api.h"

namespace {

ScriptedRuntime state;

// The default text result of entry points that return a string.
constexpr const char* kDefaultText = "scripted runtime";

template <typename T>
uint64_t asWord(T value) {
    if constexpr (std::is_pointer_v<T>) {
        return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(value));
    } else if constexpr (std::is_signed_v<T>) {
        return static_cast<uint64_t>(static_cast<int64_t>(value));
    } else {
        return static_cast<uint64_t>(value);
    }
}

template <typename T>
std::string asText(T value) {
    if constexpr (std::is_same_v<T, const char*>) {
        return value != nullptr ? value : "";
    } else {
        return "";
    }
}

ScriptedCall& record(const char* name) {
    state.calls.push_back(ScriptedCall{name, {}, {}});
    return state.calls.back();
}

template <typename... Args>
void recordArguments(ScriptedCall& call, Args... args) {
    (call.args.push_back(asWord(args)), ...);
    (call.texts.push_back(asText(args)), ...);
}

// The next scripted result of `name`, or its default.
template <typename Result>
Result nextResult(const char* name) {
    auto scripted = state.results.find(name);
    const bool hasScripted = scripted != state.results.end() && !scripted->second.empty();
    uint64_t word = 0;
    if (hasScripted) {
        word = scripted->second.front();
        scripted->second.pop_front();
    }
    if constexpr (std::is_void_v<Result>) {
        return;
    } else if constexpr (std::is_same_v<Result, const char*>) {
        return hasScripted ? reinterpret_cast<const char*>(static_cast<uintptr_t>(word))
                           : kDefaultText;
    } else if constexpr (std::is_pointer_v<Result>) {
        if (!hasScripted) {
            word = state.nextHandle;
            state.nextHandle += 0x10;
        }
        return reinterpret_cast<Result>(static_cast<uintptr_t>(word));
    } else {
        return static_cast<Result>(word);
    }
}

// The count queries report the scripted counts when they succeed; no other
// entry point writes through its arguments.
template <typename... Args>
void reportCount(const char*, Args...) {}

void reportCount(const char* name, int32_t status, QDNNSession, uint64_t* count) {
    if (status != 0 || count == nullptr) {
        return;
    }
    const std::string entry = name;
    if (entry == "qdnnSessionGetNumInputs") {
        *count = state.inputCount;
    } else if (entry == "qdnnSessionGetNumOutputs") {
        *count = state.outputCount;
    }
}

// One entry point: called with the entry's arguments, it records them, runs the
// test's hook and returns the next result.
template <typename Result>
struct ScriptedEntry {
    const char* name;

    template <typename... Args>
    Result operator()(Args... args) const {
        ScriptedCall& call = record(name);
        recordArguments(call, args...);
        const ScriptedCall recorded = call;  // the hook may add calls
        if (state.onCall) {
            state.onCall(recorded);
        }
        if constexpr (std::is_void_v<Result>) {
            nextResult<void>(name);
        } else {
            const Result result = nextResult<Result>(name);
            reportCount(name, result, args...);
            return result;
        }
    }
};

}  // namespace

#define SCRIPTED_EXPORT extern "C" __attribute__((visibility("default")))

// The recorded name is the entry point's own name, also in the variant that
// builds one entry under another name.
#define QDNN_ENTRY(kind, result, name, params, args) \
    SCRIPTED_EXPORT result name params {             \
        return ScriptedEntry<result>{#name} args;    \
    }
#include "qdnn_entry_points.h"

SCRIPTED_EXPORT ScriptedRuntime* scriptedRuntimeState() {
    return &state;
}
