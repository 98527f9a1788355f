#include "reader/riff_walker.h"

#include <algorithm>

#include "util/byte_io.h"

namespace vx {

bool is_list_id(uint32_t id) { return id == fourcc("RIFF") || id == fourcc("LIST"); }

bool RiffWalker::enter(uint64_t limit, RiffChunk* out) {
    limit = std::min(limit, file_.size());
    if (pos_ > limit || limit - pos_ < 8) return false;
    unsigned char header[12];
    if (!file_.read(pos_, header, 8)) return false;
    RiffChunk c;
    c.id = le32(header);
    c.size = le32(header + 4);
    c.headerPos = pos_;
    c.end = std::min(c.declaredEnd(), file_.size());
    pos_ = c.dataPos();
    // A list too small for its type word is walked as a plain chunk.
    if (is_list_id(c.id) && c.size >= 4 && file_.read(c.dataPos(), header + 8, 4)) {
        c.listType = le32(header + 8);
        pos_ += 4;
    }
    *out = c;
    return true;
}

bool RiffWalker::find(uint64_t limit, uint32_t id, uint32_t listType, RiffChunk* out) {
    RiffChunk c;
    while (enter(limit, &c)) {
        if (c.id == id && (listType == 0 || c.listType == listType)) {
            *out = c;
            return true;
        }
        leave(c);
    }
    return false;
}

void RiffWalker::leave(const RiffChunk& chunk) {
    pos_ = chunk.declaredEnd() + (chunk.size & 1u);
}

bool RiffWalker::read(const RiffChunk& chunk, uint64_t offset, void* buffer,
                      uint32_t count) const {
    if (offset > chunk.size || count > chunk.size - offset) return false;
    return file_.read(chunk.dataPos() + offset, buffer, count);
}

}  // namespace vx
