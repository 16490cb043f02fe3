#include "recording_tavkit.h"

#include <cstring>

recording_tavkit::Recorder recording_tavkit::rec;

using namespace recording_tavkit;

extern "C" {

int initTavkitConfig(TavkitConfig* config) {
    std::memset(config, kDefaultByte, sizeof *config);
    return 0;
}

int initTavkit(int64_t* handle, TavkitConfig* config) {
    rec.configSeen = *config;
    if (rec.failContextInit) {
        return kInjectedStatus;
    }
    *handle = kContextHandle;
    return 0;
}

int registTavkitOperator(int64_t, int32_t operatorId) {
    rec.registrations.push_back(operatorId);
    return operatorId == rec.failRegistration ? kInjectedStatus : 0;
}

int initTavkitParams(TavkitParams* params) {
    std::memset(params, kDefaultByte, sizeof *params);
    return 0;
}

int runTavkit(int64_t, int32_t operatorId, TavkitParams* params) {
    rec.runIds.push_back(operatorId);
    rec.records[operatorId] = *params;
    return operatorId == rec.failRun ? kInjectedStatus : 0;
}

int releaseTavkit(int64_t* handle) {
    ++rec.releases;
    if (!rec.failRelease) {
        *handle = 0;
    }
    return rec.failRelease ? kInjectedStatus : 0;
}

}  // extern "C"
