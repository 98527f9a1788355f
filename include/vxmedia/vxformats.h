/* Format-type conversions: the handler code of a video stream header and
 * the bitmap compression code of its codec, translated through the video
 * codec list the host keeps, and text appended to a host handle.
 */
#ifndef VXMEDIA_VXFORMATS_H
#define VXMEDIA_VXFORMATS_H

#include "vxtypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The host's class-data key of the video codec list ('vcdl'). */
#define VX_CLASS_VIDEO_CODECS 0x7663646Cu
/* Size of one record of that list, and where its two codes are. */
#define VX_CODEC_ENTRY_SIZE 123
#define VX_CODEC_ENTRY_HANDLER 2
#define VX_CODEC_ENTRY_BITMAP 6

/* The bitmap type a codec produces for a handler type, or 0 when no codec
 * of the list has it. The DV handlers "nvsd" and "pvsd" give "dvsd". */
VXAPI FOURCC VXCALL FccType2BiType(FOURCC handlerType, const HostMemFuncs* mem);
/* The handler type of the first codec of the list with this bitmap type, or 0. */
VXAPI FOURCC VXCALL BiType2FccType(FOURCC bitmapType, const HostMemFuncs* mem);

/* Appends a NUL-terminated text to the text held in `handle`, whose length
 * without the terminator is *length; grows the handle through `mem`.
 * Returns the characters appended: 0 for an empty text, and 0 with nothing
 * changed when the handle could not be grown. */
VXAPI uint32_t VXCALL AddHandleText(VxHandle handle, uint32_t* length, const char* text,
                                    const HostMemFuncs* mem);
/* As AddHandleText, with string `index` of the host's string list 1000. */
VXAPI uint32_t VXCALL AddHandleStr(VxHandle handle, uint32_t* length, int32_t index,
                                   const HostMemFuncs* mem);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif
