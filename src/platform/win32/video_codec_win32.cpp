// Installed video codecs on Windows: the system's codec manager (msvfw32).
#include <windows.h>
// After windows.h, which it needs.
#include <vfw.h>

#include <cstddef>

#include "platform/video_codec.h"

// The driver interface published for Linux driver modules is this
// platform's own: its values and records must be the system's.
static_assert(VX_DRV_LOAD == DRV_LOAD && VX_DRV_ENABLE == DRV_ENABLE && VX_DRV_OPEN == DRV_OPEN &&
              VX_DRV_CLOSE == DRV_CLOSE && VX_DRV_DISABLE == DRV_DISABLE &&
              VX_DRV_FREE == DRV_FREE);
static_assert(VX_ICM_USER == ICM_USER && VX_ICM_COMPRESS_QUERY == ICM_COMPRESS_QUERY &&
              VX_ICM_DRAW_QUERY == ICM_DRAW_QUERY &&
              VX_ICM_DECOMPRESS_GET_FORMAT == ICM_DECOMPRESS_GET_FORMAT &&
              VX_ICM_DECOMPRESS_QUERY == ICM_DECOMPRESS_QUERY &&
              VX_ICM_DECOMPRESS_BEGIN == ICM_DECOMPRESS_BEGIN &&
              VX_ICM_DECOMPRESS == ICM_DECOMPRESS && VX_ICM_DECOMPRESS_END == ICM_DECOMPRESS_END);
static_assert(VX_ICERR_OK == ICERR_OK && VX_ICERR_UNSUPPORTED == ICERR_UNSUPPORTED &&
              VX_ICERR_BADFORMAT == ICERR_BADFORMAT && VX_ICERR_MEMORY == ICERR_MEMORY &&
              VX_ICERR_INTERNAL == ICERR_INTERNAL && VX_ICERR_BADPARAM == ICERR_BADPARAM &&
              VX_ICERR_BADHANDLE == ICERR_BADHANDLE && VX_ICERR_ERROR == ICERR_ERROR &&
              VX_ICERR_DONTDRAW == ICERR_DONTDRAW);
static_assert(VX_ICMODE_COMPRESS == ICMODE_COMPRESS && VX_ICMODE_DECOMPRESS == ICMODE_DECOMPRESS &&
              VX_ICMODE_FASTDECOMPRESS == ICMODE_FASTDECOMPRESS &&
              VX_ICMODE_QUERY == ICMODE_QUERY && VX_ICMODE_FASTCOMPRESS == ICMODE_FASTCOMPRESS &&
              VX_ICMODE_DRAW == ICMODE_DRAW && VX_ICVERSION == ICVERSION);
static_assert(VX_ICDECOMPRESS_HURRYUP == ICDECOMPRESS_HURRYUP &&
              VX_ICDECOMPRESS_UPDATE == ICDECOMPRESS_UPDATE &&
              VX_ICDECOMPRESS_PREROLL == ICDECOMPRESS_PREROLL &&
              VX_ICDECOMPRESS_NULLFRAME == ICDECOMPRESS_NULLFRAME &&
              VX_ICDECOMPRESS_NOTKEYFRAME == ICDECOMPRESS_NOTKEYFRAME);
static_assert(VX_ICM_GETINFO == ICM_GETINFO && sizeof(VxIcInfo) == sizeof(ICINFO) &&
              offsetof(VxIcInfo, szDescription) == offsetof(ICINFO, szDescription) &&
              offsetof(VxIcInfo, szDriver) == offsetof(ICINFO, szDriver));
static_assert(sizeof(VxIcOpen) == sizeof(ICOPEN) &&
              offsetof(VxIcOpen, dwFlags) == offsetof(ICOPEN, dwFlags) &&
              offsetof(VxIcOpen, dwError) == offsetof(ICOPEN, dwError) &&
              offsetof(VxIcOpen, dnDevNode) == offsetof(ICOPEN, dnDevNode));
static_assert(sizeof(VxIcDecompress) == sizeof(ICDECOMPRESS) &&
              offsetof(VxIcDecompress, lpbiInput) == offsetof(ICDECOMPRESS, lpbiInput) &&
              offsetof(VxIcDecompress, lpOutput) == offsetof(ICDECOMPRESS, lpOutput) &&
              offsetof(VxIcDecompress, ckid) == offsetof(ICDECOMPRESS, ckid));

