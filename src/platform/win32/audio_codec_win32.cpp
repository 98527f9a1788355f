// Installed audio codecs on Windows: the system's audio compression manager
// (msacm32). The records of audio_codec.h are the system's ANSI ones, and
// the callbacks reach the caller's through small trampolines.
#include <windows.h>
// After windows.h, which they need.
#include <mmreg.h>
#include <msacm.h>
#include <vxmedia/acm_driver.h>

#include <cstddef>

#include "platform/audio_codec.h"

// The interface published for Linux driver modules is this platform's own:
// its values and records must be the system's. mingw-w64 ships no driver-side
// header, so the driver-only messages and records (ACMDRVOPENDESC, the stream
// instance, header, size and suggestion records) are pinned by their 32-bit
// sizes in acm_driver.h instead.
static_assert(VX_DRV_USER == DRV_USER && VX_ACMDM_BASE == ACMDM_BASE &&
              VX_ACMDM_DRIVER_ABOUT == ACMDM_DRIVER_ABOUT);
static_assert(VX_MMSYSERR_NOERROR == MMSYSERR_NOERROR && VX_MMSYSERR_ERROR == MMSYSERR_ERROR &&
              VX_MMSYSERR_BADDEVICEID == MMSYSERR_BADDEVICEID &&
              VX_MMSYSERR_NOTENABLED == MMSYSERR_NOTENABLED &&
              VX_MMSYSERR_ALLOCATED == MMSYSERR_ALLOCATED &&
              VX_MMSYSERR_INVALHANDLE == MMSYSERR_INVALHANDLE &&
              VX_MMSYSERR_NODRIVER == MMSYSERR_NODRIVER && VX_MMSYSERR_NOMEM == MMSYSERR_NOMEM &&
              VX_MMSYSERR_NOTSUPPORTED == MMSYSERR_NOTSUPPORTED &&
              VX_MMSYSERR_INVALFLAG == MMSYSERR_INVALFLAG &&
              VX_MMSYSERR_INVALPARAM == MMSYSERR_INVALPARAM);
static_assert(VX_ACMERR_NOTPOSSIBLE == ACMERR_NOTPOSSIBLE && VX_ACMERR_BUSY == ACMERR_BUSY &&
              VX_ACMERR_UNPREPARED == ACMERR_UNPREPARED && VX_ACMERR_CANCELED == ACMERR_CANCELED);
static_assert(VX_ACMDRIVERDETAILS_FCCTYPE_AUDIOCODEC == ACMDRIVERDETAILS_FCCTYPE_AUDIOCODEC &&
              VX_ACMDRIVERDETAILS_SUPPORTF_CODEC == ACMDRIVERDETAILS_SUPPORTF_CODEC &&
              VX_ACMDRIVERDETAILS_SUPPORTF_CONVERTER == ACMDRIVERDETAILS_SUPPORTF_CONVERTER &&
              VX_ACMDRIVERDETAILS_SUPPORTF_FILTER == ACMDRIVERDETAILS_SUPPORTF_FILTER &&
              VX_ACMDRIVERDETAILS_SUPPORTF_HARDWARE == ACMDRIVERDETAILS_SUPPORTF_HARDWARE &&
              VX_ACMDRIVERDETAILS_SUPPORTF_ASYNC == ACMDRIVERDETAILS_SUPPORTF_ASYNC &&
              VX_ACMDRIVERDETAILS_SUPPORTF_LOCAL == ACMDRIVERDETAILS_SUPPORTF_LOCAL &&
              VX_ACMDRIVERDETAILS_SUPPORTF_DISABLED == ACMDRIVERDETAILS_SUPPORTF_DISABLED);
