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

template <typename T>
std::string asText(T value) {
    if constexpr (std::is_same_v<T, const char*>) {
        return value != nullptr ? value : "";
    }
    return "";
}

template <typename Result, typename... Args>
Result scriptedCall(const std::string& name, Args... args) {
    state.calls.push_back({name, {asWord(args)...}, {asText(args)...}});
    if (state.onCall) {
        state.onCall(ScriptedCall(state.calls.back()));  // a copy: the hook may add calls
    }
    std::deque<uint64_t>& queue = state.results[name];
    const bool scripted = !queue.empty();
    const uint64_t word = scripted ? queue.front() : 0;
    if (scripted) {
        queue.pop_front();
    }
    // On success the count queries write through their second argument how many
    // session tensors are scripted for the matching by-index query.
    if constexpr (std::is_same_v<std::tuple<Args...>, std::tuple<QDNNSession, uint64_t*>>) {
        if (word == 0 && name.rfind("qdnnSessionGetNum", 0) == 0) {
            const std::string side = name == "qdnnSessionGetNumInputs" ? "Input" : "Output";
            *std::get<1>(std::tuple(args...)) =
                state.results["qdnnSessionGet" + side + "TensorByIndex"].size();
        }
    }
    if constexpr (std::is_pointer_v<Result>) {
        return reinterpret_cast<Result>(scripted ? word : 0x1000);
    } else if constexpr (!std::is_void_v<Result>) {
        return static_cast<Result>(word);
    }
}

}  // namespace

// Every entry point of the list, recorded under its own name.
#define QDNN_ENTRY(kind, result, name, params, args)                                       \
    extern "C" __attribute__((visibility("default"))) result name params {                 \
        return [](auto... values) { return scriptedCall<result>(#name, values...); } args; \
    }
#include "qdnn_entry_points.h"

extern "C" __attribute__((visibility("default"))) ScriptedRuntime* scriptedRuntimeState() {
    return &state;
}
