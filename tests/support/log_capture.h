// Captures the lines that code under test writes to the platform log.
//
// While a LogCapture exists, every line at or above debug priority is recorded
// instead of printed. Only one may exist at a time.
#ifndef XEPO_TEST_LOG_CAPTURE_H
#define XEPO_TEST_LOG_CAPTURE_H

#include <string>
#include <vector>

struct LoggedLine {
    std::string tag;
    int priority;
    std::string message;  // as written, with the engine's source-position prefix
    // The message after the engine's "file:line function() " prefix.
    std::string text() const;
};

class LogCapture {
  public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LoggedLine> lines() const;
    // Texts (prefix removed) of the lines, in order.
    std::vector<std::string> texts() const;
    // Number of lines whose text equals `text`.
    int count(const std::string& text) const;
    // True when some line's text contains `fragment`.
    bool contains(const std::string& fragment) const;
    void clear();
};

#endif  // XEPO_TEST_LOG_CAPTURE_H