static_assert(VX_ACM_FORMATTAGDETAILSF_INDEX == ACM_FORMATTAGDETAILSF_INDEX &&
              VX_ACM_FORMATTAGDETAILSF_FORMATTAG == ACM_FORMATTAGDETAILSF_FORMATTAG &&
              VX_ACM_FORMATTAGDETAILSF_LARGESTSIZE == ACM_FORMATTAGDETAILSF_LARGESTSIZE &&
              VX_ACM_FORMATTAGDETAILSF_QUERYMASK == ACM_FORMATTAGDETAILSF_QUERYMASK &&
              VX_ACM_FORMATDETAILSF_INDEX == ACM_FORMATDETAILSF_INDEX &&
              VX_ACM_FORMATDETAILSF_FORMAT == ACM_FORMATDETAILSF_FORMAT &&
              VX_ACM_FORMATDETAILSF_QUERYMASK == ACM_FORMATDETAILSF_QUERYMASK);
static_assert(VX_ACM_FORMATSUGGESTF_WFORMATTAG == ACM_FORMATSUGGESTF_WFORMATTAG &&
              VX_ACM_FORMATSUGGESTF_NCHANNELS == ACM_FORMATSUGGESTF_NCHANNELS &&
              VX_ACM_FORMATSUGGESTF_NSAMPLESPERSEC == ACM_FORMATSUGGESTF_NSAMPLESPERSEC &&
              VX_ACM_FORMATSUGGESTF_WBITSPERSAMPLE == ACM_FORMATSUGGESTF_WBITSPERSAMPLE &&
              VX_ACM_FORMATSUGGESTF_TYPEMASK == ACM_FORMATSUGGESTF_TYPEMASK);
static_assert(VX_ACM_STREAMOPENF_QUERY == ACM_STREAMOPENF_QUERY &&
              VX_ACM_STREAMOPENF_ASYNC == ACM_STREAMOPENF_ASYNC &&
              VX_ACM_STREAMOPENF_NONREALTIME == ACM_STREAMOPENF_NONREALTIME &&
              VX_ACM_STREAMSIZEF_SOURCE == ACM_STREAMSIZEF_SOURCE &&
              VX_ACM_STREAMSIZEF_DESTINATION == ACM_STREAMSIZEF_DESTINATION &&
              VX_ACM_STREAMSIZEF_QUERYMASK == ACM_STREAMSIZEF_QUERYMASK &&
              VX_ACM_STREAMCONVERTF_BLOCKALIGN == ACM_STREAMCONVERTF_BLOCKALIGN &&
              VX_ACM_STREAMCONVERTF_START == ACM_STREAMCONVERTF_START &&
              VX_ACM_STREAMCONVERTF_END == ACM_STREAMCONVERTF_END &&
              VX_ACMSTREAMHEADER_STATUSF_DONE == ACMSTREAMHEADER_STATUSF_DONE &&
              VX_ACMSTREAMHEADER_STATUSF_PREPARED == ACMSTREAMHEADER_STATUSF_PREPARED &&
              VX_ACMSTREAMHEADER_STATUSF_INQUEUE == ACMSTREAMHEADER_STATUSF_INQUEUE);
static_assert(VX_WAVE_FORMAT_UNKNOWN == WAVE_FORMAT_UNKNOWN &&
              VX_WAVE_FORMAT_PCM == WAVE_FORMAT_PCM && VX_WAVE_FORMAT_ADPCM == WAVE_FORMAT_ADPCM &&
              VX_WAVE_FORMAT_ALAW == WAVE_FORMAT_ALAW &&
              VX_WAVE_FORMAT_MULAW == WAVE_FORMAT_MULAW &&
              VX_WAVE_FORMAT_IMA_ADPCM == WAVE_FORMAT_IMA_ADPCM &&
              VX_WAVE_FORMAT_GSM610 == WAVE_FORMAT_GSM610 &&
              VX_WAVE_FORMAT_MPEGLAYER3 == WAVE_FORMAT_MPEGLAYER3 && VX_MM_UNMAPPED == MM_UNMAPPED);
