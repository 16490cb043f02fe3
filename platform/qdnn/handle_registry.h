// The set of live handles. Every handle the runtime gives out is registered
// with its kind until it is destroyed, so that a null, stale or foreign
// handle is answered with a failure instead of being dereferenced.
#ifndef QDNN_HOST_HANDLE_REGISTRY_H
#define QDNN_HOST_HANDLE_REGISTRY_H

#include <mutex>
#include <unordered_map>

namespace qdnn_host {

enum class HandleKind { Net, Session, Tensor };

class HandleRegistry {
  public:
    static HandleRegistry& instance();

    void add(const void* handle, HandleKind kind);
    void remove(const void* handle);
    bool contains(const void* handle, HandleKind kind) const;

  private:
    mutable std::mutex mutex_;
    std::unordered_map<const void*, HandleKind> handles_;
};

// The object behind a handle of the given kind, or null when the handle is
// not a live one of that kind.
template <typename T>
T* lookUp(const void* handle, HandleKind kind) {
    if (handle == nullptr || !HandleRegistry::instance().contains(handle, kind))
        return nullptr;
    return static_cast<T*>(const_cast<void*>(handle));
}

}  // namespace qdnn_host

#endif  // QDNN_HOST_HANDLE_REGISTRY_H
