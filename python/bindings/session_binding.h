// Recorded sessions for Python: the reader of the xepo tool, with each frame's
// records and pixels as numpy arrays.
#ifndef XEPO_PYTHON_SESSION_BINDING_H
#define XEPO_PYTHON_SESSION_BINDING_H

#include <pybind11/pybind11.h>

namespace xepo_python {

void bindSessions(pybind11::module_& module);

}  // namespace xepo_python

#endif  // XEPO_PYTHON_SESSION_BINDING_H
