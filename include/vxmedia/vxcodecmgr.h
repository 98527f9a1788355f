/* The installed codecs, driven by a caller: what a host needs to compress
 * with the codecs GetAVICodecs lists. On Windows these pass to the system's
 * codec manager; on Linux they are VxMedia's own manager of the driver
 * modules named in the profile's [drivers32] section. Messages, records and
 * results of the video calls are those of <vxmedia/driver.h>.
 */
#ifndef VXMEDIA_VXCODECMGR_H
#define VXMEDIA_VXCODECMGR_H

#include "driver.h"
#include "vxtypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* An open codec instance (an HIC on Windows). */
typedef void* VxCodec;

#define VX_CODEC_TYPE_VIDEO 0x63646976u /* "vidc" */

/* The handler code of the installed codec of `type` at `index` (0, 1, ...),
 * in the platform's order: 1, or 0 past the last. */
VXAPI int32_t VXCALL VxCodecInfo(uint32_t type, uint32_t index, uint32_t* handler);
/* The installed codec of `type` with `handler` (letters in either case)
 * opened in `mode` (VX_ICMODE_); null when there is none or it refuses. */
VXAPI VxCodec VXCALL VxCodecOpen(uint32_t type, uint32_t handler, uint32_t mode);
/* The codec's description of itself: 1, or 0 when it gives none. */
VXAPI int32_t VXCALL VxCodecGetInfo(VxCodec codec, VxIcInfo* info);
VXAPI intptr_t VXCALL VxCodecSend(VxCodec codec, uint32_t message, intptr_t p1, intptr_t p2);
/* Compresses one frame between ICM_COMPRESS_BEGIN and ICM_COMPRESS_END; on
 * success outFormat->biSizeImage holds the bytes written and *outFlags
 * VX_AVIIF_KEYFRAME for a key frame. A codec without
 * VX_VIDCF_FASTTEMPORALC is given the previous frame (null for none). */
VXAPI intptr_t VXCALL VxCodecCompress(VxCodec codec, uint32_t flags, BITMAPINFOHEADER* outFormat,
                                      void* out, const BITMAPINFOHEADER* inFormat, const void* in,
                                      uint32_t* outFlags, int32_t frameNumber, uint32_t quality,
                                      const BITMAPINFOHEADER* previousFormat, const void* previous);
/* Closes an instance of VxCodecOpen or a kept-open instance of the codec
 * list; null does nothing. */
VXAPI void VXCALL VxCodecClose(VxCodec codec);

/* Audio codecs: the drivers GetACMCodecs lists and conversions between
 * audio formats through them. Results are the platform's MMRESULT codes,
 * 0 for success. A null driver lets any installed driver serve. */
typedef void* VxAcmDriverId; /* HACMDRIVERID */
typedef void* VxAcmDriver;   /* HACMDRIVER */
typedef void* VxAcmStream;   /* HACMSTREAM */

/* The driver's short name into `name` (`size` bytes, at least 1). */
VXAPI uint32_t VXCALL VxAcmDriverName(VxAcmDriverId id, char* name, uint32_t size);
VXAPI uint32_t VXCALL VxAcmDriverOpen(VxAcmDriver* driver, VxAcmDriverId id);
VXAPI uint32_t VXCALL VxAcmDriverClose(VxAcmDriver driver);
/* acmFormatSuggest: a format of the tag, channels, rate or depth that the
 * flags (VX_ACM_SUGGEST_) take from `destination`, that `source` converts
 * to; `destinationBytes` is the room at `destination`. */
#define VX_ACM_SUGGEST_TAG 0x00010000u
#define VX_ACM_SUGGEST_CHANNELS 0x00020000u
#define VX_ACM_SUGGEST_RATE 0x00040000u
#define VX_ACM_SUGGEST_BITS 0x00080000u
VXAPI uint32_t VXCALL VxAcmFormatSuggest(VxAcmDriver driver, const WAVEFORMATEX* source,
                                         WAVEFORMATEX* destination, uint32_t destinationBytes,
                                         uint32_t flags);
/* A conversion from `source` to `destination` (each with its cbSize extra
 * bytes). */
VXAPI uint32_t VXCALL VxAcmStreamOpen(VxAcmStream* stream, VxAcmDriver driver,
                                      const WAVEFORMATEX* source, const WAVEFORMATEX* destination);
/* The bytes of the destination for `bytes` of the source, or with
 * VX_ACM_SIZE_DESTINATION the source bytes for `bytes` of the destination. */
#define VX_ACM_SIZE_DESTINATION 0x1u
VXAPI uint32_t VXCALL VxAcmStreamSize(VxAcmStream stream, uint32_t bytes, uint32_t* outBytes,
                                      uint32_t flags);
/* Converts what it can of `sourceBytes` at `source` into at most
 * `destinationBytes` at `destination`; *sourceUsed and *destinationUsed say
 * how much. VX_ACM_CONVERT_START begins a stream, VX_ACM_CONVERT_END gives
 * out what the codec still holds; VX_ACM_CONVERT_BLOCKALIGN converts whole
 * blocks only, keeping the rest for the caller to give again. */
#define VX_ACM_CONVERT_BLOCKALIGN 0x04u
#define VX_ACM_CONVERT_START 0x10u
#define VX_ACM_CONVERT_END 0x20u
VXAPI uint32_t VXCALL VxAcmStreamConvert(VxAcmStream stream, const void* source,
                                         uint32_t sourceBytes, uint32_t* sourceUsed,
                                         void* destination, uint32_t destinationBytes,
                                         uint32_t* destinationUsed, uint32_t flags);
VXAPI uint32_t VXCALL VxAcmStreamClose(VxAcmStream stream);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif
