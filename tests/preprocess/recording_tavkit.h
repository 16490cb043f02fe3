// A recording stand-in for the image-operator library, compiled into test
// programs (definitions in the program win over the shared library).
//
// It records every call with a copy of each parameter record, fails the calls
// a test chooses, and writes recognisable bytes so that the chaining of
// temporaries can be followed: the resize operator fills its destination with
// kResizeFill and the flip operator with kFlipFill; other operators write
// nothing. initTavkitParams fills the record with kDefaultByte so that a test
// can tell which fields an operation wrote.
#ifndef XEPO_TEST_RECORDING_TAVKIT_H
#define XEPO_TEST_RECORDING_TAVKIT_H

#include <cstdint>
#include <vector>

#include "tavkit_api.h"

namespace recording_tavkit {

constexpr uint8_t kDefaultByte = 0x5a;
constexpr uint8_t kResizeFill = 0x21;
constexpr uint8_t kFlipFill = 0x42;
constexpr int64_t kContextHandle = 0x7a11;
// Status of a call that a test made fail.
constexpr int kInjectedStatus = 77;
constexpr int32_t kNoOperator = -1;

struct RunCall {
    int64_t handle;
    int32_t operatorId;
    TavkitParams params;
};

struct Recorder {
    // What happened.
    int configInits = 0;
    TavkitConfig configSeen{};  // as handed to initTavkit
    int contextInits = 0;
    std::vector<int32_t> registrations;  // every id offered, failing one included
    int paramInits = 0;
    std::vector<RunCall> runs;
    int releases = 0;
    // What to fail.
    bool failContextInit = false;
    int32_t failRegistration = kNoOperator;
    int32_t failRun = kNoOperator;
    bool failRelease = false;

    std::vector<int32_t> runIds() const;
    // The record of the only run of `operatorId`; fails the test when there is
    // not exactly one.
    const TavkitParams& only(int32_t operatorId) const;
};

// Recorder of the current test; reset() starts afresh.
Recorder& recorder();
void reset();

// True when `bytes` bytes at `field` all still hold kDefaultByte.
bool untouched(const void* field, size_t bytes);

}  // namespace recording_tavkit

#endif  // XEPO_TEST_RECORDING_TAVKIT_H
