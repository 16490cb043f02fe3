// QDNNRunner: one model on the neural-network runtime.
//
// Construction picks the inference type from the backend name; init() loads the
// model, creates and warms up the session "default" and one host tensor per
// model input and output; forward() binds the caller's buffers to those host
// tensors (no copy) and runs the model synchronously.
#ifndef QDNN_RUNNER_H
#define QDNN_RUNNER_H

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "qdnn_api.h"
#include "xepo_log.h"

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

    int32_t init();
    int32_t forward(const std::vector<void*>& inputs, const std::vector<void*>& outputs);

    // Exact, case-sensitive: "HTP" 6, "NEURON" 7, "GPU" 5, anything else 0.
    static int32_t parseBackend(const std::string& backend);

    bool isValid() const { return valid; }
    int32_t getInferenceType() const { return inferenceType; }

  private:
    bool initMetaData();
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
};

#endif  // QDNN_RUNNER_H
