# Installs BUILD into WORK/prefix, then builds and runs the host of HOST_SOURCE
# against it with find_package and with pkg-config, and imports the installed
# Python package. Any failure stops with the step's output.
function(run_step what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${what} failed (${status}):\n${out}\n${err}")
  endif()
  set(step_output "${out}" PARENT_SCOPE)
endfunction()

set(prefix ${WORK}/prefix)
file(REMOVE_RECURSE ${WORK})
run_step("install" ${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix})
set(libdir ${prefix}/${LIBDIR})

# find_package(Xepo) gives Xepo::xepo.
run_step("configure the host with find_package" ${CMAKE_COMMAND} -S ${HOST_SOURCE}
         -B ${WORK}/host-cmake -G ${GENERATOR} -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
         -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_RPATH=${libdir})
run_step("build the host with find_package" ${CMAKE_COMMAND} --build ${WORK}/host-cmake)
run_step("run the find_package host" ${WORK}/host-cmake/host ${MODELS})

# pkg-config gives the flags.
set(ENV{PKG_CONFIG_PATH} ${libdir}/pkgconfig)
run_step("pkg-config" ${PKG_CONFIG} --cflags --libs xepo)
separate_arguments(flags UNIX_COMMAND "${step_output}")
run_step("build the host with pkg-config" ${CXX_COMPILER} -std=c++17 ${HOST_SOURCE}/host.cpp
         ${flags} -Wl,-rpath,${libdir} -o ${WORK}/host-pkg-config)
run_step("run the pkg-config host" ${WORK}/host-pkg-config ${MODELS})

# The Python package from the prefix's Python path.
set(ENV{PYTHONPATH} ${libdir}/python3/dist-packages)
run_step("import the installed Python package" ${PYTHON} -c
         "import xepo, sys; e = xepo.Engine(models=sys.argv[1]); print(e.image(sys.argv[2]).score); e.close()"
         ${MODELS} ${IMAGE})
message(STATUS "installed prefix serves hosts: ${prefix}")
