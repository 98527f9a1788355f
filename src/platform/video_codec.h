// Installed video codecs, driven by the messages of the platform's video
// codec interface. On Windows these are the system's own codecs. On Linux
// they are driver modules listed in the profile section "drivers32" as
// "vidc.XXXX=/path/module.so", loaded on demand and driven through their
// exported DriverProc exactly as the Windows codec manager drives a codec
// driver (the interface of <vxmedia/driver.h>, whose values these are).
#pragma once

#include <vxmedia/driver.h>
#include <vxmedia/vxtypes.h>

#include <cstdint>

namespace vx::platform {

// An open codec instance (an HIC on Windows); null is none.
using CodecInstance = void*;

inline constexpr uint32_t kCodecTypeVideo = 0x63646976u;  // "vidc"
inline constexpr uint32_t kCodecModeDecompress = VX_ICMODE_DECOMPRESS;
inline constexpr uint32_t kCodecModeCompress = VX_ICMODE_COMPRESS;

inline constexpr uint32_t kIcmDecompressGetFormat = VX_ICM_DECOMPRESS_GET_FORMAT;
inline constexpr uint32_t kIcmDecompressQuery = VX_ICM_DECOMPRESS_QUERY;
inline constexpr uint32_t kIcmDecompressBegin = VX_ICM_DECOMPRESS_BEGIN;
inline constexpr uint32_t kIcmDecompress = VX_ICM_DECOMPRESS;
inline constexpr uint32_t kIcmDecompressEnd = VX_ICM_DECOMPRESS_END;
inline constexpr uint32_t kIcmDecompressGetHeld = VX_ICM_DECOMPRESS_GET_HELD;
inline constexpr uint32_t kIcDecompressNullFrame = VX_ICDECOMPRESS_NULLFRAME;

inline constexpr intptr_t kIcErrOk = VX_ICERR_OK;
inline constexpr intptr_t kIcErrDontDraw = VX_ICERR_DONTDRAW;

// An open instance of the first installed codec of `type` that accepts the
// input format `in` (and the output format `out`, when not null) in `mode`;
// with `handler` not 0 that codec is tried first. Null when none accepts.
CodecInstance codec_locate(uint32_t type, uint32_t handler, const BITMAPINFOHEADER* in,
                           const BITMAPINFOHEADER* out, uint32_t mode);

// The handler code of the installed codec of `type` at `index` (0, 1, ...)
// in the platform's order of installed codecs; false past the last one.
bool codec_info(uint32_t type, uint32_t index, uint32_t* handler);

// An open instance of the installed codec of `type` whose handler code is
// `handler` (letters in either case), in `mode`, asked nothing about
// formats; null when there is none or it refuses.
CodecInstance codec_open(uint32_t type, uint32_t handler, uint32_t mode);

// The codec's description of itself (ICM_GETINFO); false when it gives none.
bool codec_get_info(CodecInstance codec, VxIcInfo* info);

// Sends a message with its two arguments; returns the codec's result.
intptr_t codec_send(CodecInstance codec, uint32_t message, intptr_t p1, intptr_t p2);

// Decompresses one frame: kIcErrOk when a picture was written, kIcErrDontDraw
// when the codec gave none, else the codec's error.
intptr_t codec_decompress(CodecInstance codec, uint32_t flags, const BITMAPINFOHEADER* inFormat,
                          const void* in, const BITMAPINFOHEADER* outFormat, void* out);

// Compresses one frame (ICCompress): the codec's result. On entry
// outFormat->biSizeImage is what `out` holds, at least the codec's
// ICM_COMPRESS_GET_SIZE answer (the Linux driver refuses less); on success it
// holds the bytes written to `out` and *outFlags the codec's flags for them
// (VX_AVIIF_KEYFRAME for a key frame).
intptr_t codec_compress(CodecInstance codec, uint32_t flags, BITMAPINFOHEADER* outFormat,
                        void* out, const BITMAPINFOHEADER* inFormat, const void* in,
                        uint32_t* ckid, uint32_t* outFlags, int32_t frameNumber,
                        uint32_t frameSize, uint32_t quality, const BITMAPINFOHEADER* previousFormat,
                        const void* previous);

// Closes an instance of codec_locate or codec_open; null does nothing.
void codec_close(CodecInstance codec);

// At library unload: releases the driver modules the library loaded itself
// (Linux: DRV_DISABLE, DRV_FREE and unloading of every module without open
// instances). Nothing on Windows, where the system's codec manager owns them.
void codec_unload_modules();

}  // namespace vx::platform
