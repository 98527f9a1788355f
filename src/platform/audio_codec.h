// Installed audio codecs: the platform's audio compression manager. On
// Windows that is the system's (msacm32). On Linux the drivers are modules
// listed in the profile section "drivers32" as "msacm.NAME=module.so", in
// file order, loaded on first use through the same module table and lock as
// the video codec modules, and driven through their DriverProc with the
// published audio compression driver messages.
//
// The records are the platform's ANSI records (the same layout on Windows;
// text is UTF-8 on Linux); results are the platform's MMRESULT codes, 0 for
// success.
#pragma once

#include <vxmedia/vxtypes.h>

#include <cstdint>

namespace vx::platform {

// A driver id (HACMDRIVERID), an open driver (HACMDRIVER) and an open
// conversion stream (HACMSTREAM); null is none.
using AcmDriverId = void*;
using AcmDriver = void*;
using AcmStream = void*;

inline constexpr uint32_t kMmNoError = 0;
inline constexpr uint32_t kMmErrorError = 1;          // MMSYSERR_ERROR
inline constexpr uint32_t kMmErrorBadDeviceId = 2;    // MMSYSERR_BADDEVICEID
inline constexpr uint32_t kMmErrorNotEnabled = 3;     // MMSYSERR_NOTENABLED
inline constexpr uint32_t kMmErrorInvalidHandle = 5;  // MMSYSERR_INVALHANDLE
inline constexpr uint32_t kMmErrorNoDriver = 6;       // MMSYSERR_NODRIVER
inline constexpr uint32_t kMmErrorNoMemory = 7;       // MMSYSERR_NOMEM
inline constexpr uint32_t kMmErrorNotSupported = 8;   // MMSYSERR_NOTSUPPORTED
inline constexpr uint32_t kMmErrorInvalidFlag = 10;   // MMSYSERR_INVALFLAG
inline constexpr uint32_t kMmErrorInvalidParam = 11;  // MMSYSERR_INVALPARAM
inline constexpr uint32_t kAcmErrorNotPossible = 512; // ACMERR_NOTPOSSIBLE
inline constexpr uint32_t kAcmErrorBusy = 513;        // ACMERR_BUSY
inline constexpr uint32_t kAcmErrorUnprepared = 514;  // ACMERR_UNPREPARED

inline constexpr uint16_t kWaveFormatPcm = 1;

// acmFormatEnum flags, acmFormatSuggest flags, acmStreamOpen flags,
// acmStreamSize flags and acmStreamConvert flags (the published values).
inline constexpr uint32_t kAcmFormatEnumWFormatTag = 0x00010000u;
inline constexpr uint32_t kAcmFormatEnumNChannels = 0x00020000u;
inline constexpr uint32_t kAcmFormatEnumNSamplesPerSec = 0x00040000u;
inline constexpr uint32_t kAcmFormatEnumWBitsPerSample = 0x00080000u;
inline constexpr uint32_t kAcmFormatEnumConvert = 0x00100000u;
inline constexpr uint32_t kAcmFormatEnumSuggest = 0x00200000u;
inline constexpr uint32_t kAcmFormatEnumHardware = 0x00400000u;
inline constexpr uint32_t kAcmFormatEnumInput = 0x00800000u;
inline constexpr uint32_t kAcmFormatEnumOutput = 0x01000000u;
inline constexpr uint32_t kAcmFormatSuggestWFormatTag = 0x00010000u;
inline constexpr uint32_t kAcmFormatSuggestNChannels = 0x00020000u;
inline constexpr uint32_t kAcmFormatSuggestNSamplesPerSec = 0x00040000u;
inline constexpr uint32_t kAcmFormatSuggestWBitsPerSample = 0x00080000u;
inline constexpr uint32_t kAcmFormatTagDetailsIndex = 0x00000000u;
inline constexpr uint32_t kAcmFormatTagDetailsFormatTag = 0x00000001u;
inline constexpr uint32_t kAcmFormatTagDetailsLargestSize = 0x00000002u;
inline constexpr uint32_t kAcmDriverEnumNoLocal = 0x40000000u;
inline constexpr uint32_t kAcmDriverEnumDisabled = 0x80000000u;
inline constexpr uint32_t kAcmStreamOpenQuery = 0x00000001u;
inline constexpr uint32_t kAcmStreamOpenAsync = 0x00000002u;
inline constexpr uint32_t kAcmStreamOpenNonRealtime = 0x00000004u;
inline constexpr uint32_t kAcmStreamSizeSource = 0x00000000u;
inline constexpr uint32_t kAcmStreamSizeDestination = 0x00000001u;
inline constexpr uint32_t kAcmStreamConvertBlockAlign = 0x00000004u;
inline constexpr uint32_t kAcmStreamConvertStart = 0x00000010u;
inline constexpr uint32_t kAcmStreamConvertEnd = 0x00000020u;
inline constexpr uint32_t kAcmStreamHeaderDone = 0x00010000u;
inline constexpr uint32_t kAcmStreamHeaderPrepared = 0x00020000u;

#pragma pack(push, 1)
// ACMDRIVERDETAILSA: 920 bytes on 32-bit Windows.
struct AcmDriverDetails {
    uint32_t cbStruct;
    uint32_t fccType;  // "audc"
    uint32_t fccComp;
    uint16_t wMid;  // manufacturer id
    uint16_t wPid;
    uint32_t vdwACM;
    uint32_t vdwDriver;
    uint32_t fdwSupport;
    uint32_t cFormatTags;
    uint32_t cFilterTags;
    void* hicon;
    char szShortName[32];
    char szLongName[128];
    char szCopyright[80];
    char szLicensing[128];
    char szFeatures[512];
};

// ACMFORMATTAGDETAILSA: 72 bytes.
struct AcmFormatTagDetails {
    uint32_t cbStruct;
    uint32_t dwFormatTagIndex;
    uint32_t dwFormatTag;
    uint32_t cbFormatSize;  // the largest format of this tag, in bytes
    uint32_t fdwSupport;
    uint32_t cStandardFormats;
    char szFormatTag[48];
};

// ACMFORMATDETAILSA.
struct AcmFormatDetails {
    uint32_t cbStruct;
    uint32_t dwFormatIndex;
    uint32_t dwFormatTag;
    uint32_t fdwSupport;
    WAVEFORMATEX* pwfx;
    uint32_t cbwfx;
    char szFormat[128];
};

// ACMSTREAMHEADER: prepared once, then converted any number of times.
struct AcmStreamHeader {
    uint32_t cbStruct;
    uint32_t fdwStatus;
    uintptr_t dwUser;
    uint8_t* pbSrc;
    uint32_t cbSrcLength;
    uint32_t cbSrcLengthUsed;
    uintptr_t dwSrcUser;
    uint8_t* pbDst;
    uint32_t cbDstLength;
    uint32_t cbDstLengthUsed;
    uintptr_t dwDstUser;
    uint32_t dwReservedDriver[sizeof(void*) == 4 ? 10 : 15];
};
#pragma pack(pop)

// Return true to go on enumerating.
using AcmDriverEnumCallback = bool (*)(AcmDriverId id, void* context, uint32_t support);
using AcmFormatEnumCallback = bool (*)(AcmDriverId id, AcmFormatDetails* details, void* context,
                                       uint32_t support);

// acmDriverEnum: the enabled drivers in the platform's order.
uint32_t acm_driver_enum(AcmDriverEnumCallback callback, void* context, uint32_t flags);
// acmDriverDetailsA: details->cbStruct says how much the caller has room for.
uint32_t acm_driver_details(AcmDriverId id, AcmDriverDetails* details, uint32_t flags);
// acmDriverOpen / acmDriverClose.
uint32_t acm_driver_open(AcmDriver* driver, AcmDriverId id, uint32_t flags);
uint32_t acm_driver_close(AcmDriver driver, uint32_t flags);
// acmDriverID: the id of an open driver (or of a stream's driver).
uint32_t acm_driver_id(void* driverOrStream, AcmDriverId* id, uint32_t flags);
// acmFormatTagDetailsA (flags 0: by details->dwFormatTagIndex, which needs a
// driver). With a null driver, by tag: the first driver with it; the largest
// size: the largest of all drivers.
uint32_t acm_format_tag_details(AcmDriver driver, AcmFormatTagDetails* details, uint32_t flags);
// acmFormatEnumA: details->pwfx is the caller's buffer of details->cbwfx
// bytes, whose format restricts the enumeration as the flags say (the tag
// of kAcmFormatEnumWFormatTag is details->dwFormatTag; with kAcmFormatEnumConvert
// the format is the source). A null driver enumerates every driver in turn.
uint32_t acm_format_enum(AcmDriver driver, AcmFormatDetails* details,
                         AcmFormatEnumCallback callback, void* context, uint32_t flags);
// acmFormatSuggest: a destination format of at most `destinationBytes`.
uint32_t acm_format_suggest(AcmDriver driver, const WAVEFORMATEX* source,
                            WAVEFORMATEX* destination, uint32_t destinationBytes, uint32_t flags);
// acmStreamOpen (no filter, no callback). `driver` null lets any driver
// take the conversion.
uint32_t acm_stream_open(AcmStream* stream, AcmDriver driver, const WAVEFORMATEX* source,
                         const WAVEFORMATEX* destination, uint32_t flags);
// acmStreamSize: the bytes of the other side for `bytes` of one side.
uint32_t acm_stream_size(AcmStream stream, uint32_t bytes, uint32_t* outBytes, uint32_t flags);
uint32_t acm_stream_prepare_header(AcmStream stream, AcmStreamHeader* header, uint32_t flags);
uint32_t acm_stream_convert(AcmStream stream, AcmStreamHeader* header, uint32_t flags);
uint32_t acm_stream_unprepare_header(AcmStream stream, AcmStreamHeader* header, uint32_t flags);
uint32_t acm_stream_close(AcmStream stream, uint32_t flags);

}  // namespace vx::platform