static_assert(VX_ACMDRIVERDETAILS_SHORTNAME_CHARS == ACMDRIVERDETAILS_SHORTNAME_CHARS &&
              VX_ACMDRIVERDETAILS_LONGNAME_CHARS == ACMDRIVERDETAILS_LONGNAME_CHARS &&
              VX_ACMDRIVERDETAILS_COPYRIGHT_CHARS == ACMDRIVERDETAILS_COPYRIGHT_CHARS &&
              VX_ACMDRIVERDETAILS_LICENSING_CHARS == ACMDRIVERDETAILS_LICENSING_CHARS &&
              VX_ACMDRIVERDETAILS_FEATURES_CHARS == ACMDRIVERDETAILS_FEATURES_CHARS &&
              VX_ACMFORMATTAGDETAILS_FORMATTAG_CHARS == ACMFORMATTAGDETAILS_FORMATTAG_CHARS &&
              VX_ACMFORMATDETAILS_FORMAT_CHARS == ACMFORMATDETAILS_FORMAT_CHARS);
static_assert(sizeof(VxAcmDriverDetailsW) == sizeof(ACMDRIVERDETAILSW) &&
              offsetof(VxAcmDriverDetailsW, wMid) == offsetof(ACMDRIVERDETAILSW, wMid) &&
              offsetof(VxAcmDriverDetailsW, hicon) == offsetof(ACMDRIVERDETAILSW, hicon) &&
              offsetof(VxAcmDriverDetailsW, szShortName) ==
                  offsetof(ACMDRIVERDETAILSW, szShortName) &&
              offsetof(VxAcmDriverDetailsW, szFeatures) == offsetof(ACMDRIVERDETAILSW, szFeatures));
static_assert(sizeof(VxAcmFormatTagDetailsW) == sizeof(ACMFORMATTAGDETAILSW) &&
              offsetof(VxAcmFormatTagDetailsW, cStandardFormats) ==
                  offsetof(ACMFORMATTAGDETAILSW, cStandardFormats) &&
              offsetof(VxAcmFormatTagDetailsW, szFormatTag) ==
                  offsetof(ACMFORMATTAGDETAILSW, szFormatTag));
static_assert(sizeof(VxAcmFormatDetailsW) == sizeof(ACMFORMATDETAILSW) &&
              offsetof(VxAcmFormatDetailsW, pwfx) == offsetof(ACMFORMATDETAILSW, pwfx) &&
              offsetof(VxAcmFormatDetailsW, cbwfx) == offsetof(ACMFORMATDETAILSW, cbwfx) &&
              offsetof(VxAcmFormatDetailsW, szFormat) == offsetof(ACMFORMATDETAILSW, szFormat));

