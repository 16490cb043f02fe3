// The six exported functions of "libtavkit_camera.so".
// Only the interface functions leave the library. This include must come
// first: the header's guard makes any later inclusion a no-op.
#pragma GCC visibility push(default)
#include "tavkit_api.h"
#pragma GCC visibility pop

#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "tavkit_context.h"
#include "tavkit_operators.h"
#include "tavkit_status.h"

namespace {

using OperatorRun = int (*)(tavkit::Context&, const TavkitParams&);

struct OperatorEntry {
    int32_t id;
    OperatorRun run;  // null: accepted and registered, running it does nothing
};

constexpr OperatorEntry kOperators[] = {
    {kTavkitCalcHist, tavkit::runCalcHist},
    {kTavkitGaussianFilter, tavkit::runGaussianFilter},
    {kTavkitNormalization, tavkit::runNormalization},
    {kTavkitResizeBilinear, tavkit::runResizeBilinear},
    {kTavkitColorToGray, tavkit::runColorToGray},
    {kTavkitReserved27, nullptr},
    {kTavkitFlip, tavkit::runFlip},
    {kTavkitReserved48, nullptr},
    {kTavkitRectCut, tavkit::runRectCut},
    {kTavkitRotate, tavkit::runRotate},
};

const OperatorEntry* findOperator(int32_t id) {
    for (const OperatorEntry& entry : kOperators) {
        if (entry.id == id) {
            return &entry;
        }
    }
    return nullptr;
}

// Configuration words. Word 0 selects the compute backend and only the CPU (0)
// exists here; the others are kept for the caller and have no effect on this build.
constexpr int kConfigBackend = 0;
constexpr int kConfigThreads = 1;   // -1: the library chooses (runs on the calling thread)
constexpr int kConfigPriority = 3;  // scheduling hint, 0..10
constexpr int kConfigSync = 7;      // 1: every run finishes before returning
constexpr int32_t kBackendCpu = 0;

// Parameter defaults that make an unfilled field harmless: normalisation
// divides by 1, the Gaussian kernel is the smallest real one.
constexpr float kDefaultNormDivisor = 1.0f;
constexpr uint32_t kDefaultGaussianKernel = 3;

}  // namespace

extern "C" {

int initTavkitConfig(TavkitConfig* config) {
    if (config == nullptr) {
        return kTavkitErrNullArgument;
    }
    std::memset(config, 0, sizeof(*config));
    config->words[kConfigBackend] = kBackendCpu;
    config->words[kConfigThreads] = -1;
    config->words[kConfigPriority] = 5;
    config->words[kConfigSync] = 1;
    return kTavkitOk;
}

int initTavkit(int64_t* handle, TavkitConfig* config) {
    if (handle == nullptr || config == nullptr) {
        return kTavkitErrNullArgument;
    }
    *handle = 0;
    if (config->words[kConfigBackend] != kBackendCpu) {
        return kTavkitErrBadConfig;
    }
    try {
        auto context = std::make_unique<tavkit::Context>();
        context->config = *config;
        *handle = tavkit::addContext(std::move(context));
    } catch (const std::bad_alloc&) {
        return kTavkitErrNoMemory;
    }
    return kTavkitOk;
}

int registTavkitOperator(int64_t handle, int32_t operatorId) {
    const std::shared_ptr<tavkit::Context> context = tavkit::findContext(handle);
    if (!context) {
        return kTavkitErrBadHandle;
    }
    if (findOperator(operatorId) == nullptr) {
        return kTavkitErrUnknownOperator;
    }
    context->registered.set(static_cast<size_t>(operatorId));
    return kTavkitOk;
}

int initTavkitParams(TavkitParams* params) {
    if (params == nullptr) {
        return kTavkitErrNullArgument;
    }
    std::memset(params, 0, sizeof(*params));
    params->normParam2 = kDefaultNormDivisor;
    params->gaussianKernel = kDefaultGaussianKernel;
    return kTavkitOk;
}

int runTavkit(int64_t handle, int32_t operatorId, TavkitParams* params) {
    const std::shared_ptr<tavkit::Context> context = tavkit::findContext(handle);
    if (!context) {
        return kTavkitErrBadHandle;
    }
    const OperatorEntry* entry = findOperator(operatorId);
    if (entry == nullptr) {
        return kTavkitErrUnknownOperator;
    }
    if (!context->registered.test(static_cast<size_t>(operatorId))) {
        return kTavkitErrNotRegistered;
    }
    if (params == nullptr) {
        return kTavkitErrNullArgument;
    }
    if (entry->run == nullptr) {
        return kTavkitOk;
    }
    try {
        std::lock_guard<std::mutex> lock(context->runMutex);
        return entry->run(*context, *params);
    } catch (const std::bad_alloc&) {
        return kTavkitErrNoMemory;
    } catch (...) {
        return kTavkitErrInternal;
    }
}

int releaseTavkit(int64_t* handle) {
    if (handle == nullptr) {
        return kTavkitErrNullArgument;
    }
    if (!tavkit::removeContext(*handle)) {
        return kTavkitErrBadHandle;
    }
    *handle = 0;
    return kTavkitOk;
}

}  // extern "C"
