#include "chunks/chunk_tree.h"

#include <algorithm>
#include <new>

#include "chunks/chunk_io.h"
#include "util/byte_io.h"

namespace vx::chunks {

namespace {

// Lists nested deeper than this are recorded but not walked: no real AVI
// file comes close, and a crafted one must not exhaust the stack.
constexpr int kMaxDepth = 32;
// Beyond this the map counts as out of memory; a real file has a few dozen.
constexpr std::size_t kMaxRecords = std::size_t{1} << 22;

std::size_t g_record_limit = 0;

uint64_t padded(uint32_t size) { return static_cast<uint64_t>(size) + (size & 1u); }

}  // namespace

void ChunkTree::set_record_limit_for_testing(std::size_t limit) { g_record_limit = limit; }

bool ChunkTree::add(const ChunkRecord& r) {
    const std::size_t limit = g_record_limit != 0 ? g_record_limit : kMaxRecords;
    if (records_.size() >= limit) return false;
    try {
        records_.push_back(r);  // grows geometrically
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

std::size_t ChunkTree::find(FOURCC ckid, FOURCC parentType, std::size_t from) const {
    for (std::size_t i = from; i < records_.size(); ++i) {
        const ChunkRecord& r = records_[i];
        if ((ckid == 0 || r.ckid == ckid) && (parentType == 0 || r.parentType == parentType)) {
            return i;
        }
    }
    return records_.size();
}

// Walks [begin, end) of a form or list of type `type`; `end` is already cut
// to the parent's end and the file's. False only when memory ran out.
bool ChunkTree::walk(HANDLE file, FOURCC type, uint64_t begin, uint64_t end, int depth,
                     bool* complete) {
    uint64_t at = begin;
    *complete = false;
    while (at < end && end - at >= 8) {
        unsigned char h[12];
        if (read_at(file, h, 8, at) != 0) return true;  // a failed read ends the walk
        const uint32_t id = le32(h);
        const uint32_t size = le32(h + 4);
        // Zero-filled space (preallocated or never written) holds no chunks:
        // walking it would only make a record per 8 bytes.
        if (id == 0) return true;
        if (id != fourcc("LIST") && id != fourcc("RIFF")) {
            if (!add({at + 8, id, size, type, end})) return false;
            at += 8 + padded(size);
            continue;
        }
        // A list too small to hold its type ends the parent's walk.
        if (size < 4 || end - at < 12 || read_at(file, h + 8, 4, at + 8) != 0) return true;
        const uint32_t listType = le32(h + 8);
        const uint64_t listEnd = std::min(end, at + 8 + static_cast<uint64_t>(size));
        if (listType == fourcc("movi")) {
            if (!add({at + 8 + padded(size), fourcc("movi"), size, type, end})) return false;
        } else {
            if (!add({at + 12, id, size - 4, type, end})) return false;
            bool inner = false;
            if (listType != 0 && depth < kMaxDepth &&
                !walk(file, listType, at + 12, listEnd, depth + 1, &inner)) {
                return false;
            }
        }
        at += 8 + padded(size);
    }
    *complete = at == end;
    return true;
}

BuildResult ChunkTree::build(HANDLE file) {
    records_.clear();
    cursor = 0;
    lastRiffPosition = 0;
    lastRiffSize = 0;
    lastRiffWalked = false;
    fileEnd = 0;
    if (no_file(file) || !file_end(file, &fileEnd)) return BuildResult::kOk;
    uint64_t at = 0;
    while (at < fileEnd && fileEnd - at >= 12) {
        unsigned char h[12];
        if (read_at(file, h, 12, at) != 0 || le32(h) != fourcc("RIFF")) break;
        const uint32_t size = le32(h + 4);
        if (size < 4) break;
        const uint32_t formType = le32(h + 8);
        const uint64_t formEnd = std::min(fileEnd, at + 8 + static_cast<uint64_t>(size));
        if (!add({at + 12, fourcc("RIFF"), size - 4, 0, formEnd})) {
            records_.clear();
            return BuildResult::kNoMemory;
        }
        lastRiffPosition = at;
        lastRiffSize = size;
        lastRiffWalked = false;  // a form without a type is not walked
        if (formType != 0 && !walk(file, formType, at + 12, formEnd, 1, &lastRiffWalked)) {
            records_.clear();
            return BuildResult::kNoMemory;
        }
        at += 8 + padded(size);
    }
    return BuildResult::kOk;
}

}  // namespace vx::chunks
