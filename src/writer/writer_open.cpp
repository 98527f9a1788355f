// avifileOpen: file creation, the size allowance and the segment plan.
#include <vxmedia/avireader.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/file.h"
#include "util/host.h"
#include "writer/writer_internal.h"

namespace vx::writer {

namespace {

constexpr uint64_t kMiB = 1u << 20;

uint64_t add_sat(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

}  // namespace

SegmentPlan plan_segments(uint64_t allowance, uint32_t segmentMiB, uint32_t expectedFrames) {
    const uint64_t s = static_cast<uint64_t>(segmentMiB) * kMiB;
    if (allowance < s) return {static_cast<uint32_t>(allowance), 0, 0};
    // In 64 bits and saturating: a huge allowance must not wrap to a tiny
    // segment count.
    const uint64_t q = allowance / s;
    const uint64_t segments = add_sat(add_sat(q, q), 2);
    uint64_t limit = segments < expectedFrames ? segments : expectedFrames;
    limit += 2;
    if (limit > UINT32_MAX) limit = UINT32_MAX;
    const uint64_t byFrames = expectedFrames / static_cast<uint32_t>(kIndexCountdown) + 1;
    const uint64_t slots = byFrames > limit ? byFrames : limit;
    return {static_cast<uint32_t>(s), static_cast<uint32_t>(limit), static_cast<uint32_t>(slots)};
}

}  // namespace vx::writer

using namespace vx;
using namespace vx::writer;

VXAPI VXRESULT VXCALL avifileOpen(AviWriter** outWriter, const char* path,
                                  const MainAVIHeader* mainHeader) {
    if (outWriter == nullptr || path == nullptr || mainHeader == nullptr)
        return record(AVIERR_FILEOPEN, site::easy::kOpen);
    const HANDLE file = platform::create_for_writing(path);
    if (file == INVALID_HANDLE_VALUE) return record(AVIERR_FILEOPEN, site::easy::kOpen);

    auto* w = static_cast<WriterImpl*>(std::calloc(1, sizeof(WriterImpl)));
    if (w == nullptr) {
        (void)platform::close_checked(file);
        return record(AVIERR_MEMORY, site::easy::kOpen);
    }
    new (&w->out) FileWriter();
    w->out.attach(file);
    AviWriter& p = w->pub;
    p.file = file;
    p.mainHeader = *mainHeader;
    p.streamsEnd = p.streams;
    p.mainHeader.dwStreams = 0;

    const uint32_t mib = segment_mib();
    // The host's allowance query takes a path of at most 259 characters.
    char shortPath[VX_MAX_PATH] = {};
    std::strncpy(shortPath, path, sizeof(shortPath) - 1);
    p.maxFileSize = VxGetMaxFileSize(shortPath);
    p.sizeLeft = p.maxFileSize;

    const SegmentPlan plan = plan_segments(p.maxFileSize, mib, p.mainHeader.dwTotalFrames);
    p.segmentSize = plan.segmentSize;
    p.segmentLimit = plan.segmentLimit;
    p.superIndexSlots = plan.superIndexSlots;

    if (!w->index.grow()) {
        (void)platform::close_checked(file);
        std::free(w);
        return record(AVIERR_MEMORY, site::easy::kOpen);
    }
    p.entries = w->index.blocks();
    p.entryCapacity = static_cast<uint32_t>(w->index.capacity());
    *outWriter = &w->pub;
    return 0;
}

VXAPI int32_t VXCALL avifileCheckSpace(AviWriter* writer, uint32_t bytes) {
    if (writer == nullptr) return 1;
    const uint64_t left = writer->sizeLeft > UINT64_MAX - writer->segmentLeft
                              ? UINT64_MAX
                              : writer->sizeLeft + writer->segmentLeft;
    return left < bytes ? 1 : 0;
}

VXAPI VXRESULT VXCALL avifileWriteToHeader(void) { return 0; }
