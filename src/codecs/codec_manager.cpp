// The installed codecs for callers: thin wrappers of the platform's codec
// manager.
#include <vxmedia/vxcodecmgr.h>

#include <cstring>

#include "platform/audio_codec.h"
#include "platform/video_codec.h"

namespace vp = vx::platform;

VXAPI int32_t VXCALL VxCodecInfo(uint32_t type, uint32_t index, uint32_t* handler) {
    if (handler == nullptr) return 0;
    return vp::codec_info(type, index, handler) ? 1 : 0;
}

VXAPI VxCodec VXCALL VxCodecOpen(uint32_t type, uint32_t handler, uint32_t mode) {
    return vp::codec_open(type, handler, mode);
}

VXAPI int32_t VXCALL VxCodecGetInfo(VxCodec codec, VxIcInfo* info) {
    return vp::codec_get_info(codec, info) ? 1 : 0;
}

VXAPI intptr_t VXCALL VxCodecSend(VxCodec codec, uint32_t message, intptr_t p1, intptr_t p2) {
    return vp::codec_send(codec, message, p1, p2);
}

VXAPI intptr_t VXCALL VxCodecCompress(VxCodec codec, uint32_t flags, BITMAPINFOHEADER* outFormat,
                                      void* out, const BITMAPINFOHEADER* inFormat, const void* in,
                                      uint32_t* outFlags, int32_t frameNumber, uint32_t quality,
                                      const BITMAPINFOHEADER* previousFormat,
                                      const void* previous) {
    if (codec == nullptr || outFormat == nullptr || out == nullptr || inFormat == nullptr ||
        in == nullptr)
        return VX_ICERR_BADPARAM;
    uint32_t ckid = 0, codecFlags = 0;
    const intptr_t result =
        vp::codec_compress(codec, flags, outFormat, out, inFormat, in, &ckid, &codecFlags,
                           frameNumber, 0, quality, previousFormat, previous);
    if (outFlags != nullptr) *outFlags = codecFlags;
    return result;
}

VXAPI void VXCALL VxCodecClose(VxCodec codec) { vp::codec_close(codec); }

static_assert(VX_ACM_SUGGEST_TAG == vp::kAcmFormatSuggestWFormatTag &&
              VX_ACM_SUGGEST_CHANNELS == vp::kAcmFormatSuggestNChannels &&
              VX_ACM_SUGGEST_RATE == vp::kAcmFormatSuggestNSamplesPerSec &&
              VX_ACM_SUGGEST_BITS == vp::kAcmFormatSuggestWBitsPerSample &&
              VX_ACM_SIZE_DESTINATION == vp::kAcmStreamSizeDestination &&
              VX_ACM_CONVERT_BLOCKALIGN == vp::kAcmStreamConvertBlockAlign &&
              VX_ACM_CONVERT_START == vp::kAcmStreamConvertStart &&
              VX_ACM_CONVERT_END == vp::kAcmStreamConvertEnd);

VXAPI uint32_t VXCALL VxAcmDriverName(VxAcmDriverId id, char* name, uint32_t size) {
    if (name == nullptr || size == 0) return vp::kMmErrorInvalidParam;
    name[0] = '\0';
    vp::AcmDriverDetails details{};
    details.cbStruct = sizeof details;
    const uint32_t rc = vp::acm_driver_details(id, &details, 0);
    if (rc != vp::kMmNoError) return rc;
    const std::size_t n = strnlen(details.szShortName, sizeof details.szShortName);
    const std::size_t copied = n < size - 1 ? n : size - 1;
    std::memcpy(name, details.szShortName, copied);
    name[copied] = '\0';
    return vp::kMmNoError;
}

VXAPI uint32_t VXCALL VxAcmDriverOpen(VxAcmDriver* driver, VxAcmDriverId id) {
    return vp::acm_driver_open(driver, id, 0);
}

VXAPI uint32_t VXCALL VxAcmDriverClose(VxAcmDriver driver) {
    return vp::acm_driver_close(driver, 0);
}

VXAPI uint32_t VXCALL VxAcmFormatSuggest(VxAcmDriver driver, const WAVEFORMATEX* source,
                                         WAVEFORMATEX* destination, uint32_t destinationBytes,
                                         uint32_t flags) {
    return vp::acm_format_suggest(driver, source, destination, destinationBytes, flags);
}

VXAPI uint32_t VXCALL VxAcmStreamOpen(VxAcmStream* stream, VxAcmDriver driver,
                                      const WAVEFORMATEX* source, const WAVEFORMATEX* destination) {
    return vp::acm_stream_open(stream, driver, source, destination, vp::kAcmStreamOpenNonRealtime);
}

VXAPI uint32_t VXCALL VxAcmStreamSize(VxAcmStream stream, uint32_t bytes, uint32_t* outBytes,
                                      uint32_t flags) {
    return vp::acm_stream_size(stream, bytes, outBytes, flags);
}

VXAPI uint32_t VXCALL VxAcmStreamConvert(VxAcmStream stream, const void* source,
                                         uint32_t sourceBytes, uint32_t* sourceUsed,
                                         void* destination, uint32_t destinationBytes,
                                         uint32_t* destinationUsed, uint32_t flags) {
    if (sourceUsed != nullptr) *sourceUsed = 0;
    if (destinationUsed != nullptr) *destinationUsed = 0;
    if ((source == nullptr && sourceBytes != 0) || destination == nullptr || destinationBytes == 0)
        return vp::kMmErrorInvalidParam;
    // The headers are the platform's; one is prepared for each call.
    static uint8_t empty = 0;
    vp::AcmStreamHeader header{};
    header.cbStruct = sizeof header;
    header.pbSrc = source != nullptr ? static_cast<uint8_t*>(const_cast<void*>(source)) : &empty;
    header.cbSrcLength = sourceBytes;
    header.pbDst = static_cast<uint8_t*>(destination);
    header.cbDstLength = destinationBytes;
    uint32_t rc = vp::acm_stream_prepare_header(stream, &header, 0);
    if (rc != vp::kMmNoError) return rc;
    rc = vp::acm_stream_convert(stream, &header, flags);
    // The lengths the platform reports are checked against what it was given.
    if (rc == vp::kMmNoError) {
        if (sourceUsed != nullptr)
            *sourceUsed =
                header.cbSrcLengthUsed <= sourceBytes ? header.cbSrcLengthUsed : sourceBytes;
        if (destinationUsed != nullptr)
            *destinationUsed = header.cbDstLengthUsed <= destinationBytes ? header.cbDstLengthUsed
                                                                          : destinationBytes;
    }
    header.cbSrcLength = sourceBytes;  // unprepare wants the prepared lengths
    header.cbDstLength = destinationBytes;
    vp::acm_stream_unprepare_header(stream, &header, 0);
    return rc;
}

VXAPI uint32_t VXCALL VxAcmStreamClose(VxAcmStream stream) {
    return vp::acm_stream_close(stream, 0);
}
