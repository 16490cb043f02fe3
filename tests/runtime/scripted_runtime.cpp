// The scripted runtime library. With SCRIPTED_RUNTIME_WITHOUT_ION_DEREGISTER it
// lacks exactly qdnnTensorIonDeregister (built under another name), for the
// loader's missing-symbol path.
#include "scripted_runtime.h"

#ifdef SCRIPTED_RUNTIME_WITHOUT_ION_DEREGISTER
#define qdnnTensorIonDeregister scriptedOmittedIonDeregister
#endif

#include <algorithm>
#include <numeric>
#include <optional>
#include <tuple>

#include "qdnn_api.h"

namespace {

ScriptedRuntime state;

ScriptedObject* objectOf(uint64_t handle) {
    const auto it = state.objects.find(handle);
    return it == state.objects.end() ? nullptr : &it->second;
}

uint64_t makeObject(ScriptedObject object) {
    state.objects[state.nextHandle] = std::move(object);
    return state.nextHandle++;
}

size_t elementsOf(const ScriptedShape& shape) {
    return std::accumulate(shape.begin(), shape.end(), size_t{1}, [](size_t n, int32_t d) {
        return n * static_cast<size_t>(std::max(d, 0));
    });
}

// A host tensor's caller buffer with its element count; none without one.
std::pair<float*, size_t> bufferOf(const ScriptedObject* host) {
    if (host == nullptr || host->buffer == nullptr) {
        return {nullptr, 0};
    }
    return {static_cast<float*>(host->buffer), elementsOf(host->shape)};
}

// The caller buffer of the host tensor last uploaded to a session tensor.
std::pair<float*, size_t> boundBuffer(uint64_t sessionTensor) {
    const ScriptedObject* tensor = objectOf(sessionTensor);
    return bufferOf(tensor != nullptr ? objectOf(tensor->uploaded) : nullptr);
}

int32_t runScriptedModel(ScriptedObject& session) {
    ScriptedModel& model = state.models[session.model];
    const size_t run = static_cast<size_t>(model.runs++);
    if (model.keepInputs) {
        const auto [input, count] = boundBuffer(session.input);
        model.inputs.emplace_back(input, input + count);
    }
    const int32_t status = run < model.runStatus.size() ? model.runStatus[run] : 0;
    if (status != 0 || model.outputs.empty()) {
        return status;
    }
    session.answer = model.outputs[std::min(run, model.outputs.size() - 1)];
    const auto [output, count] = boundBuffer(session.output);
    std::copy_n(session.answer.begin(), std::min(count, session.answer.size()), output);
    return 0;
}

// The answer of an entry point that scripted models take over; nothing for the
// others, which answer from the scripted results. Calls on objects the runtime
// did not make fail.
std::optional<uint64_t> answerForModels(const ScriptedCall& call) {
    const std::string& name = call.name;
    const std::vector<uint64_t>& a = call.args;
    ScriptedObject* first = a.empty() ? nullptr : objectOf(a[0]);
    const uint64_t status = first == nullptr ? 1 : 0;
    if (name == "qdnnNetCreate") {
        return makeObject({});
    }
    if (name == "qdnnNetLoadModelFromPath") {
        const std::string file = call.texts[1].substr(call.texts[1].rfind('/') + 1);
        if (first == nullptr || state.models.count(file) == 0) {
            return uint64_t{1};
        }
        first->model = file;
        return uint64_t{0};
    }
    if (name == "qdnnNetCreateSession") {
        if (first == nullptr || first->model.empty()) {
            return uint64_t{0};
        }
        const ScriptedModel& model = state.models[first->model];
        ScriptedObject session{first->model};
        session.input = makeObject({{}, model.input});
        session.output = makeObject({{}, model.output});
        return makeObject(std::move(session));
    }
    if (name == "qdnnSessionGetNumInputs" || name == "qdnnSessionGetNumOutputs") {
        *reinterpret_cast<uint64_t*>(a[1]) = 1 - status;
        return status;
    }
    if (name == "qdnnSessionGetInputTensorByIndex" || name == "qdnnSessionGetOutputTensorByIndex") {
        const bool input = name == "qdnnSessionGetInputTensorByIndex";
        return first == nullptr || a[1] != 0 ? 0 : input ? first->input : first->output;
    }
    if (name == "qdnnTensorCreate") {
        const auto dimension = [&a](size_t d) { return static_cast<int32_t>(a[d]); };
        return makeObject({{}, {dimension(0), dimension(1), dimension(2), dimension(3)}});
    }
    static const char* const kDimensions[] = {"qdnnTensorGetBatch", "qdnnTensorGetHeight",
                                              "qdnnTensorGetWidth", "qdnnTensorGetChannel"};
    for (size_t d = 0; d < 4; ++d) {
        if (name == kDimensions[d]) {
            return static_cast<uint64_t>(first != nullptr ? first->shape[d] : 0);
        }
    }
    if (name == "qdnnTensorGetSizeInBytes") {
        return static_cast<uint64_t>(first != nullptr ? elementsOf(first->shape) * sizeof(float)
                                                      : 0);
    }
    if (name == "qdnnTensorSetHostBuffer") {
        if (first != nullptr) {
            first->buffer = reinterpret_cast<void*>(a[1]);
        }
        return status;
    }
    if (name == "qdnnTensorUpload") {
        const bool known = first != nullptr && objectOf(a[1]) != nullptr;
        if (known) {
            first->uploaded = a[1];
        }
        return uint64_t{known ? 0u : 1u};
    }
    if (name == "qdnnSessionRun") {
        return asWord(first != nullptr ? runScriptedModel(*first) : 1);
    }
    if (name == "qdnnTensorDownload") {
        // The only session tensor a download reads is an output; its session
        // holds the answer.
        const auto [buffer, count] = bufferOf(objectOf(a[1]));
        for (const auto& [handle, object] : state.objects) {
            if (object.output == a[0] && buffer != nullptr) {
                std::copy_n(object.answer.begin(), std::min(count, object.answer.size()), buffer);
                return uint64_t{0};
            }
        }
        return uint64_t{1};
    }
    if (name == "qdnnTensorDestroy" || name == "qdnnNetDestroy") {
        state.objects.erase(a[0]);
        return uint64_t{0};
    }
    return std::nullopt;
}

template <typename T>
std::string asText(T value) {
    if constexpr (std::is_same_v<T, const char*>) {
        return value != nullptr ? value : "";
    }
    return "";
}

template <typename Result>
Result fromWord([[maybe_unused]] uint64_t word) {
    if constexpr (std::is_pointer_v<Result>) {
        return reinterpret_cast<Result>(word);
    } else if constexpr (!std::is_void_v<Result>) {
        return static_cast<Result>(word);
    }
}

template <typename Result, typename... Args>
Result scriptedCall(const std::string& name, Args... args) {
    state.calls.push_back({name, {asWord(args)...}, {asText(args)...}});
    const ScriptedCall call = state.calls.back();  // a copy: the hook may add calls
    if (state.onCall) {
        state.onCall(call);
    }
    if (const auto answer = state.models.empty() ? std::nullopt : answerForModels(call)) {
        return fromWord<Result>(*answer);
    }
    std::deque<uint64_t>& queue = state.results[name];
    const bool scripted = !queue.empty();
    const uint64_t word = scripted ? queue.front() : std::is_pointer_v<Result> ? 0x1000 : 0;
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
    return fromWord<Result>(word);
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
