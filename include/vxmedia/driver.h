/* Video codec driver modules for Linux: the interface between the codec
 * manager and a module, and all that a module's author needs. The module is
 * a shared object named in the profile's [drivers32] section
 * ("vidc.XXXX=module.so") that exports
 *
 *     intptr_t DriverProc(uintptr_t driverId, void* driver, uint32_t message,
 *                         intptr_t p1, intptr_t p2);
 *
 * with C linkage and is driven with the messages, records and results of the
 * Windows codec driver interface (values published with that interface),
 * pointers being 64-bit where the platform's are.
 *
 * Life of a module: DRV_LOAD and DRV_ENABLE once after loading (driverId 0);
 * DRV_OPEN per instance, with p2 pointing at a VxIcOpen record, returning the
 * instance's driverId (0 refuses); the ICM_ messages of that instance with
 * its driverId; DRV_CLOSE per instance; DRV_DISABLE and DRV_FREE before the
 * module is unloaded. Results: 0 (ICERR_OK) or a negative ICERR_ code for
 * ICM_ messages; 1 for success of the DRV_ messages other than DRV_OPEN.
 */
#ifndef VXMEDIA_VFW_DRIVER_H
#define VXMEDIA_VFW_DRIVER_H

#include <stdint.h>
#include <vxmedia/vxtypes.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef intptr_t (*VxDriverProc)(uintptr_t driverId, void* driver, uint32_t message, intptr_t p1,
                                 intptr_t p2);

#define VX_DRV_LOAD 0x0001
#define VX_DRV_ENABLE 0x0002
#define VX_DRV_OPEN 0x0003
#define VX_DRV_CLOSE 0x0004
#define VX_DRV_DISABLE 0x0005
#define VX_DRV_FREE 0x0006

#define VX_ICM_USER 0x4000
#define VX_ICM_DECOMPRESS_GET_FORMAT (VX_ICM_USER + 10)
#define VX_ICM_DECOMPRESS_QUERY (VX_ICM_USER + 11)
#define VX_ICM_DECOMPRESS_BEGIN (VX_ICM_USER + 12)
#define VX_ICM_DECOMPRESS (VX_ICM_USER + 13)
#define VX_ICM_DECOMPRESS_END (VX_ICM_USER + 14)

#define VX_ICERR_OK 0
#define VX_ICERR_UNSUPPORTED (-1)
#define VX_ICERR_BADFORMAT (-2)
#define VX_ICERR_MEMORY (-3)
#define VX_ICERR_INTERNAL (-4)
#define VX_ICERR_BADPARAM (-6)
#define VX_ICERR_ERROR (-100)

#define VX_ICMODE_DECOMPRESS 2

/* ICM_DECOMPRESS results besides ICERR_OK (a picture was written): the
 * call gave no picture. A decoder that reorders pictures holds some back;
 * it answers ICERR_DONTDRAW while it fills up, and afterwards writes the
 * picture of an earlier frame with each call. */
#define VX_ICERR_DONTDRAW 1

/* This interface's own message, beyond the reserved range: how many pictures
 * the begun session holds back now. p1 points at a uint32_t that the driver
 * sets; the result is ICERR_OK. A driver that leaves the value alone does
 * not know, and the caller counts its ICERR_DONTDRAW answers instead.
 * A held picture comes out when a frame without bytes (biSizeImage 0, with
 * ICDECOMPRESS_NULLFRAME) is decompressed: that drains the session, one
 * picture per call, ICERR_DONTDRAW when none is left. */
#define VX_ICM_DECOMPRESS_GET_HELD 0x6100

#define VX_ICDECOMPRESS_HURRYUP 0x80000000u
#define VX_ICDECOMPRESS_UPDATE 0x40000000u
#define VX_ICDECOMPRESS_PREROLL 0x20000000u
#define VX_ICDECOMPRESS_NULLFRAME 0x10000000u
#define VX_ICDECOMPRESS_NOTKEYFRAME 0x08000000u

/* Additions for the codec manager (values of the same published interface). */
#define VX_ICM_COMPRESS_QUERY (VX_ICM_USER + 6)
#define VX_ICM_DRAW_QUERY (VX_ICM_USER + 31)
#define VX_ICERR_BADHANDLE (-8)
#define VX_ICMODE_COMPRESS 1
#define VX_ICMODE_FASTDECOMPRESS 3
#define VX_ICMODE_QUERY 4
#define VX_ICMODE_FASTCOMPRESS 5
#define VX_ICMODE_DRAW 8
#define VX_ICVERSION 0x0104

/* The `driver` argument the manager passes: for DRV_LOAD, DRV_ENABLE,
 * DRV_DISABLE and DRV_FREE its record of the module; for DRV_OPEN, the ICM_
 * messages and DRV_CLOSE its record of the instance. Drivers need not use it. */

/* ICM_GETINFO (p1 the record, p2 its size): the codec describes itself and
 * answers the bytes it filled; with a null p1 the size it needs. Texts are
 * UTF-16, NUL-terminated. */
