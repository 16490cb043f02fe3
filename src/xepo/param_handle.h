// The parameter handle behind the host's void*: the model file paths.
#ifndef XEPO_PARAM_HANDLE_H
#define XEPO_PARAM_HANDLE_H

#include <string>

// Status of AeSetParam for a null handle, key 0 or a null value: kParamHandleError.
#include "xepo_status.h"

namespace xepo {

struct AeParamHandle {
    std::string albedoModelPath;
    std::string entranceModelPath;
    std::string lightSegModelPath;
    std::string smoothModelPath;
    // Filled by keys 1, 3 and 14; kept, but engine creation never reads them.
    std::string albedoAltPath;
    std::string entranceAltPath;
    std::string smoothAltPath;
};

}  // namespace xepo

#endif  // XEPO_PARAM_HANDLE_H
