#include "recording_tavkit.h"

#include <gtest/gtest.h>

#include <cstring>

namespace recording_tavkit {
namespace {

Recorder current;

// Bytes of one pixel of the formats the fake fills.
size_t pixelBytes(const TavkitImageDesc& desc) {
    const size_t channels = desc.format == kTavkitFormatRgb ? 3 : 1;
    const size_t element =
        desc.elementType == kTavkitTypeF32 || desc.elementType == kTavkitTypeS32 ? 4 : 1;
    return channels * element;
}

void fill(const TavkitImageDesc& desc, uint8_t value) {
    if (desc.plane0 != nullptr) {
        std::memset(desc.plane0, value,
                    static_cast<size_t>(desc.width) * desc.height * pixelBytes(desc));
    }
}

}  // namespace

std::vector<int32_t> Recorder::runIds() const {
    std::vector<int32_t> ids;
    for (const RunCall& call : runs) {
        ids.push_back(call.operatorId);
    }
    return ids;
}

const TavkitParams& Recorder::only(int32_t operatorId) const {
    const RunCall* found = nullptr;
    int count = 0;
    for (const RunCall& call : runs) {
        if (call.operatorId == operatorId) {
            found = &call;
            ++count;
        }
    }
    EXPECT_EQ(count, 1) << "runs of operator " << operatorId;
    static const TavkitParams kEmpty{};
    return found != nullptr ? found->params : kEmpty;
}

Recorder& recorder() {
    return current;
}

void reset() {
    current = Recorder();
}

bool untouched(const void* field, size_t bytes) {
    const auto* p = static_cast<const uint8_t*>(field);
    for (size_t i = 0; i < bytes; ++i) {
        if (p[i] != kDefaultByte) {
            return false;
        }
    }
    return true;
}

}  // namespace recording_tavkit

using recording_tavkit::current;

extern "C" {

int initTavkitConfig(TavkitConfig* config) {
    ++current.configInits;
    std::memset(config, recording_tavkit::kDefaultByte, sizeof *config);
    return 0;
}

int initTavkit(int64_t* handle, TavkitConfig* config) {
    ++current.contextInits;
    current.configSeen = *config;
    if (current.failContextInit) {
        return recording_tavkit::kInjectedStatus;
    }
    *handle = recording_tavkit::kContextHandle;
    return 0;
}

int registTavkitOperator(int64_t, int32_t operatorId) {
    current.registrations.push_back(operatorId);
    return operatorId == current.failRegistration ? recording_tavkit::kInjectedStatus : 0;
}

int initTavkitParams(TavkitParams* params) {
    ++current.paramInits;
    std::memset(params, recording_tavkit::kDefaultByte, sizeof *params);
    return 0;
}

int runTavkit(int64_t handle, int32_t operatorId, TavkitParams* params) {
    current.runs.push_back({handle, operatorId, *params});
    if (operatorId == current.failRun) {
        return recording_tavkit::kInjectedStatus;
    }
    if (operatorId == kTavkitResizeBilinear) {
        recording_tavkit::fill(params->dst, recording_tavkit::kResizeFill);
    } else if (operatorId == kTavkitFlip) {
        recording_tavkit::fill(params->dst, recording_tavkit::kFlipFill);
    }
    return 0;
}

int releaseTavkit(int64_t* handle) {
    ++current.releases;
    if (current.failRelease) {
        return recording_tavkit::kInjectedStatus;
    }
    *handle = 0;
    return 0;
}

}  // extern "C"
