#include "engine_log.h"

#include <android/log.h>

#include <cstdio>
#include <utility>

namespace {
std::function<void(const char*, int, const char*)>& logSink() {
    static std::function<void(const char*, int, const char*)> sink;
    return sink;
}

void forwardToSink(const __android_logger_data* data, const char* message) {
    if (logSink()) {
        logSink()(data->tag != nullptr ? data->tag : "", data->priority, message);
    }
}
}  // namespace

void captureEngineLog(bool verbose, std::function<void(const char*, int, const char*)> sink) {
    logSink() = std::move(sink);
    __android_log_set_logger(forwardToSink);
    __android_log_set_minimum_priority(verbose ? ANDROID_LOG_DEBUG : ANDROID_LOG_INFO);
}

void printEngineLogToStderr(bool verbose) {
    captureEngineLog(verbose, [](const char* tag, int, const char* message) {
        std::fprintf(stderr, "%s: %s\n", tag, message);
    });
}
