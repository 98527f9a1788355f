/* The installed codecs, listed for the host: the video compressors with what
 * each can do, and the compressed audio formats of the audio codec drivers.
 * Both lists are built afresh on every call and handed to the caller in a
 * handle of the caller's memory table.
 */
#ifndef VXMEDIA_VXCODECS_H
#define VXMEDIA_VXCODECS_H

#include "vxtypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One video codec: 123 bytes, packed, little-endian. The handle holds the
 * records back to back; the count is its size / VX_CODEC_ENTRY_SIZE
 * (vxformats.h). Installed compressors come first, in the platform's order,
 * then the host's own entries from its resource 'CDEC' 1000. */
#pragma pack(push, 1)
typedef struct AVICodecEntry {
    uint16_t kind;           /* 0 installed compressor; host entries 0 or 1 */
    uint32_t handlerType;    /* the codec's four-character code */
    uint32_t bitmapType;     /* biCompression it produces; 0xFFFFFFFF unknown */
    uint16_t depthMask;      /* input accepted: 1 8-bit, 2 16, 4 24, 8 32 */
    uint16_t qualityFlag;    /* 1 when the codec controls quality */
    uint32_t flags;          /* VX_CODEC_ */
    uint32_t instance;       /* the open codec (HIC) when VX_CODEC_KEEP_OPEN */
    uint16_t defaultQuality; /* 0..10000; 0xFFFF for host entries */
    uint16_t defaultKeyRate; /* frames between key frames */
    int32_t hostA, hostB, hostC, hostD;
    uint8_t hostE;
    int32_t hostF, hostG;
    uint32_t compatible[8]; /* handler codes, unused slots 0 */
    char name[40];          /* NUL-terminated, at most 38 characters */
} AVICodecEntry;
#pragma pack(pop)

#define VX_CODEC_HAS_DIALOG 0x1u
#define VX_CODEC_QUALITY 0x2u
#define VX_CODEC_KEEP_OPEN 0x4u
#define VX_CODEC_TEMPORAL 0x8u
#define VX_CODEC_QUALITY_OR_CRUNCH 0x10u

/* The host's resource of its own codec entries, and the list's keys in the
 * installation's profile. */
#define VX_CODEC_RESOURCE_TYPE 0x43444543u /* 'CDEC' */
#define VX_CODEC_RESOURCE_ID 1000

/* The video codec list, or null when no codec and no host entry qualifies.
 * The instance of a kept-open codec (VX_CODEC_KEEP_OPEN) belongs to the
 * caller, as does the handle. Where an instance does not fit in 32 bits
 * (64-bit systems) the codec is closed and `instance` is 0; the flag stays. */
VXAPI VxHandle VXCALL GetAVICodecs(const HostMemFuncs* mem);

#define VX_ACM_MAX_CODECS 32
#define VX_ACM_MAX_RATES 16

/* The PCM rates at which a driver converts a format, with the channel
 * counts for each: VX_ACM_MONO, VX_ACM_STEREO. */
typedef struct ACMRateList {
    uint32_t count;
    uint32_t rates[VX_ACM_MAX_RATES];
    uint32_t channels[VX_ACM_MAX_RATES];
} ACMRateList;

#define VX_ACM_MONO 0x4u
#define VX_ACM_STEREO 0x8u

/* The compressed audio formats: one entry per format tag of each driver
 * (12684 bytes on 32-bit systems). */
typedef struct ACMCodecList {
    uint32_t count;
    /* The count of entries listed before the last driver that has exactly
     * one format tag; 0 when there was none. */
    uint32_t singleTagPosition;
    uint32_t formatTag[VX_ACM_MAX_CODECS];
    void* driverId[VX_ACM_MAX_CODECS]; /* HACMDRIVERID */
    char name[VX_ACM_MAX_CODECS][256];
    ACMRateList pcmRates[VX_ACM_MAX_CODECS];
    const HostMemFuncs* mem;
} ACMCodecList;

/* The audio codec list in a zero-filled handle, or null when the handle
 * cannot be created. No driver is left open. */
VXAPI VxHandle VXCALL GetACMCodecs(const HostMemFuncs* mem);

#ifdef __cplusplus
} /* extern "C" */

static_assert(sizeof(AVICodecEntry) == 123, "AVICodecEntry layout");
static_assert(offsetof(AVICodecEntry, flags) == 14 &&
                  offsetof(AVICodecEntry, defaultQuality) == 22 &&
                  offsetof(AVICodecEntry, hostE) == 42 &&
                  offsetof(AVICodecEntry, compatible) == 51 && offsetof(AVICodecEntry, name) == 83,
              "AVICodecEntry layout");
static_assert(sizeof(ACMRateList) == 132, "ACMRateList layout");
static_assert(offsetof(ACMCodecList, name) == 8 + 32 * 4 + 32 * sizeof(void*) &&
                  offsetof(ACMCodecList, pcmRates) == offsetof(ACMCodecList, name) + 32 * 256,
              "ACMCodecList layout");
static_assert(sizeof(void*) != 4 || sizeof(ACMCodecList) == 12684, "ACMCodecList layout");
#endif

#endif
