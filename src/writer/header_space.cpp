// The header space at the start of the file: its size, fixed at the first
// chunk, and the header list written into it at close.
#include <cstdlib>
#include <cstring>

#include "util/byte_io.h"
#include "writer/writer_internal.h"

namespace vx::writer {

namespace {

constexpr uint64_t kReserveBase = 800;
constexpr uint64_t kStreamFixed = 116;  // strl 12, strh 64, strf header 8, indx headers 32
constexpr uint64_t kFirstSegmentFixed = 20;

uint64_t even(uint64_t v) { return v + (v & 1); }

}  // namespace

uint32_t header_reserve(AviWriter* w, uint64_t need) {
    const uint64_t streams = w->mainHeader.dwStreams;
    uint64_t base = kReserveBase;
    for (const AviWriterStream* s = w->streams; s != w->streamsEnd; ++s)
        base += s->formatSize + kStreamFixed;
    base = even(base);
    const uint64_t perSlot = 16 * streams;
    const uint64_t fixed = kStreamSegmentOverhead * streams + kFirstSegmentFixed;
    const uint64_t budget = w->segmentSize;
    // Super index slots that would leave no room for the first chunk are
    // given up, and with them the segments they would have indexed.
    if (perSlot != 0 && base + fixed + perSlot * w->superIndexSlots + need > budget) {
        const uint64_t room = budget > base + fixed + need ? budget - (base + fixed + need) : 0;
        const uint64_t fit = room / perSlot;
        if (fit < w->superIndexSlots) {
            w->superIndexSlots = static_cast<uint32_t>(fit);
            if (w->segmentLimit > w->superIndexSlots) w->segmentLimit = w->superIndexSlots;
        }
    }
    const uint64_t reserve = base + perSlot * w->superIndexSlots;
    return reserve > UINT32_MAX - 1 ? 0 : static_cast<uint32_t>(reserve);
}

namespace {

// The header list up to the filler's header; its size is what it takes.
void write_header_list(const AviWriter* w, uint32_t dmlhFrames, ByteWriter& b) {
    b.u32(fourcc("RIFF"));
    b.u32(static_cast<uint32_t>(w->firstRiffEnd - 8));
    b.u32(fourcc("AVI "));
    const std::size_t hdrl = b.open_list(fourcc("LIST"), fourcc("hdrl"));
    b.chunk(fourcc("avih"), &w->mainHeader, sizeof(MainAVIHeader));
    for (const AviWriterStream* s = w->streams; s != w->streamsEnd; ++s) {
        const std::size_t strl = b.open_list(fourcc("LIST"), fourcc("strl"));
        b.chunk(fourcc("strh"), &s->header, 56);
        b.chunk(fourcc("strf"), s->format, s->formatSize);
        if (s->superIndexUsed > 0) {
            b.u32(fourcc("indx"));
            b.u32(24 + 16 * s->superIndexUsed);
            b.u16(4);
            b.u8(0);
            b.u8(0);  // an index of indexes
            b.u32(s->superIndexUsed);
            b.u32(s->chunkId);
            b.zeros(12);
            for (uint32_t i = 0; i < s->superIndexUsed; ++i) {
                b.u64(s->superIndex[i].qwOffset);
                b.u32(s->superIndex[i].dwSize);
                b.u32(s->superIndex[i].dwDuration);
            }
        }
        b.close_list(strl);
    }
    if (w->extensionCount > 0) {
        const std::size_t odml = b.open_list(fourcc("LIST"), fourcc("odml"));
        b.u32(fourcc("dmlh"));
        b.u32(248);
        b.u32(dmlhFrames);
        b.zeros(244);
        b.close_list(odml);
    }
    b.close_list(hdrl);
}

}  // namespace

bool build_header_list(const AviWriter* w, uint32_t dmlhFrames, uint8_t** data, uint32_t* size) {
    *data = nullptr;
    *size = 0;
    ByteWriter measured = ByteWriter::measure();
    write_header_list(w, dmlhFrames, measured);
    const uint64_t total = measured.size() + 8;
    // The list and the filler's header must end inside the reserved space.
    if (total > w->headerReserve) return false;
    auto* out = static_cast<uint8_t*>(std::malloc(total));
    if (out == nullptr) return false;
    ByteWriter b(out, total);
    write_header_list(w, dmlhFrames, b);
    // The filler runs from here to the first movie list.
    b.u32(fourcc("JUNQ"));
    b.u32(static_cast<uint32_t>(w->headerReserve - (b.size() + 4)));
    if (b.overflow()) {
        std::free(out);
        return false;
    }
    *data = out;
    *size = static_cast<uint32_t>(b.size());
    return true;
}

}  // namespace vx::writer
