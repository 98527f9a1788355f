// The module's one export: the codec manager's messages, dispatched.
#include <vxmedia/driver.h>

#include <new>

#include "compress_messages.h"
#include "compressors.h"
#include "formats.h"
#include "instance_registry.h"
#include "quiet_log.h"

namespace vxlavc {
namespace {

// The modes a decompressor serves; 0 and the query mode only ask questions.
bool decompressor_mode(uint32_t mode) {
    return mode == 0 || mode == VX_ICMODE_QUERY || mode == VX_ICMODE_DECOMPRESS ||
           mode == VX_ICMODE_FASTDECOMPRESS;
}
bool compressor_mode(uint32_t mode) {
    return mode == VX_ICMODE_COMPRESS || mode == VX_ICMODE_FASTCOMPRESS;
}

constexpr uint32_t lower_fourcc(uint32_t code) {
    uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        uint32_t c = (code >> shift) & 0xFF;
        if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
        out |= c << shift;
    }
    return out;
}
constexpr uint32_t kVidc = 'v' | 'i' << 8 | 'd' << 16 | static_cast<uint32_t>('c') << 24;

// The handler code picks what an instance is: a compressor's code opens that
// compressor (which decompresses too); any other ("lavc", 0) the catch-all
// decompressor, which refuses to open for compression.
intptr_t open(VxIcOpen* request) {
    if (request == nullptr) return 0;
    const Compressor* compressor = find_compressor(request->fccHandler);
    const uint32_t mode = request->dwFlags;
    const bool served = decompressor_mode(mode) || (compressor != nullptr && compressor_mode(mode));
    if (lower_fourcc(request->fccType) != kVidc || !served) {
        request->dwError = VX_ICERR_UNSUPPORTED;
        return 0;
    }
    const uintptr_t id = open_instance(compressor);
    request->dwError = id != 0 ? VX_ICERR_OK : VX_ICERR_MEMORY;
    return static_cast<intptr_t>(id);
}

intptr_t query(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
    InputFormat input;
    if (check_input(in, &input) != VX_ICERR_OK) return VX_ICERR_BADFORMAT;
    OutputLayout layout;
    if (out != nullptr && check_output(out, input, &layout) != VX_ICERR_OK)
        return VX_ICERR_BADFORMAT;
    return VX_ICERR_OK;
}

intptr_t get_format(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) {
    InputFormat input;
    if (check_input(in, &input) != VX_ICERR_OK) return VX_ICERR_BADFORMAT;
    if (out == nullptr) return kHeaderBytes;
    default_output(input, out);
    return VX_ICERR_OK;
}

intptr_t begin(Instance& instance, const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
    instance.decoder.reset();  // BEGIN while begun starts over
    return Decoder::begin(in, out, &instance.decoder);
}

intptr_t decompress(Instance& instance, const VxIcDecompress* d, intptr_t size) {
    if (d == nullptr || size < static_cast<intptr_t>(sizeof(VxIcDecompress)) ||
        d->lpbiInput == nullptr)
        return VX_ICERR_BADPARAM;
    if (!instance.decoder) return VX_ICERR_ERROR;  // no BEGIN
    const uint32_t bytes = d->lpbiInput->biSizeImage;
    const bool convert = (d->dwFlags & VX_ICDECOMPRESS_HURRYUP) == 0;
    if (convert && d->lpOutput == nullptr) return VX_ICERR_BADPARAM;
    // A frame without bytes gives out a picture held back, if any.
    if (bytes == 0 || (d->dwFlags & VX_ICDECOMPRESS_NULLFRAME) != 0)
        return instance.decoder->drain(convert, static_cast<uint8_t*>(d->lpOutput));
    if (d->lpInput == nullptr) return VX_ICERR_BADPARAM;
    return instance.decoder->decode(static_cast<const uint8_t*>(d->lpInput), bytes, convert,
                                    static_cast<uint8_t*>(d->lpOutput));
}

intptr_t instance_message(uintptr_t id, uint32_t message, intptr_t p1, intptr_t p2) {
    Instance* instance = find_instance(id);
    if (instance == nullptr) return VX_ICERR_BADHANDLE;
    const auto* in = reinterpret_cast<const BITMAPINFOHEADER*>(p1);
    switch (message) {
        case VX_ICM_DECOMPRESS_QUERY:
            return query(in, reinterpret_cast<const BITMAPINFOHEADER*>(p2));
        case VX_ICM_DECOMPRESS_GET_FORMAT:
            return get_format(in, reinterpret_cast<BITMAPINFOHEADER*>(p2));
        case VX_ICM_DECOMPRESS_BEGIN:
            return begin(*instance, in, reinterpret_cast<const BITMAPINFOHEADER*>(p2));
        case VX_ICM_DECOMPRESS:
            return decompress(*instance, reinterpret_cast<const VxIcDecompress*>(p1), p2);
        case VX_ICM_DECOMPRESS_END:
            instance->decoder.reset();
            return VX_ICERR_OK;
        case VX_ICM_DECOMPRESS_GET_HELD:
            if (p1 == 0) return VX_ICERR_BADPARAM;
            *reinterpret_cast<uint32_t*>(p1) = instance->decoder ? instance->decoder->held() : 0;
            return VX_ICERR_OK;
        case VX_ICM_GETINFO:
            return get_info(*instance, reinterpret_cast<void*>(p1), p2);
        default:
            return compress_message(*instance, message, p1, p2);
    }
}

intptr_t dispatch(uintptr_t id, uint32_t message, intptr_t p1, intptr_t p2) {
    switch (message) {
        case VX_DRV_LOAD:
            quiet_log_load();
            return 1;
        case VX_DRV_FREE:
            quiet_log_free();
            return 1;
        case VX_DRV_ENABLE:
        case VX_DRV_DISABLE:
            return 1;
        case VX_DRV_OPEN:
            return open(reinterpret_cast<VxIcOpen*>(p2));
        case VX_DRV_CLOSE:
            return close_instance(id) ? 1 : 0;
        case VX_ICM_DECOMPRESS_QUERY:
        case VX_ICM_DECOMPRESS_GET_FORMAT:
        case VX_ICM_DECOMPRESS_BEGIN:
        case VX_ICM_DECOMPRESS:
        case VX_ICM_DECOMPRESS_END:
        case VX_ICM_DECOMPRESS_GET_HELD:
        case VX_ICM_GETINFO:
        case VX_ICM_COMPRESS_QUERY:
        case VX_ICM_COMPRESS_GET_FORMAT:
        case VX_ICM_COMPRESS_GET_SIZE:
        case VX_ICM_COMPRESS_BEGIN:
        case VX_ICM_COMPRESS:
        case VX_ICM_COMPRESS_END:
        case VX_ICM_GETDEFAULTQUALITY:
        case VX_ICM_GETDEFAULTKEYFRAMERATE:
        case VX_ICM_CONFIGURE:
            return instance_message(id, message, p1, p2);
        default:
            return VX_ICERR_UNSUPPORTED;
    }
}

}  // namespace
}  // namespace vxlavc

extern "C" __attribute__((visibility("default"))) intptr_t DriverProc(uintptr_t driverId,
                                                                      void* /*driver*/,
                                                                      uint32_t message, intptr_t p1,
                                                                      intptr_t p2) {
    const vxlavc::QuietLogScope quiet;
    try {
        return vxlavc::dispatch(driverId, message, p1, p2);
    } catch (const std::bad_alloc&) {
        return message == VX_DRV_OPEN ? 0 : VX_ICERR_MEMORY;
    }
}
