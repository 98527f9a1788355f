#include "chunks/room.h"

#include "chunks/chunk_io.h"
#include "util/byte_io.h"

namespace vx::chunks {

namespace {

// One form may not grow past this.
constexpr uint64_t kFormLimit = 0x80000000u;
// Largest new chunk: its form's size field must hold it.
constexpr uint64_t kMaxNewBytes = 0x7FFFFFF0u;

// Writes body, pad and head at `at`; the head goes last.
int32_t write_new(HANDLE file, uint64_t at, const unsigned char* head, uint32_t headSize,
                  const void* body, uint32_t bodySize) {
    if (bodySize > 0) {
        if (const int32_t rc = write_at(file, body, bodySize, at + headSize); rc != 0) return rc;
    }
    if ((headSize + bodySize) & 1u) {
        const unsigned char zero = 0;
        if (const int32_t rc = write_at(file, &zero, 1, at + headSize + bodySize); rc != 0) {
            return rc;
        }
    }
    return write_at(file, head, headSize, at);
}

}  // namespace

int32_t add_chunk(HANDLE file, ChunkTree& tree, const unsigned char* head, uint32_t headSize,
                  const void* body, uint32_t bodySize) {
    const uint64_t n = static_cast<uint64_t>(headSize) + bodySize + ((headSize + bodySize) & 1u);
    if (tree.empty() || n > kMaxNewBytes) return kNoRoom;

    // Filler at the top level of the first form, where the writer leaves it.
    for (std::size_t i = 0; i < tree.count(); ++i) {
        ChunkRecord& r = tree[i];
        if (r.ckid != fourcc("JUNQ") || r.parentType != fourcc("AVI ") || !r.inside_parent() ||
            r.position < 8) {
            continue;
        }
        const uint64_t at = r.position - 8;
        const uint64_t total = static_cast<uint64_t>(r.size) + 8;
        if (total == n) {
            const int32_t rc = write_new(file, at, head, headSize, body, bodySize);
            // Used up: it must never be handed out a second time.
            if (rc == 0) tree.erase(i);
            return rc;
        }
        if (total < n || total - n < 8) continue;
        const uint32_t rest = static_cast<uint32_t>(total - n - 8);
        unsigned char filler[8];
        put32(filler, fourcc("JUNQ"));
        put32(filler + 4, rest);
        if (write_at(file, filler, 8, at + n) != 0) return kNoRoom;
        const int32_t rc = write_new(file, at, head, headSize, body, bodySize);
        if (rc != 0) return rc;
        r.position = at + n + 8;
        r.size = rest;
        return 0;
    }

    // Appending is only safe when nothing follows the last form.
    const uint64_t riffExtent = static_cast<uint64_t>(tree.lastRiffSize) + (tree.lastRiffSize & 1u);
    if (tree.lastRiffPosition + 8 + riffExtent != tree.fileEnd) return kNoRoom;
    const uint64_t end = tree.fileEnd;
    // A form whose walk stopped short (zero-filled space, a chunk running
    // past its end) would hide bytes added to it: start a new form instead.
    if (tree.lastRiffWalked && riffExtent + 8 + n <= kFormLimit) {
        const int32_t rc = write_new(file, end, head, headSize, body, bodySize);
        if (rc != 0) return rc;
        unsigned char size[4];
        const uint32_t newSize = static_cast<uint32_t>(riffExtent + n);
        put32(size, newSize);
        if (write_at(file, size, 4, tree.lastRiffPosition + 4) != 0) return kNoRoom;
        tree.lastRiffSize = newSize;
        tree.fileEnd = end + n;
        for (std::size_t i = tree.count(); i-- > 0;) {
            if (tree[i].ckid == fourcc("RIFF") && tree[i].parentType == 0) {
                tree[i].size = newSize - 4;
                tree[i].parentEnd = tree.fileEnd;
                break;
            }
        }
        return 0;
    }
    const int32_t rc = write_new(file, end + 12, head, headSize, body, bodySize);
    if (rc != 0) return rc;
    unsigned char form[12];
    put32(form, fourcc("RIFF"));
    put32(form + 4, static_cast<uint32_t>(n + 4));
    put32(form + 8, fourcc("AVIX"));
    if (write_at(file, form, 12, end) != 0) return kNoRoom;
    tree.fileEnd = end + 12 + n;
    tree.lastRiffPosition = end;
    tree.lastRiffSize = static_cast<uint32_t>(n + 4);
    tree.lastRiffWalked = true;
    // The file is complete even when the map cannot take the new form's record.
    (void)tree.add({end + 12, fourcc("RIFF"), static_cast<uint32_t>(n), 0, tree.fileEnd});
    return 0;
}

}  // namespace vx::chunks
