// initTAVKIT: creates the image-operator context and registers the operators
// that the engine runs.
#include <type_traits>

#include "tavkit_api.h"
#include "xepo.h"
#include "xepo_log.h"
#include "xepo_status.h"

static_assert(std::is_same<long, int64_t>::value,
              "the context handle is a 64-bit long on every supported target");

namespace xepo {
namespace {

// Configuration words the engine sets after the library's defaults: word 0 = 0,
// word 1 = -1, word 3 = 5, word 7 = 1 (bytes 0, 4, 12 and 28).
struct ConfigWord {
    int index;
    int32_t value;
};
constexpr ConfigWord kConfigWords[] = {{0, 0}, {1, -1}, {3, 5}, {7, 1}};

// Every operator the engine may run, in the order the library expects them.
constexpr int32_t kOperatorsToRegister[] = {
    kTavkitColorToGray, kTavkitResizeBilinear, kTavkitNormalization, kTavkitGaussianFilter,
    kTavkitRectCut,     kTavkitRotate,         kTavkitFlip,          kTavkitReserved27,
    kTavkitReserved48,  kTavkitCalcHist,
};

}  // namespace
}  // namespace xepo

XEPO_API int initTAVKIT(long& tavkitHandle) {
    TavkitConfig config{};
    initTavkitConfig(&config);
    for (const xepo::ConfigWord& word : xepo::kConfigWords) {
        config.words[word.index] = word.value;
    }

    const int initStatus = initTavkit(&tavkitHandle, &config);
    if (initStatus != 0) {
        XEPO_LOGE("XEPO Tavkit init failed %d", initStatus);
        return xepo::kStatusNoTavkit;
    }

    for (const int32_t operatorId : xepo::kOperatorsToRegister) {
        const int status = registTavkitOperator(tavkitHandle, operatorId);
        if (status == 0) {
            continue;
        }
        // The rotate operator's failure line has always lacked the "XEPO " word, and
        // log readers match it as it is.
        if (operatorId == kTavkitRotate) {
            XEPO_LOGE("Tavkit regist operators failed %d", status);
        } else {
            XEPO_LOGE("XEPO Tavkit regist operators failed %d", status);
        }
        return xepo::kStatusRegisterFailed;
    }
    return 0;
}
