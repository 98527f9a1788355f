/* The test video codec "VXTS": a codec driver with simple, exact semantics for
 * tests of the codec manager, decompressor objects and frame decoding.
 *
 * Linux: the module vx_test_codec (.so), installed in a profile's
 * [drivers32] as vidc.VXTS=<path>; tests reach the counters with dlopen of
 * the same path and dlsym. Windows: compiled into the test program and
 * installed with ICInstall(ICTYPE_VIDEO, 'VXTS', (LPARAM)DriverProc, NULL,
 * ICINSTALL_FUNCTION).
 *
 * Formats: input biCompression 'VXTS' (any biBitCount), 1 <= biWidth <= 4096,
 * 1 <= |biHeight| <= 4096; output BI_RGB, 24 or 32 bits, same width and
 * |height| (24 bits only with 0x200 added to the input's biClrImportant).
 * Everything else: ICERR_BADFORMAT.
 *
 * DRV_OPEN: refused (0, dwError ICERR_UNSUPPORTED) in the compression modes
 * and for a type other than 'vidc'; accepted otherwise.
 * ICM_DECOMPRESS_QUERY(in, out or null), ICM_DECOMPRESS_GET_FORMAT(in, out or
 * null: 40 = the size needed; else a 24-bit bottom-up BI_RGB format, 40
 * bytes, biSizeImage = padded row bytes x |height|), ICM_DECOMPRESS_BEGIN(in,
 * out: null out is ICERR_BADFORMAT), ICM_DECOMPRESS_END.
 *
 * ICM_GETINFO(record, size): handler 'VXTS', name "VXTS", description
 * "VxMedia test codec", flags 0; the record's size is the answer.
 * ICM_DECOMPRESS (in this order): not begun -> ICERR_ERROR; null record,
 * formats or buffers -> ICERR_BADPARAM; input format refused, output format
 * not the begun one (width, |height|, bit count), or 1 to 3 frame bytes
 * (lpbiInput->biSizeImage) -> ICERR_BADFORMAT. Frame byte 0 'K': every pixel
 * (B,G,R) = bytes 1..3; 'D': bytes 1..3 added (mod 256) to every pixel's
 * B,G,R as the output buffer holds them (the previous frame when decoding
 * into the same buffer); else ICERR_BADFORMAT. 32-bit output: the 4th byte
 * of every pixel becomes 0. Rows padded to 4 bytes; padding never written.
 * ICDECOMPRESS_HURRYUP changes nothing: the frame is still applied.
 * Reordering: an input biClrImportant of N (1 to 255) makes the instance hold N
 * pictures back: each frame is applied to its own picture, which waits; the
 * call writes the oldest waiting picture once more than N wait, else answers
 * ICERR_DONTDRAW. A frame without bytes (or ICDECOMPRESS_NULLFRAME) writes
 * the oldest waiting picture, ICERR_DONTDRAW when none waits. The message
 * 0x6100 sets *(uint32_t*)p1 to the number waiting (ICERR_UNSUPPORTED
 * instead with 0x100 added to biClrImportant). END forgets them.
 *
 * Counters (process-wide): messages received, whatever their result, except
 * opens (accepted DRV_OPENs) and refusals (refused DRV_OPENs). On Windows
 * the system's codec manager sends DRV_LOAD/DRV_FREE around every instance.
 */
#ifndef VX_TEST_CODEC_H
#define VX_TEST_CODEC_H

#include <stdint.h>

#ifdef _WIN32
#include <windows.h>
#include <vfw.h>
#define VX_TEST_CODEC_API
#else
#define VX_TEST_CODEC_API __attribute__((visibility("default")))
#endif

#define VX_TEST_CODEC_FOURCC                                                                   \
    ((uint32_t)'V' | ((uint32_t)'X' << 8) | ((uint32_t)'T' << 16) | ((uint32_t)'S' << 24))

typedef struct VxTestCodecCounts {
    uint32_t loads;         /* DRV_LOAD */
    uint32_t frees;         /* DRV_FREE */
    uint32_t opens;         /* DRV_OPEN accepted */
    uint32_t refusals;      /* DRV_OPEN refused */
    uint32_t closes;        /* DRV_CLOSE */
    uint32_t queries;       /* ICM_DECOMPRESS_QUERY */
    uint32_t getFormats;    /* ICM_DECOMPRESS_GET_FORMAT */
    uint32_t begins;        /* ICM_DECOMPRESS_BEGIN */
    uint32_t ends;          /* ICM_DECOMPRESS_END */
    uint32_t decompresses;  /* ICM_DECOMPRESS */
} VxTestCodecCounts;

#ifdef __cplusplus
extern "C" {
#endif

VX_TEST_CODEC_API void vx_test_codec_counts(VxTestCodecCounts* counts);
VX_TEST_CODEC_API void vx_test_codec_reset(void);

typedef void (*VxTestCodecCountsFn)(VxTestCodecCounts* counts);
typedef void (*VxTestCodecResetFn)(void);

#ifdef _WIN32
LRESULT CALLBACK DriverProc(DWORD_PTR driverId, HDRVR driver, UINT message, LPARAM p1, LPARAM p2);
#else
VX_TEST_CODEC_API intptr_t DriverProc(uintptr_t driverId, void* driver, uint32_t message,
                                      intptr_t p1, intptr_t p2);
#endif

#ifdef __cplusplus
}
#endif

#endif
