#include "chunk_list.h"

#include <algorithm>

#include "util/riff_walker.h"

namespace vxavi {

namespace {

using Walker = vx::BasicRiffWalker<InputFile>;
using vx::RiffChunk;

constexpr uint32_t kInfo = vx::fourcc("INFO");
constexpr std::size_t kMaxChunks = 4096;
// INFO lists do not nest in real files; a damaged one that nests them
// without end must not exhaust the stack.
constexpr int kMaxDepth = 8;

// Walks [begin, end) of a form or list of `type`; descends into INFO lists
// only. A zero id, or a list too short for its type, ends the walk.
void walk(const Walker& w, uint32_t type, uint64_t begin, uint64_t end, int depth,
          std::vector<TagChunk>* out) {
    w.children(begin, end, [&](const RiffChunk& c) {
        if (c.id == 0 || out->size() >= kMaxChunks) return false;
        if (vx::is_list_id(c.id)) {
            if (!c.typed) return false;
            if (c.listType == kInfo && depth < kMaxDepth)
                walk(w, kInfo, c.membersPos(), std::min(end, c.end), depth + 1, out);
        } else if (depth == 0 || type == kInfo) {
            out->push_back({type, c.id, c.size, c.dataPos()});
        }
        return true;
    });
}

}  // namespace

std::vector<TagChunk> list_tag_chunks(const InputFile& file) {
    std::vector<TagChunk> out;
    const Walker w(file);
    w.children(0, file.size(), [&](const RiffChunk& c) {
        if (c.id != vx::fourcc("RIFF") || !c.typed) return false;
        walk(w, c.listType, c.membersPos(), c.end, 0, &out);
        return true;
    });
    return out;
}

}  // namespace vxavi
