// Installed video codecs on Windows: the system's codec manager (msvfw32).
#include <windows.h>
// After windows.h, which it needs.
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

// The message ICLocate asks with in `mode`; 0 for modes it refuses.
UINT query_message(uint32_t mode) {
    switch (mode) {
        case ICMODE_DECOMPRESS:
        case ICMODE_FASTDECOMPRESS:
            return ICM_DECOMPRESS_QUERY;
        case ICMODE_COMPRESS:
        case ICMODE_FASTCOMPRESS:
            return ICM_COMPRESS_QUERY;
        case ICMODE_DRAW:
            return ICM_DRAW_QUERY;
        default:
            return 0;
    }
}

// A compression code that can name a codec: four characters, none of them
// a NUL (BI_RGB, BI_RLE8, BI_BITFIELDS and the like are small numbers).
bool names_a_handler(uint32_t compression) {
    for (int shift = 0; shift < 32; shift += 8) {
        if (((compression >> shift) & 0xFFu) == 0) return false;
    }
    return true;
}

}  // namespace

CodecInstance codec_locate(uint32_t type, uint32_t handler, const BITMAPINFOHEADER* in,
                           const BITMAPINFOHEADER* out, uint32_t mode) {
    // The formats are only read; the declarations predate const.
    auto* inFormat = const_cast<BITMAPINFOHEADER*>(in);
    auto* outFormat = const_cast<BITMAPINFOHEADER*>(out);
    if (HIC hic = ICLocate(type, handler, inFormat, outFormat, static_cast<WORD>(mode))) return hic;
    // Codecs installed as functions (ICInstall) are not among the codecs
    // Wine's ICLocate walks when the handler it was given does not take the
    // format: try the codec named by the format's own compression code.
    const UINT query = query_message(mode);
    if (query == 0 || in == nullptr || !names_a_handler(in->biCompression) ||
        in->biCompression == handler)
        return nullptr;
    HIC hic = ICOpen(type, in->biCompression, mode);
    if (hic == nullptr) return nullptr;
    if (ICSendMessage(hic, query, reinterpret_cast<DWORD_PTR>(inFormat),
                      reinterpret_cast<DWORD_PTR>(outFormat)) == ICERR_OK)
        return hic;
    ICClose(hic);
    return nullptr;
}

intptr_t codec_send(CodecInstance codec, uint32_t message, intptr_t p1, intptr_t p2) {
    if (codec == nullptr) return ICERR_BADHANDLE;
    return ICSendMessage(hic_of(codec), message, static_cast<DWORD_PTR>(p1),
                         static_cast<DWORD_PTR>(p2));
}

intptr_t codec_decompress(CodecInstance codec, uint32_t flags, const BITMAPINFOHEADER* inFormat,
                          const void* in, const BITMAPINFOHEADER* outFormat, void* out) {
    if (codec == nullptr) return ICERR_BADHANDLE;
    const DWORD result =
        ICDecompress(hic_of(codec), flags, const_cast<BITMAPINFOHEADER*>(inFormat),
                     const_cast<void*>(in), const_cast<BITMAPINFOHEADER*>(outFormat), out);
    // The result is an ICERR_ code returned as a DWORD: negative errors.
    return static_cast<int32_t>(result);
}

void codec_close(CodecInstance codec) {
    if (codec != nullptr) ICClose(hic_of(codec));
}

void codec_unload_modules() {}

}  // namespace vx::platform
