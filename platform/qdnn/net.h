// A net: the settings a caller gives, at most one loaded model and the
// sessions made from it. The net owns its sessions (and through them their
// tensors); destroying the net or loading another model ends them.
//
// All models run on OpenCV's CPU path. The inference type decides where a
// run's outputs go: under "HTP" (6) and "NEURON" (7) with allocate-output 0
// the outputs must be bound before the run and the run writes only into the
// bound buffers; otherwise ("GPU" (5), or allocate-output on) the session
// keeps every result in its own storage and download copies it out.
// The remaining settings (power, frequency, priority, deadlines, tuning and
// the like) are checked and remembered, and shown by the info string; they
// change nothing on a host.
#ifndef QDNN_HOST_NET_H
#define QDNN_HOST_NET_H

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "compiled_model.h"
#include "session.h"

namespace qdnn_host {

constexpr int32_t kInferenceNone = 0;
constexpr int32_t kInferenceGpu = 5;
constexpr int32_t kInferenceHtp = 6;
constexpr int32_t kInferenceNeuron = 7;
// Frequency hints are a percentage of the accelerator's top clock.
constexpr int32_t kMaxFrequencyHint = 100;

struct NetSettings {
    int32_t inferenceType = kInferenceNone;
    int32_t allocateOutput = 1;
    int32_t threads = 0;  // 0: OpenCV's default
    int32_t gpuFloat16 = 0;
    int32_t powerMode = 0;
    int32_t frequencyHint = kMaxFrequencyHint;
    int32_t priority = 0;
    int32_t tuningGpuKernels = 0;
    int32_t fencedInference = 0;
    int32_t deadlineMs = 0;
    int32_t powerOffMs = 0;
    int32_t modelIndex = 0;
    int32_t importBufferForever = 0;
    int32_t reduceUploadCount = 0;
    int32_t forwardPowerModeValid = 0;
    std::string tunedModelPath;
    std::string thirdPartyModelPath;
    void* sharedBuffer = nullptr;
    uint32_t sharedBufferBytes = 0;
    void* memoryPool = nullptr;
    uint32_t memoryPoolBytes = 0;
};

class Net {
  public:
    Net();
    ~Net();
    Net(const Net&) = delete;
    Net& operator=(const Net&) = delete;

    // Settings are read and written under the net's lock.
    template <typename Change>
    void changeSettings(Change&& change) {
        std::lock_guard<std::mutex> lock(mutex_);
        change(settings_);
    }
    NetSettings settings() const;
    // True unless the outputs must be bound before a run (see above).
    bool outputsAllocated() const;

    // Replaces the model (and ends the sessions) only on success.
    int32_t loadModel(const void* data, size_t bytes);
    int32_t unloadModel();

    Session* createSession(const std::string& name);
    Session* findSession(const std::string& name) const;
    bool ownsSession(const Session* session) const;
    int32_t releaseSession(Session* session);

    // A description of the net, valid until the next call or the net's end.
    const char* infoString();

  private:
    void endSessions();

    mutable std::mutex mutex_;
    NetSettings settings_;
    std::shared_ptr<const CompiledModel> model_;
    std::vector<std::unique_ptr<Session>> sessions_;
    std::string info_;
};

}  // namespace qdnn_host

#endif  // QDNN_HOST_NET_H
