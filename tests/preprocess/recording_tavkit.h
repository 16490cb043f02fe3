// A recording stand-in for the image-operator library, compiled into test
// programs (definitions in the program win over the shared library). It notes
// every call and a copy of each operator's record, fails the calls a test
// picks, and writes no pixels. The init functions fill records with kDefaultByte.
#ifndef XEPO_TEST_RECORDING_TAVKIT_H
#define XEPO_TEST_RECORDING_TAVKIT_H

#include <cstdint>
#include <map>
#include <vector>

#include "tavkit_api.h"

namespace recording_tavkit {

constexpr uint8_t kDefaultByte = 0x5a;
constexpr int64_t kContextHandle = 0x7a11;
constexpr int kInjectedStatus = 77;  // status of a call a test made fail

struct Recorder {
    TavkitConfig configSeen{};           // as handed to initTavkit
    std::vector<int32_t> registrations;  // every id offered, the failing one included
    std::vector<int32_t> runIds;
    std::map<int32_t, TavkitParams> records;  // the last record of each operator
    int releases = 0;
    bool failContextInit = false;
    bool failRelease = false;
    int32_t failRegistration = -1;
    int32_t failRun = -1;
};

// The current test's recorder; `rec = {}` starts afresh.
extern Recorder rec;

}  // namespace recording_tavkit

#endif  // XEPO_TEST_RECORDING_TAVKIT_H
