# The Python interpreter of the model generators and the plot test.
#
# Debian's /usr/bin/python3 is the default: python3-onnx, python3-numpy and
# python3-matplotlib are installed for it alone, and another python3 first on
# PATH (a version manager's, say) usually lacks them. Set Python3_EXECUTABLE to
# use another interpreter that has those modules.
#
# Stops the configure step, naming the packages to install, when the
# interpreter lacks a module the tests need, so that no test is skipped for it.

if(EXISTS /usr/bin/python3)
  set(Python3_EXECUTABLE /usr/bin/python3 CACHE FILEPATH
      "Python interpreter with the onnx, numpy, matplotlib, pytest and distributed modules")
endif()
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# Checked once per interpreter; the answer is kept in the cache.
if(NOT XEPO_PYTHON_MODULES_CHECKED STREQUAL Python3_EXECUTABLE)
  foreach(module_and_package "onnx|python3-onnx" "numpy|python3-numpy"
                             "matplotlib|python3-matplotlib" "pytest|python3-pytest"
                             "distributed|python3-distributed")
    string(REPLACE "|" ";" module_and_package "${module_and_package}")
    list(GET module_and_package 0 module)
    list(GET module_and_package 1 package)
    execute_process(COMMAND ${Python3_EXECUTABLE} -c "import ${module}"
                    RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR
              "${Python3_EXECUTABLE} cannot import ${module}, which the tests need: install the "
              "Debian package ${package} (scripts/install-deps.sh does), or point "
              "Python3_EXECUTABLE at an interpreter that has it.")
    endif()
  endforeach()
  set(XEPO_PYTHON_MODULES_CHECKED ${Python3_EXECUTABLE} CACHE INTERNAL
      "Interpreter whose modules were found complete")
endif()
