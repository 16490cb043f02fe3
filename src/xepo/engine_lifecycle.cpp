// initAeEngine and releaseAeEngine: creation and destruction of the single
// engine instance, its four model runners, its image-operator context and its
// working buffers, all under the process-wide engine lock.
#include <exception>
#include <memory>
#include <string>

#include "tavkit_api.h"
#include "xepo.h"
#include "xepo/ae_engine.h"
#include "xepo/param_handle.h"
#include "xepo_log.h"

namespace xepo {

std::mutex engineMutex;
bool engineInitialized = false;
AeEngine* engineInstance = nullptr;

namespace {

// Every model runs on the device's neural accelerator with the same settings.
constexpr const char* kModelBackend = "NEURON";
constexpr uint8_t kModelFrequencyHint = 20;
constexpr int32_t kModelPriority = 3;

// A runner for the model at `modelPath` that refuses, at init, a model whose
// tensors do not fit the engine's buffers for it.
std::unique_ptr<QDNNRunner> makeRunner(const std::string& modelPath, QDNNTensorShape input,
                                       QDNNTensorShape output) {
    auto runner =
        std::make_unique<QDNNRunner>(modelPath, kModelBackend, kModelFrequencyHint, kModelPriority);
    runner->expectShapes({input}, {output});
    return runner;
}

// Buffers start zero-filled: the capture and zoom-hold paths may read the last
// entrance result before any entrance run has written it.
template <typename T>
std::unique_ptr<T[]> zeroedBuffer(size_t count) {
    return std::make_unique<T[]>(count);
}

void destroyRunners(AeEngine& engine) {
    engine.entranceRunner.reset();
    engine.albedoRunner.reset();
    engine.lightSegRunner.reset();
    engine.smoothRunner.reset();
}

void releaseTavkitContext(AeEngine& engine) {
    if (releaseTavkit(&engine.tavkit_handle) != 0) {
        XEPO_LOGE("release XEPO release tavkit handle failed");
    }
}

void allocateBuffers(AeEngine& engine) {
    engine.albedoResult = zeroedBuffer<float>(1);
    engine.enResult = zeroedBuffer<float>(kEntranceOutputs);
    engine.lastEnResult = zeroedBuffer<float>(kEntranceOutputs);
    engine.smoothResult = zeroedBuffer<float>(1);
    engine.lightSegOutput = zeroedBuffer<float>(kLightSegFloats);
    engine.modelInput = zeroedBuffer<float>(kModelInputFloats);
    engine.smoothInput = zeroedBuffer<float>(kSmoothInputs);
    engine.rgbImage = zeroedBuffer<uint8_t>(kRgbImageBytes);
    engine.curHist = zeroedBuffer<int32_t>(kHistBins);
    engine.grayThumb = zeroedBuffer<uint8_t>(kThumbBytes);
    engine.grayImage = zeroedBuffer<uint8_t>(kGrayImageBytes);
    engine.aeScoreAverage = std::make_unique<ScoreAverage>();
    engine.lastSegMap = zeroedBuffer<uint8_t>(kSegMapBytes);
    engine.segMap = zeroedBuffer<uint8_t>(kSegMapBytes);
}

void freeBuffers(AeEngine& engine) {
    engine.albedoResult.reset();
    engine.enResult.reset();
    engine.lastEnResult.reset();
    engine.smoothResult.reset();
    engine.lightSegOutput.reset();
    engine.modelInput.reset();
    engine.smoothInput.reset();
    engine.rgbImage.reset();
    engine.curHist.reset();
    engine.grayThumb.reset();
    engine.grayImage.reset();
    engine.lastSegMap.reset();
    engine.segMap.reset();
    engine.nccRefThumb.reset();
    engine.lastHist.reset();
    engine.historyHist.clear();
    engine.aeScoreAverage.reset();
}

// Builds the engine under the lock. Returns null after logging when a model or
// the image-operator context cannot be initialised; nothing is kept then.
AeEngine* createEngine(const AeParamHandle& params) {
    auto engine = std::make_unique<AeEngine>();
    engineInstance = engine.get();
    // Until creation is complete, an exception must not leave a dangling
    // instance or an open image-operator context behind.
    bool tavkitCreated = false;
    struct Rollback {
        std::unique_ptr<AeEngine>& engine;
        bool& tavkitCreated;
        ~Rollback() {
            if (engine == nullptr) {
                return;
            }
            destroyRunners(*engine);
            if (tavkitCreated) {
                releaseTavkitContext(*engine);
            }
            engineInstance = nullptr;
        }
    } rollback{engine, tavkitCreated};

    engine->entranceRunner =
        makeRunner(params.entranceModelPath, kImageModelInputShape, kEntranceOutputShape);
    engine->albedoRunner =
        makeRunner(params.albedoModelPath, kImageModelInputShape, kAlbedoOutputShape);
    engine->lightSegRunner =
        makeRunner(params.lightSegModelPath, kImageModelInputShape, kLightSegOutputShape);
    engine->smoothRunner =
        makeRunner(params.smoothModelPath, kSmoothInputShape, kSmoothOutputShape);

    const int32_t enRet = engine->entranceRunner->init();
    const int32_t aeRet = engine->albedoRunner->init();
    const int32_t lsRet = engine->lightSegRunner->init();
    const int32_t smoothRet = engine->smoothRunner->init();
    long tavkitHandle = 0;
    const int32_t tavkitRet = initTAVKIT(tavkitHandle);
    engine->tavkit_handle = tavkitHandle;
    tavkitCreated = tavkitRet == 0;

    if (aeRet != 0 || enRet != 0 || lsRet != 0 || tavkitRet != 0 || smoothRet != 0) {
        XEPO_LOGE(
            "init Engine or tavkit failed!, ae_ret=%d, en_ret=%d, ls_ret=%d, tavkit_ret=%d, "
            "smooth_ret=%d",
            aeRet, enRet, lsRet, tavkitRet, smoothRet);
        return nullptr;  // the rollback undoes everything
    }

    allocateBuffers(*engine);
    XEPO_LOGD("init succeed! handle is %p", static_cast<void*>(engine.get()));
    engineInitialized = true;
    return engine.release();
}

}  // namespace
}  // namespace xepo

