// Entry points of nets: creation, settings, models and sessions.
//
// Settings: every setter returns 0 for a live net and a valid value, and
// remembers the value (see net.h for which ones change behaviour). Inference
// types are 0, 5 "GPU", 6 "HTP", 7 "NEURON"; frequency hints 0 to 100;
// thread counts 0 (OpenCV's default) or more, applied process-wide because
// OpenCV's worker pool is.
// Models: loading from a path or from memory checks the model fully (see
// compiled_model.h); a failed load keeps the previous model and sessions.
// Sessions: names are unique within a net; the net owns them.
#include <opencv2/core.hpp>

#include <fstream>
#include <iterator>
#include <string>

#include "entry_point_support.h"

using namespace qdnn_host;

namespace {

// Model files larger than this are refused before reading; the engine's
// models are a few megabytes.
constexpr std::streamoff kMaxModelFileBytes = std::streamoff{1} << 30;

int32_t setFlag(QDNNNet net, int32_t NetSettings::*field, int32_t value) {
    return changeNetSettings(net, [&](NetSettings& s) { s.*field = value; });
}

int32_t setNonNegative(QDNNNet net, int32_t NetSettings::*field, int32_t value) {
    if (value < 0)
        return kStatusInvalidArgument;
    return setFlag(net, field, value);
}

int32_t setPath(QDNNNet net, std::string NetSettings::*field, const char* path) {
    if (path == nullptr)
        return kStatusInvalidArgument;
    return changeNetSettings(net, [&](NetSettings& s) { s.*field = path; });
}

bool readFile(const char* path, std::string& bytes) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file)
        return false;
    std::streamoff size = file.tellg();
    if (size <= 0 || size > kMaxModelFileBytes)
        return false;
    file.seekg(0);
    bytes.resize(static_cast<size_t>(size));
    return static_cast<bool>(file.read(&bytes[0], size));
}

}  // namespace

QDNNNet qdnnNetCreate(void) {
    return callGuarded<QDNNNet>(nullptr, []() -> QDNNNet {
        quietOpenCvLogging();
        Net* net = new Net();
        HandleRegistry::instance().add(net, HandleKind::Net);
        return net;
    });
}

void qdnnNetDestroy(QDNNNet handle) {
    callGuardedVoid([&] {
        Net* net = netOf(handle);
        if (net == nullptr)
            return;
        HandleRegistry::instance().remove(net);
        delete net;
    });
}

int32_t qdnnNetSetInferenceType(QDNNNet net, int32_t type) {
    if (type != kInferenceNone && type != kInferenceGpu && type != kInferenceHtp &&
        type != kInferenceNeuron) {
        return kStatusInvalidArgument;
    }
    return setFlag(net, &NetSettings::inferenceType, type);
}

int32_t qdnnNetSetThreadsNum(QDNNNet net, int32_t threads) {
    if (threads < 0)
        return kStatusInvalidArgument;
    int32_t status = setFlag(net, &NetSettings::threads, threads);
    if (status == kStatusOk) {
        status = callGuarded(kStatusInternal, [&] {
            cv::setNumThreads(threads == 0 ? -1 : threads);
            return kStatusOk;
        });
    }
    return status;
}

int32_t qdnnNetSetGpuFloat16(QDNNNet net, int32_t enable) {
    return setFlag(net, &NetSettings::gpuFloat16, enable);
}

int32_t qdnnNetSetPowerMode(QDNNNet net, int32_t mode) {
    return setFlag(net, &NetSettings::powerMode, mode);
}

int32_t qdnnNetSetFrequencyHint(QDNNNet net, int32_t hint) {
    if (hint < 0 || hint > kMaxFrequencyHint)
        return kStatusInvalidArgument;
    return setFlag(net, &NetSettings::frequencyHint, hint);
}

int32_t qdnnNetSetTuningGpuKernels(QDNNNet net, int32_t enable) {
    return setFlag(net, &NetSettings::tuningGpuKernels, enable);
}

int32_t qdnnNetSetPathToSaveTunedModel(QDNNNet net, const char* path) {
    return setPath(net, &NetSettings::tunedModelPath, path);
}

