// Status codes that more than one room of the engine hands back: the
// parameter handle's, and those of the image-operator setup and the
// preprocessing built on it. Kept here, among the shared headers, so that a
// room can name a code without including another room's headers.
#ifndef XEPO_STATUS_H
#define XEPO_STATUS_H

#include <cstdint>

namespace xepo {

// AeSetParam for a null handle, key 0 or a null value.
constexpr int kParamHandleError = -1001;

// Preprocessing and image-operator setup.
constexpr int32_t kStatusMissingInput = -2001;    // null plane, undecodable file
constexpr int32_t kStatusNoTavkit = -3001;        // no context, or it could not be made
constexpr int32_t kStatusRegisterFailed = -3002;  // operator registration failed
constexpr int32_t kStatusOperatorFailed = -3003;  // an operator run failed

}  // namespace xepo

#endif  // XEPO_STATUS_H
