// Helpers shared by the runtime tests.
#ifndef XEPO_TEST_RUNTIME_TEST_SUPPORT_H
#define XEPO_TEST_RUNTIME_TEST_SUPPORT_H

#include <dlfcn.h>
#include <unistd.h>

#include <string>

#include "scripted_runtime.h"

// The state of the scripted runtime opened as `library`, or null when the
// library is not the scripted runtime.
inline ScriptedRuntime* scriptedRuntimeOf(void* library) {
    if (library == nullptr) {
        return nullptr;
    }
    auto state =
        reinterpret_cast<ScriptedRuntimeStateFunction>(dlsym(library, kScriptedRuntimeStateSymbol));
    return state != nullptr ? state() : nullptr;
}

// Directory of the running test program.
inline std::string programDirectory() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        return "";
    }
    const std::string program(path, static_cast<size_t>(length));
    return program.substr(0, program.rfind('/'));
}

// True while the library at `path` is loaded in this process.
inline bool libraryIsLoaded(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) {
        return false;
    }
    dlclose(handle);
    return true;
}

#endif  // XEPO_TEST_RUNTIME_TEST_SUPPORT_H
