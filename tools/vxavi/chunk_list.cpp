#include "chunk_list.h"

#include <vxmedia/vxtypes.h>

#include <algorithm>

namespace vxavi {

namespace {

constexpr uint32_t kList = VX_MAKEFOURCC('L', 'I', 'S', 'T');
constexpr uint32_t kRiff = VX_MAKEFOURCC('R', 'I', 'F', 'F');
constexpr uint32_t kInfo = VX_MAKEFOURCC('I', 'N', 'F', 'O');
constexpr std::size_t kMaxChunks = 4096;

uint32_t le32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Walks [at, end) of a form or list of `type`; descends into INFO lists only.
void walk(const InputFile& f, uint32_t type, uint64_t at, uint64_t end, bool top,
          std::vector<TagChunk>* out) {
    while (end - at >= 8 && at < end && out->size() < kMaxChunks) {
        unsigned char h[12];
        if (!f.read(at, h, 8)) return;
        const uint32_t id = le32(h), size = le32(h + 4);
        if (id == 0) return;
        const uint64_t next = at + 8 + size + (size & 1);
        if (id == kList || id == kRiff) {
            if (size < 4 || !f.read(at + 8, h + 8, 4)) return;
            if (le32(h + 8) == kInfo) {
                walk(f, kInfo, at + 12, std::min<uint64_t>(end, at + 8 + size), false, out);
            }
        } else if (top || type == kInfo) {
            out->push_back({type, id, size, at + 8});
        }
        at = next;
    }
}

}  // namespace

std::vector<TagChunk> list_tag_chunks(const InputFile& file) {
    std::vector<TagChunk> out;
    uint64_t at = 0;
    while (file.size() - at >= 12 && at < file.size()) {
        unsigned char h[12];
        if (!file.read(at, h, 12) || le32(h) != kRiff) break;
        const uint32_t size = le32(h + 4);
        if (size < 4) break;
        walk(file, le32(h + 8), at + 12, std::min<uint64_t>(file.size(), at + 8 + size), true,
             &out);
        at += 8 + static_cast<uint64_t>(size) + (size & 1);
    }
    return out;
}

}  // namespace vxavi
