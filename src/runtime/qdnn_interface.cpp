#include "runtime/qdnn_interface.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstdio>

namespace {

// File name of the runtime library beside the engine on hosts.
constexpr const char* kRuntimeFileName = "libqdnn.so";

// Stores the entry point `name` of `library` in `slot`; prints the failure
// line when the library lacks it.
template <typename Function>
bool resolveEntry(void* library, const char* name, Function& slot) {
    void* symbol = dlsym(library, name);
    if (symbol == nullptr) {
        std::printf("Failed to load symbol %s\n", name);
        return false;
    }
    slot = reinterpret_cast<Function>(symbol);
    return true;
}

// Resolves the entry points in slot order and stops at the first missing one.
bool resolveAllEntries(void* library, QDNNInterface& table) {
    // clang-format off
    return
#define QDNN_ENTRY(kind, result, name, params, args) resolveEntry(library, #name, table.name) &&
#include "qdnn_entry_points.h"
        true;
    // clang-format on
}

void clearAllEntries(QDNNInterface& table) {
#define QDNN_ENTRY(kind, result, name, params, args) table.name = nullptr;
#include "qdnn_entry_points.h"
}

#if !defined(XEPO_RUNTIME_PATH)
// Path of the file that holds this code: the shared engine library, or the
// program itself when the engine is linked statically (glibc then reports the
// program only as argv[0], so it is read from /proc instead).
std::string pathOfThisModule() {
    Dl_info info{};
    link_map* module = nullptr;
    const int found = dladdr1(reinterpret_cast<void*>(&pathOfThisModule), &info,
                              reinterpret_cast<void**>(&module), RTLD_DL_LINKMAP);
    if (found != 0 && module != nullptr && module->l_name != nullptr && module->l_name[0] != '\0') {
        return module->l_name;
    }
    char program[4096];
    const ssize_t length = readlink("/proc/self/exe", program, sizeof program - 1);
    if (length <= 0) {
        return "";
    }
    // readlink does not end the path with a NUL.
    return std::string(program, static_cast<size_t>(length));
}
#endif

}  // namespace

QDNNInterface::~QDNNInterface() {
    // Emptied slots make a late call (from another object's destruction at
    // process exit) return the not-loaded result instead of jumping into the
    // closed library.
    clearAllEntries(*this);
    loaded = false;
    if (libHandle != nullptr) {
        dlclose(libHandle);
        libHandle = nullptr;
    }
}

bool loadQDNNInterface(QDNNInterface& table, const char* path) {
    void* library = dlopen(path, RTLD_NOW);
    if (library == nullptr) {
        std::printf("Failed to dlopen %s\n", path);
        return false;
    }
    table.libHandle = library;
    if (!resolveAllEntries(library, table)) {
        // The slots resolved so far would point into the closed library.
        clearAllEntries(table);
        dlclose(library);
        table.libHandle = nullptr;
        return false;
    }
    table.loaded = true;
    return true;
}

// On a phone the runtime is the platform's library at a fixed path, given by the
// build as XEPO_RUNTIME_PATH ("/vendor/lib64/libqdnn.so"). On hosts it is the
// host runtime that every build places in the same directory as libxepo.so and
// the test programs (<builddir>/bin): the engine looks for "libqdnn.so" in the
// directory of the module that contains this code, which is libxepo.so, or the
// program when the engine is linked into it statically. No environment variable
// takes part.
std::string defaultQDNNRuntimePath() {
#if defined(XEPO_RUNTIME_PATH)
    return XEPO_RUNTIME_PATH;
#else
    const std::string module = pathOfThisModule();
    const size_t slash = module.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : module.substr(0, slash);
    return directory + "/" + kRuntimeFileName;
#endif
}

const QDNNInterface& getQDNNInterface() {
    // Both statics are initialised once, thread-safely; the table is destroyed
    // (and the library closed) at process exit.
    static QDNNInterface table;
    static const bool loaded = loadQDNNInterface(table, defaultQDNNRuntimePath().c_str());
    (void)loaded;
    return table;
}
