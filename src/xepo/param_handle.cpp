// CreateParamHandle, AeSetParam and releaseParamHandle.
#include "xepo/param_handle.h"

#include <iterator>
#include <new>

#include "xepo.h"
#include "xepo_log.h"

namespace xepo {
namespace {

struct ParamKey {
    int key;
    std::string AeParamHandle::*slot;
    const char* fileName;
};

// Each model has a pair of keys: one names the accelerator ("_htp") file and one
// the plain file. Both write the same slot, so the later call wins.
constexpr ParamKey kParamKeys[] = {
    {kAeKeyAlbedoAlt, &AeParamHandle::albedoAltPath, "xepo_albedo.qdnn"},
    {kAeKeyEntranceAlt, &AeParamHandle::entranceAltPath, "xepo_entrance.qdnn"},
    {kAeKeyAlbedoHtp, &AeParamHandle::albedoModelPath, "libxepo_albedo_htp.qdnn"},
    {kAeKeyEntranceHtp, &AeParamHandle::entranceModelPath, "libxepo_entrance_htp.qdnn"},
    {kAeKeyAlbedo, &AeParamHandle::albedoModelPath, "xepo_albedo.qdnn"},
    {kAeKeyEntrance, &AeParamHandle::entranceModelPath, "xepo_entrance.qdnn"},
    {kAeKeyLightSegHtp, &AeParamHandle::lightSegModelPath, "libstdc_fp16_htp.qdnn"},
    {kAeKeyLightSeg, &AeParamHandle::lightSegModelPath, "light-STDCNet813.pt.tflite.qdnn"},
    {kAeKeySmoothAlt, &AeParamHandle::smoothAltPath, "xepo_smooth.qdnn"},
    {kAeKeySmoothHtp, &AeParamHandle::smoothModelPath, "libxepo_smooth_htp.qdnn"},
    {kAeKeySmooth, &AeParamHandle::smoothModelPath, "xepo_smooth.qdnn"},
};

const ParamKey* findParamKey(int key) {
    for (const ParamKey& entry : kParamKeys) {
        if (entry.key == key) {
            return &entry;
        }
    }
    return nullptr;
}

}  // namespace
}  // namespace xepo

XEPO_API void* CreateParamHandle() {
    return new (std::nothrow) xepo::AeParamHandle();
}

XEPO_API void releaseParamHandle(void** handle) {
    if (handle == nullptr) {
        return;
    }
    delete static_cast<xepo::AeParamHandle*>(*handle);
    *handle = nullptr;
    XEPO_LOGD("release aeparamHandle completed");
}

XEPO_API int AeSetParam(void* handle, int key, char const* value) {
    if (handle == nullptr || key == 0) {
        XEPO_LOGE("ae paramhandle is null or key is 0");
        return xepo::kParamHandleError;
    }
    const xepo::ParamKey* entry = xepo::findParamKey(key);
    if (entry == nullptr) {
        XEPO_LOGE("param key not supported:key:%d.\n", key);
        return 0;
    }
    if (value == nullptr) {
        // Outside the host contract; refused rather than guessed at.
        XEPO_LOGE("ae param value is null, key:%d", key);
        return xepo::kParamHandleError;
    }
    try {
        auto* params = static_cast<xepo::AeParamHandle*>(handle);
        params->*(entry->slot) = std::string(value) + entry->fileName;
    } catch (const std::exception&) {
        XEPO_LOGE("ae param could not be stored, key:%d", key);
        return xepo::kParamHandleError;
    }
    return 0;
}
