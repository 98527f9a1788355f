// Timecode, reel name and comment texts: the "Tdat" and "Cdat" lists and the
// "ISMT" chunk of the header list.
#include <vxmedia/avichunks.h>

#include <cstring>
#include <optional>

#include "chunks/chunk_io.h"
#include "chunks/chunk_text.h"
#include "chunks/chunk_tree.h"
#include "chunks/room.h"
#include "platform/file.h"
#include "util/byte_io.h"

namespace vx::chunks {
namespace {

// Chars of a timecode kept in "ISMT".
constexpr uint32_t kIsmtChars = 11;

void copy_text(char* out, const char* text, std::size_t field) {
    if (out == nullptr) return;
    const std::size_t n = strnlen(text, field - 1);
    std::memcpy(out, text, n);
    out[n] = '\0';
}

void read_into(HANDLE file, const ChunkTree& tree, FOURCC id, FOURCC list, char* out,
               uint32_t field) {
    if (const ChunkRecord* r = tree.lookup(id, list)) read_text(file, *r, out, field);
}

// A copy: adding chunks changes the map.
std::optional<ChunkRecord> copy_of(const ChunkTree& tree, FOURCC id, FOURCC list) {
    const ChunkRecord* r = tree.lookup(id, list);
    return r != nullptr ? std::optional<ChunkRecord>(*r) : std::nullopt;
}

// Rewrites "ISMT" with the first characters of the timecode and zeros.
void update_ismt(HANDLE file, const ChunkRecord& r, const char* tc) {
    if (!r.inside_parent()) return;
    unsigned char block[256] = {};
    std::memcpy(block, tc, strnlen(tc, kIsmtChars));
    for (uint64_t done = 0; done < r.size;) {
        const auto n = static_cast<uint32_t>(std::min<uint64_t>(sizeof block, r.size - done));
        if (write_at(file, block, n, r.position + done) != 0) return;
        if (done == 0) std::memset(block, 0, sizeof block);
        done += n;
    }
}

}  // namespace
}  // namespace vx::chunks

using namespace vx::chunks;
using vx::fourcc;

VXAPI void VXCALL vfwGetTimeCode(HANDLE file, char* tcO, char* tcA, char* rnO, char* rnA,
                                 char* comment) {
    AviTimeData t{};
    ChunkTree tree;
    if (tree.build(file) == BuildResult::kOk && !tree.empty()) {
        char ismt[sizeof t.tc_O] = {};
        const ChunkRecord* ismtRec = tree.lookup(VX_CKID_ISMT, fourcc("hdrl"));
        const ChunkRecord* tcORec = tree.lookup(fourcc("tc_O"), VX_CKID_TDAT);
        const ChunkRecord* tcARec = tree.lookup(fourcc("tc_A"), VX_CKID_TDAT);
        if (tcORec != nullptr) read_text(file, *tcORec, t.tc_O, sizeof t.tc_O);
        if (tcARec != nullptr) read_text(file, *tcARec, t.tc_A, sizeof t.tc_A);
        if (tcORec == nullptr && tcARec == nullptr && ismtRec != nullptr &&
            read_text(file, *ismtRec, ismt, sizeof ismt)) {
            std::memcpy(t.tc_O, ismt, kIsmtChars);
        }
        read_into(file, tree, fourcc("rn_O"), VX_CKID_TDAT, t.rn_O, sizeof t.rn_O);
        read_into(file, tree, fourcc("rn_A"), VX_CKID_TDAT, t.rn_A, sizeof t.rn_A);
        read_into(file, tree, fourcc("cmnt"), VX_CKID_CDAT, t.cmnt, sizeof t.cmnt);
    }
    copy_text(tcO, t.tc_O, sizeof t.tc_O);
    copy_text(tcA, t.tc_A, sizeof t.tc_A);
    copy_text(rnO, t.rn_O, sizeof t.rn_O);
    copy_text(rnA, t.rn_A, sizeof t.rn_A);
    copy_text(comment, t.cmnt, sizeof t.cmnt);
}

VXAPI int32_t VXCALL vfwAddTimeData(HANDLE file, const AviTimeData* data) {
    if (data == nullptr) return 1;
    ChunkTree tree;
    if (tree.build(file) != BuildResult::kOk) return kNoRoom;
    if (tree.empty()) return 0;
    // Fields that are not terminated are cut to their size minus one.
    AviTimeData t{};
    copy_text(t.tc_O, data->tc_O, sizeof t.tc_O);
    copy_text(t.tc_A, data->tc_A, sizeof t.tc_A);
    std::memcpy(t.rn_O, data->rn_O, sizeof t.rn_O);
    std::memcpy(t.rn_A, data->rn_A, sizeof t.rn_A);
    std::memcpy(t.cmnt, data->cmnt, sizeof t.cmnt);
    t.rn_O[sizeof t.rn_O - 1] = t.rn_A[sizeof t.rn_A - 1] = t.cmnt[sizeof t.cmnt - 1] = '\0';

    const auto ismt = copy_of(tree, VX_CKID_ISMT, fourcc("hdrl"));
    const auto tcO = copy_of(tree, fourcc("tc_O"), VX_CKID_TDAT);
    const auto tcA = copy_of(tree, fourcc("tc_A"), VX_CKID_TDAT);
    const auto rnO = copy_of(tree, fourcc("rn_O"), VX_CKID_TDAT);
    const auto rnA = copy_of(tree, fourcc("rn_A"), VX_CKID_TDAT);
    const auto cmnt = copy_of(tree, fourcc("cmnt"), VX_CKID_CDAT);
    NewList<VX_TDAT_LIST_BYTES> tdat(VX_CKID_TDAT);
    NewList<VX_CDAT_LIST_BYTES> cdat(VX_CKID_CDAT);
    NewChunk lists[2];
    std::size_t count = 0;
    if (!tcO) {
        tdat.chunk(fourcc("tc_O"), t.tc_O, sizeof t.tc_O);
        tdat.chunk(fourcc("tc_A"), t.tc_A, sizeof t.tc_A);
        tdat.chunk(fourcc("rn_O"), t.rn_O, sizeof t.rn_O);
        tdat.chunk(fourcc("rn_A"), t.rn_A, sizeof t.rn_A);
        const auto list = tdat.as_new();
        if (!list) return kNoRoom;
        lists[count++] = *list;
    }
    if (!cmnt) {
        cdat.chunk(fourcc("cmnt"), t.cmnt, sizeof t.cmnt);
        const auto list = cdat.as_new();
        if (!list) return kNoRoom;
        lists[count++] = *list;
    }
    // Every new list is placed before the first byte is written: a file
    // without room for one of them is left as it was, its stored texts too.
    const int32_t result = count > 0 ? add_chunks(file, tree, lists, count) : 0;
    if (result == 0) {
        // In-place updates: failures are not reported.
        if (ismt && t.tc_O[0] != '\0') update_ismt(file, *ismt, t.tc_O);
        if (tcO) {
            if (t.tc_O[0] != '\0') (void)overwrite(file, *tcO, t.tc_O, sizeof t.tc_O);
            if (tcA && t.tc_A[0] != '\0') (void)overwrite(file, *tcA, t.tc_A, sizeof t.tc_A);
            if (rnO) (void)overwrite(file, *rnO, t.rn_O, sizeof t.rn_O);
            if (rnA) (void)overwrite(file, *rnA, t.rn_A, sizeof t.rn_A);
        }
        if (cmnt) (void)overwrite(file, *cmnt, t.cmnt, sizeof t.cmnt);
    }
    vx::platform::flush_file(file);
    return setter_result(result);
}
