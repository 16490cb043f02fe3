// qiraAeProcess and runAeEngine: the per-frame entry points. The driver picks
// the kind of work a frame gets and runs the pipeline steps in their fixed
// order under the engine lock.
#include <cmath>
#include <cstring>
#include <ctime>
#include <mutex>

#include "cpp/img_process/img_process.h"
#include "xepo.h"
#include "xepo/ae_engine.h"
#include "xepo/decision_thresholds.h"
#include "xepo/gyro_stability.h"
#include "xepo/image_similarity.h"
#include "xepo/model_scoring.h"
#include "xepo/result_output.h"
#include "xepo/score_combination.h"
#include "xepo/score_smoothing.h"
#include "xepo/stable_scene.h"
#include "xepo/unstable_scene.h"
#include "xepo_log.h"

namespace xepo {
namespace {

// Values of `control`.
constexpr int kControlNeutral = -1;
constexpr int kControlEntranceOnly = 0;
constexpr int kControlAlbedoOnly = 1;
// Format code of the camera's semi-planar frame, the only one runAeEngine takes.
constexpr int32_t kFrameFormatSemiPlanar = 17;

constexpr float kNeutralConfidence = 0.9f;
// Start value of this_result: anything above 1.1 means "no entrance result yet".
constexpr float kNoEntranceResult = 1.2f;
// Below this lux index the camera has not reported a usable exposure yet.
constexpr double kCameraFirstLux = 0.1;
// Frames held after a zoom switch, so the new camera's first frames settle.
constexpr int32_t kZoomHoldFrames = 10;
// A long-stable scene skips image similarity, except on the recheck counts,
// where the unstable handler re-scores it and needs fresh comparisons.
constexpr int32_t kLongStableCount = 2;
// A stable scene whose lux drifts this far from its reference is re-examined.
constexpr int32_t kDriftCheckStableCount = 20;
constexpr float kDriftLuxChange = 3.0f;
// Frames scored by models before stable handling and history are trusted.
constexpr int32_t kMinModelRunsForHistory = 6;
constexpr int32_t kMinModelRunsForStable = 5;

// The frame's record fields, read before the lock.
struct FrameInput {
    const uint8_t* yPlane;
    const uint8_t* uvPlane;
    int32_t width;
    int32_t height;
    int32_t stride;
    int32_t yuv_format;
    int32_t rotation;
    float scale;
    int32_t reserved0;
    bool flip;
    float aec_lux;
    int32_t isPhotoing;
    int32_t holdFlag;
    int32_t cameraType;
    bool enable_seg;
};

FrameInput readFrame(const VImage& image, const AEParams& params) {
    return FrameInput{image.yPlane,     image.uvPlane,     image.width,           image.height,
                      image.stride,     image.yuv_format,  params.rotation,       params.scale,
                      params.reserved0, params.flip,       params.aec_lux,        params.isPhotoing,
                      params.holdFlag,  params.cameraType, params.enable_seg != 0};
}

int32_t prepareModelInput(AeEngine* engine, const FrameInput& f) {
    return yuvtoBuffer(engine->tavkit_handle, f.yPlane, f.uvPlane, f.width, f.height, f.stride,
                       f.height, f.rotation, f.reserved0, f.flip, f.yuv_format,
                       engine->modelInput.get(), f.cameraType, f.scale);
}

void runEntranceOnly(AeEngine* engine, const FrameInput& f, _XEPO_RES_* result) {
    const int32_t prepared = prepareModelInput(engine, f);
    if (prepared != 0) {
        XEPO_LOGE("yuvtobuffer failed %d", prepared);
    }
    const int32_t ran =
        runModel(engine->entranceRunner.get(), engine->modelInput.get(), engine->enResult.get());
    if (ran != 0) {
        XEPO_LOGE("runmodel failed %d", ran);
    }
    result->result = kNeutralScore;
    result->confidence = engine->enResult[kEntranceSceneConfidence];
    XEPO_LOGD("control = 0 entrance model result: %f", engine->enResult[kEntranceSceneConfidence]);
}

void runAlbedoOnly(AeEngine* engine, const FrameInput& f, _XEPO_RES_* result) {
    const int32_t prepared = prepareModelInput(engine, f);
    if (prepared != 0) {
        XEPO_LOGE("IMAGE preprocess failed %d", prepared);
    }
    const int32_t ran =
        runModel(engine->albedoRunner.get(), engine->modelInput.get(), engine->albedoResult.get());
    if (ran != 0) {
        XEPO_LOGE("runmodel failed %d", ran);
    }
    result->result = engine->albedoResult[0] * kAlbedoToScore;
    result->confidence = kNeutralConfidence;
    XEPO_LOGD("control = 1 this_albedo %f", result->result);
}

// True when the frame is held for a zoom switch (and the hold was written).
bool holdForZoomSwitch(AeEngine* engine, const FrameInput& f, _XEPO_RES_* result) {
    const bool zoomChanged =
        f.scale != 0.0f && engine->lastScale != 0.0f && f.scale != engine->lastScale;
    if (!zoomChanged && engine->satCountdown < 1) {
        return false;
    }
    XEPO_LOGD("during the SAT %d", engine->satCountdown);
    if (f.scale == 0.0f || f.scale == engine->lastScale) {
        engine->satCountdown -= 1;
    } else {
        engine->satCountdown = kZoomHoldFrames;
    }
    writeHoldResult(engine, result, kNoEntranceResult, f.aec_lux, f.scale);
    return true;
}

void runFullPipeline(AeEngine* engine, const FrameInput& f, _XEPO_RES_* result,
                     const IMUDataBlock* imu) {
    float thisScore = kNeutralScore;
    float this_result = kNoEntranceResult;
    int32_t lsResult = 0;
    float use_ae_aver = 0.0f;
    int32_t is_gyro_stable = 0;
    float similarity = 0.0f;
    float ncc_similarity = 0.0f;
    float imuAngle[3] = {0.0f, 0.0f, 0.0f};

    engine->rgbImageIsThisFrame = false;
    const int64_t now = static_cast<int64_t>(std::clock());
    const bool cameraFirst = static_cast<double>(engine->lastAecLux) < kCameraFirstLux;
    if (cameraFirst) {
        std::memcpy(engine->lastSegMap.get(), engine->segMap.get(), kSegMapBytes);
    }

    if (f.isPhotoing == 1) {
        XEPO_LOGD("is phtoting %d", f.isPhotoing);
        writeHoldResult(engine, result, kNoEntranceResult, f.aec_lux, f.scale);
        return;
    }
    if (holdForZoomSwitch(engine, f, result)) {
        return;
    }

    const float gyro_similarity =
        processGyroAndStability(engine, imu, now, &is_gyro_stable, &thisScore, imuAngle, f.aec_lux);
    XEPO_LOGD(
        "aec_lux: %f gyro_similarity: %f scale: %f isStable %d lastIsStable:%d "
        "yuv_format:%d",
        f.aec_lux, gyro_similarity, f.scale, engine->isStable, engine->lastIsStable, f.yuv_format);

    const bool longStable = engine->isStable == 1 && engine->lastIsStable >= kLongStableCount &&
                            !isRecheckCount(engine->lastIsStable);
    if (!longStable) {
        calcImageSimilarity(engine, f.yPlane, f.uvPlane, f.width, f.height, f.stride, f.height,
                            f.yuv_format, f.rotation, f.flip, &similarity, &ncc_similarity,
                            gyro_similarity);
    }
    if (engine->isStable == 1 && engine->lastIsStable >= kDriftCheckStableCount &&
        std::fabs(f.aec_lux - engine->refAecLux) >= kDriftLuxChange) {
        engine->isStable = 0;
    }

    lsResult = handleSegResultWhenMoving(engine, engine->modelInput.get(), f.rotation, &thisScore);

    bool routed = false;
    if (engine->modelRunCount < kMinModelRunsForHistory || engine->isStable != 1) {
        engine->historyHitCount = 0;
        if (engine->isStable == 0 && !cameraFirst) {
            handleNotStableNotCameraFirst(engine, &thisScore, f.aec_lux, similarity);
            routed = true;
        }
    }
    if (!routed) {
        thisScore = tryHitHistory(engine, &this_result, thisScore, f.aec_lux, f.scale);
        const bool stableRoute =
            engine->isStable == 1 && engine->modelRunCount >= kMinModelRunsForStable &&
            (engine->historyHitCount > 0 || engine->lastIsSegResult > 0 ||
             (engine->lastIsStable >= 1 && !isRecheckCount(engine->lastIsStable)));
        if (stableRoute) {
            XEPO_LOGD("scene is stable");
            handleStableScene(engine, &thisScore, &lsResult, f.yPlane, f.uvPlane, f.width, f.height,
                              f.stride, f.height, f.yuv_format, f.rotation, f.flip, f.reserved0,
                              f.cameraType, f.aec_lux, f.scale, imuAngle);
        } else {
            handleUnstableScene(engine, &thisScore, &this_result, &use_ae_aver, &lsResult,
                                f.holdFlag, f.enable_seg, is_gyro_stable, cameraFirst, f.yPlane,
                                f.uvPlane, f.width, f.height, f.stride, f.height, f.yuv_format,
                                f.rotation, f.flip, f.reserved0, f.cameraType, f.aec_lux,
                                gyro_similarity, similarity, ncc_similarity, f.scale, imuAngle);
        }
    }

    const float average = pushScoreAverage(engine->aeScoreAverage.get(), thisScore);
    const float chosen = selectScore(engine, thisScore, average, f.aec_lux);
    const float smoothed = applySmoothModel(engine, chosen, thisScore, f.aec_lux, similarity);
    engine->lastAecLux = f.aec_lux;
    engine->lastScale = f.scale;
    const float finalScore =
        limitScoreCrossing(engine, cameraFirst, smoothed, f.aec_lux, similarity);
    writeResultToOutput(engine, result, lsResult, f.holdFlag, finalScore, thisScore, average,
                        this_result);
}

}  // namespace
}  // namespace xepo

