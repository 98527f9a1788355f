/* Basic types shared by every VxMedia header.
 *
 * On Windows the published platform records (BITMAPINFOHEADER, WAVEFORMATEX,
 * MainAVIHeader, AVIStreamHeader, RECT, HANDLE) come from <windows.h> and
 * <vfw.h>. On other systems this header defines the same records with the
 * same layout.
 *
 * File handles on Linux: a HANDLE is a pointer-sized value that carries a
 * POSIX file descriptor, (HANDLE)(intptr_t)fd. A caller opens a file with
 * open() and passes its descriptor this way. All bits set
 * (INVALID_HANDLE_VALUE) is the invalid handle, as on Windows.
 *
 * Calling convention: every exported function uses the C calling convention
 * (__cdecl on 32-bit Windows) and is exported under its plain, undecorated
 * name.
 */
#ifndef VXMEDIA_VXTYPES_H
#define VXMEDIA_VXTYPES_H

#include <stddef.h>
#include <stdint.h>

#ifdef _WIN32
#include <windows.h>
#include <vfw.h>
#define VXCALL __cdecl
#else
#define VXCALL
#endif

#ifdef __cplusplus
#define VX_EXTERN_C extern "C"
#else
#define VX_EXTERN_C
#endif

#if defined(_WIN32)
#if defined(VXMEDIA_BUILDING)
#define VXAPI VX_EXTERN_C __declspec(dllexport)
#else
#define VXAPI VX_EXTERN_C __declspec(dllimport)
#endif
#else
#define VXAPI VX_EXTERN_C __attribute__((visibility("default")))
#endif

/* Every AVI export returns 0 or an AVIERR_ code. */
typedef int32_t VXRESULT;

#ifndef _WIN32
typedef void* HANDLE;
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

typedef uint32_t FOURCC;

typedef struct tagRECT {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
} RECT;

typedef struct tagBITMAPINFOHEADER {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
} BITMAPINFOHEADER;

/* Packed as the platform publishes it: 18 bytes. */
#pragma pack(push, 1)
typedef struct tWAVEFORMATEX {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;
} WAVEFORMATEX;
#pragma pack(pop)

typedef struct _MainAVIHeader {
    uint32_t dwMicroSecPerFrame;
    uint32_t dwMaxBytesPerSec;
    uint32_t dwPaddingGranularity;
    uint32_t dwFlags;
    uint32_t dwTotalFrames;
    uint32_t dwInitialFrames;
    uint32_t dwStreams;
    uint32_t dwSuggestedBufferSize;
    uint32_t dwWidth;
    uint32_t dwHeight;
    uint32_t dwReserved[4];
} MainAVIHeader;

/* The in-memory stream header: the frame rectangle as four 32-bit values,
 * 64 bytes in all. */
typedef struct _AVIStreamHeader {
    FOURCC fccType;
    FOURCC fccHandler;
    uint32_t dwFlags;
    uint16_t wPriority;
    uint16_t wLanguage;
    uint32_t dwInitialFrames;
    uint32_t dwScale;
    uint32_t dwRate;
    uint32_t dwStart;
    uint32_t dwLength;
    uint32_t dwSuggestedBufferSize;
    uint32_t dwQuality;
    uint32_t dwSampleSize;
    RECT rcFrame;
} AVIStreamHeader;

#define AVIF_HASINDEX 0x00000010
#define AVIF_MUSTUSEINDEX 0x00000020
#define AVIF_ISINTERLEAVED 0x00000100
#define AVIF_TRUSTCKTYPE 0x00000800
#define AVIF_WASCAPTUREFILE 0x00010000
#define AVIIF_LIST 0x00000001
#define AVIIF_KEYFRAME 0x00000010
#define AVIIF_NO_TIME 0x00000100
#endif /* !_WIN32 */

/* <vfw.h> names this flag AVIIF_NOTIME; <aviriff.h> has this spelling. */
#ifndef AVIIF_NO_TIME
#define AVIIF_NO_TIME 0x00000100
#endif

#define VX_MAKEFOURCC(a, b, c, d)                                                  \
    ((uint32_t)(uint8_t)(a) | ((uint32_t)(uint8_t)(b) << 8) |                      \
     ((uint32_t)(uint8_t)(c) << 16) | ((uint32_t)(uint8_t)(d) << 24))

#ifndef AVIERR_OK
#define AVIERR_OK 0
#endif
#ifndef AVIERR_UNSUPPORTED
#define AVIERR_UNSUPPORTED ((VXRESULT)0x80044065u)
#define AVIERR_BADFORMAT ((VXRESULT)0x80044066u)
#define AVIERR_MEMORY ((VXRESULT)0x80044067u)
#define AVIERR_INTERNAL ((VXRESULT)0x80044068u)
#define AVIERR_BADPARAM ((VXRESULT)0x8004406Au)
#define AVIERR_FILEREAD ((VXRESULT)0x8004406Du)
#define AVIERR_FILEWRITE ((VXRESULT)0x8004406Eu)
#define AVIERR_FILEOPEN ((VXRESULT)0x8004406Fu)
#define AVIERR_COMPRESSOR ((VXRESULT)0x80044070u)
#define AVIERR_BUFFERTOOSMALL ((VXRESULT)0x80044074u)
#define AVIERR_USERABORT ((VXRESULT)0x800440C6u)
#endif

/* The host's table of handle-memory functions. A handle is a pointer to a
 * pointer to a block owned by the host; the library only ever sizes, locks
 * and disposes of handles through this table. */
typedef void** VxHandle;
typedef struct HostMemFuncs {
    void*(VXCALL* newPtr)(uint32_t size);                   /* 0 */
    void(VXCALL* disposePtr)(void* p);                      /* 1 */
    uint32_t(VXCALL* getPtrSize)(void* p);                  /* 2 */
    void*(VXCALL* newPtrClear)(uint32_t size);              /* 3 */
    VxHandle(VXCALL* newHandle)(uint32_t size);             /* 4 */
    void(VXCALL* setHandleSize)(VxHandle h, uint32_t size); /* 5 */
    uint32_t(VXCALL* getHandleSize)(VxHandle h);            /* 6 */
    void(VXCALL* disposeHandle)(VxHandle h);                /* 7 */
    int32_t(VXCALL* memError)(void);                        /* 8 */
    VxHandle(VXCALL* newHandleClear)(uint32_t size);        /* 9 */
    void(VXCALL* lockHandle)(VxHandle h);                   /* 10 */
    void(VXCALL* unlockHandle)(VxHandle h);                 /* 11 */
} HostMemFuncs;

#ifdef __cplusplus
static_assert(sizeof(RECT) == 16, "RECT layout");
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER layout");
static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX layout");
static_assert(sizeof(MainAVIHeader) == 56, "MainAVIHeader layout");
static_assert(sizeof(AVIStreamHeader) == 64, "AVIStreamHeader layout");
static_assert(offsetof(AVIStreamHeader, dwQuality) == 40, "AVIStreamHeader layout");
static_assert(offsetof(AVIStreamHeader, dwSampleSize) == 44, "AVIStreamHeader layout");
static_assert(offsetof(AVIStreamHeader, rcFrame) == 48, "AVIStreamHeader layout");
static_assert(sizeof(HostMemFuncs) == 12 * sizeof(void*), "HostMemFuncs layout");
#endif

#endif
