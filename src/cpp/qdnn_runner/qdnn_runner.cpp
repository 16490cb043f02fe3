#include "qdnn_runner/qdnn_runner.h"

#include <cstdio>
#include <exception>
#include <string>
#include <utility>

#include "runtime/qdnn_interface.h"

namespace {

// Status codes of the steps of init() and forward().
constexpr int32_t kCreateFailed = -1;    // init: no net
constexpr int32_t kCountMismatch = -1;   // forward: buffer count differs from the model's
constexpr int32_t kLoadFailed = -2;      // init: model load
constexpr int32_t kBindFailed = -2;      // forward: host buffer binding
constexpr int32_t kSessionFailed = -3;   // init: session creation
constexpr int32_t kUploadFailed = -3;    // forward: upload
constexpr int32_t kWarmupFailed = -4;    // init: warm-up
constexpr int32_t kRunFailed = -4;       // forward: run
constexpr int32_t kMetaDataFailed = -5;  // init: tensor lists
constexpr int32_t kDownloadFailed = -5;  // forward: download

// The runtime takes frequency hints from 0 to 100; a caller asking for more
// gets the top hint together with the runtime's high-performance power mode.
constexpr uint8_t kMaxFrequencyHint = 100;
constexpr int32_t kHighPerformancePowerMode = 3;

// Backends whose outputs land in the caller's buffers (bound before the run)
// instead of being downloaded after it.
bool outputsBoundBeforeRun(int32_t inferenceType) {
    return inferenceType == kQdnnInferenceHtp || inferenceType == kQdnnInferenceNeuron;
}

constexpr const char* kSessionName = "default";

// A caller-owned float NHWC tensor of the session tensor's shape. The shape is
// asked for in the order batch, height, width, channel.
QDNNTensor createHostTensorLike(QDNNTensor sessionTensor) {
    const int32_t batch = qdnnTensorGetBatch(sessionTensor);
    const int32_t height = qdnnTensorGetHeight(sessionTensor);
    const int32_t width = qdnnTensorGetWidth(sessionTensor);
    const int32_t channel = qdnnTensorGetChannel(sessionTensor);
    return qdnnTensorCreate(batch, height, width, channel, kQdnnFormatNhwc, kQdnnTypeFloat32,
                            kQdnnMemoryHost);
}

QDNNTensorShape shapeOf(QDNNTensor tensor) {
    return {qdnnTensorGetBatch(tensor), qdnnTensorGetHeight(tensor), qdnnTensorGetWidth(tensor),
            qdnnTensorGetChannel(tensor)};
}

// "1x224x224x3, 1x3" for a list of shapes; "none" for an empty one.
std::string describeShapes(const std::vector<QDNNTensorShape>& shapes) {
    if (shapes.empty()) {
        return "none";
    }
    std::string text;
    for (const QDNNTensorShape& shape : shapes) {
        if (!text.empty()) {
            text += ", ";
        }
        text += std::to_string(shape.batch) + "x" + std::to_string(shape.height) + "x" +
                std::to_string(shape.width) + "x" + std::to_string(shape.channel);
    }
    return text;
}

// Bytes of a float32 tensor of this shape.
uint64_t bytesOf(const QDNNTensorShape& shape) {
    return static_cast<uint64_t>(shape.batch) * static_cast<uint64_t>(shape.height) *
           static_cast<uint64_t>(shape.width) * static_cast<uint64_t>(shape.channel) *
           sizeof(float);
}

std::vector<QDNNTensorShape> shapesOf(const std::vector<QDNNTensor>& tensors) {
    std::vector<QDNNTensorShape> shapes;
    for (QDNNTensor tensor : tensors) {
        shapes.push_back(shapeOf(tensor));
    }
    return shapes;
}

}  // namespace

void QDNNRunner::expectShapes(std::vector<QDNNTensorShape> inputs,
                              std::vector<QDNNTensorShape> outputs) {
    expectedInputShapes = std::move(inputs);
    expectedOutputShapes = std::move(outputs);
    shapesExpected = true;
}

int32_t QDNNRunner::parseBackend(const std::string& backend) {
    if (backend == "HTP") {
        return kQdnnInferenceHtp;
    }
    if (backend == "NEURON") {
        return kQdnnInferenceNeuron;
    }
    if (backend == "GPU") {
        return kQdnnInferenceGpu;
    }
    return kQdnnInferenceNone;
}

QDNNRunner::~QDNNRunner() {
    release();
}

