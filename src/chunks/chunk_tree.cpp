#include "chunks/chunk_tree.h"

#include <algorithm>
#include <new>

#include "chunks/chunk_io.h"
#include "util/byte_io.h"
#include "util/riff_walker.h"

namespace vx::chunks {

namespace {

// Lists nested deeper than this are recorded but not walked: no real AVI
// file comes close, and a crafted one must not exhaust the stack.
constexpr int kMaxDepth = 32;
// Beyond this the map counts as out of memory; a real file has a few dozen.
constexpr std::size_t kMaxRecords = std::size_t{1} << 22;

std::size_t g_record_limit = 0;

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
bool ChunkTree::walk(const ChunkFile& file, FOURCC type, uint64_t begin, uint64_t end, int depth,
                     bool* complete) {
    const BasicRiffWalker<ChunkFile> walker(file);
    uint64_t at = begin;
    bool stopped = false, memory = true;
    // The record limit bounds the walk; no step limit of its own.
    const auto visit = [&](const RiffChunk& c) {
        // Zero-filled space (preallocated or never written) holds no chunks:
        // walking it would only make a record per 8 bytes. A list too small
        // to hold its type ends the parent's walk.
        if (c.id == 0 || (is_list_id(c.id) && (c.size < 4 || end - c.headerPos < 12 || !c.typed))) {
            stopped = true;
            return false;
        }
        if (!is_list_id(c.id)) {
            memory = add({c.dataPos(), c.id, c.size, type, end});
        } else if (c.listType == fourcc("movi")) {
            memory = add({c.next(), fourcc("movi"), c.size, type, end});
        } else {
            memory = add({c.membersPos(), c.id, c.size - 4, type, end});
            bool inner = false;
            if (memory && c.listType != 0 && depth < kMaxDepth) {
                memory = walk(file, c.listType, c.membersPos(), std::min(end, c.declaredEnd()),
                              depth + 1, &inner);
            }
        }
        at = c.next();
        return memory;
    };
    walker.children(begin, end, visit, SIZE_MAX);
    *complete = memory && !stopped && at == end;
    return memory;
}

BuildResult ChunkTree::build(HANDLE file) {
    records_.clear();
    cursor = 0;
    lastRiffPosition = 0;
    lastRiffSize = 0;
    lastRiffWalked = false;
    fileEnd = 0;
    if (no_file(file) || !file_end(file, &fileEnd)) return BuildResult::kOk;
    const ChunkFile source(file, fileEnd);
    const BasicRiffWalker<ChunkFile> walker(source);
    bool memory = true;
    const auto visit = [&](const RiffChunk& form) {
        if (form.id != fourcc("RIFF") || !form.typed || form.size < 4) return false;
        memory = add({form.membersPos(), fourcc("RIFF"), form.size - 4, 0, form.end});
        if (!memory) return false;
        lastRiffPosition = form.headerPos;
        lastRiffSize = form.size;
        lastRiffWalked = false;  // a form without a type is not walked
        if (form.listType != 0) {
            memory = walk(source, form.listType, form.membersPos(), form.end, 1, &lastRiffWalked);
        }
        return memory;
    };
    walker.children(0, fileEnd, visit, SIZE_MAX);
    if (!memory) records_.clear();
    return memory ? BuildResult::kOk : BuildResult::kNoMemory;
}

}  // namespace vx::chunks
