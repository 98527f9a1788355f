#include "riff_scan.h"

#include <algorithm>
#include <optional>

#include "util/riff_walker.h"

namespace vxavi {

namespace {

using Walker = vx::BasicRiffWalker<InputFile>;
using vx::fourcc;
using vx::RiffChunk;

constexpr uint32_t kIndxHeader = 24;

bool is_list(const RiffChunk& c, const char (&type)[5]) {
    return c.id == fourcc("LIST") && c.listType == fourcc(type);
}

IndxInfo read_indx(const Walker& w, const RiffChunk& c) {
    IndxInfo info;
    info.present = true;
    unsigned char h[kIndxHeader];
    if (!w.read(c, 0, h, kIndxHeader)) return info;
    const vx::ByteReader header(h, sizeof h);
    const uint16_t longs = header.u16(0);
    const uint8_t subType = header.u8(2);
    info.indexType = header.u8(3);
    info.entries = header.u32(4);
    info.chunkId = header.u32(8);
    if (kIndxHeader + 4ull * longs * info.entries > c.size || info.entries == 0) return info;
    if (info.indexType == 1) {
        info.usable = (subType == 0 && longs == 2) || (subType == 1 && longs == 3);
        return info;
    }
    if (info.indexType != 0 || subType > 1 || longs != 4) return info;
    // A super index counts when it has a duration and a standard index chunk
    // that the file really holds.
    const uint64_t fileSize = w.file().size();
    uint64_t durations = 0;
    bool reachable = false;
    for (uint32_t i = 0; i < info.entries; ++i) {
        unsigned char e[16];
        if (!w.read(c, kIndxHeader + 16ull * i, e, 16)) return info;
        const vx::ByteReader entry(e, sizeof e);
        const uint64_t offset = entry.u64(0);
        const uint32_t size = entry.u32(8);
        durations += entry.u32(12);
        if (offset != 0 && size > 8 && offset <= fileSize && size <= fileSize - offset)
            reachable = true;
    }
    info.usable = durations != 0 && reachable;
    return info;
}

void scan_header_list(const Walker& w, const RiffChunk& hdrl, RiffLayout* out) {
    w.members(hdrl, [&](const RiffChunk& c) {
        if (is_list(c, "strl")) {
            IndxInfo info;
            w.members(c, [&](const RiffChunk& s) {
                if (s.id != fourcc("indx")) return true;
                info = read_indx(w, s);
                return false;
            });
            out->indx.push_back(info);
        }
        return true;
    });
}

}  // namespace

RiffLayout scan_layout(const InputFile& file) {
    RiffLayout out;
    const Walker w(file);
    std::optional<RiffChunk> first;
    w.children(0, file.size(), [&](const RiffChunk& c) {
        if (c.id != fourcc("RIFF")) return true;
        Segment s{c.listType, c.headerPos, c.size, c.truncated()};
        w.members(c, [&](const RiffChunk& m) {
            if (!is_list(m, "movi")) return true;
            s.moviBegin = m.membersPos();
            s.moviEnd = std::max(s.moviBegin, m.end);
            return false;
        });
        out.segments.push_back(s);
        if (!first && c.listType == fourcc("AVI ")) first = c;
        return true;
    });
    if (!first) return out;

    // The form's own size is not trusted for "idx1": some writers store it
    // too short. The search ends at the next top-level form.
    bool afterMovi = false;
    w.children(first->membersPos(), file.size(), [&](const RiffChunk& c) {
        if (c.id == fourcc("RIFF")) return false;
        if (is_list(c, "hdrl") && out.indx.empty()) {
            scan_header_list(w, c, &out);
        } else if (is_list(c, "movi") && !afterMovi) {
            afterMovi = true;
            out.moviTruncated = c.truncated();
            if (out.moviTruncated) return false;
        } else if (afterMovi && c.id == fourcc("idx1")) {
            out.hasIdx1 = c.available() >= 16;
            return false;
        }
        return true;
    });
    return out;
}

}  // namespace vxavi