namespace vx::platform {

// The manager's records are the system's ANSI ones.
static_assert(sizeof(AcmDriverDetails) == sizeof(ACMDRIVERDETAILSA) &&
              offsetof(AcmDriverDetails, hicon) == offsetof(ACMDRIVERDETAILSA, hicon) &&
              offsetof(AcmDriverDetails, szShortName) == offsetof(ACMDRIVERDETAILSA, szShortName) &&
              offsetof(AcmDriverDetails, szFeatures) == offsetof(ACMDRIVERDETAILSA, szFeatures));
static_assert(sizeof(AcmFormatTagDetails) == sizeof(ACMFORMATTAGDETAILSA) &&
              offsetof(AcmFormatTagDetails, cStandardFormats) ==
                  offsetof(ACMFORMATTAGDETAILSA, cStandardFormats) &&
              offsetof(AcmFormatTagDetails, szFormatTag) ==
                  offsetof(ACMFORMATTAGDETAILSA, szFormatTag));
static_assert(sizeof(AcmFormatDetails) == sizeof(ACMFORMATDETAILSA) &&
              offsetof(AcmFormatDetails, pwfx) == offsetof(ACMFORMATDETAILSA, pwfx) &&
              offsetof(AcmFormatDetails, cbwfx) == offsetof(ACMFORMATDETAILSA, cbwfx) &&
              offsetof(AcmFormatDetails, szFormat) == offsetof(ACMFORMATDETAILSA, szFormat));
static_assert(sizeof(AcmStreamHeader) == sizeof(ACMSTREAMHEADER) &&
              offsetof(AcmStreamHeader, pbSrc) == offsetof(ACMSTREAMHEADER, pbSrc) &&
              offsetof(AcmStreamHeader, cbDstLengthUsed) ==
                  offsetof(ACMSTREAMHEADER, cbDstLengthUsed) &&
              offsetof(AcmStreamHeader, dwReservedDriver) ==
                  offsetof(ACMSTREAMHEADER, dwReservedDriver));
static_assert(kMmErrorNoDriver == MMSYSERR_NODRIVER && kAcmErrorUnprepared == ACMERR_UNPREPARED);
static_assert(kAcmFormatEnumWFormatTag == ACM_FORMATENUMF_WFORMATTAG &&
              kAcmFormatEnumNChannels == ACM_FORMATENUMF_NCHANNELS &&
              kAcmFormatEnumNSamplesPerSec == ACM_FORMATENUMF_NSAMPLESPERSEC &&
              kAcmFormatEnumWBitsPerSample == ACM_FORMATENUMF_WBITSPERSAMPLE &&
              kAcmFormatEnumConvert == ACM_FORMATENUMF_CONVERT &&
              kAcmFormatEnumSuggest == ACM_FORMATENUMF_SUGGEST &&
              kAcmFormatEnumHardware == ACM_FORMATENUMF_HARDWARE &&
              kAcmFormatEnumInput == ACM_FORMATENUMF_INPUT &&
              kAcmFormatEnumOutput == ACM_FORMATENUMF_OUTPUT);
static_assert(kAcmDriverEnumNoLocal == ACM_DRIVERENUMF_NOLOCAL &&
              kAcmDriverEnumDisabled == ACM_DRIVERENUMF_DISABLED &&
              kAcmStreamOpenAsync == ACM_STREAMOPENF_ASYNC &&
              kAcmStreamHeaderDone == ACMSTREAMHEADER_STATUSF_DONE &&
              kAcmStreamHeaderPrepared == ACMSTREAMHEADER_STATUSF_PREPARED);

namespace {

struct DriverEnum {
    AcmDriverEnumCallback callback;
    void* context;
};

BOOL CALLBACK driver_enum_trampoline(HACMDRIVERID id, DWORD_PTR instance, DWORD support) {
    const auto* e = reinterpret_cast<const DriverEnum*>(instance);
    return e->callback(id, e->context, support) ? TRUE : FALSE;
}

struct FormatEnum {
    AcmFormatEnumCallback callback;
    void* context;
};

BOOL CALLBACK format_enum_trampoline(HACMDRIVERID id, ACMFORMATDETAILSA* details,
                                     DWORD_PTR instance, DWORD support) {
    const auto* e = reinterpret_cast<const FormatEnum*>(instance);
    return e->callback(id, reinterpret_cast<AcmFormatDetails*>(details), e->context, support)
               ? TRUE
               : FALSE;
}

HACMDRIVER driver_of(AcmDriver driver) { return static_cast<HACMDRIVER>(driver); }
HACMSTREAM stream_of(AcmStream stream) { return static_cast<HACMSTREAM>(stream); }
ACMSTREAMHEADER* header_of(AcmStreamHeader* header) {
    return reinterpret_cast<ACMSTREAMHEADER*>(header);
}
// The system's declarations predate const: the formats are only read.
WAVEFORMATEX* readable(const WAVEFORMATEX* format) { return const_cast<WAVEFORMATEX*>(format); }

}  // namespace

uint32_t acm_driver_enum(AcmDriverEnumCallback callback, void* context, uint32_t flags) {
    if (callback == nullptr) return MMSYSERR_INVALPARAM;
    DriverEnum e{callback, context};
    return acmDriverEnum(driver_enum_trampoline, reinterpret_cast<DWORD_PTR>(&e), flags);
}

uint32_t acm_driver_details(AcmDriverId id, AcmDriverDetails* details, uint32_t flags) {
    return acmDriverDetailsA(static_cast<HACMDRIVERID>(id),
                             reinterpret_cast<ACMDRIVERDETAILSA*>(details), flags);
}

uint32_t acm_driver_open(AcmDriver* driver, AcmDriverId id, uint32_t flags) {
    return acmDriverOpen(reinterpret_cast<HACMDRIVER*>(driver), static_cast<HACMDRIVERID>(id),
                         flags);
}

uint32_t acm_driver_close(AcmDriver driver, uint32_t flags) {
    return acmDriverClose(driver_of(driver), flags);
}

uint32_t acm_driver_id(void* driverOrStream, AcmDriverId* id, uint32_t flags) {
    return acmDriverID(static_cast<HACMOBJ>(driverOrStream), reinterpret_cast<HACMDRIVERID*>(id),
                       flags);
}

uint32_t acm_format_tag_details(AcmDriver driver, AcmFormatTagDetails* details, uint32_t flags) {
    return acmFormatTagDetailsA(driver_of(driver), reinterpret_cast<ACMFORMATTAGDETAILSA*>(details),
                                flags);
}

uint32_t acm_format_enum(AcmDriver driver, AcmFormatDetails* details,
                         AcmFormatEnumCallback callback, void* context, uint32_t flags) {
    if (callback == nullptr) return MMSYSERR_INVALPARAM;
    FormatEnum e{callback, context};
    return acmFormatEnumA(driver_of(driver), reinterpret_cast<ACMFORMATDETAILSA*>(details),
                          format_enum_trampoline, reinterpret_cast<DWORD_PTR>(&e), flags);
}

uint32_t acm_format_suggest(AcmDriver driver, const WAVEFORMATEX* source, WAVEFORMATEX* destination,
                            uint32_t destinationBytes, uint32_t flags) {
    return acmFormatSuggest(driver_of(driver), readable(source), destination, destinationBytes,
                            flags);
}

uint32_t acm_stream_open(AcmStream* stream, AcmDriver driver, const WAVEFORMATEX* source,
                         const WAVEFORMATEX* destination, uint32_t flags) {
    return acmStreamOpen(reinterpret_cast<HACMSTREAM*>(stream), driver_of(driver), readable(source),
                         readable(destination), nullptr, 0, 0, flags);
}

uint32_t acm_stream_size(AcmStream stream, uint32_t bytes, uint32_t* outBytes, uint32_t flags) {
    if (outBytes == nullptr) return MMSYSERR_INVALPARAM;
    DWORD out = 0;
    const MMRESULT r = acmStreamSize(stream_of(stream), bytes, &out, flags);
    if (r == MMSYSERR_NOERROR) *outBytes = out;
    return r;
}

uint32_t acm_stream_prepare_header(AcmStream stream, AcmStreamHeader* header, uint32_t flags) {
    return acmStreamPrepareHeader(stream_of(stream), header_of(header), flags);
}

uint32_t acm_stream_convert(AcmStream stream, AcmStreamHeader* header, uint32_t flags) {
    return acmStreamConvert(stream_of(stream), header_of(header), flags);
}

uint32_t acm_stream_unprepare_header(AcmStream stream, AcmStreamHeader* header, uint32_t flags) {
    return acmStreamUnprepareHeader(stream_of(stream), header_of(header), flags);
}

uint32_t acm_stream_close(AcmStream stream, uint32_t flags) {
    return acmStreamClose(stream_of(stream), flags);
}

}  // namespace vx::platform
