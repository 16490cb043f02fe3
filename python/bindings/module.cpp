// The compiled part of the xepo Python package: the engine through its public
// interface, recorded sessions, and the errors they raise.
#include <pybind11/pybind11.h>

#include "engine_binding.h"
#include "errors.h"
#include "session_binding.h"
#include "sim_binding.h"

namespace py = pybind11;

PYBIND11_MODULE(_xepo, module) {
    module.doc() = "The XEPO auto-exposure engine (compiled part; import xepo instead).";
    static py::exception<xepo_python::EngineError> engineError(module, "EngineError",
                                                               PyExc_RuntimeError);
    static py::exception<xepo_python::EngineClosedError> closedError(module, "EngineClosedError",
                                                                     PyExc_RuntimeError);
    py::register_exception_translator([](std::exception_ptr raised) {
        try {
            if (raised) {
                std::rethrow_exception(raised);
            }
        } catch (const xepo_python::EngineError& failure) {
            engineError(failure.what());
        } catch (const xepo_python::EngineClosedError& failure) {
            closedError(failure.what());
        } catch (const xepo_python::MissingFileError& failure) {
            PyErr_SetString(PyExc_FileNotFoundError, failure.what());
        }
    });
    module.attr("DEFAULT_MODELS") = XEPO_DEFAULT_MODEL_DIR;
    xepo_python::bindEngine(module);
    xepo_python::bindSessions(module);
    xepo_python::bindSimulation(module);
}
