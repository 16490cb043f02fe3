// Contexts of the image-operator library and the table of live handles.
//
// A handle is an opaque 64-bit number, never a pointer: every call looks it up
// in the table, so a stale, zero or made-up handle is refused instead of being
// dereferenced.
#ifndef TAVKIT_CONTEXT_H
#define TAVKIT_CONTEXT_H

#include <bitset>
#include <cstdint>
#include <memory>
#include <mutex>

#include "tavkit_api.h"
#include "tavkit_workspace.h"

namespace tavkit {

// Highest operator id the library knows, sizing the registration set.
constexpr int32_t kMaxOperatorId = 63;

struct Context {
    TavkitConfig config{};
    std::bitset<kMaxOperatorId + 1> registered;
    // Runs on one context take turns: they share its workspace (sample
    // positions cached per size pair, row buffers), which is what lets a run
    // allocate nothing once the sizes it sees have been seen before.
    std::mutex runMutex;
    Workspace workspace;
};

// Stores a new context and returns its handle (never 0).
int64_t addContext(std::unique_ptr<Context> context);

// The live context of a handle, or null. The shared pointer keeps the context
// alive for the caller even if another thread releases the handle meanwhile.
std::shared_ptr<Context> findContext(int64_t handle);

// Forgets the handle; false if it was not live.
bool removeContext(int64_t handle);

}  // namespace tavkit

#endif  // TAVKIT_CONTEXT_H
