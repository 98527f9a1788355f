/* Frame decoding, and the lock that the host and its plug-ins hold around
 * their work on AVI files and codecs.
 */
#ifndef VXMEDIA_AVIFRAMES_H
#define VXMEDIA_AVIFRAMES_H

#include "vxtypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Waits at most 30 s for the named mutex "VXAVI_MUTEX", shared by every
 * process of the user. The first call in a process creates (or opens) it and
 * keeps its handle in the host's class data 'avmx'. Returns 0 when the wait
 * timed out, else 1: the calling thread then owns the mutex (also when its
 * previous owner died holding it), unless the mutex could not be made or
 * waited for at all. The mutex is recursive: one ReleaseAVIMutex for every 1. */
VXAPI int32_t VXCALL GetAVIMutex(void);
/* Releases the mutex once. 0 when no GetAVIMutex has created it yet or the
 * calling thread does not own it, else non-zero. */
VXAPI int32_t VXCALL ReleaseAVIMutex(void);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif
