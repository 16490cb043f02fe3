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

// The labelling library's validation line: "<file> <line> ret=<status>\n" at
// error priority under the tag "LOG_DBG", and the same text on standard output.
void logLabelingStatus(const char* file, int line, int status);

// Base name of a source path ("a/b/c.cpp" gives "c.cpp").
const char* sourceBaseName(const char* path);

}  // namespace xepo

#define XEPO_LOGD(...) \
    ::xepo::logLine(::xepo::LogPriority::Debug, __FILE__, __LINE__, __func__, __VA_ARGS__)
#define XEPO_LOGE(...) \
    ::xepo::logLine(::xepo::LogPriority::Error, __FILE__, __LINE__, __func__, __VA_ARGS__)
#define XEPO_LOG_LABELING_STATUS(status) ::xepo::logLabelingStatus(__FILE__, __LINE__, (status))

#endif  // XEPO_LOG_H
