#include "handles.h"

#include <mutex>
#include <new>
#include <unordered_map>
#include <unordered_set>

namespace vxacm {
namespace {

struct Registry {
    std::mutex lock;
    uintptr_t lastInstance = 0;
    std::unordered_set<uintptr_t> instances;
    std::unordered_map<uintptr_t, std::unique_ptr<Converter>> streams;
};

Registry& registry() {
    static Registry r;
    return r;
}

}  // namespace

uintptr_t open_instance() {
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    // Instances hold nothing of their own: counted ids, never 0.
    uintptr_t id = r.lastInstance + 1;
    while (id == 0 || r.instances.count(id) != 0) ++id;
    try {
        r.instances.insert(id);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    r.lastInstance = id;
    return id;
}

bool instance_open(uintptr_t id) {
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    return r.instances.count(id) != 0;
}

bool close_instance(uintptr_t id) {
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    return r.instances.erase(id) != 0;
}

uintptr_t open_stream(std::unique_ptr<Converter> converter) {
    Registry& r = registry();
    const auto id = reinterpret_cast<uintptr_t>(converter.get());
    std::lock_guard<std::mutex> hold(r.lock);
    try {
        r.streams.emplace(id, std::move(converter));
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return id;
}

Converter* find_stream(uintptr_t id) {
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    const auto found = r.streams.find(id);
    return found != r.streams.end() ? found->second.get() : nullptr;
}

void close_stream(uintptr_t id) {
    std::unique_ptr<Converter> closing;
    Registry& r = registry();
    {
        std::lock_guard<std::mutex> hold(r.lock);
        const auto found = r.streams.find(id);
        if (found == r.streams.end()) return;
        closing = std::move(found->second);
        r.streams.erase(found);
    }
    // The codec is freed outside the lock.
}

}  // namespace vxacm
