#include "instance_registry.h"

#include <mutex>
#include <new>
#include <unordered_set>

namespace vxlavc {
namespace {

struct Registry {
    std::mutex lock;
    std::unordered_set<Instance*> open;
};

Registry& registry() {
    static Registry r;
    return r;
}

}  // namespace

uintptr_t open_instance(const Compressor* compressor) {
    std::unique_ptr<Instance> made(new (std::nothrow) Instance);
    if (!made) return 0;
    made->compressor = compressor;
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    try {
        r.open.insert(made.get());
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return reinterpret_cast<uintptr_t>(made.release());
}

Instance* find_instance(uintptr_t id) {
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    auto* instance = reinterpret_cast<Instance*>(id);
    return r.open.count(instance) != 0 ? instance : nullptr;
}

bool close_instance(uintptr_t id) {
    std::unique_ptr<Instance> closing;
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> hold(r.lock);
        auto* instance = reinterpret_cast<Instance*>(id);
        if (r.open.erase(instance) == 0) return false;
        closing.reset(instance);
    }
    return true;  // the decoder and encoder are freed outside the lock
}

}  // namespace vxlavc
