// The pull-up pair: "pulT" and "pulS" in a "Pdat" list.
#include <vxmedia/avichunks.h>

#include "chunks/chunk_io.h"
#include "chunks/chunk_text.h"
#include "chunks/chunk_tree.h"
#include "chunks/room.h"
#include "platform/file.h"
#include "util/byte_io.h"

using namespace vx::chunks;
using vx::fourcc;

namespace {

bool read_value(HANDLE file, const ChunkTree& tree, FOURCC id, int32_t* value) {
    const ChunkRecord* r = tree.lookup(id, VX_CKID_PDAT);
    unsigned char b[4];
    if (r == nullptr || r->size < 4 || read_at(file, b, 4, r->position) != 0) return false;
    *value = static_cast<int32_t>(vx::le32(b));
    return true;
}

}  // namespace

VXAPI int32_t VXCALL vfwGetPullUpData(HANDLE file, int32_t* pullT, int32_t* pullS) {
    ChunkTree tree;
    if (tree.build(file) != BuildResult::kOk || tree.empty()) return 0;
    int32_t t = 0, s = 0;
    if (!read_value(file, tree, fourcc("pulT"), &t) ||
        !read_value(file, tree, fourcc("pulS"), &s)) {
        return 0;
    }
    if (pullT != nullptr) *pullT = t;
    if (pullS != nullptr) *pullS = s;
    return 1;
}

VXAPI int32_t VXCALL vfwSetPullUpData(HANDLE file, int32_t pullT, int32_t pullS) {
    ChunkTree tree;
    if (tree.build(file) != BuildResult::kOk) return kNoRoom;
    if (tree.empty()) return 0;
    unsigned char t[4], s[4];
    put32(t, static_cast<uint32_t>(pullT));
    put32(s, static_cast<uint32_t>(pullS));
    int32_t result = 0;
    if (const ChunkRecord* r = tree.lookup(fourcc("pulT"), VX_CKID_PDAT)) {
        // In-place updates: failures are not reported.
        (void)overwrite(file, *r, t, 4);
        if (const ChunkRecord* rs = tree.lookup(fourcc("pulS"), VX_CKID_PDAT)) {
            (void)overwrite(file, *rs, s, 4);
        }
    } else {
        NewList<VX_PDAT_LIST_BYTES> list(VX_CKID_PDAT);
        list.chunk(fourcc("pulT"), t, 4);
        list.chunk(fourcc("pulS"), s, 4);
        const auto built = list.as_new();
        result = built ? add_chunks(file, tree, &*built, 1) : kNoRoom;
    }
    vx::platform::flush_file(file);
    return setter_result(result);
}
