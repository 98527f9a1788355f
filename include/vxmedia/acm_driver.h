/* Audio compression driver modules for Linux: the interface between the
 * audio compression manager and a module, and all that a module's author
 * needs. The module is a shared object named in the profile's [drivers32]
 * section ("msacm.NAME=module.so") that exports the same
 *
 *     intptr_t DriverProc(uintptr_t driverId, void* driver, uint32_t message,
 *                         intptr_t p1, intptr_t p2);
 *
 * as a video codec module (VxDriverProc, <vxmedia/driver.h>), driven with the
 * messages, records and results of the Windows audio compression driver
 * interface (the values published with that interface), pointers being
 * 64-bit where the platform's are. The records are packed to one byte, as
 * that interface publishes them. Texts are UTF-16, NUL-terminated.
 *
 * Life of a module: DRV_LOAD and DRV_ENABLE once after loading (driverId 0);
 * DRV_OPEN per open driver, with p2 pointing at a VxAcmDrvOpenDesc whose
 * fccType is "audc", returning the instance's driverId (0 refuses, with
 * dwError set); the ACMDM_ messages of that instance with its driverId;
 * DRV_CLOSE per instance; DRV_DISABLE and DRV_FREE before unloading.
 * ACMDM_ messages answer an MMSYSERR_ or ACMERR_ code, 0 for success; a
 * message the driver does not handle answers MMSYSERR_NOTSUPPORTED.
 *
 * Messages and their arguments:
 *   ACMDM_DRIVER_DETAILS     p1 VxAcmDriverDetailsW*: fill at most cbStruct
 *                            bytes and set cbStruct to the bytes filled.
 *   ACMDM_FORMATTAG_DETAILS  p1 VxAcmFormatTagDetailsW*, p2 the
 *                            ACM_FORMATTAGDETAILSF_ query: by index, by tag,
 *                            or the tag (any tag when dwFormatTag is 0) whose
 *                            largest format is the largest.
 *   ACMDM_FORMAT_DETAILS     p1 VxAcmFormatDetailsW*, p2 the
 *                            ACM_FORMATDETAILSF_ query: the standard format
 *                            dwFormatIndex of dwFormatTag, written to pwfx
 *                            (cbwfx bytes), or the description of the format
 *                            in pwfx.
 *   ACMDM_FORMAT_SUGGEST     p1 VxAcmDrvFormatSuggest*: a destination format
 *                            for pwfxSrc; fdwSuggest says which fields of
 *                            pwfxDst the caller fixed.
 *   ACMDM_STREAM_OPEN        p1 VxAcmDrvStreamInstance*: whether the driver
 *                            converts pwfxSrc to pwfxDst; with
 *                            ACM_STREAMOPENF_QUERY set in fdwOpen that is all,
 *                            otherwise the driver keeps its state in dwDriver.
 *   ACMDM_STREAM_CLOSE       p1 the stream instance.
 *   ACMDM_STREAM_SIZE        p1 the stream instance, p2 VxAcmDrvStreamSize*.
 *   ACMDM_STREAM_PREPARE,
 *   ACMDM_STREAM_UNPREPARE   p1 the stream instance, p2 VxAcmDrvStreamHeader*;
 *                            MMSYSERR_NOTSUPPORTED lets the manager do it.
 *   ACMDM_STREAM_CONVERT     p1 the stream instance, p2 the header: convert
 *                            from pbSrc (cbSrcLength bytes) into pbDst
 *                            (cbDstLength bytes), set cbSrcLengthUsed and
 *                            cbDstLengthUsed; fdwConvert holds the
 *                            ACM_STREAMCONVERTF_ flags.
 *   ACMDM_STREAM_RESET       p1 the stream instance, p2 flags.
 *
 * The manager passes formats it has copied: a non-PCM format has its
 * sizeof(WAVEFORMATEX) + cbSize bytes, a PCM format at least 16 (with cbSize
 * 0 in the copy). Buffers are the caller's, with the lengths the header says.
 */
#ifndef VXMEDIA_ACM_DRIVER_H
#define VXMEDIA_ACM_DRIVER_H

#include <stdint.h>
#include <vxmedia/driver.h>
#include <vxmedia/vxtypes.h>

