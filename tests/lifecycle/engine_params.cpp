#include "engine_params.h"

#include <cstdio>

namespace lifecycle_test {

bool parseFailureLine(const std::string& text, InitStatuses& out) {
    int consumed = 0;
    const int fields = std::sscanf(
        text.c_str(),
        "init Engine or tavkit failed!, ae_ret=%d, en_ret=%d, ls_ret=%d, tavkit_ret=%d, "
        "smooth_ret=%d%n",
        &out.ae, &out.en, &out.ls, &out.tavkit, &out.smooth, &consumed);
    return fields == 5 && static_cast<size_t>(consumed) == text.size();
}

}  // namespace lifecycle_test
