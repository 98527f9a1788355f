/* Small utilities for the host and its plug-ins: memory blocks that can be
 * handed across module boundaries, a byte fill, and translation between the
 * error codes of the compiler (export) plug-in interface and those of the
 * plug-in suite interface.
 */
#ifndef VXMEDIA_VXUTIL_H
#define VXMEDIA_VXUTIL_H

#include "vxtypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A fixed, zero-filled block of global memory, or null. Release it with
 * VxDisposeData and with nothing else. */
VXAPI void* VXCALL VxAllocData(uint32_t size);
/* Releases a block of VxAllocData; null does nothing. */
VXAPI void VXCALL VxDisposeData(void* block);
/* Writes `count` bytes at `dest`, each the low 8 bits of `value`. */
VXAPI void VXCALL VxFillMem(void* dest, uint32_t count, int32_t value);

/* Compiler codes 0..24 <-> suite codes; unknown codes give 0. */
VXAPI int32_t VXCALL CompilerErrorToSuiteError(int32_t code);
VXAPI int32_t VXCALL SuiteErrorToCompilerError(int32_t code);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif
