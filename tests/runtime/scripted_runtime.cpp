// The scripted runtime library. With SCRIPTED_RUNTIME_WITHOUT_ION_DEREGISTER it
// lacks exactly qdnnTensorIonDeregister (built under another name), for the
// loader's missing-symbol path.
#include "scripted_runtime.h"

#ifdef SCRIPTED_RUNTIME_WITHOUT_ION_DEREGISTER
#define qdnnTensorIonDeregister scriptedOmittedIonDeregister
#endif

#include <tuple>

#include "qdnn_api.h"

namespace {

ScriptedRuntime state;

std::string asText(const char* text) {
    return text != nullptr ? text : "";
}
template <typename T>
std::string asText(T) {
    return "";
}

template <typename Result, typename... Args>
Result scriptedCall(const std::string& name, Args... args) {
    state.calls.push_back({name, {asWord(args)...}, {asText(args)...}});
    if (state.onCall) {
        state.onCall(ScriptedCall(state.calls.back()));  // a copy: the hook may add calls
    }
    std::deque<uint64_t>& queue = state.results[name];
    const uint64_t word = queue.empty() ? 0 : queue.front();
    const bool scripted = !queue.empty();
    if (scripted) {
        queue.pop_front();
    }
    // The count queries write the count through their second argument on success.
    if constexpr (std::is_same_v<std::tuple<Args...>, std::tuple<QDNNSession, uint64_t*>>) {
        if (word == 0 && name.rfind("qdnnSessionGetNum", 0) == 0) {
            *std::get<1>(std::tuple(args...)) =
                name == "qdnnSessionGetNumInputs" ? state.inputCount : state.outputCount;
        }
    }
    if constexpr (std::is_same_v<Result, const char*>) {
        return scripted ? reinterpret_cast<const char*>(word) : "scripted runtime";
    } else if constexpr (std::is_pointer_v<Result>) {
        return reinterpret_cast<Result>(scripted ? word : 0x1000);
    } else if constexpr (!std::is_void_v<Result>) {
        return static_cast<Result>(word);
    }
}

template <typename Result>
auto scriptedEntry(const char* name) {
    return [name](auto... args) { return scriptedCall<Result>(name, args...); };
}

}  // namespace

// Every entry point of the list, recorded under its own name.
#define QDNN_ENTRY(kind, result, name, params, args)                       \
    extern "C" __attribute__((visibility("default"))) result name params { \
        return scriptedEntry<result>(#name) args;                          \
    }
#include "qdnn_entry_points.h"

extern "C" __attribute__((visibility("default"))) ScriptedRuntime* scriptedRuntimeState() {
    return &state;
}
