// The closed-loop simulation for Python: the same code as `xepo sim`, one run
// at a time, with its results as plain values that pickle.
#ifndef XEPO_PYTHON_SIM_BINDING_H
#define XEPO_PYTHON_SIM_BINDING_H

#include <pybind11/pybind11.h>

namespace xepo_python {

void bindSimulation(pybind11::module_& module);

}  // namespace xepo_python

#endif  // XEPO_PYTHON_SIM_BINDING_H
