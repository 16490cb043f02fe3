// The process-wide function table of the neural-network runtime.
//
// The runtime is a shared library opened by path at run time; its 77 entry
// points are resolved by name into the slots below, in the order of
// qdnn_entry_points.h. The engine's exported qdnn* functions call through these
// slots, and the model runner reads `loaded` before its first call.
#ifndef XEPO_RUNTIME_QDNN_INTERFACE_H
#define XEPO_RUNTIME_QDNN_INTERFACE_H

#include <string>

#include "qdnn_api.h"

struct QDNNInterface {
    // One pointer per entry point, named after it, null until resolved.
#define QDNN_ENTRY(kind, result, name, params, args) result(*name) params = nullptr;
#include "qdnn_entry_points.h"

    void* libHandle = nullptr;  // the opened runtime library, null when none is open
    bool loaded = false;        // true only once every entry point was resolved

    QDNNInterface() = default;
    // Closes the runtime library if one is open.
    ~QDNNInterface();
    QDNNInterface(const QDNNInterface&) = delete;
    QDNNInterface& operator=(const QDNNInterface&) = delete;
};

// Opens the runtime at `path` (RTLD_NOW) and resolves every entry point in slot
// order into `table`, which must be fresh (nothing open). Failures are printed
// to standard output: "Failed to dlopen <path>" when the library cannot be
// opened, "Failed to load symbol <name>" at the first missing entry point, after
// which the library is closed and every slot is null again. Returns `loaded`.
bool loadQDNNInterface(QDNNInterface& table, const char* path);

// Where the process looks for the runtime (see qdnn_interface.cpp).
std::string defaultQDNNRuntimePath();

// The single table of the process, created and loaded on the first call (once,
// also under concurrent first calls) and closed at process exit. A failed load
// is final: later calls return the same unloaded table and print nothing.
const QDNNInterface& getQDNNInterface();

#endif  // XEPO_RUNTIME_QDNN_INTERFACE_H
