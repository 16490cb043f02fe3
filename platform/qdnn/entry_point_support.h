// Shared by the files that define the exported entry points: the declarations
// (exported with default visibility; every other symbol of the library stays
// hidden) and the handle look-ups.
//
// The entry points never call one another: the engine library and test
// programs export the same names, and the library is linked with -Bsymbolic so
// that its own code always reaches its own internals.
#ifndef QDNN_HOST_ENTRY_POINT_SUPPORT_H
#define QDNN_HOST_ENTRY_POINT_SUPPORT_H

#pragma GCC visibility push(default)
#include "qdnn_api.h"
#pragma GCC visibility pop

#include "c_boundary.h"
#include "handle_registry.h"
#include "net.h"
#include "session.h"
#include "status.h"
#include "tensor.h"

namespace qdnn_host {

inline Net* netOf(const void* handle) {
    return lookUp<Net>(handle, HandleKind::Net);
}
inline Session* sessionOf(const void* handle) {
    return lookUp<Session>(handle, HandleKind::Session);
}
inline Tensor* tensorOf(const void* handle) {
    return lookUp<Tensor>(handle, HandleKind::Tensor);
}

// Applies `change` to the settings of a live net; the status of the call.
template <typename Change>
int32_t changeNetSettings(QDNNNet handle, Change&& change) {
    return callGuarded(kStatusInternal, [&]() -> int32_t {
        Net* net = netOf(handle);
        if (net == nullptr)
            return kStatusInvalidArgument;
        net->changeSettings(change);
        return kStatusOk;
    });
}

// A caller-owned host tensor; null for unsupported codes or shapes.
QDNNTensor createHostTensor(int32_t batch, int32_t height, int32_t width, int32_t channel,
                            int32_t format, int32_t dataType, int32_t memoryType);
// Lends a buffer to a live tensor (see tensor.h).
int32_t bindTensorBuffer(QDNNTensor handle, void* buffer, uint32_t bufferBytes, uint32_t offset);

}  // namespace qdnn_host

#endif  // QDNN_HOST_ENTRY_POINT_SUPPORT_H
