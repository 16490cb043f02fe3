// AeEngine: the engine's state, a process-wide single instance.
//
// It owns the four model runners, the image-operator context and every working
// buffer, and it is the memory of the decision pipeline: what carries over from
// one frame to the next lives here. Every pipeline step takes it as its first
// argument.
#ifndef XEPO_AE_ENGINE_H
#define XEPO_AE_ENGINE_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "cpp/img_process/img_process.h"
#include "qdnn_runner/qdnn_runner.h"

namespace xepo {

// Fixed sizes of the engine's buffers (the models' input side, kModelSide,
// comes with the preparations that fill them).
constexpr int kModelInputFloats = kModelSide * kModelSide * 3;  // 150528
constexpr int kRgbImageBytes = kModelSide * kModelSide * 3;     // 150528
constexpr int kGrayImageBytes = kModelSide * kModelSide;        // 50176
constexpr int kThumbSide = 64;                                  // similarity thumbnail
constexpr int kThumbBytes = kThumbSide * kThumbSide;            // 4096
constexpr int kHistBins = 64;                                   // 4 x 4 x 4 joint RGB bins
constexpr float kHistTotal = 50176.0f;                          // pixels counted per histogram
constexpr int kEntranceOutputs = 4;
constexpr int kLightSegSide = 56;  // light-segmentation output grid
constexpr int kLightSegFloats = kLightSegSide * kLightSegSide * 2;
constexpr int kSegMapWidth = 64;  // light-region map for the host
constexpr int kSegMapHeight = 48;
constexpr int kSegMapBytes = kSegMapWidth * kSegMapHeight;  // 3072
constexpr int kSmoothInputs = 3;
// The shapes of the buffers each model run gets (batch, height, width,
// channel as the runtime reports them; a (1, C) vector is 1 x 1 x 1 x C). A
// model whose tensors differ is refused when the engine is created.
constexpr QDNNTensorShape kImageModelInputShape{1, kModelSide, kModelSide, 3};
constexpr QDNNTensorShape kEntranceOutputShape{1, 1, 1, kEntranceOutputs};
constexpr QDNNTensorShape kAlbedoOutputShape{1, 1, 1, 1};
constexpr QDNNTensorShape kLightSegOutputShape{1, kLightSegSide, kLightSegSide, 2};
constexpr QDNNTensorShape kSmoothInputShape{1, 1, 1, kSmoothInputs};
constexpr QDNNTensorShape kSmoothOutputShape{1, 1, 1, 1};
constexpr int kScoreWindow = 5;            // frames in the score average
constexpr size_t kMaxHistoryEntries = 10;  // remembered stable scenes

// Score scale.
constexpr float kNeutralScore = 18.0f;
constexpr float kMinScore = 11.0f;
constexpr float kMaxScore = 44.0f;

// The last few items in arrival order, held in place: a queue that never
// allocates (a deque allocates a block every 128 values, a list a node per
// item), so that no frame route allocates once the engine runs. Holds
// kCapacity items; a push onto a full queue drops the oldest.
template <typename T, size_t Capacity>
class FixedQueue {
  public:
    static constexpr size_t kCapacity = Capacity;
    bool empty() const { return count_ == 0; }
    size_t size() const { return count_; }
    // The i-th item, 0 being the oldest.
    const T& operator[](size_t i) const { return items_[(first_ + i) % kCapacity]; }
    T& operator[](size_t i) { return items_[(first_ + i) % kCapacity]; }
    const T& front() const { return (*this)[0]; }
    const T& back() const { return (*this)[count_ - 1]; }
    T& back() { return (*this)[count_ - 1]; }
    void push_back(const T& item) {
        if (count_ == kCapacity) {
            pop_front();
        }
        items_[(first_ + count_) % kCapacity] = item;
        ++count_;
    }
    void pop_front() {
        first_ = (first_ + 1) % kCapacity;
        --count_;
    }
    void clear() {
        first_ = 0;
        count_ = 0;
    }

