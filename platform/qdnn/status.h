// Status codes of the host runtime. 0 is success; every failure is negative so
// that a caller testing "!= 0" sees it.
#ifndef QDNN_HOST_STATUS_H
#define QDNN_HOST_STATUS_H

#include <cstdint>

namespace qdnn_host {

constexpr int32_t kStatusOk = 0;
constexpr int32_t kStatusInvalidArgument = -1;  // null or unknown handle, bad value
constexpr int32_t kStatusInvalidState = -2;     // e.g. no model loaded, no async run pending
constexpr int32_t kStatusBadModel = -3;         // unreadable, inconsistent or unsupported model
constexpr int32_t kStatusShapeMismatch = -4;    // tensors of different shapes or too small a buffer
constexpr int32_t kStatusUnboundOutput = -5;    // run needs a bound output that is not bound
constexpr int32_t kStatusRunFailed = -6;        // the inference itself failed
constexpr int32_t kStatusInternal = -7;         // unexpected exception inside the runtime

}  // namespace qdnn_host

#endif  // QDNN_HOST_STATUS_H
