// The errors the module raises, as C++ exceptions that the module maps onto
// Python classes (see module.cpp): the engine refused or failed, or the engine
// was used after close().
#ifndef XEPO_PYTHON_ERRORS_H
#define XEPO_PYTHON_ERRORS_H

#include <stdexcept>
#include <string>

namespace xepo_python {

// The engine could not be created or could not answer; the message carries
// the engine's own error lines.
class EngineError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class EngineClosedError : public std::runtime_error {
  public:
    EngineClosedError() : std::runtime_error("the engine is closed; open a new xepo.Engine") {}
};

// A file the caller named does not exist (raised as FileNotFoundError).
class MissingFileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

}  // namespace xepo_python

#endif  // XEPO_PYTHON_ERRORS_H
