#include "log_capture.h"

#include <android/log.h>

#include <algorithm>
#include <mutex>

namespace {
std::mutex captureMutex;
std::vector<LoggedLine> captured;

void record(const __android_logger_data* data, const char* message) {
    std::lock_guard<std::mutex> lock(captureMutex);
    captured.push_back(
        {data->tag != nullptr ? data->tag : "", data->priority, message != nullptr ? message : ""});
}

}  // namespace

std::string LoggedLine::text() const {
    const std::string marker = "() ";
    const size_t at = message.find(marker);
    return at == std::string::npos ? message : message.substr(at + marker.size());
}

LogCapture::LogCapture() {
    clear();
    __android_log_set_logger(record);
    __android_log_set_minimum_priority(ANDROID_LOG_DEBUG);
}

LogCapture::~LogCapture() {
    __android_log_set_logger(__android_log_stderr_logger);
    __android_log_set_minimum_priority(ANDROID_LOG_INFO);
}

std::vector<LoggedLine> LogCapture::lines() const {
    std::lock_guard<std::mutex> lock(captureMutex);
    return captured;
}

std::vector<std::string> LogCapture::texts() const {
    std::vector<std::string> result;
    for (const LoggedLine& line : lines()) {
        result.push_back(line.text());
    }
    return result;
}

int LogCapture::count(const std::string& text) const {
    const std::vector<std::string> all = texts();
    return static_cast<int>(std::count(all.begin(), all.end(), text));
}

// Looks in the whole message, the source-position prefix included.
bool LogCapture::contains(const std::string& fragment) const {
    const std::vector<LoggedLine> all = lines();
    return std::any_of(all.begin(), all.end(), [&fragment](const LoggedLine& line) {
        return line.message.find(fragment) != std::string::npos;
    });
}

void LogCapture::clear() {
    std::lock_guard<std::mutex> lock(captureMutex);
    captured.clear();
}
