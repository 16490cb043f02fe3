// QDNNRunner: one model on the neural-network runtime.
//
// Construction picks the inference type from the backend name; init() loads the
// model, creates and warms up the session "default" and one host tensor per
// model input and output; forward() binds the caller's buffers to those host
// tensors (no copy) and runs the model synchronously.
//
// forward() tells the runtime that each buffer holds as many bytes as the
// model's tensor, so a caller with fixed buffers names their shapes with
// expectShapes() before init(): a model whose tensors differ is then refused
// at init() instead of writing past the caller's memory on its first run, and
// a run whose tensor size in bytes no longer matches those shapes binds nothing.
#ifndef QDNN_RUNNER_H
#define QDNN_RUNNER_H

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "qdnn_api.h"
#include "xepo_log.h"

// A tensor shape as the runtime reports it: batch, height, width, channel.
struct QDNNTensorShape {
    int32_t batch = 0;
    int32_t height = 0;
    int32_t width = 0;
    int32_t channel = 0;

    bool operator==(const QDNNTensorShape& other) const {
        return batch == other.batch && height == other.height && width == other.width &&
               channel == other.channel;
    }
    bool operator!=(const QDNNTensorShape& other) const { return !(*this == other); }
};

class QDNNRunner {
  public:
    // Status codes of init() and forward(); -1 to -5 name the failing step.
    static constexpr int32_t kOk = 0;
    static constexpr int32_t kInvalid = -1000;
    static constexpr int32_t kRuntimeNotLoaded = -1001;

    QDNNRunner(const std::string& modelPath, const std::string& backend, uint8_t frequencyHint,
               int32_t priority)
        : modelPath(modelPath), frequencyHint(frequencyHint), priority(priority) {
        inferenceType = parseBackend(backend);
        if (inferenceType == kQdnnInferenceNone) {
            XEPO_LOGE("Unsupported backend %s\n", backend.c_str());
            valid = false;
        }
    }
    ~QDNNRunner();

    QDNNRunner(const QDNNRunner&) = delete;
    QDNNRunner& operator=(const QDNNRunner&) = delete;

    // The shapes of the buffers the caller will pass to forward(), one per
    // model input and output in index order. Without a call, any shape goes.
    void expectShapes(std::vector<QDNNTensorShape> inputs, std::vector<QDNNTensorShape> outputs);

    int32_t init();
    int32_t forward(const std::vector<void*>& inputs, const std::vector<void*>& outputs);

    // Exact, case-sensitive: "HTP" 6, "NEURON" 7, "GPU" 5, anything else 0.
    static int32_t parseBackend(const std::string& backend);

    bool isValid() const { return valid; }
    int32_t getInferenceType() const { return inferenceType; }

  private:
    bool initMetaData();
    bool matchesExpectedShapes() const;
    // Whether a tensor of `bytes` fits the caller's buffer for shapes[index]
    // exactly (always, without expected shapes); logs the mismatch.
    bool fitsCallerBuffer(uint32_t bytes, const std::vector<QDNNTensorShape>& shapes, size_t index,
                          const char* kind) const;
    void release();

    std::string modelPath;
    uint8_t frequencyHint;
    int32_t priority;
    int32_t inferenceType = kQdnnInferenceNone;
    std::mutex runMutex;
    QDNNNet net = nullptr;
    QDNNSession session = nullptr;
    std::vector<QDNNTensor> inputHostTensors;
    std::vector<QDNNTensor> outputHostTensors;
    std::vector<QDNNTensor> inputSessionTensors;
    std::vector<QDNNTensor> outputSessionTensors;
    bool valid = true;
    bool shapesExpected = false;
    std::vector<QDNNTensorShape> expectedInputShapes;
    std::vector<QDNNTensorShape> expectedOutputShapes;
};

#endif  // QDNN_RUNNER_H
