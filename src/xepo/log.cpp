#include "xepo_log.h"

#include <android/log.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace xepo {

namespace {
constexpr const char* kEngineTag = "_Q_LXEPO";
// Longest message kept whole; longer ones are cut, never overrun.
constexpr size_t kMaxMessageBytes = 1024;
}  // namespace

const char* sourceBaseName(const char* path) {
    if (path == nullptr) {
        return "";
    }
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

int logLine(LogPriority priority, const char* file, int line, const char* function,
            const char* format, ...) {
    // Lines the log would drop are not formatted at all: debug lines are most of
    // a frame's lines and are usually switched off. The log API answers 0 for a
    // dropped line too.
    if (!__android_log_is_loggable(static_cast<int>(priority), kEngineTag, ANDROID_LOG_VERBOSE)) {
        return 0;
    }
    char message[kMaxMessageBytes];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    return __android_log_print(static_cast<int>(priority), kEngineTag, "%s:%d %s() %s",
                               sourceBaseName(file), line, function, message);
}

}  // namespace xepo
