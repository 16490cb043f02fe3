// Keeps every C++ exception (cv::Exception, std::bad_alloc, the format
// library's errors) inside the runtime: each exported function runs its body
// through callGuarded and answers with a failure value instead.
#ifndef QDNN_HOST_C_BOUNDARY_H
#define QDNN_HOST_C_BOUNDARY_H

#include <utility>

namespace qdnn_host {

template <typename Result, typename Body>
Result callGuarded(Result onException, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        return onException;
    }
}

template <typename Body>
void callGuardedVoid(Body&& body) noexcept {
    try {
        std::forward<Body>(body)();
    } catch (...) {
    }
}

}  // namespace qdnn_host

#endif  // QDNN_HOST_C_BOUNDARY_H
