/* Frame decoding, and the lock that the host and its plug-ins hold around
 * their work on AVI files and codecs.
 */
#ifndef VXMEDIA_AVIFRAMES_H
#define VXMEDIA_AVIFRAMES_H

#include "avireader.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Decoded frames of a reader's video stream. The reader must stay open until
 * aviGetFrameTerm; one handle is used by one thread at a time. */
typedef struct AviFrameDecoder AviFrameDecoder;

/* Sets up a handle for the reader's video stream, through an installed codec
 * when the stream is compressed. On failure *outDecoder is null. */
VXAPI VXRESULT VXCALL aviGetFrameInit(AviReader* reader, AviFrameDecoder** outDecoder);
/* Delivers frame `frame` (from 0; clamped to the stream): its format (40
 * bytes, and the colour table up to 8 bits: `format` needs room for 256
 * entries), its pixels, and *owned = 1 when the pixels are a block that now
 * belongs to the caller (release it with VxDisposeData), else 0: then they
 * stay valid until the next call on the handle. */
VXAPI VXRESULT VXCALL aviGetFrame(AviFrameDecoder* decoder, int32_t frame, BITMAPINFOHEADER* format,
                                  void** pixels, int16_t* owned);
VXAPI VXRESULT VXCALL aviGetFrameTerm(AviFrameDecoder* decoder);

/* Waits at most 30 s for the named mutex "VXAVI_MUTEX", shared by every
 * process of the user. The first call in a process creates (or opens) it and
 * keeps its handle in the host's class data 'avmx'. Returns 1 when the calling
 * thread owns the mutex (also when its previous owner died holding it), 0 when
 * the wait timed out or the mutex could not be made or waited for. The mutex
 * is recursive: one ReleaseAVIMutex for every 1. */
VXAPI int32_t VXCALL GetAVIMutex(void);
/* Releases the mutex once. 0 when no GetAVIMutex has created it yet or the
 * calling thread does not own it, else non-zero. */
VXAPI int32_t VXCALL ReleaseAVIMutex(void);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif
