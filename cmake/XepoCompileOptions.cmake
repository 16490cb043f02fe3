# Compiler and linker options of every target this project builds, carried by
# one INTERFACE target instead of directory-wide settings, so that nothing
# reaches the targets of an enclosing project.
#
#   xepo_compile_options             the options, linked by every target below
#   xepo_apply_compile_options(<dir>)
#     Links xepo_compile_options into every library and program defined in
#     <dir> and the directories below it. The top-level CMakeLists.txt calls it
#     last, so a target added anywhere in the project is covered without being
#     named here.

add_library(xepo_compile_options INTERFACE)
target_compile_options(xepo_compile_options INTERFACE -Wall -Wextra)
if(XEPO_WERROR)
  target_compile_options(xepo_compile_options INTERFACE -Werror)
endif()
# The same float arithmetic on every architecture: C++ compilers fuse a * b + c
# into one multiply-add wherever the CPU has the instruction (arm64 always,
# x86-64 only with -mfma), which rounds once instead of twice. Off, the engine
# gives the same bits on x86-64 and arm64.
target_compile_options(xepo_compile_options INTERFACE -ffp-contract=off)
if(XEPO_SANITIZE)
  target_compile_options(xepo_compile_options INTERFACE -fsanitize=${XEPO_SANITIZE}
                         -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(xepo_compile_options INTERFACE -fsanitize=${XEPO_SANITIZE})
endif()

function(xepo_apply_compile_options dir)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target ${targets})
    get_target_property(type ${target} TYPE)
    if(type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$")
      target_link_libraries(${target} PRIVATE xepo_compile_options)
    endif()
  endforeach()
  get_property(subdirectories DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(subdirectory ${subdirectories})
    xepo_apply_compile_options(${subdirectory})
  endforeach()
endfunction()
