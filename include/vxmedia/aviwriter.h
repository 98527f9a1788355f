/* AVI writing: one file written in one pass, stream by stream.
 *
 * Calling order: avifileOpen; avifileAddStream for every stream; chunks in
 * file order (avifileWrite, or avifileBeginWrite2 / avifileContinueWrite /
 * avifileEndWrite for a chunk written in pieces), avifileEndRecord after the
 * last chunk of each interleave record; avifileClose, which always frees the
 * writer.
 */
#ifndef VXMEDIA_AVIWRITER_H
#define VXMEDIA_AVIWRITER_H

#include "vxtypes.h"

#ifdef __cplusplus
extern "C" {
#endif

#define VX_WRITER_MAX_STREAMS 16

/* A chunk or list being written. The host allocates one for every chunk it
 * writes in pieces, so its 20-byte layout is shared with callers. */
#pragma pack(push, 4)
typedef struct AviChunkInfo {
    FOURCC ckid;       /* chunk id, or "RIFF" / "LIST" */
    uint32_t cksize;   /* bytes after the 8-byte header so far */
    FOURCC fccType;    /* form or list type; 0 for a plain chunk */
    uint64_t position; /* file position of the 8-byte header */
} AviChunkInfo;
#pragma pack(pop)

/* One entry of the classic index ("idx1"), as on disk. */
typedef struct AviIdx1Entry {
    FOURCC ckid;
    uint32_t dwFlags;
    uint32_t dwChunkOffset;
    uint32_t dwChunkLength;
} AviIdx1Entry;

/* One entry of an OpenDML super index ("indx"), as on disk. */
typedef struct AviSuperIndexEntry {
    uint64_t qwOffset;   /* position of a standard index chunk's header */
    uint32_t dwSize;     /* that chunk's size including its header */
    uint32_t dwDuration; /* time it covers, in the stream's units */
} AviSuperIndexEntry;

typedef struct AviWriterStream {
    uint32_t formatSize;
    void* format;           /* owned copy, written as "strf" */
    AVIStreamHeader header; /* first 56 bytes written as "strh" */
    FOURCC chunkId;         /* id of the stream's latest data chunk */
    uint32_t superIndexUsed;
    AviSuperIndexEntry* superIndex; /* owned, superIndexSlots entries */
    int32_t indexCountdown;
    uint32_t maxChunkSize;
} AviWriterStream;

typedef struct AviWriter {
    HANDLE file;
    uint64_t maxFileSize;
    uint64_t sizeLeft;
    uint32_t extensionCount;
    uint32_t segmentLimit;
    uint32_t segmentSize;
    uint64_t firstRiffEnd;
    uint64_t riffStart;
    uint32_t segmentLeft;
    uint8_t segmentClosed;
    uint32_t headerReserve;
    uint32_t superIndexSlots;
    void* entries; /* the current segment's index, in the library's own form */
    uint32_t entryCount;
    uint32_t entryCapacity;
    uint32_t recordEntry;
    AviChunkInfo riffChunk;
    AviChunkInfo moviChunk;
    AviChunkInfo recordChunk;
    MainAVIHeader mainHeader;
    AviWriterStream streams[VX_WRITER_MAX_STREAMS];
    AviWriterStream* streamsEnd;
} AviWriter;

VXAPI VXRESULT VXCALL avifileOpen(AviWriter** outWriter, const char* path,
                                  const MainAVIHeader* mainHeader);
/* 1 when `bytes` no longer fit in the file's size allowance, else 0. */
VXAPI int32_t VXCALL avifileCheckSpace(AviWriter* writer, uint32_t bytes);
/* Does nothing; kept for callers that still call it. */
VXAPI VXRESULT VXCALL avifileWriteToHeader(void);
VXAPI VXRESULT VXCALL avifileAddStream(AviWriter* writer, int32_t* outStream,
                                       const AVIStreamHeader* header, const void* format,
                                       uint32_t formatSize);

VXAPI VXRESULT VXCALL avifileBeginWrite2(AviWriter* writer, int32_t stream, const void* data,
                                         uint32_t size, uint32_t budget, uint32_t type,
                                         uint32_t flags, AviChunkInfo* chunk);
VXAPI VXRESULT VXCALL avifileContinueWrite(AviWriter* writer, const void* data, uint32_t count,
                                           AviChunkInfo* chunk);
VXAPI VXRESULT VXCALL avifileEndWrite(AviWriter* writer, int32_t stream, uint32_t flags,
                                      AviChunkInfo* chunk);
VXAPI VXRESULT VXCALL avifileWrite(AviWriter* writer, int32_t stream, const void* data,
                                   uint32_t size, uint32_t type, uint32_t flags);
VXAPI VXRESULT VXCALL avifileEndRecord(AviWriter* writer);
VXAPI VXRESULT VXCALL avifileClose(AviWriter* writer, uint32_t videoFrames, uint32_t audioLength);

#ifdef __cplusplus
} /* extern "C" */

static_assert(sizeof(AviChunkInfo) == 20, "AviChunkInfo layout");
static_assert(offsetof(AviChunkInfo, cksize) == 4, "AviChunkInfo layout");
static_assert(offsetof(AviChunkInfo, fccType) == 8, "AviChunkInfo layout");
static_assert(offsetof(AviChunkInfo, position) == 12, "AviChunkInfo layout");
static_assert(sizeof(AviIdx1Entry) == 16, "AviIdx1Entry layout");
static_assert(sizeof(AviSuperIndexEntry) == 16, "AviSuperIndexEntry layout");
static_assert(offsetof(AviWriterStream, header) == 2 * sizeof(void*), "AviWriterStream layout");
#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(AviWriterStream) == 92, "AviWriterStream layout");
static_assert(offsetof(AviWriterStream, chunkId) == 72, "AviWriterStream layout");
static_assert(offsetof(AviWriterStream, superIndex) == 80, "AviWriterStream layout");
static_assert(offsetof(AviWriterStream, maxChunkSize) == 88, "AviWriterStream layout");
static_assert(offsetof(AviWriter, maxFileSize) == 8, "AviWriter layout");
static_assert(offsetof(AviWriter, sizeLeft) == 16, "AviWriter layout");
static_assert(offsetof(AviWriter, extensionCount) == 24, "AviWriter layout");
static_assert(offsetof(AviWriter, segmentSize) == 32, "AviWriter layout");
static_assert(offsetof(AviWriter, firstRiffEnd) == 40, "AviWriter layout");
static_assert(offsetof(AviWriter, riffStart) == 48, "AviWriter layout");
static_assert(offsetof(AviWriter, segmentLeft) == 56, "AviWriter layout");
static_assert(offsetof(AviWriter, segmentClosed) == 60, "AviWriter layout");
static_assert(offsetof(AviWriter, headerReserve) == 64, "AviWriter layout");
static_assert(offsetof(AviWriter, entries) == 72, "AviWriter layout");
static_assert(offsetof(AviWriter, recordEntry) == 84, "AviWriter layout");
static_assert(offsetof(AviWriter, riffChunk) == 88, "AviWriter layout");
static_assert(offsetof(AviWriter, moviChunk) == 108, "AviWriter layout");
static_assert(offsetof(AviWriter, recordChunk) == 128, "AviWriter layout");
static_assert(offsetof(AviWriter, mainHeader) == 148, "AviWriter layout");
static_assert(offsetof(AviWriter, streams) == 204, "AviWriter layout");
static_assert(offsetof(AviWriter, streamsEnd) == 1676, "AviWriter layout");
static_assert(sizeof(AviWriter) == 1680, "AviWriter layout");
#endif
#endif

#endif
