// Internals shared by the writer's files. The exported AviWriter is the first
// member of the library's own record, which adds what callers never see.
#pragma once

#include <vxmedia/aviwriter.h>

#include <cstdint>
#include <type_traits>

#include "util/byte_io.h"
#include "writer/file_writer.h"
#include "writer/segment_index.h"

namespace vx::writer {

// Fixed parts of the layout that the budgets are charged with.
inline constexpr uint32_t kChunkOverhead = 32;  // header, idx1 entry, standard index entry
inline constexpr uint32_t kRecordOverhead = 28;
inline constexpr uint32_t kStreamSegmentOverhead = 40;
inline constexpr int32_t kIndexCountdown = 4027;

struct WriterImpl {
    AviWriter pub;
    FileWriter out;
    SegmentIndex index;          // published through pub.entries, entryCount, entryCapacity
    AviChunkInfo* pending;       // the chunk begun and not yet ended, or null
    uint32_t pendingHeaderSize;  // the size its header was written with
};
static_assert(std::is_standard_layout_v<WriterImpl>);

inline WriterImpl* impl(AviWriter* w) { return reinterpret_cast<WriterImpl*>(w); }

// Budgets never go below 0: a segment that is overspent is simply full.
inline uint32_t charge(uint32_t left, uint64_t amount) {
    return amount >= left ? 0 : left - static_cast<uint32_t>(amount);
}
inline uint64_t charge64(uint64_t left, uint64_t amount) {
    return amount >= left ? 0 : left - amount;
}

inline bool interleaved(const AviWriter* w) {
    return (w->mainHeader.dwFlags & AVIF_ISINTERLEAVED) != 0;
}

// ---- settings.cpp
// The segment size in MiB (1..2048), read from the profile by the first call.
uint32_t segment_mib();
// Tests only: forces the cached value (0: read the profile again next time).
void set_segment_mib_for_testing(uint32_t mib);

// ---- open_plan.cpp
struct SegmentPlan {
    uint32_t segmentSize;
    uint32_t segmentLimit;
    uint32_t superIndexSlots;
};
SegmentPlan plan_segments(uint64_t allowance, uint32_t segmentMiB, uint32_t expectedFrames);

// ---- header_space.cpp
// Sizes the header space before the first chunk of `need` bytes; may lower
// superIndexSlots and segmentLimit so that the chunk fits the first segment.
uint32_t header_reserve(AviWriter* w, uint64_t need);
// Builds the header list (RIFF header up to the filler's header) for close.
bool build_header_list(const AviWriter* w, uint32_t dmlhFrames, uint8_t** data, uint32_t* size);

// ---- segments.cpp
VXRESULT start_first_segment(WriterImpl* w, uint64_t need);
VXRESULT start_extension(WriterImpl* w, uint64_t need);
// Ends the current segment with its indexes; failures are recorded.
VXRESULT end_segment(WriterImpl* w, bool extensionFollows);

// ---- chunks.cpp
// Rewrites a chunk's header with everything written after it and moves past
// it, writing the pad byte of an odd chunk.
// Writes the chunk's final size into its header, unless the header was
// already written with that size (`headerSize`), then pads it to even.
bool complete_chunk(WriterImpl* w, AviChunkInfo* chunk, uint64_t headerSize = UINT64_MAX);
// Writes a 12-byte RIFF or LIST header at the current position.
bool begin_list(WriterImpl* w, AviChunkInfo* chunk, uint32_t id, uint32_t type);
VXRESULT end_record(WriterImpl* w);

// ---- index.cpp
bool add_entry(WriterImpl* w, uint32_t ckid, uint32_t flags, uint32_t offset, uint32_t length);
VXRESULT write_standard_indexes(WriterImpl* w);
VXRESULT write_idx1(WriterImpl* w);
// Empties the index for the next segment.
void clear_entries(WriterImpl* w);

}  // namespace vx::writer