int32_t qdnnNetSetFencedInferenceMode(QDNNNet net, int32_t enable) {
    return setFlag(net, &NetSettings::fencedInference, enable);
}

int32_t qdnnNetSetPriority(QDNNNet net, int32_t priority) {
    return setFlag(net, &NetSettings::priority, priority);
}

int32_t qdnnNetSetDeadlineTime(QDNNNet net, int32_t milliseconds) {
    return setNonNegative(net, &NetSettings::deadlineMs, milliseconds);
}

int32_t qdnnNetSetPowerOffTime(QDNNNet net, int32_t milliseconds) {
    return setNonNegative(net, &NetSettings::powerOffMs, milliseconds);
}

int32_t qdnnNetSetModelIndex(QDNNNet net, int32_t index) {
    return setNonNegative(net, &NetSettings::modelIndex, index);
}

int32_t qdnnNetSetThirdPartyModelPath(QDNNNet net, const char* path) {
    return setPath(net, &NetSettings::thirdPartyModelPath, path);
}

int32_t qdnnNetSetImportBufferForever(QDNNNet net, int32_t enable) {
    return setFlag(net, &NetSettings::importBufferForever, enable);
}

int32_t qdnnNetSetReduceUploadCount(QDNNNet net, int32_t enable) {
    return setFlag(net, &NetSettings::reduceUploadCount, enable);
}

int32_t qdnnNetSetAllocateOutput(QDNNNet net, int32_t enable) {
    return setFlag(net, &NetSettings::allocateOutput, enable);
}

int32_t qdnnNetSetForwardPowerModeValid(QDNNNet net, int32_t enable) {
    return setFlag(net, &NetSettings::forwardPowerModeValid, enable);
}

int32_t qdnnNetLoadModelFromMemory(QDNNNet handle, const void* data, uint64_t bytes,
                                   void* /*reserved*/) {
    return callGuarded(kStatusInternal, [&]() -> int32_t {
        Net* net = netOf(handle);
        if (net == nullptr || data == nullptr || bytes == 0)
            return kStatusInvalidArgument;
        return net->loadModel(data, static_cast<size_t>(bytes));
    });
}

int32_t qdnnNetLoadModelFromPath(QDNNNet handle, const char* path) {
    return callGuarded(kStatusInternal, [&]() -> int32_t {
        Net* net = netOf(handle);
        if (net == nullptr || path == nullptr)
            return kStatusInvalidArgument;
        std::string bytes;
        if (!readFile(path, bytes))
            return kStatusBadModel;
        return net->loadModel(bytes.data(), bytes.size());
    });
}

int32_t qdnnNetUnloadModel(QDNNNet handle) {
    return callGuarded(kStatusInternal, [&]() -> int32_t {
        Net* net = netOf(handle);
        if (net == nullptr)
            return kStatusInvalidArgument;
        return net->unloadModel();
    });
}

QDNNSession qdnnNetCreateSession(QDNNNet handle, const char* name) {
    return callGuarded<QDNNSession>(nullptr, [&]() -> QDNNSession {
        Net* net = netOf(handle);
        if (net == nullptr || name == nullptr)
            return nullptr;
        return net->createSession(name);
    });
}

QDNNSession qdnnNetGetSession(QDNNNet handle, const char* name) {
    return callGuarded<QDNNSession>(nullptr, [&]() -> QDNNSession {
        Net* net = netOf(handle);
        if (net == nullptr || name == nullptr)
            return nullptr;
        return net->findSession(name);
    });
}

int32_t qdnnNetReleaseSession(QDNNNet handle, QDNNSession session) {
    return callGuarded(kStatusInternal, [&]() -> int32_t {
        Net* net = netOf(handle);
        if (net == nullptr || sessionOf(session) == nullptr)
            return kStatusInvalidArgument;
        return net->releaseSession(static_cast<Session*>(session));
    });
}

const char* qdnnNetGetInfoString(QDNNNet handle) {
    return callGuarded<const char*>("", [&]() -> const char* {
        Net* net = netOf(handle);
        if (net == nullptr)
            return "";
        return net->infoString();
    });
}
