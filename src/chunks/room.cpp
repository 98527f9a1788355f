#include "chunks/room.h"

#include <new>

#include "chunks/chunk_io.h"
#include "util/byte_io.h"

namespace vx::chunks {

namespace {

// One form may not grow past this.
constexpr uint64_t kFormLimit = 0x80000000u;
// Largest new chunk: its form's size field must hold it.
constexpr uint64_t kMaxNewBytes = 0x7FFFFFF0u;

// Writes body, pad and head at `at`; the head goes last.
int32_t write_new(HANDLE file, uint64_t at, const NewChunk& c) {
    if (c.bodySize > 0) {
        if (const int32_t rc = write_at(file, c.body, c.bodySize, at + c.headSize); rc != 0) {
            return rc;
        }
    }
    if ((c.headSize + c.bodySize) & 1u) {
        const unsigned char zero = 0;
        if (const int32_t rc = write_at(file, &zero, 1, at + c.headSize + c.bodySize); rc != 0) {
            return rc;
        }
    }
    return write_at(file, c.head, c.headSize, at);
}

}  // namespace

// Takes `n` bytes from the first top-level filler `id` of the "AVI " form
// that can give them. "JUNK" is taken only between the header list and the
// movie list: a reader that scans on past a short index finds whatever lies
// behind the movie list, and a strict one wants the header list first.
bool RoomPlan::take_filler(ChunkTree& t, FOURCC id, uint64_t n, Placement* p) {
    const bool headerAreaOnly = id != fourcc("JUNQ");
    bool afterHeaders = false;
    for (std::size_t i = 0; i < t.count(); ++i) {
        ChunkRecord& r = t[i];
        if (r.parentType == fourcc("hdrl")) afterHeaders = true;
        if (r.parentType != fourcc("AVI ")) continue;
        if (headerAreaOnly) {
            if (r.ckid == fourcc("movi")) return false;
            if (!afterHeaders) continue;
        }
        if (r.ckid != id || !r.inside_parent() || r.position < 8) continue;
        const uint64_t at = r.position - 8;
        const uint64_t total = static_cast<uint64_t>(r.size) + 8;
        if (total == n) {
            *p = Placement{Placement::Kind::kFiller, at, n};
            // Used up: it must never be handed out a second time.
            t.erase(i);
            return true;
        }
        if (total < n || total - n < 8) continue;
        const auto rest = static_cast<uint32_t>(total - n - 8);
        *p = Placement{Placement::Kind::kFiller, at, n, true, id, rest};
        r.position = at + n + 8;
        r.size = rest;
        return true;
    }
    return false;
}

bool RoomPlan::place(ChunkTree& t, uint64_t n, Placement* p) {
    // Our writer's filler first, then other writers' padding, which nothing
    // reads.
    if (take_filler(t, fourcc("JUNQ"), n, p) || take_filler(t, fourcc("JUNK"), n, p)) return true;

    // Appending is only safe when nothing follows the last form.
    const uint64_t riffExtent = static_cast<uint64_t>(t.lastRiffSize) + (t.lastRiffSize & 1u);
    if (t.lastRiffPosition + 8 + riffExtent != t.fileEnd) return false;
    const uint64_t end = t.fileEnd;
    // A form whose walk stopped short (zero-filled space, a chunk running
    // past its end) would hide bytes added to it: start a new form instead.
    if (t.lastRiffWalked && riffExtent + 8 + n <= kFormLimit) {
        const auto newSize = static_cast<uint32_t>(riffExtent + n);
        *p = Placement{Placement::Kind::kGrowForm, end, n};
        p->formAt = t.lastRiffPosition;
        p->formSize = newSize;
        t.lastRiffSize = newSize;
        t.fileEnd = end + n;
        for (std::size_t i = t.count(); i-- > 0;) {
            if (t[i].ckid == fourcc("RIFF") && t[i].parentType == 0) {
                t[i].size = newSize - 4;
                t[i].parentEnd = t.fileEnd;
                break;
            }
        }
        return true;
    }
    *p = Placement{Placement::Kind::kNewForm, end, n};
    t.fileEnd = end + 12 + n;
    t.lastRiffPosition = end;
    t.lastRiffSize = static_cast<uint32_t>(n + 4);
    t.lastRiffWalked = true;
    // The file is complete even when the map cannot take the new form's record.
    (void)t.add({end + 12, fourcc("RIFF"), static_cast<uint32_t>(n), 0, t.fileEnd});
    return true;
}

bool RoomPlan::make(const ChunkTree& tree, const NewChunk* chunks, std::size_t count) {
    chunks_.clear();
    placements_.clear();
    if (tree.empty()) return false;
    try {
        after_ = tree;
        chunks_.assign(chunks, chunks + count);
        placements_.reserve(count);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (const NewChunk& c : chunks_) {
        const uint64_t n =
            static_cast<uint64_t>(c.headSize) + c.bodySize + ((c.headSize + c.bodySize) & 1u);
        Placement p;
        if (n > kMaxNewBytes || !place(after_, n, &p)) return false;
        placements_.push_back(p);  // reserved: cannot throw
    }
    return true;
}

int32_t RoomPlan::write(HANDLE file, ChunkTree& tree) {
    for (std::size_t k = 0; k < placements_.size(); ++k) {
        const Placement& p = placements_[k];
        const NewChunk& c = chunks_[k];
        unsigned char head[12];
        switch (p.kind) {
            case Placement::Kind::kFiller:
                if (p.split) {
                    put32(head, p.restId);
                    put32(head + 4, p.restSize);
                    if (write_at(file, head, 8, p.at + p.n) != 0) return kNoRoom;
                }
                if (const int32_t rc = write_new(file, p.at, c); rc != 0) return rc;
                break;
            case Placement::Kind::kGrowForm:
                if (const int32_t rc = write_new(file, p.at, c); rc != 0) return rc;
                put32(head, p.formSize);
                if (write_at(file, head, 4, p.formAt + 4) != 0) return kNoRoom;
                break;
            case Placement::Kind::kNewForm:
                if (const int32_t rc = write_new(file, p.at + 12, c); rc != 0) return rc;
                put32(head, fourcc("RIFF"));
                put32(head + 4, static_cast<uint32_t>(p.n + 4));
                put32(head + 8, fourcc("AVIX"));
                if (write_at(file, head, 12, p.at) != 0) return kNoRoom;
                break;
        }
    }
    tree = std::move(after_);
    placements_.clear();
    return 0;
}

int32_t add_chunks(HANDLE file, ChunkTree& tree, const NewChunk* chunks, std::size_t count) {
    RoomPlan plan;
    if (!plan.make(tree, chunks, count)) return kNoRoom;
    return plan.write(file, tree);
}

}  // namespace vx::chunks
