#include "compress_messages.h"

#include <vxmedia/driver.h>

#include <cstring>

#include "formats.h"

namespace vxlavc {
namespace {

constexpr uint32_t kVidc = 'v' | 'i' << 8 | 'd' << 16 | static_cast<uint32_t>('c') << 24;
constexpr uint32_t kLavc = 'l' | 'a' << 8 | 'v' << 16 | static_cast<uint32_t>('c') << 24;
constexpr uint32_t kVersion = 1;

template <std::size_t N>
void put_text(uint16_t (&to)[N], const char* text) {
    std::size_t i = 0;
    for (; i + 1 < N && text[i] != '\0'; ++i) to[i] = static_cast<unsigned char>(text[i]);
    to[i] = 0;
}

intptr_t query(const Compressor& c, const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
    SourceFormat source;
    if (check_source(c, in, &source) != VX_ICERR_OK) return VX_ICERR_BADFORMAT;
    if (out != nullptr && check_compressed(c, source, out) != VX_ICERR_OK)
        return VX_ICERR_BADFORMAT;
    return VX_ICERR_OK;
}

intptr_t get_format(const Compressor& c, const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) {
    SourceFormat source;
    if (check_source(c, in, &source) != VX_ICERR_OK) return VX_ICERR_BADFORMAT;
    std::vector<uint8_t> extradata;
    if (const int r = Encoder::extradata(c, source, &extradata); r != VX_ICERR_OK) return r;
    if (extradata.size() > kMaxExtradata) return VX_ICERR_INTERNAL;
    if (out == nullptr) return static_cast<intptr_t>(kHeaderBytes + extradata.size());
    write_compressed(c, source, extradata, out);
    return VX_ICERR_OK;
}

intptr_t get_size(const Compressor& c, const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
    SourceFormat source;
    if (check_source(c, in, &source) != VX_ICERR_OK) return VX_ICERR_BADFORMAT;
    if (out != nullptr && check_compressed(c, source, out) != VX_ICERR_OK)
        return VX_ICERR_BADFORMAT;
    return static_cast<intptr_t>(max_frame_bytes(c, source.width, source.height, source.bitCount));
}

intptr_t compress(Instance& instance, const VxIcCompress* r, intptr_t size) {
    if (r == nullptr || size < static_cast<intptr_t>(sizeof(VxIcCompress)))
        return VX_ICERR_BADPARAM;
    if (!instance.encoder) return VX_ICERR_ERROR;  // no BEGIN
    return instance.encoder->compress(*r);
}

// p1 a uint32_t the codec sets; p2 its size, or 0.
intptr_t set_value(intptr_t p1, intptr_t p2, uint32_t value) {
    if (p1 == 0 || (p2 != 0 && p2 < static_cast<intptr_t>(sizeof(uint32_t))))
        return VX_ICERR_BADPARAM;
    std::memcpy(reinterpret_cast<void*>(p1), &value, sizeof value);
    return VX_ICERR_OK;
}

intptr_t default_quality(const Compressor& c, intptr_t p1, intptr_t p2) {
    // Lossless codecs always give full quality; DV and Video 1 have no
    // quality a caller could choose, and no number would be honest.
    if (c.defaultQuality == 0) return VX_ICERR_UNSUPPORTED;
    return set_value(p1, p2, c.defaultQuality);
}

}  // namespace

intptr_t get_info(const Instance& instance, void* info, intptr_t size) {
    if (info == nullptr) return sizeof(VxIcInfo);
    if (size <= 0) return 0;
    VxIcInfo record{};
    record.dwSize = sizeof record;
    record.fccType = kVidc;
    record.dwVersion = kVersion;
    record.dwVersionICM = VX_ICVERSION;
    put_text(record.szDriver, "vidc_lavc.so");
    if (const Compressor* c = instance.compressor) {
        record.fccHandler = c->handler;
        record.dwFlags = c->flags;
        put_text(record.szName, c->name);
        put_text(record.szDescription, c->description);
    } else {
        record.fccHandler = kLavc;
        put_text(record.szName, "lavc");
        put_text(record.szDescription, "Decompressors of libavcodec");
    }
    const std::size_t bytes = static_cast<std::size_t>(size) < sizeof record
                                  ? static_cast<std::size_t>(size)
                                  : sizeof record;
    std::memcpy(info, &record, bytes);
    return static_cast<intptr_t>(bytes);
}

intptr_t compress_message(Instance& instance, uint32_t message, intptr_t p1, intptr_t p2) {
    // No dialog to configure any of them, from either kind of instance.
    if (message == VX_ICM_CONFIGURE) return VX_ICERR_UNSUPPORTED;
    const Compressor* c = instance.compressor;
    if (c == nullptr) return VX_ICERR_UNSUPPORTED;
    const auto* in = reinterpret_cast<const BITMAPINFOHEADER*>(p1);
    switch (message) {
        case VX_ICM_COMPRESS_QUERY:
            return query(*c, in, reinterpret_cast<const BITMAPINFOHEADER*>(p2));
        case VX_ICM_COMPRESS_GET_FORMAT:
            return get_format(*c, in, reinterpret_cast<BITMAPINFOHEADER*>(p2));
        case VX_ICM_COMPRESS_GET_SIZE:
            return get_size(*c, in, reinterpret_cast<const BITMAPINFOHEADER*>(p2));
        case VX_ICM_COMPRESS_BEGIN:
            instance.encoder.reset();  // BEGIN while begun starts over
            return Encoder::begin(*c, in, reinterpret_cast<const BITMAPINFOHEADER*>(p2),
                                  &instance.encoder);
        case VX_ICM_COMPRESS:
            return compress(instance, reinterpret_cast<const VxIcCompress*>(p1), p2);
        case VX_ICM_COMPRESS_END:
            instance.encoder.reset();
            return VX_ICERR_OK;
        case VX_ICM_GETDEFAULTQUALITY:
            return default_quality(*c, p1, p2);
        case VX_ICM_GETDEFAULTKEYFRAMERATE:
            return set_value(p1, p2, c->keyFrameRate);
        default:
            return VX_ICERR_UNSUPPORTED;
    }
}

}  // namespace vxlavc
