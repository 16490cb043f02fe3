// runAeEngineImage: the engine's models on an image file instead of a camera
// frame, for evaluation off the camera.
//
// It uses the engine's runners and buffers but none of the per-frame decision
// state, and takes no lock: the host keeps it apart from other engine calls.
#include <time.h>

#include <cstdint>
#include <cstring>
#include <exception>

#include "cpp/img_process/img_process.h"
#include "tavkit_api.h"
#include "xepo.h"
#include "xepo/ae_engine.h"
#include "xepo/decision_thresholds.h"
#include "xepo/model_scoring.h"
#include "xepo/score_smoothing.h"
#include "xepo_log.h"

namespace xepo {
namespace {

// Every line of this entry carries the entry's own name, also from the helpers
// below that it is split into.
constexpr const char* kEntryName = "runAeEngineImage";
#define IMAGE_LOGD(...) \
    ::xepo::logLine(::xepo::LogPriority::Debug, __FILE__, __LINE__, kEntryName, __VA_ARGS__)
#define IMAGE_LOGE(...) \
    ::xepo::logLine(::xepo::LogPriority::Error, __FILE__, __LINE__, kEntryName, __VA_ARGS__)

// Values of `control`.
constexpr int kControlNeutral = -1;  // no model, the neutral answer
constexpr int kControlEntrance = 0;  // entrance model only
constexpr int kControlAlbedo = 1;    // albedo model only, its raw fraction
constexpr int kControlLightSeg = 3;  // entrance and light segmentation, with the map

constexpr float kFixedConfidence = 0.9f;  // neutral answer, albedo-only, entrance failure
// The entry treats every image as a frame taken at 90 degrees: the light map is
// turned back by that much, whatever the picture.
constexpr uint32_t kImageLightSegRotation = 90;

// The entrance model's verdict: below all three thresholds (kEntranceSureConfidence
// and these two) the scene is plain and the albedo model is not asked. This entry
// compares them in single precision.
constexpr float kHighKeySureSingle = static_cast<float>(kHighKeySure);
constexpr float kLightSceneSureSingle = static_cast<float>(kLightSceneSure);
// Raises (kRaiseStep) of the mapped score for scenes the entrance model marks:
// high key, and a light scene from kRaiseFromScore on; none above this score.
constexpr float kRaiseUpTo = 51.0f;

constexpr int kPreparedSide = kModelSide;  // decoded image is resized to 224 x 224
constexpr int kPreparedChannels = 3;

struct timespec monotonicNow() {
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

// Elapsed milliseconds: whole microseconds (truncated), then milliseconds as float.
float elapsedMs(const struct timespec& start, const struct timespec& end) {
    const int64_t micros = static_cast<int64_t>(end.tv_sec - start.tv_sec) * 1000000 +
                           static_cast<int64_t>(end.tv_nsec - start.tv_nsec) / 1000;
    return static_cast<float>(micros) / 1000.0f;
}

bool engineUsable(const AeEngine* engine) {
    return engine != nullptr && engine->modelInput != nullptr && engine->enResult != nullptr &&
           engine->albedoResult != nullptr && engine->lightSegOutput != nullptr &&
           engine->segMap != nullptr;
}

void runEntranceOnly(AeEngine& engine, _XEPO_RES_& result) {
    const struct timespec start = monotonicNow();
    const int32_t status =
        runModel(engine.entranceRunner.get(), engine.modelInput.get(), engine.enResult.get());
    if (status != 0) {
        IMAGE_LOGE("en runmodel failed %d", status);
    }
    result.result = kNeutralScore;
    result.confidence = engine.enResult[kEntranceSceneConfidence];
    IMAGE_LOGD("control is %d, Confidence is %f", kControlEntrance, result.confidence);
    IMAGE_LOGD("en_excute time:  [%f] ms\n", elapsedMs(start, monotonicNow()));
}

void runAlbedoOnly(AeEngine& engine, _XEPO_RES_& result) {
    const struct timespec start = monotonicNow();
    const int32_t status =
        runModel(engine.albedoRunner.get(), engine.modelInput.get(), engine.albedoResult.get());
    if (status != 0) {
        IMAGE_LOGE("ae runmodel failed %d", status);
    }
    result.result = engine.albedoResult[0];
    result.confidence = kFixedConfidence;
    IMAGE_LOGD("control is %d, Confidence is %f", kControlAlbedo, kFixedConfidence);
    IMAGE_LOGD("ae_excute time:  [%f] ms\n", elapsedMs(start, monotonicNow()));
}

void runLightSegmentation(AeEngine& engine, _XEPO_RES_& result) {
    const int32_t status =
        runModel(engine.entranceRunner.get(), engine.modelInput.get(), engine.enResult.get());
    if (status != 0) {
        IMAGE_LOGE("en runmodel failed %d", status);
    }
    result.result = kNeutralScore;
    result.confidence = engine.enResult[kEntranceLightScene];
    IMAGE_LOGD("control is %d, Confidence is %f", kControlLightSeg, result.confidence);

    const int32_t segStatus =
        runLightSegModel(engine.lightSegRunner.get(), engine.tavkit_handle, engine.modelInput.get(),
                         kImageLightSegRotation, engine.lightSegOutput.get(), engine.segMap.get());
    if (segStatus != 0) {
        IMAGE_LOGD("ls model fail, error code: %d", segStatus);
    }

    // The host must pass a map record with this control; without one only the
    // map is skipped.
    if (result.segMap == nullptr) {
        IMAGE_LOGE("result segMap record is null, map not written");
        return;
    }
    result.segMap->type = kTavkitFormatGray;
    result.segMap->width = kSegMapWidth;
    result.segMap->height = kSegMapHeight;
    if (result.segMap->data != nullptr) {
        std::memcpy(result.segMap->data, engine.segMap.get(), kSegMapBytes);
    }
}

// The full image path: the entrance model decides whether the albedo model
// scores the image; the score is mapped by lux band and raised for the scenes
// the entrance model marks.
void runEntranceThenAlbedo(AeEngine& engine, _XEPO_RES_& result, float aec_lux) {
    struct timespec start = monotonicNow();
    const int32_t status =
        runModel(engine.entranceRunner.get(), engine.modelInput.get(), engine.enResult.get());
    if (status != 0) {
        IMAGE_LOGE("en runmodel failed %d", status);
    }
    const float* en = engine.enResult.get();
    IMAGE_LOGD("en_excute result:  [%f, %f, %f]\n", en[0], en[1], en[2]);
    IMAGE_LOGD("en_excute time:  [%f] ms\n", elapsedMs(start, monotonicNow()));
    if (status != 0) {
        IMAGE_LOGD("run xepo entrance model failed");
        result.result = kNeutralScore;
        result.confidence = kFixedConfidence;
        return;
    }

    const float p1 = en[kEntranceSceneConfidence];
    const float p2 = en[kEntranceHighKey];
    const float p3 = en[kEntranceLightScene];
    if (p1 < kEntranceSureConfidence && p2 < kHighKeySureSingle && p3 < kLightSceneSureSingle) {
        result.result = kNeutralScore;
        result.confidence = p1;
        return;
    }

    start = monotonicNow();
    const int32_t albedoStatus =
        runModel(engine.albedoRunner.get(), engine.modelInput.get(), engine.albedoResult.get());
    if (albedoStatus != 0) {
        IMAGE_LOGE("ae runmodel failed %d", albedoStatus);
    }
    float s = getSmoothScoreGT(engine.albedoResult[0] * kAlbedoToScore, aec_lux);
    if (s <= kRaiseUpTo && p2 >= kHighKeySureSingle) {
        s = s + kRaiseStep;
    }
    if (s <= kRaiseUpTo && p3 >= kLightSceneSureSingle && s >= kRaiseFromScore) {
        s = s + kRaiseStep;
    }
    if (s < kNeutralScore && p1 < kEntranceSureConfidence) {
        s = kNeutralScore;
    }
    IMAGE_LOGD("this_albedo %f", s);
    IMAGE_LOGD("ae_excute time:  [%f] ms\n", elapsedMs(start, monotonicNow()));
    result.result = s;
    result.confidence = p1;
}

void runImage(char const* imagePath, _XEPO_RES_* result, float aec_lux, int control) {
    if (control == kControlNeutral) {
        if (result != nullptr) {
            result->result = kNeutralScore;
            result->confidence = kFixedConfidence;
        }
        IMAGE_LOGD("control = -1");
        return;
    }
    AeEngine* engine = engineInstance;
    if (result == nullptr || !engineUsable(engine)) {
        IMAGE_LOGD("handle or xepo_result is NULL");
        return;
    }
    if (imagePath == nullptr) {
        IMAGE_LOGE("input iamge error path");
        return;
    }

    const struct timespec start = monotonicNow();
    std::memset(engine->segMap.get(), 0, kSegMapBytes);
    const int32_t prepared = imagePathtoBuffer(
        engine->tavkit_handle, imagePath, kPreparedSide, kPreparedSide, kPreparedChannels,
        engine->modelInput.get(), kNormalizationMean, kNormalizationScale);
    if (prepared != 0) {
        IMAGE_LOGE("error imagePathtoBuffer");
        return;
    }
    IMAGE_LOGD("image_process time:  [%f] ms\n", elapsedMs(start, monotonicNow()));

    switch (control) {
        case kControlEntrance:
            runEntranceOnly(*engine, *result);
            break;
        case kControlAlbedo:
            runAlbedoOnly(*engine, *result);
            break;
        case kControlLightSeg:
            runLightSegmentation(*engine, *result);
            break;
        default:
            runEntranceThenAlbedo(*engine, *result, aec_lux);
            break;
    }
}

#undef IMAGE_LOGD
#undef IMAGE_LOGE

}  // namespace
}  // namespace xepo

XEPO_API void runAeEngineImage(void* /*engine: the single instance is always used*/,
                               char const* imagePath, _XEPO_RES_* result, float aec_lux,
                               int control) {
    // Nothing may reach the host: an exception ends the call quietly and what
    // was already written stays.
    try {
        xepo::runImage(imagePath, result, aec_lux, control);
    } catch (const std::exception&) {
    } catch (...) {
    }
}
