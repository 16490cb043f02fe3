// Shared by the host runtime's tests: model paths, expected values written by
// the model generator, and a net that destroys itself.
#ifndef QDNN_RUNTIME_TEST_SUPPORT_H
#define QDNN_RUNTIME_TEST_SUPPORT_H

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "qdnn_api.h"

namespace qdnn_test {

// Tolerance of OpenCV's float arithmetic against numpy's double precision.
constexpr float kOutputTolerance = 1e-5f;
constexpr int32_t kFormatNhwc = 1;
constexpr int32_t kTypeFloat32 = 8;
constexpr int32_t kMemoryHost = 0;

inline std::string testModel(const std::string& file) {
    return std::string(QDNN_TEST_MODEL_DIR) + "/" + file;
}

inline std::string constantModel(const std::string& file) {
    return std::string(QDNN_CONSTANT_MODEL_DIR) + "/" + file;
}

inline std::vector<char> readBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(file),
                             std::istreambuf_iterator<char>());
}

inline std::vector<float> readFloats(const std::string& path) {
    std::vector<char> bytes = readBytes(path);
    std::vector<float> values(bytes.size() / sizeof(float));
    for (size_t i = 0; i < values.size(); ++i) {
        std::copy_n(bytes.data() + i * sizeof(float), sizeof(float),
                    reinterpret_cast<char*>(&values[i]));
    }
    return values;
}

// A net with the given inference type (allocate-output 0 for HTP and NEURON,
// as the runner sets it), destroyed with its sessions at scope end.
class ScopedNet {
  public:
    explicit ScopedNet(int32_t inferenceType = kQdnnInferenceGpu) : net_(qdnnNetCreate()) {
        qdnnNetSetInferenceType(net_, inferenceType);
        if (inferenceType == kQdnnInferenceHtp || inferenceType == kQdnnInferenceNeuron) {
            qdnnNetSetAllocateOutput(net_, 0);
        }
    }
    ~ScopedNet() { qdnnNetDestroy(net_); }
    ScopedNet(const ScopedNet&) = delete;
    ScopedNet& operator=(const ScopedNet&) = delete;

    QDNNNet get() const { return net_; }
    int32_t load(const std::string& path) { return qdnnNetLoadModelFromPath(net_, path.c_str()); }
    QDNNSession session(const char* name = "default") { return qdnnNetCreateSession(net_, name); }

  private:
    QDNNNet net_;
};

// A caller-owned host tensor of the same shape as `like`, destroyed at scope end.
class ScopedHostTensor {
  public:
    explicit ScopedHostTensor(QDNNTensor like)
        : tensor_(qdnnTensorCreate(qdnnTensorGetBatch(like), qdnnTensorGetHeight(like),
                                   qdnnTensorGetWidth(like), qdnnTensorGetChannel(like),
                                   kFormatNhwc, kTypeFloat32, kMemoryHost)) {}
    ScopedHostTensor(int32_t n, int32_t h, int32_t w, int32_t c)
        : tensor_(qdnnTensorCreate(n, h, w, c, kFormatNhwc, kTypeFloat32, kMemoryHost)) {}
    ~ScopedHostTensor() { qdnnTensorDestroy(tensor_); }
    ScopedHostTensor(const ScopedHostTensor&) = delete;
    ScopedHostTensor& operator=(const ScopedHostTensor&) = delete;

    QDNNTensor get() const { return tensor_; }

  private:
    QDNNTensor tensor_;
};

}  // namespace qdnn_test

#endif  // QDNN_RUNTIME_TEST_SUPPORT_H