  private:
    T items_[kCapacity] = {};
    size_t first_ = 0;
    size_t count_ = 0;
};

using ScoreQueue = FixedQueue<float, kScoreWindow + 1>;

// Five-frame moving average of the per-frame score.
struct ScoreAverage {
    ScoreQueue values;  // at most window + 1 values at any time (window <= kScoreWindow)
    uint32_t window = kScoreWindow;
    float sum = 0.0f;
};

// A remembered stable scene.
struct HistoryEntry {
    std::array<int32_t, kHistBins> hist{};  // copy of the scene's 64-bin histogram
    float score = 0.0f;                     // logged as "history_ae"
    float enConfidence = 0.0f;              // the last entrance scene confidence at that time
    float enLsProb = 0.0f;                  // the last entrance light-scene probability
    int32_t isSegResult = 0;
    float aecLux = 0.0f;  // logged as "history_aec_lux"
    float scale = 0.0f;
    float imuAngle[3] = {0.0f, 0.0f, 0.0f};
};

struct AeEngine {
    std::unique_ptr<QDNNRunner> albedoRunner;
    std::unique_ptr<QDNNRunner> entranceRunner;
    std::unique_ptr<QDNNRunner> lightSegRunner;
    std::unique_ptr<QDNNRunner> smoothRunner;
    int64_t tavkit_handle = 0;
    std::unique_ptr<float[]> modelInput;     // 224 x 224 x 3, normalised
    std::unique_ptr<float[]> smoothInput;    // previous lux, previous score, lux
    std::unique_ptr<uint8_t[]> nccRefThumb;  // 64 x 64, allocated on first use
    std::unique_ptr<uint8_t[]> rgbImage;     // 224 x 224 x 3
    std::unique_ptr<int32_t[]> curHist;      // 64 bins
    std::unique_ptr<uint8_t[]> grayThumb;    // 64 x 64
    std::unique_ptr<uint8_t[]> grayImage;    // 224 x 224
    std::unique_ptr<ScoreAverage> aeScoreAverage;
    std::unique_ptr<float[]> lastEnResult;  // 4
    int32_t isStable = 0;
    int32_t lastIsStable = 0;
    float lastAeScore = kNeutralScore;
    float lastAeThisScore = kNeutralScore;
    float lastAecLux = 0.0f;
    float refAecLux = 0.0f;
    std::unique_ptr<float[]> albedoResult;                     // 1
    std::unique_ptr<float[]> enResult;                         // 4
    std::unique_ptr<float[]> lightSegOutput;                   // 56 x 56 x 2
    std::unique_ptr<float[]> smoothResult;                     // 1
    std::unique_ptr<int32_t[]> lastHist;                       // 64 bins, allocated on first use
    FixedQueue<HistoryEntry, kMaxHistoryEntries> historyHist;  // remembered stable scenes
    int32_t nccRefValid = 1;
    float imuAngle[3] = {0.0f, 0.0f, 0.0f};
    uint64_t lastGyroTimestamp = 0;
    float last_gyrosimilarity = 0.0f;
    int64_t stillSinceTicks = 0;
    int32_t modelRunCount = 0;
    float lastScale = 0.0f;
    int32_t satCountdown = 0;
    int32_t historyHitCount = 0;
    int32_t lastImuStatus = 1;
    int32_t lastIsSegResult = 0;
    float lastSegAecLux = 0.0f;
    std::unique_ptr<uint8_t[]> lastSegMap;  // 64 x 48
    std::unique_ptr<uint8_t[]> segMap;      // 64 x 48, cleared every frame
    // rgbImage is this frame's picture: the similarity step made it on this
    // frame without a failure. Cleared at the start of every full frame.
    bool rgbImageIsThisFrame = false;
};

// Process-wide engine state: the lock shared by creation, release and every
// frame call, and the single instance.
extern std::mutex engineMutex;
extern bool engineInitialized;
extern AeEngine* engineInstance;

}  // namespace xepo

#endif  // XEPO_AE_ENGINE_H