static_assert(VX_ICM_COMPRESS_GET_FORMAT == ICM_COMPRESS_GET_FORMAT &&
              VX_ICM_COMPRESS_GET_SIZE == ICM_COMPRESS_GET_SIZE &&
              VX_ICM_COMPRESS_BEGIN == ICM_COMPRESS_BEGIN && VX_ICM_COMPRESS == ICM_COMPRESS &&
              VX_ICM_COMPRESS_END == ICM_COMPRESS_END &&
              VX_ICM_GETDEFAULTKEYFRAMERATE == ICM_GETDEFAULTKEYFRAMERATE &&
              VX_ICM_CONFIGURE == ICM_CONFIGURE && VX_ICM_GETDEFAULTQUALITY == ICM_GETDEFAULTQUALITY &&
              VX_ICM_GETQUALITY == ICM_GETQUALITY && VX_ICM_SETQUALITY == ICM_SETQUALITY &&
              VX_ICMF_CONFIGURE_QUERY == ICMF_CONFIGURE_QUERY);
static_assert(VX_VIDCF_QUALITY == VIDCF_QUALITY && VX_VIDCF_CRUNCH == VIDCF_CRUNCH &&
              VX_VIDCF_TEMPORAL == VIDCF_TEMPORAL && VX_VIDCF_COMPRESSFRAMES == VIDCF_COMPRESSFRAMES &&
              VX_VIDCF_DRAW == VIDCF_DRAW && VX_VIDCF_FASTTEMPORALC == VIDCF_FASTTEMPORALC &&
              VX_VIDCF_FASTTEMPORALD == VIDCF_FASTTEMPORALD);
static_assert(VX_ICQUALITY_HIGH == ICQUALITY_HIGH && VX_ICQUALITY_DEFAULT == ICQUALITY_DEFAULT &&
              VX_ICCOMPRESS_KEYFRAME == ICCOMPRESS_KEYFRAME && VX_AVIIF_KEYFRAME == AVIIF_KEYFRAME);
static_assert(sizeof(VxIcCompress) == sizeof(ICCOMPRESS) &&
              offsetof(VxIcCompress, lpbiOutput) == offsetof(ICCOMPRESS, lpbiOutput) &&
              offsetof(VxIcCompress, lpdwFlags) == offsetof(ICCOMPRESS, lpdwFlags) &&
              offsetof(VxIcCompress, dwQuality) == offsetof(ICCOMPRESS, dwQuality) &&
              offsetof(VxIcCompress, lpPrev) == offsetof(ICCOMPRESS, lpPrev));

namespace vx::platform {

static_assert(kCodecTypeVideo == ICTYPE_VIDEO);

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

bool codec_info(uint32_t type, uint32_t index, uint32_t* handler) {
    ICINFO info{};
    info.dwSize = sizeof info;
    if (!ICInfo(type, index, &info)) return false;
    *handler = info.fccHandler;
    return true;
}

CodecInstance codec_open(uint32_t type, uint32_t handler, uint32_t mode) {
    return ICOpen(type, handler, static_cast<UINT>(mode));
}

bool codec_get_info(CodecInstance codec, VxIcInfo* info) {
    if (codec == nullptr || info == nullptr) return false;
    // The records have one layout (asserted above).
    return ICGetInfo(hic_of(codec), reinterpret_cast<ICINFO*>(info), sizeof(ICINFO)) != 0;
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

intptr_t codec_compress(CodecInstance codec, uint32_t flags, BITMAPINFOHEADER* outFormat, void* out,
                        const BITMAPINFOHEADER* inFormat, const void* in, uint32_t* ckid,
                        uint32_t* outFlags, int32_t frameNumber, uint32_t frameSize,
                        uint32_t quality, const BITMAPINFOHEADER* previousFormat,
                        const void* previous) {
    if (codec == nullptr) return ICERR_BADHANDLE;
    // DWORD is a 32-bit unsigned long here: the same object as uint32_t.
    static_assert(sizeof(DWORD) == sizeof(uint32_t));
    const DWORD result =
        ICCompress(hic_of(codec), flags, outFormat, out, const_cast<BITMAPINFOHEADER*>(inFormat),
                   const_cast<void*>(in), reinterpret_cast<DWORD*>(ckid),
                   reinterpret_cast<DWORD*>(outFlags), frameNumber, frameSize, quality,
                   const_cast<BITMAPINFOHEADER*>(previousFormat), const_cast<void*>(previous));
    return static_cast<int32_t>(result);  // negative ICERR_ codes as a DWORD
}

void codec_close(CodecInstance codec) {
    if (codec != nullptr) ICClose(hic_of(codec));
}

void codec_unload_modules() {}

}  // namespace vx::platform