int32_t QDNNRunner::init() {
    if (!valid) {
        XEPO_LOGE("Invalid QDNNRunner.\n");
        return kInvalid;
    }
    if (!getQDNNInterface().loaded) {
        XEPO_LOGE("Get QDNN interface failed!\n");
        return kRuntimeNotLoaded;
    }
    // Every failure from here on leaves the runner invalid; a net created on
    // the way stays in `net` until release().
    valid = false;

    net = qdnnNetCreate();
    if (net == nullptr) {
        XEPO_LOGE("qdnnNetCreate failed\n");
        return kCreateFailed;
    }
    int32_t hint = frequencyHint;
    if (frequencyHint > kMaxFrequencyHint) {
        qdnnNetSetPowerMode(net, kHighPerformancePowerMode);
        hint = kMaxFrequencyHint;
    }
    qdnnNetSetFrequencyHint(net, hint);
    if (outputsBoundBeforeRun(inferenceType)) {
        qdnnNetSetAllocateOutput(net, 0);
    } else {
        qdnnNetSetGpuFloat16(net, 1);
    }
    qdnnNetSetInferenceType(net, inferenceType);
    qdnnNetSetPriority(net, priority);

    const int32_t loadStatus = qdnnNetLoadModelFromPath(net, modelPath.c_str());
    if (loadStatus != 0) {
        XEPO_LOGE("qdnnNetLoadModelFromPath failed, ret = %d\n", loadStatus);
        return kLoadFailed;
    }
    session = qdnnNetCreateSession(net, kSessionName);
    if (session == nullptr) {
        XEPO_LOGE("qdnnNetCreateSession failed\n");
        return kSessionFailed;
    }
    const int32_t warmupStatus = qdnnSessionWarmup(session);
    if (warmupStatus != 0) {
        XEPO_LOGE("qdnnSessionWarmup failed, ret = %d\n", warmupStatus);
        return kWarmupFailed;
    }
    if (!initMetaData()) {
        return kMetaDataFailed;
    }
    valid = true;
    return kOk;
}

bool QDNNRunner::initMetaData() {
    // The lists only grow here; running out of memory for them counts as a
    // failed set-up rather than escaping as an exception.
    try {
        uint64_t inputCount = 0;
        if (qdnnSessionGetNumInputs(session, &inputCount) != 0) {
            XEPO_LOGE("qdnnSessionGetNumInputs failed");
            return false;
        }
        for (uint64_t i = 0; i < inputCount; ++i) {
            const QDNNTensor sessionTensor = qdnnSessionGetInputTensorByIndex(session, i);
            inputSessionTensors.push_back(sessionTensor);
            if (sessionTensor == nullptr) {
                XEPO_LOGE("qdnnSessionGetInputTensorByIndex failed");
                return false;
            }
            const QDNNTensor hostTensor = createHostTensorLike(sessionTensor);
            inputHostTensors.push_back(hostTensor);
            if (hostTensor == nullptr) {
                XEPO_LOGE("qdnnTensorCreate input failed");
                return false;
            }
        }

        uint64_t outputCount = 0;
        if (qdnnSessionGetNumOutputs(session, &outputCount) != 0) {
            XEPO_LOGE("qdnnSessionGetNumOutputs failed");
            return false;
        }
        for (uint64_t j = 0; j < outputCount; ++j) {
            const QDNNTensor sessionTensor = qdnnSessionGetOutputTensorByIndex(session, j);
            outputSessionTensors.push_back(sessionTensor);
            if (sessionTensor == nullptr) {
                XEPO_LOGE("qdnnSessionGetOutputTensorByIndex failed");
                return false;
            }
            const QDNNTensor hostTensor = createHostTensorLike(sessionTensor);
            outputHostTensors.push_back(hostTensor);
            if (hostTensor == nullptr) {
                XEPO_LOGE("qdnnTensorCreate output failed");
                return false;
            }
        }
        return matchesExpectedShapes();
    } catch (const std::exception& error) {
        XEPO_LOGE("tensor lists failed: %s", error.what());
        return false;
    }
}

bool QDNNRunner::matchesExpectedShapes() const {
    if (!shapesExpected) {
        return true;
    }
    // The host tensors carry the session's shapes, and their sizes are what
    // forward() binds to the caller's buffers.
    const std::vector<QDNNTensorShape> inputs = shapesOf(inputHostTensors);
    const std::vector<QDNNTensorShape> outputs = shapesOf(outputHostTensors);
    if (inputs == expectedInputShapes && outputs == expectedOutputShapes) {
        return true;
    }
    XEPO_LOGE(
        "model %s has input %s and output %s (batch x height x width x channel); the engine "
        "needs input %s and output %s",
        modelPath.c_str(), describeShapes(inputs).c_str(), describeShapes(outputs).c_str(),
        describeShapes(expectedInputShapes).c_str(), describeShapes(expectedOutputShapes).c_str());
    return false;
}