XEPO_API void* initAeEngine(void* paramHandle) {
    if (paramHandle == nullptr) {
        XEPO_LOGE("paramHandle is null, please create paramHandle");
        return nullptr;
    }
    XEPO_LOGD("model init begin!");
    try {
        std::lock_guard<std::mutex> lock(xepo::engineMutex);
        if (xepo::engineInitialized) {
            XEPO_LOGD("model is allready");
            return xepo::engineInstance;
        }
        return xepo::createEngine(*static_cast<const xepo::AeParamHandle*>(paramHandle));
    } catch (const std::exception&) {
        return nullptr;
    } catch (...) {
        return nullptr;
    }
}

XEPO_API void releaseAeEngine(void** engine) {
    try {
        std::lock_guard<std::mutex> lock(xepo::engineMutex);
        if (engine == nullptr || *engine == nullptr) {
            XEPO_LOGE("qdnn_struct is null");
            return;
        }
        // The engine is a single instance: anything else is not ours to free.
        if (*engine != xepo::engineInstance) {
            XEPO_LOGE("qdnn_struct is not the created engine");
            return;
        }
        auto* instance = static_cast<xepo::AeEngine*>(*engine);
        xepo::destroyRunners(*instance);
        xepo::releaseTavkitContext(*instance);
        xepo::freeBuffers(*instance);
        delete instance;
        *engine = nullptr;
        xepo::engineInstance = nullptr;
        xepo::engineInitialized = false;
        XEPO_LOGE("release AeEngine completed");
    } catch (...) {
        XEPO_LOGE("XEPO release error");
    }
}
