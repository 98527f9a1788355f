// The host's resources: data blocks by four-character type and id, handed
// out as handles of the host's memory table. Tests may replace one.
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "host_internal.h"

namespace {

using Bytes = std::vector<uint8_t>;

void put16(Bytes& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

// Four-character codes are stored as 32-bit numbers, big-endian: the
// characters in reverse order.
void put_code(Bytes& b, const char* code) {
    for (int i = 3; i >= 0; --i) b.push_back(static_cast<uint8_t>(code[i]));
}

// The host's own entries of the video codec list: codecs the host serves
// without an installed compressor. Kind 1 keeps them apart from installed
// ones. Layout: kind, depth mask, quality flag, seven host values (the
// fifth a byte with a pad byte), handler, a pad byte, bitmap type, a pad
// byte, the name.
Bytes codec_entries() {
    Bytes b;
    put16(b, 1);    // kind
    put16(b, 0x4);  // 24-bit input
    put16(b, 0);    // no quality control
    for (int i = 0; i < 4; ++i) put16(b, 0);
    b.push_back(0);
    b.push_back(0);
    put16(b, 0);
    put16(b, 0);
    put_code(b, "dvsd");
    b.push_back(0);
    put_code(b, "dvsd");
    b.push_back(0);
    const char name[] = "DV Video (filter graph)";
    b.insert(b.end(), name, name + sizeof name);
    put16(b, 0xFFFF);  // end of the list
    return b;
}

std::mutex g_lock;

std::map<std::pair<uint32_t, int32_t>, Bytes>& resources() {
    static auto* table = new std::map<std::pair<uint32_t, int32_t>, Bytes>{
        {{0x43444543u, 1000}, codec_entries()},  // 'CDEC'
    };
    return *table;
}

}  // namespace

VXHOSTAPI VxHandle VXCALL GetResource(uint32_t type, int16_t id) {
    Bytes copy;
    try {
        std::lock_guard<std::mutex> guard(g_lock);
        const auto found = resources().find({type, id});
        if (found == resources().end()) return nullptr;
        copy = found->second;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    const HostMemFuncs* mem = VxHostMemFuncs();
    VxHandle h = mem->newHandle(static_cast<uint32_t>(copy.size()));
    if (h != nullptr && !copy.empty()) std::memcpy(*h, copy.data(), copy.size());
    return h;
}

VXHOSTAPI void VXCALL ReleaseResource(VxHandle resource) {
    if (resource != nullptr) VxHostMemFuncs()->disposeHandle(resource);
}

VXHOSTAPI int32_t VXCALL VxHostSetResource(uint32_t type, int16_t id, const void* data,
                                           uint32_t size) {
    try {
        std::lock_guard<std::mutex> guard(g_lock);
        if (data == nullptr) {
            resources().erase({type, id});
        } else {
            const auto* bytes = static_cast<const uint8_t*>(data);
            resources()[{type, id}] = Bytes(bytes, bytes + size);
        }
        return 1;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

VXHOSTAPI void VXCALL VxHostResetResources(void) {
    std::lock_guard<std::mutex> guard(g_lock);
    resources() = {{{0x43444543u, 1000}, codec_entries()}};
}
