/* AVI reading: opening files, header access, sample reads.
 *
 * The host opens the file itself and passes its handle (see vxtypes.h for
 * what a HANDLE is on Linux). The reader never closes that handle.
 */
#ifndef VXMEDIA_AVIREADER_H
#define VXMEDIA_AVIREADER_H

#include "vxtypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Lock storage inside the reader: the platform's critical section on
 * Windows; on Linux room for a recursive pthread mutex. */
#ifdef _WIN32
typedef CRITICAL_SECTION VxCriticalSection;
#else
typedef struct VxCriticalSection {
    union {
        unsigned char bytes[64];
        void* align_pointer;
        long long align_long;
    } storage;
} VxCriticalSection;
#endif

#define VX_MAX_PATH 260

/* One sample chunk of a stream, in index order. */
typedef struct AviIndexEntry {
    uint64_t offset; /* absolute position of the chunk's data */
    uint32_t size;   /* data size in bytes */
    uint32_t flags;  /* AVIIF_ flags (bit 30 clear) */
} AviIndexEntry;

typedef struct AviStreamIndex {
    uint32_t count;
    FOURCC chunkId;
    AviIndexEntry* entries;
} AviStreamIndex;

typedef struct AviStreamRecord {
    AVIStreamHeader header; /* "strh" as read, 64 bytes */
    void* format;           /* raw "strf" bytes, or null */
    uint32_t formatSize;
    void* codecData; /* raw "strd" bytes, or null */
    uint32_t codecDataSize;
} AviStreamRecord;

typedef struct AviReader {
    MainAVIHeader mainHeader; /* first member: aviGetAVIHeader returns the reader */
    AviStreamRecord* streams;
    uint32_t indexFlags; /* bit 0: a non-key sample; bit 1: an empty timed video entry */
    int32_t videoStream;
    int32_t audioStream;
    int32_t audioCursorSample;
    int32_t audioCursorEntry;
    void* riffParser; /* only while aviOpen runs */
    HANDLE fileRef;
    HANDLE cacheHandle;
    VxCriticalSection cacheLock;
    int32_t cacheLockReady;
    char fileName[VX_MAX_PATH];
    uint8_t useCache;
    AviStreamIndex videoIndex;
    AviStreamIndex audioIndex;
} AviReader;

typedef struct AviStreamSummary {
    uint32_t entries;
    uint32_t emptyEntries;
    uint32_t keyEntries;
    uint32_t deltaEntries;
    uint32_t totalBytesLow;
    uint32_t totalBytesHigh;
} AviStreamSummary;

typedef struct AviFrameInfo {
    uint32_t flags; /* 0x80000001 key frame, 1 otherwise */
    uint32_t size;
} AviFrameInfo;

#define AVI_INDEXFLAG_NOTKEY 0x1u
#define AVI_INDEXFLAG_EMPTY 0x2u

/* Opening and header access. */
VXAPI VXRESULT VXCALL aviOpen(AviReader** outReader, HANDLE fileRef, const char* fileName);
VXAPI VXRESULT VXCALL aviSetFileRef(AviReader* reader, HANDLE fileRef);
VXAPI VXRESULT VXCALL aviClose(AviReader* reader);
VXAPI uint32_t VXCALL aviGetStreamCount(AviReader* reader);
VXAPI MainAVIHeader* VXCALL aviGetAVIHeader(AviReader* reader);
VXAPI AviStreamRecord* VXCALL aviGetAVIStream(AviReader* reader, uint32_t stream);

/* Sample reads. */
VXAPI VXRESULT VXCALL aviReadFrame(AviReader* reader, int32_t frame, void* buffer, uint32_t* size,
                                   uint32_t* flags);
VXAPI VXRESULT VXCALL aviReadFramePtr(AviReader* reader, int32_t frame, unsigned char** data,
                                      uint32_t* size, uint32_t* flags, int32_t noCopy);
VXAPI VXRESULT VXCALL aviReadFramePtrRelease(void* data);
VXAPI VXRESULT VXCALL aviReadData(AviReader* reader, int32_t stream, uint32_t start,
                                  uint32_t count, void* buffer, uint32_t* size, uint32_t* flags,
                                  uint32_t* chunkId);
VXAPI VXRESULT VXCALL aviReadAudSamples(AviReader* reader, uint32_t start, uint32_t* count,
                                        void* buffer, uint32_t* size);
VXAPI VXRESULT VXCALL aviFindKeyFrame(AviReader* reader, uint32_t* position);
VXAPI VXRESULT VXCALL aviGetVideoFrameData(AviReader* reader, AviFrameInfo* info, uint32_t* size);
VXAPI VXRESULT VXCALL aviGetStreamSummary(AviReader* reader, int32_t stream,
                                          AviStreamSummary* summary);

#ifdef __cplusplus
} /* extern "C" */

static_assert(sizeof(AviIndexEntry) == 16, "AviIndexEntry layout");
static_assert(sizeof(AviStreamSummary) == 24, "AviStreamSummary layout");
static_assert(sizeof(AviFrameInfo) == 8, "AviFrameInfo layout");
static_assert(offsetof(AviReader, mainHeader) == 0, "AviReader layout");
static_assert(offsetof(AviStreamRecord, format) == 64, "AviStreamRecord layout");
#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(AviStreamRecord) == 80, "AviStreamRecord layout");
static_assert(sizeof(AviStreamIndex) == 12, "AviStreamIndex layout");
static_assert(offsetof(AviReader, streams) == 56, "AviReader layout");
static_assert(offsetof(AviReader, indexFlags) == 60, "AviReader layout");
static_assert(offsetof(AviReader, videoStream) == 64, "AviReader layout");
static_assert(offsetof(AviReader, audioStream) == 68, "AviReader layout");
static_assert(offsetof(AviReader, audioCursorSample) == 72, "AviReader layout");
static_assert(offsetof(AviReader, audioCursorEntry) == 76, "AviReader layout");
static_assert(offsetof(AviReader, riffParser) == 80, "AviReader layout");
static_assert(offsetof(AviReader, fileRef) == 84, "AviReader layout");
static_assert(offsetof(AviReader, cacheHandle) == 88, "AviReader layout");
static_assert(offsetof(AviReader, cacheLock) == 92, "AviReader layout");
static_assert(offsetof(AviReader, cacheLockReady) == 116, "AviReader layout");
static_assert(offsetof(AviReader, fileName) == 120, "AviReader layout");
static_assert(offsetof(AviReader, useCache) == 380, "AviReader layout");
static_assert(offsetof(AviReader, videoIndex) == 384, "AviReader layout");
static_assert(offsetof(AviReader, audioIndex) == 396, "AviReader layout");
static_assert(sizeof(AviReader) == 408, "AviReader layout");
#endif
#endif

#endif