#ifdef __cplusplus
extern "C" {
#endif

/* "audc" */
#define VX_ACMDRIVERDETAILS_FCCTYPE_AUDIOCODEC 0x63647561u
/* The version of the interface the manager speaks (3.50) and the one a
 * driver asks for at least in vdwACM. */
#define VX_ACM_VERSION 0x03320000u

#define VX_DRV_USER 0x4000
#define VX_ACMDM_BASE (VX_DRV_USER + 0x2000)
#define VX_ACMDM_DRIVER_NOTIFY (VX_ACMDM_BASE + 1)
#define VX_ACMDM_DRIVER_DETAILS (VX_ACMDM_BASE + 10)
#define VX_ACMDM_DRIVER_ABOUT (VX_ACMDM_BASE + 11)
#define VX_ACMDM_FORMATTAG_DETAILS (VX_ACMDM_BASE + 25)
#define VX_ACMDM_FORMAT_DETAILS (VX_ACMDM_BASE + 26)
#define VX_ACMDM_FORMAT_SUGGEST (VX_ACMDM_BASE + 27)
#define VX_ACMDM_STREAM_OPEN (VX_ACMDM_BASE + 76)
#define VX_ACMDM_STREAM_CLOSE (VX_ACMDM_BASE + 77)
#define VX_ACMDM_STREAM_SIZE (VX_ACMDM_BASE + 78)
#define VX_ACMDM_STREAM_CONVERT (VX_ACMDM_BASE + 79)
#define VX_ACMDM_STREAM_RESET (VX_ACMDM_BASE + 80)
#define VX_ACMDM_STREAM_PREPARE (VX_ACMDM_BASE + 81)
#define VX_ACMDM_STREAM_UNPREPARE (VX_ACMDM_BASE + 82)

/* Results. */
#define VX_MMSYSERR_NOERROR 0
#define VX_MMSYSERR_ERROR 1
#define VX_MMSYSERR_BADDEVICEID 2
#define VX_MMSYSERR_NOTENABLED 3
#define VX_MMSYSERR_ALLOCATED 4
#define VX_MMSYSERR_INVALHANDLE 5
#define VX_MMSYSERR_NODRIVER 6
#define VX_MMSYSERR_NOMEM 7
#define VX_MMSYSERR_NOTSUPPORTED 8
#define VX_MMSYSERR_INVALFLAG 10
#define VX_MMSYSERR_INVALPARAM 11
#define VX_ACMERR_NOTPOSSIBLE 512
#define VX_ACMERR_BUSY 513
#define VX_ACMERR_UNPREPARED 514
#define VX_ACMERR_CANCELED 515

/* What a driver, a format tag or a format supports. */
#define VX_ACMDRIVERDETAILS_SUPPORTF_CODEC 0x00000001u     /* to or from another tag */
#define VX_ACMDRIVERDETAILS_SUPPORTF_CONVERTER 0x00000002u /* within one tag */
#define VX_ACMDRIVERDETAILS_SUPPORTF_FILTER 0x00000004u
#define VX_ACMDRIVERDETAILS_SUPPORTF_HARDWARE 0x00000008u
#define VX_ACMDRIVERDETAILS_SUPPORTF_ASYNC 0x00000010u
#define VX_ACMDRIVERDETAILS_SUPPORTF_LOCAL 0x40000000u
#define VX_ACMDRIVERDETAILS_SUPPORTF_DISABLED 0x80000000u

#define VX_ACM_FORMATTAGDETAILSF_INDEX 0x00000000u
#define VX_ACM_FORMATTAGDETAILSF_FORMATTAG 0x00000001u
#define VX_ACM_FORMATTAGDETAILSF_LARGESTSIZE 0x00000002u
#define VX_ACM_FORMATTAGDETAILSF_QUERYMASK 0x0000000Fu
#define VX_ACM_FORMATDETAILSF_INDEX 0x00000000u
#define VX_ACM_FORMATDETAILSF_FORMAT 0x00000001u
#define VX_ACM_FORMATDETAILSF_QUERYMASK 0x0000000Fu

#define VX_ACM_FORMATSUGGESTF_WFORMATTAG 0x00010000u
#define VX_ACM_FORMATSUGGESTF_NCHANNELS 0x00020000u
#define VX_ACM_FORMATSUGGESTF_NSAMPLESPERSEC 0x00040000u
#define VX_ACM_FORMATSUGGESTF_WBITSPERSAMPLE 0x00080000u
#define VX_ACM_FORMATSUGGESTF_TYPEMASK 0x00FF0000u

#define VX_ACM_STREAMOPENF_QUERY 0x00000001u
#define VX_ACM_STREAMOPENF_ASYNC 0x00000002u
#define VX_ACM_STREAMOPENF_NONREALTIME 0x00000004u
#define VX_ACM_STREAMSIZEF_SOURCE 0x00000000u
#define VX_ACM_STREAMSIZEF_DESTINATION 0x00000001u
#define VX_ACM_STREAMSIZEF_QUERYMASK 0x0000000Fu
/* Convert only whole blocks; leave the rest of the source unused. */
#define VX_ACM_STREAMCONVERTF_BLOCKALIGN 0x00000004u
/* The first conversion of a stream, or the first after a seek. */
#define VX_ACM_STREAMCONVERTF_START 0x00000010u
/* The last: give out all that is held back. */
#define VX_ACM_STREAMCONVERTF_END 0x00000020u
#define VX_ACMSTREAMHEADER_STATUSF_DONE 0x00010000u
#define VX_ACMSTREAMHEADER_STATUSF_PREPARED 0x00020000u
#define VX_ACMSTREAMHEADER_STATUSF_INQUEUE 0x00100000u

#define VX_WAVE_FORMAT_UNKNOWN 0x0000
#define VX_WAVE_FORMAT_PCM 0x0001
#define VX_WAVE_FORMAT_ADPCM 0x0002
#define VX_WAVE_FORMAT_ALAW 0x0006
#define VX_WAVE_FORMAT_MULAW 0x0007
#define VX_WAVE_FORMAT_IMA_ADPCM 0x0011
#define VX_WAVE_FORMAT_GSM610 0x0031
#define VX_WAVE_FORMAT_MPEGLAYER3 0x0055

/* The manufacturer id of a driver that has none registered. */
#define VX_MM_UNMAPPED 0xFFFF

#define VX_ACMDRIVERDETAILS_SHORTNAME_CHARS 32
#define VX_ACMDRIVERDETAILS_LONGNAME_CHARS 128
#define VX_ACMDRIVERDETAILS_COPYRIGHT_CHARS 80
#define VX_ACMDRIVERDETAILS_LICENSING_CHARS 128
#define VX_ACMDRIVERDETAILS_FEATURES_CHARS 512
#define VX_ACMFORMATTAGDETAILS_FORMATTAG_CHARS 48
#define VX_ACMFORMATDETAILS_FORMAT_CHARS 128

#pragma pack(push, 1)

/* DRV_OPEN's p2. */
typedef struct VxAcmDrvOpenDesc {
    uint32_t cbStruct;
    uint32_t fccType;   /* "audc" */
    uint32_t fccComp;   /* 0 */
    uint32_t dwVersion; /* VX_ACM_VERSION */
    uint32_t dwFlags;
    uint32_t dwError; /* the driver's reason when it refuses */
    const uint16_t* pszSectionName;
    const uint16_t* pszAliasName; /* the profile key, e.g. "msacm.lavc" */
    uint32_t dnDevNode;
} VxAcmDrvOpenDesc;

typedef struct VxAcmDriverDetailsW {
    uint32_t cbStruct;
    uint32_t fccType; /* "audc" */
    uint32_t fccComp; /* 0 */
    uint16_t wMid;
    uint16_t wPid;
    uint32_t vdwACM;    /* the interface version the driver needs */
    uint32_t vdwDriver; /* the driver's own version */
    uint32_t fdwSupport;
    uint32_t cFormatTags;
    uint32_t cFilterTags;
    void* hicon;
    uint16_t szShortName[VX_ACMDRIVERDETAILS_SHORTNAME_CHARS];
    uint16_t szLongName[VX_ACMDRIVERDETAILS_LONGNAME_CHARS];
    uint16_t szCopyright[VX_ACMDRIVERDETAILS_COPYRIGHT_CHARS];
    uint16_t szLicensing[VX_ACMDRIVERDETAILS_LICENSING_CHARS];
    uint16_t szFeatures[VX_ACMDRIVERDETAILS_FEATURES_CHARS];
} VxAcmDriverDetailsW;

typedef struct VxAcmFormatTagDetailsW {
    uint32_t cbStruct;
    uint32_t dwFormatTagIndex;
    uint32_t dwFormatTag;
    uint32_t cbFormatSize; /* the largest format of the tag, in bytes */
    uint32_t fdwSupport;
    uint32_t cStandardFormats;
    uint16_t szFormatTag[VX_ACMFORMATTAGDETAILS_FORMATTAG_CHARS];
} VxAcmFormatTagDetailsW;

typedef struct VxAcmFormatDetailsW {
    uint32_t cbStruct;
    uint32_t dwFormatIndex;
    uint32_t dwFormatTag;
    uint32_t fdwSupport;
    WAVEFORMATEX* pwfx;
    uint32_t cbwfx; /* the bytes pwfx has room for */
    uint16_t szFormat[VX_ACMFORMATDETAILS_FORMAT_CHARS];
} VxAcmFormatDetailsW;

typedef struct VxAcmDrvFormatSuggest {
    uint32_t cbStruct;
    uint32_t fdwSuggest;
    WAVEFORMATEX* pwfxSrc;
    uint32_t cbwfxSrc;
    WAVEFORMATEX* pwfxDst;
    uint32_t cbwfxDst;
} VxAcmDrvFormatSuggest;

typedef struct VxAcmDrvStreamInstance {
    uint32_t cbStruct;
    WAVEFORMATEX* pwfxSrc;
    WAVEFORMATEX* pwfxDst;
    void* pwfltr; /* no filters: null */
    uintptr_t dwCallback;
    uintptr_t dwInstance;
    uint32_t fdwOpen;
    uint32_t fdwDriver;
    uintptr_t dwDriver; /* the driver's own, set at ACMDM_STREAM_OPEN */
    void* has;          /* the manager's stream */
} VxAcmDrvStreamInstance;

typedef struct VxAcmDrvStreamSize {
    uint32_t cbStruct;
    uint32_t fdwSize; /* VX_ACM_STREAMSIZEF_SOURCE: cbSrcLength given */
    uint32_t cbSrcLength;
    uint32_t cbDstLength;
} VxAcmDrvStreamSize;

typedef struct VxAcmDrvStreamHeader VxAcmDrvStreamHeader;
struct VxAcmDrvStreamHeader {
    uint32_t cbStruct;
    uint32_t fdwStatus;
    uintptr_t dwUser;
    uint8_t* pbSrc;
    uint32_t cbSrcLength;
    uint32_t cbSrcLengthUsed;
    uintptr_t dwSrcUser;
    uint8_t* pbDst;
    uint32_t cbDstLength;
    uint32_t cbDstLengthUsed;
    uintptr_t dwDstUser;
    uint32_t fdwConvert; /* VX_ACM_STREAMCONVERTF_ flags */
    VxAcmDrvStreamHeader* padshNext;
    uint32_t fdwDriver;
    uintptr_t dwDriver;
    uint32_t fdwPrepared;
    uintptr_t dwPrepared;
    uint8_t* pbPreparedSrc;
    uint32_t cbPreparedSrcLength;
    uint8_t* pbPreparedDst;
    uint32_t cbPreparedDstLength;
};

#pragma pack(pop)

#ifdef __cplusplus
}

/* The published 32-bit layouts. */
#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(VxAcmDrvOpenDesc) == 36, "ACMDRVOPENDESC layout");
static_assert(sizeof(VxAcmDriverDetailsW) == 1800, "ACMDRIVERDETAILSW layout");
static_assert(sizeof(VxAcmFormatTagDetailsW) == 120, "ACMFORMATTAGDETAILSW layout");
static_assert(sizeof(VxAcmFormatDetailsW) == 280, "ACMFORMATDETAILSW layout");
static_assert(sizeof(VxAcmDrvFormatSuggest) == 24, "ACMDRVFORMATSUGGEST layout");
static_assert(sizeof(VxAcmDrvStreamInstance) == 40, "ACMDRVSTREAMINSTANCE layout");
static_assert(sizeof(VxAcmDrvStreamSize) == 16, "ACMDRVSTREAMSIZE layout");
static_assert(sizeof(VxAcmDrvStreamHeader) == 84, "ACMDRVSTREAMHEADER layout");
#endif
#endif

#endif
