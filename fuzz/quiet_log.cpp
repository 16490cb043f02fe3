#include "quiet_log.h"

#include <android/log.h>

#include <cstdlib>

namespace {
void dropLine(const __android_logger_data*, const char*) {}
}  // namespace

void quietEngineLog() {
    if (std::getenv("XEPO_FUZZ_LOG") != nullptr) {
        __android_log_set_logger(__android_log_stderr_logger);
        __android_log_set_minimum_priority(ANDROID_LOG_DEBUG);
        return;
    }
    __android_log_set_logger(dropLine);
}
