// The engine's one logging helper.
//
// Every engine line goes to the platform log under the tag "_Q_LXEPO" with the
// prefix "<file base name>:<line> <function>() ", then the message. Use the
// macros; they fill in the source position.
#ifndef XEPO_LOG_H
#define XEPO_LOG_H

namespace xepo {

// Values of the platform log's priorities that the engine uses.
enum class LogPriority : int { Debug = 3, Error = 6 };

// Formats the message and writes one line; returns the platform log call's status.
int logLine(LogPriority priority, const char* file, int line, const char* function,
            const char* format, ...) __attribute__((format(printf, 5, 6)));

// Base name of a source path ("a/b/c.cpp" gives "c.cpp").
const char* sourceBaseName(const char* path);

}  // namespace xepo

#define XEPO_LOGD(...) \
    ::xepo::logLine(::xepo::LogPriority::Debug, __FILE__, __LINE__, __func__, __VA_ARGS__)
#define XEPO_LOGE(...) \
    ::xepo::logLine(::xepo::LogPriority::Error, __FILE__, __LINE__, __func__, __VA_ARGS__)

#endif  // XEPO_LOG_H
