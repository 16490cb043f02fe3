// Entry points of versions, platform set-up and shared-memory (Ion) buffers.
//
// Versions: qdnnGetVersion names this runtime and the OpenCV it runs on;
// qdnnCheckVersion answers 1 when a caller built for major.minor.patch can use
// this runtime (same major, not newer than this one), else 0.
// Platform: OpenCL kernels, platform init and uninit have nothing to do on a
// host and succeed.
// Ion: a host has no shared-memory allocator, so the Ion calls work on plain
// host memory: an Ion tensor is a host tensor, binding an Ion buffer lends the
// buffer like qdnnTensorSetHostBuffer and remembers its descriptor,
// registration lends a buffer of the tensor's size and deregistration returns
// the tensor to its own storage. A net's shared buffer and memory pool are
// remembered; the runtime allocates its working memory itself.
#include <opencv2/core/version.hpp>

#include "entry_point_support.h"

using namespace qdnn_host;

namespace {

constexpr int32_t kVersionMajor = 1;
constexpr int32_t kVersionMinor = 0;
constexpr int32_t kVersionPatch = 0;
constexpr const char* kVersionText = "qdnn host runtime 1.0.0 (OpenCV " CV_VERSION ")";

}  // namespace

const char* qdnnGetVersion(void) {
    return kVersionText;
}

int32_t qdnnCheckVersion(int32_t major, int32_t minor, int32_t patch) {
    if (major != kVersionMajor)
        return 0;
    if (minor != kVersionMinor)
        return minor < kVersionMinor ? 1 : 0;
    return patch <= kVersionPatch ? 1 : 0;
}

int32_t qdnnBuildOpenclKernels(int32_t mode) {
    return mode < 0 ? kStatusInvalidArgument : kStatusOk;
}

int32_t qdnnPlatformInit(void* /*platform*/, int32_t /*flags*/) {
    return kStatusOk;
}

int32_t qdnnPlatformUninit(void* /*platform*/) {
    return kStatusOk;
}

QDNNTensor qdnnTensorCreateIon(int32_t batch, int32_t height, int32_t width, int32_t channel,
                               int32_t format, int32_t dataType) {
    return createHostTensor(batch, height, width, channel, format, dataType, kMemoryHost);
}

int32_t qdnnTensorSetHostBufferIon(QDNNTensor handle, void* buffer, int32_t fd, uint32_t bytes) {
    int32_t status = bindTensorBuffer(handle, buffer, bytes, 0);
    if (status != kStatusOk)
        return status;
    return callGuarded(kStatusInternal, [&]() -> int32_t {
        tensorOf(handle)->setIonDescriptor(fd);
        return kStatusOk;
    });
}

int32_t qdnnTensorGetIonDescriptor(QDNNTensor handle) {
    return callGuarded(kNoIonDescriptor, [&]() -> int32_t {
        Tensor* tensor = tensorOf(handle);
        return tensor == nullptr ? kNoIonDescriptor : tensor->ionDescriptor();
    });
}

int32_t qdnnTensorIonRegister(QDNNTensor handle, void* buffer) {
    return callGuarded(kStatusInternal, [&]() -> int32_t {
        Tensor* tensor = tensorOf(handle);
        if (tensor == nullptr)
            return kStatusInvalidArgument;
        // The caller vouches that the buffer holds the tensor's size.
        return tensor->bindBuffer(buffer, tensor->sizeInBytes(), 0);
    });
}

int32_t qdnnTensorIonDeregister(QDNNTensor handle) {
    return callGuarded(kStatusInternal, [&]() -> int32_t {
        Tensor* tensor = tensorOf(handle);
        if (tensor == nullptr)
            return kStatusInvalidArgument;
        if (!tensor->hasBoundBuffer())
            return kStatusInvalidState;
        tensor->unbindBuffer();
        return kStatusOk;
    });
}

int32_t qdnnNetSetRuntimeSharedBuffer(QDNNNet net, void* buffer, int32_t /*fd*/, uint32_t bytes,
                                      int32_t /*flags*/) {
    if (buffer == nullptr || bytes == 0)
        return kStatusInvalidArgument;
    return changeNetSettings(net, [&](NetSettings& s) {
        s.sharedBuffer = buffer;
        s.sharedBufferBytes = bytes;
    });
}

int32_t qdnnNetSetMemoryPoolBuffer(QDNNNet net, int32_t /*fd*/, void* buffer, uint32_t bytes,
                                   int32_t /*flags*/) {
    if (buffer == nullptr || bytes == 0)
        return kStatusInvalidArgument;
    return changeNetSettings(net, [&](NetSettings& s) {
        s.memoryPool = buffer;
        s.memoryPoolBytes = bytes;
    });
}