bool QDNNRunner::fitsCallerBuffer(uint32_t bytes, const std::vector<QDNNTensorShape>& shapes,
                                  size_t index, const char* kind) const {
    if (!shapesExpected) {
        return true;
    }
    const uint64_t held = bytesOf(shapes[index]);
    if (bytes == held) {
        return true;
    }
    XEPO_LOGE("model %s: the runtime now reports %u bytes for %s %lu, whose buffer holds %llu",
              modelPath.c_str(), bytes, kind, static_cast<unsigned long>(index),
              static_cast<unsigned long long>(held));
    return false;
}

int32_t QDNNRunner::forward(const std::vector<void*>& inputs, const std::vector<void*>& outputs) {
    if (!valid) {
        XEPO_LOGE("Invalid QDNNRunner.\n");
        return kInvalid;
    }
    if (inputs.size() != inputHostTensors.size()) {
        XEPO_LOGE("Got inputs num %lu, but expected %lu", static_cast<unsigned long>(inputs.size()),
                  static_cast<unsigned long>(inputHostTensors.size()));
        return kCountMismatch;
    }
    if (outputs.size() != outputHostTensors.size()) {
        XEPO_LOGE("Got outputs num %lu, but expected %lu",
                  static_cast<unsigned long>(outputs.size()),
                  static_cast<unsigned long>(outputHostTensors.size()));
        return kCountMismatch;
    }

    // Locking a std::mutex can only throw when the system refuses it; that is
    // reported as an unusable runner instead of escaping.
    std::unique_lock<std::mutex> lock(runMutex, std::defer_lock);
    try {
        lock.lock();
    } catch (const std::exception& error) {
        XEPO_LOGE("run lock failed: %s", error.what());
        return kInvalid;
    }

    for (size_t i = 0; i < inputs.size(); ++i) {
        QDNNTensor host = inputHostTensors[i];
        const uint32_t bytes = qdnnTensorGetSizeInBytes(host);
        if (!fitsCallerBuffer(bytes, expectedInputShapes, i, "input")) {
            return kBindFailed;
        }
        if (qdnnTensorSetHostBuffer(host, inputs[i], bytes) != 0) {
            XEPO_LOGE("qdnnTensorSetHostBuffer input failed");
            return kBindFailed;
        }
    }
    for (size_t j = 0; j < outputs.size(); ++j) {
        QDNNTensor host = outputHostTensors[j];
        const uint32_t bytes = qdnnTensorGetSizeInBytes(host);
        if (!fitsCallerBuffer(bytes, expectedOutputShapes, j, "output")) {
            return kBindFailed;
        }
        if (qdnnTensorSetHostBuffer(host, outputs[j], bytes) != 0) {
            XEPO_LOGE("qdnnTensorSetHostBuffer output failed");
            return kBindFailed;
        }
    }
    for (size_t i = 0; i < inputs.size(); ++i) {
        if (qdnnTensorUpload(inputSessionTensors[i], inputHostTensors[i]) != 0) {
            XEPO_LOGE("qdnnTensorUpload inputs failed");
            return kUploadFailed;
        }
    }
    const bool bindOutputs = outputsBoundBeforeRun(inferenceType);
    if (bindOutputs) {
        for (size_t j = 0; j < outputs.size(); ++j) {
            if (qdnnTensorUpload(outputSessionTensors[j], outputHostTensors[j]) != 0) {
                XEPO_LOGE("qdnnTensorUpload outputs failed");
                return kUploadFailed;
            }
        }
    }
    if (qdnnSessionRun(session) != 0) {
        XEPO_LOGE("qdnnSessionRun failed");
        return kRunFailed;
    }
    if (!bindOutputs) {
        for (size_t j = 0; j < outputs.size(); ++j) {
            if (qdnnTensorDownload(outputSessionTensors[j], outputHostTensors[j]) != 0) {
                std::printf("qdnnTensorDownload failed");
                return kDownloadFailed;
            }
        }
    }
    return kOk;
}

void QDNNRunner::release() {
    for (QDNNTensor tensor : inputHostTensors) {
        if (tensor != nullptr) {
            qdnnTensorDestroy(tensor);
        }
    }
    inputHostTensors.clear();
    for (QDNNTensor tensor : outputHostTensors) {
        if (tensor != nullptr) {
            qdnnTensorDestroy(tensor);
        }
    }
    outputHostTensors.clear();
    // Destroying the net also ends its session and the session's tensors.
    if (net != nullptr) {
        qdnnNetDestroy(net);
        net = nullptr;
    }
}
