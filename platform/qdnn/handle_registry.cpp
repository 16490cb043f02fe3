#include "handle_registry.h"

namespace qdnn_host {

HandleRegistry& HandleRegistry::instance() {
    // An object, not a heap pointer: the engine closes this library at exit,
    // and a heap registry would then be reported as leaked.
    static HandleRegistry registry;
    return registry;
}

void HandleRegistry::add(const void* handle, HandleKind kind) {
    std::lock_guard<std::mutex> lock(mutex_);
    handles_[handle] = kind;
}

void HandleRegistry::remove(const void* handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    handles_.erase(handle);
}

bool HandleRegistry::contains(const void* handle, HandleKind kind) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = handles_.find(handle);
    return it != handles_.end() && it->second == kind;
}

}  // namespace qdnn_host