XEPO_API void qiraAeProcess(void* engine, VImage* image, AEParams* params, _XEPO_RES_* result,
                            int control, IMUDataBlock* imu) {
    using namespace xepo;
    try {
        if (control == kControlNeutral) {
            if (result != nullptr) {
                result->result = kNeutralScore;
                result->confidence = kNeutralConfidence;
            }
            XEPO_LOGD("control = -1");
            return;
        }
        if (image == nullptr || params == nullptr || result == nullptr) {
            // Outside the host contract; refused without touching anything.
            XEPO_LOGE("image, params or result is null");
            return;
        }
        const FrameInput frame = readFrame(*image, *params);

        std::lock_guard<std::mutex> lock(engineMutex);
        auto* state = static_cast<AeEngine*>(engine);
        // A handle other than the live engine (null, or one already released)
        // is refused here rather than followed into freed memory.
        if (state == nullptr || state != engineInstance || !state->modelInput ||
            !state->smoothInput) {
            XEPO_LOGE("qdnn handle is null, please init first.");
            return;
        }
        std::memset(state->segMap.get(), 0, kSegMapBytes);
        if (control == kControlEntranceOnly) {
            runEntranceOnly(state, frame, result);
        } else if (control == kControlAlbedoOnly) {
            runAlbedoOnly(state, frame, result);
        } else {
            runFullPipeline(state, frame, result, imu);
        }
    } catch (...) {
        // Nothing reaches the host; the result record may be partly written.
        XEPO_LOGE("XEPO error");
    }
}

XEPO_API void runAeEngine(void* engine, unsigned char* yPlane, unsigned char* uvPlane,
                          unsigned int width, unsigned int height, unsigned int rotation,
                          float scale, int reserved0, bool flip, _XEPO_RES_* result, int control,
                          float aec_lux, IMUDataBlock* imu) {
    VImage image{};
    image.yuv_format = xepo::kFrameFormatSemiPlanar;
    image.width = static_cast<int32_t>(width);
    image.height = static_cast<int32_t>(height);
    image.yPlane = yPlane;
    image.uvPlane = uvPlane;
    image.stride = static_cast<int32_t>(width);
    AEParams params{};
    params.rotation = static_cast<int32_t>(rotation);
    params.scale = scale;
    params.reserved0 = reserved0;
    params.flip = flip;
    params.aec_lux = aec_lux;
    qiraAeProcess(engine, &image, &params, result, control, imu);
}
