// The engine's exported runtime functions: every entry point of
// qdnn_entry_points.h except the resolve-only ones, under the runtime's own
// name, forwarding its arguments unchanged through the process-wide table.
#include <type_traits>

#include "qdnn_api.h"
#include "runtime/qdnn_interface.h"

namespace {

// What an export returns when its slot is empty, which only happens while the
// runtime is not loaded (callers must not call then; the model runner never
// does): null handles, -1 for signed statuses and values, 0 for sizes.
template <typename Result>
Result notLoadedResult() {
    if constexpr (std::is_void_v<Result>) {
        return;
    } else if constexpr (std::is_pointer_v<Result>) {
        return nullptr;
    } else if constexpr (std::is_signed_v<Result>) {
        return static_cast<Result>(-1);
    } else {
        return static_cast<Result>(0);
    }
}

}  // namespace

#define XEPO_QDNN_EXPORT extern "C" __attribute__((visibility("default")))

// Result passed back untouched.
#define XEPO_QDNN_FORWARD(result, name, params, args) \
    XEPO_QDNN_EXPORT result name params {             \
        const auto slot = getQDNNInterface().name;    \
        if (slot == nullptr) {                        \
            return notLoadedResult<result>();         \
        }                                             \
        return slot args;                             \
    }

// Result reduced to its lowest bit: the runtime reports a bool in a wider value.
#define XEPO_QDNN_FORWARD_BOOL(result, name, params, args) \
    XEPO_QDNN_EXPORT result name params {                  \
        const auto slot = getQDNNInterface().name;         \
        if (slot == nullptr) {                             \
            return 0;                                      \
        }                                                  \
        return static_cast<result>(slot args & 1);         \
    }

// Resolved when the runtime is opened, never exported.
#define XEPO_QDNN_RESOLVE_ONLY(result, name, params, args)

#define QDNN_ENTRY(kind, result, name, params, args) XEPO_QDNN_##kind(result, name, params, args)
#include "qdnn_entry_points.h"
