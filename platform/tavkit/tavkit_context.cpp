#include "tavkit_context.h"

#include <mutex>
#include <unordered_map>

namespace tavkit {
namespace {

// High bits of every handle: a small integer or a pointer passed by mistake
// never matches a live handle.
constexpr int64_t kHandleTag = int64_t{0x54564b} << 40;

struct ContextTable {
    std::mutex mutex;
    std::unordered_map<int64_t, std::shared_ptr<Context>> live;
    int64_t nextSerial = 1;
};

ContextTable& table() {
    static ContextTable instance;
    return instance;
}

}  // namespace

int64_t addContext(std::unique_ptr<Context> context) {
    ContextTable& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    const int64_t handle = kHandleTag | t.nextSerial++;
    t.live.emplace(handle, std::shared_ptr<Context>(std::move(context)));
    return handle;
}

std::shared_ptr<Context> findContext(int64_t handle) {
    ContextTable& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    const auto it = t.live.find(handle);
    return it == t.live.end() ? nullptr : it->second;
}

bool removeContext(int64_t handle) {
    ContextTable& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    return t.live.erase(handle) == 1;
}

}  // namespace tavkit
