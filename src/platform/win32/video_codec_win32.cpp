// Installed video codecs on Windows: the system's codec manager (msvfw32).
#include <windows.h>
#include <vfw.h>

#include "platform/video_codec.h"

namespace vx::platform {

static_assert(kCodecTypeVideo == ICTYPE_VIDEO);
static_assert(kCodecModeDecompress == ICMODE_DECOMPRESS);
static_assert(kIcmDecompressGetFormat == ICM_DECOMPRESS_GET_FORMAT);
static_assert(kIcmDecompressQuery == ICM_DECOMPRESS_QUERY);
static_assert(kIcmDecompressBegin == ICM_DECOMPRESS_BEGIN);
static_assert(kIcmDecompress == ICM_DECOMPRESS);
static_assert(kIcmDecompressEnd == ICM_DECOMPRESS_END);

namespace {
HIC hic_of(CodecInstance codec) { return static_cast<HIC>(codec); }
}  // namespace

CodecInstance codec_locate(uint32_t type, uint32_t handler, const BITMAPINFOHEADER* in,
                           const BITMAPINFOHEADER* out, uint32_t mode) {
    // The formats are only read; the declarations predate const.
    return ICLocate(type, handler, const_cast<BITMAPINFOHEADER*>(in),
                    const_cast<BITMAPINFOHEADER*>(out), static_cast<WORD>(mode));
}

intptr_t codec_send(CodecInstance codec, uint32_t message, intptr_t p1, intptr_t p2) {
    if (codec == nullptr) return ICERR_BADHANDLE;
    return ICSendMessage(hic_of(codec), message, static_cast<DWORD_PTR>(p1), static_cast<DWORD_PTR>(p2));
}

intptr_t codec_decompress(CodecInstance codec, uint32_t flags, const BITMAPINFOHEADER* inFormat,
                          const void* in, const BITMAPINFOHEADER* outFormat, void* out) {
    if (codec == nullptr) return ICERR_BADHANDLE;
    const DWORD result = ICDecompress(hic_of(codec), flags, const_cast<BITMAPINFOHEADER*>(inFormat),
                                      const_cast<void*>(in), const_cast<BITMAPINFOHEADER*>(outFormat), out);
    // The result is an ICERR_ code returned as a DWORD: negative errors.
    return static_cast<int32_t>(result);
}

void codec_close(CodecInstance codec) {
    if (codec != nullptr) ICClose(hic_of(codec));
}

void codec_unload_modules() {}

}  // namespace vx::platform
