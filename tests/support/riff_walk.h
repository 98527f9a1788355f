// Reading built or written files in memory through the library's own RIFF
// walker: finding chunks, the top-level forms, and a structural check of the
// whole chunk tree.
//
// Header-only and free of test-framework dependencies: the unit and
// integration tests and the fuzz targets share it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "util/byte_io.h"
#include "util/riff_walker.h"

namespace vxtest {

using MemoryWalker = vx::BasicRiffWalker<vx::MemorySource>;

// A little-endian 32-bit field of a file in memory; 0 past its end.
inline uint32_t le32_at(const std::vector<uint8_t>& b, uint64_t at) {
    return at > SIZE_MAX ? 0 : vx::ByteReader(b.data(), b.size()).u32(static_cast<size_t>(at));
}

// Bytes in memory and a walker over them.
class RiffView {
public:
    RiffView(const void* data, std::size_t size) : src_(data, size), walker_(src_) {}
    explicit RiffView(const std::vector<uint8_t>& b) : RiffView(b.data(), b.size()) {}
    RiffView(const RiffView&) = delete;
    RiffView& operator=(const RiffView&) = delete;

    uint64_t size() const { return src_.size(); }
    const MemoryWalker& walker() const { return walker_; }

    // The first chunk with `id` whose header lies in [from, to), looking
    // into lists and forms depth-first.
    bool find(uint32_t id, uint64_t from, uint64_t to, vx::RiffChunk* out) const {
        bool found = false;
        walker_.children(from, to, [&](const vx::RiffChunk& c) {
            if (c.id == id) {
                *out = c;
                found = true;
            } else if (c.typed) {
                found = find(id, c.membersPos(), c.end, out);
            }
            return !found;
        });
        return found;
    }
    // The first member of `list` with `id` and, when not 0, list type `type`.
    bool child(const vx::RiffChunk& list, uint32_t id, uint32_t type, vx::RiffChunk* out) const {
        MemoryWalker w(src_);
        w.seek(list.membersPos());
        return w.find(list.end, id, type, out);
    }
    // The chunks at the top level: the RIFF forms of a good file.
    std::vector<vx::RiffChunk> top() const {
        std::vector<vx::RiffChunk> out;
        walker_.children(0, size(), [&](const vx::RiffChunk& c) {
            out.push_back(c);
            return true;
        });
        return out;
    }

    // What is wrong with the file's chunk tree, or an empty string: the top
    // level is RIFF forms up to the end exactly, every chunk and its pad
    // byte end inside the parent, every list holds its type, and lists nest
    // at most `depth` deep (the forms count).
    std::string fault(int depth = 64) const {
        std::string f = fault_in(0, size(), depth);
        for (const vx::RiffChunk& c : top()) {
            if (!f.empty()) break;
            if (c.id != vx::fourcc("RIFF")) f = "no RIFF form at " + std::to_string(c.headerPos);
        }
        return f;
    }

private:
    std::string fault_in(uint64_t from, uint64_t to, int depth) const {
        std::string f;
        uint64_t at = from;
        walker_.children(from, to, [&](const vx::RiffChunk& c) {
            const std::string where = std::to_string(c.headerPos);
            if (c.declaredEnd() > to) {
                f = "chunk at " + where + " passes its parent, which ends at " + std::to_string(to);
            } else if (vx::is_list_id(c.id) && (!c.typed || depth <= 0)) {
                f = "list at " + where + (c.typed ? " too deep" : " too small");
            } else if (vx::is_list_id(c.id)) {
                f = fault_in(c.membersPos(), c.end, depth - 1);
            }
            if (f.empty() && c.next() > to) f = "pad byte of the chunk at " + where + " missing";
            at = c.next();
            return f.empty();
        });
        if (f.empty() && at < to) f = "stray bytes at " + std::to_string(at);
        return f;
    }

    vx::MemorySource src_;
    MemoryWalker walker_;
};

// The header position of the first chunk with `id` in [from, to) of a file
// in memory, looking into lists and forms; -1 when there is none.
inline int64_t find_chunk(const std::vector<uint8_t>& b, uint32_t id, uint64_t from = 12,
                          uint64_t to = UINT64_MAX) {
    vx::RiffChunk c;
    return RiffView(b).find(id, from, to, &c) ? static_cast<int64_t>(c.headerPos) : -1;
}

}  // namespace vxtest
