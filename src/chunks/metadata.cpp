// Metadata chunks addressed by id, and the pixel aspect ratio kept in one.
#include <vxmedia/avichunks.h>

#include <algorithm>
#include <cstring>

#include "chunks/chunk_io.h"
#include "chunks/chunk_tree.h"
#include "chunks/room.h"
#include "util/byte_io.h"

using namespace vx::chunks;
using vx::fourcc;

namespace {

uint32_t be32(const unsigned char* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}
void put_be32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

// Ids that name structure, not data: replacing one would break the file.
bool reserved_id(FOURCC id) {
    return id == 0 || id == fourcc("RIFF") || id == fourcc("LIST") || id == fourcc("movi");
}

}  // namespace

VXAPI int32_t VXCALL vfwGetMetaData(HANDLE file, FOURCC ckid, void* buffer, uint32_t* size) {
    if (size == nullptr) return -1;
    ChunkTree tree;
    if (tree.build(file) != BuildResult::kOk) return -1;
    const ChunkRecord* r = tree.lookup(ckid, 0);
    if (r == nullptr) return -1;
    if (buffer == nullptr) {
        *size = r->size;
        return 0;
    }
    const uint32_t count = std::min(r->size, *size);
    if (count > 0 && read_at(file, buffer, count, r->position) != 0) return -1;
    return 0;
}

VXAPI int32_t VXCALL vfwSetMetaData(HANDLE file, FOURCC ckid, const void* data, uint32_t size) {
    if (size > 0 && data == nullptr) return 1;
    ChunkTree tree;
    if (tree.build(file) != BuildResult::kOk) return kNoRoom;
    if (tree.empty()) return -1;
    if (reserved_id(ckid)) return 1;
    const std::size_t i = tree.find(ckid, 0);
    bool retire = false;
    uint64_t old = 0;  // the old chunk's header
    if (i < tree.count()) {
        ChunkRecord& r = tree[i];
        if (!r.inside_parent() || r.position < 8) return kNoRoom;
        if (r.size == size)
            return size == 0 ? 0 : setter_result(write_at(file, data, size, r.position));
        // The old chunk stays in the file as filler, and may itself take the
        // new one; in the map first, so that it is retired only once the new
        // chunk is known to have room.
        r.ckid = fourcc("JUNQ");
        retire = true;
        old = r.position - 8;
    }
    unsigned char head[8];
    put32(head, ckid);
    put32(head + 4, size);
    const NewChunk chunk{head, 8, data, size};
    RoomPlan plan;
    if (!plan.make(tree, &chunk, 1)) return kNoRoom;
    if (retire) {
        unsigned char filler[4];
        put32(filler, fourcc("JUNQ"));
        if (const int32_t rc = write_at(file, filler, 4, old); rc != 0) return setter_result(rc);
    }
    return setter_result(plan.write(file, tree));
}

VXAPI int32_t VXCALL vfwSetAspectData(HANDLE file, int32_t numerator, int32_t denominator) {
    unsigned char rec[VX_ASPECT_RECORD_SIZE] = {};
    put_be32(rec, VX_ASPECT_TAG);
    put_be32(rec + 4, VX_ASPECT_RECORD_SIZE);
    rec[8] = 0;
    rec[9] = 1;  // version 1, reserved 0
    put_be32(rec + 12, static_cast<uint32_t>(numerator));
    put_be32(rec + 16, static_cast<uint32_t>(denominator));
    return vfwSetMetaData(file, VX_CKID_ASPECT, rec, sizeof rec);
}

VXAPI int32_t VXCALL vfwGetAspectData(HANDLE file, int32_t* numerator, int32_t* denominator) {
    uint32_t size = 0;
    if (vfwGetMetaData(file, VX_CKID_ASPECT, nullptr, &size) != 0 || size < VX_ASPECT_RECORD_SIZE) {
        return 0;
    }
    unsigned char rec[VX_ASPECT_RECORD_SIZE];
    size = sizeof rec;  // the record only; any longer chunk is not read
    if (vfwGetMetaData(file, VX_CKID_ASPECT, rec, &size) != 0) return 0;
    if (be32(rec) != VX_ASPECT_TAG || be32(rec + 4) != VX_ASPECT_RECORD_SIZE || rec[8] != 0 ||
        rec[9] != 1 || rec[10] != 0 || rec[11] != 0) {
        return 0;
    }
    if (numerator != nullptr) *numerator = static_cast<int32_t>(be32(rec + 12));
    if (denominator != nullptr) *denominator = static_cast<int32_t>(be32(rec + 16));
    return 1;
}