#define VX_ICM_GETINFO 0x5002

typedef struct VxIcInfo {
    uint32_t dwSize;
    uint32_t fccType;
    uint32_t fccHandler;
    uint32_t dwFlags; /* VIDCF_ values */
    uint32_t dwVersion;
    uint32_t dwVersionICM;
    uint16_t szName[16];
    uint16_t szDescription[128];
    uint16_t szDriver[128];
} VxIcInfo;

/* DRV_OPEN's p2. The driver sets dwError when it refuses. */
typedef struct VxIcOpen {
    uint32_t dwSize;
    uint32_t fccType;
    uint32_t fccHandler;
    uint32_t dwVersion;
    uint32_t dwFlags; /* the mode, e.g. VX_ICMODE_DECOMPRESS */
    intptr_t dwError;
    void* pV1Reserved;
    void* pV2Reserved;
    uint32_t dnDevNode;
} VxIcOpen;

/* ICM_DECOMPRESS's p1 (p2 is the record's size). */
typedef struct VxIcDecompress {
    uint32_t dwFlags;
    BITMAPINFOHEADER* lpbiInput; /* the compressed format */
    void* lpInput;               /* the frame's bytes; biSizeImage of lpbiInput says how many */
    BITMAPINFOHEADER* lpbiOutput;
    void* lpOutput;
    uint32_t ckid;
} VxIcDecompress;

/* The compression side. ICM_COMPRESS_GET_FORMAT (p1 the input format, p2
 * the output format or null): with a null p2 the bytes the output format
 * needs, else ICERR_OK after writing it. ICM_COMPRESS_GET_SIZE (p1, p2 the
 * formats): the most bytes one compressed frame can take. ICM_COMPRESS
 * (p1 a VxIcCompress record, p2 its size). */
#define VX_ICM_COMPRESS_GET_FORMAT (VX_ICM_USER + 4)
#define VX_ICM_COMPRESS_GET_SIZE (VX_ICM_USER + 5)
#define VX_ICM_COMPRESS_BEGIN (VX_ICM_USER + 7)
#define VX_ICM_COMPRESS (VX_ICM_USER + 8)
#define VX_ICM_COMPRESS_END (VX_ICM_USER + 9)
#define VX_ICM_GETDEFAULTKEYFRAMERATE (VX_ICM_USER + 42)

/* ICM_CONFIGURE (p1 a window or -1, p2 flags): with ICMF_CONFIGURE_QUERY in
 * p2, ICERR_OK when the codec has a configuration dialog. ICM_GETDEFAULTQUALITY
 * (p1 a uint32_t the codec sets, p2 its size): 0 to 10000. */
#define VX_ICM_RESERVED 0x5000
#define VX_ICM_CONFIGURE (VX_ICM_RESERVED + 10)
#define VX_ICM_GETDEFAULTQUALITY (VX_ICM_RESERVED + 30)
#define VX_ICM_GETQUALITY (VX_ICM_RESERVED + 31)
#define VX_ICM_SETQUALITY (VX_ICM_RESERVED + 32)
#define VX_ICMF_CONFIGURE_QUERY 0x00000001u

/* VxIcInfo.dwFlags: what the compressor controls. */
#define VX_VIDCF_QUALITY 0x0001u  /* honours a quality */
#define VX_VIDCF_CRUNCH 0x0002u   /* compresses to a frame size */
#define VX_VIDCF_TEMPORAL 0x0004u /* frames between key frames */
#define VX_VIDCF_COMPRESSFRAMES 0x0008u
#define VX_VIDCF_DRAW 0x0010u
#define VX_VIDCF_FASTTEMPORALC 0x0020u /* needs no previous frame to compress */
#define VX_VIDCF_FASTTEMPORALD 0x0080u

#define VX_ICQUALITY_LOW 0
#define VX_ICQUALITY_HIGH 10000
#define VX_ICQUALITY_DEFAULT (-1)

/* VxIcCompress.dwFlags: a key frame is asked for. */
#define VX_ICCOMPRESS_KEYFRAME 0x00000001u
/* What the codec answers in *lpdwFlags: the frame is a key frame. */
#define VX_AVIIF_KEYFRAME 0x00000010u

typedef struct VxIcCompress {
    uint32_t dwFlags;
    BITMAPINFOHEADER* lpbiOutput; /* biSizeImage is set to the bytes written */
    void* lpOutput;
    BITMAPINFOHEADER* lpbiInput;
    void* lpInput;
    uint32_t* lpckid;
    uint32_t* lpdwFlags;
    int32_t lFrameNum;
    uint32_t dwFrameSize; /* the size to aim at, 0 for none */
    uint32_t dwQuality;   /* 0 to 10000 */
    BITMAPINFOHEADER* lpbiPrev;
    void* lpPrev;
} VxIcCompress;

#ifdef __cplusplus
}
#endif

#endif
