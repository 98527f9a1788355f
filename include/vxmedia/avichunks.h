/* Auxiliary chunks in existing AVI files: timecode and reel texts, a
 * comment, pull-up values, the pixel aspect ratio and metadata chunks.
 *
 * Every call takes a file handle the host opened (for reading and writing
 * for the setters); INVALID_HANDLE_VALUE stands for no file. New chunks go
 * into the "JUNQ" filler the writer leaves behind the header list, else into
 * other writers' "JUNK" padding between the header list and the movie list,
 * else at the end of the last RIFF form, or into a new "AVIX" form when that
 * form would pass 2 GiB. A file that does not end where its last RIFF form
 * ends is never appended to. Every new chunk of a call is placed before the
 * first byte is written: a call that finds no room for one writes nothing.
 *
 * Setter results: 0 success; 1 when no room could be made (or the map of
 * the file could not be built); otherwise the failing host write's code,
 * cut to its low 16 bits (sign-extended), and 1 when those bits are 0.
 */
#ifndef VXMEDIA_AVICHUNKS_H
#define VXMEDIA_AVICHUNKS_H

#include "vxtypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The five texts of the "Tdat" and "Cdat" lists, each NUL-terminated. */
typedef struct AviTimeData {
    char tc_O[18]; /* timecode */
    char tc_A[18]; /* alternate timecode */
    char rn_O[40]; /* reel name */
    char rn_A[40]; /* alternate reel name */
    char cmnt[256];
} AviTimeData;

/* Chunk ids and list types. */
#define VX_CKID_TDAT VX_MAKEFOURCC('T', 'd', 'a', 't')
#define VX_CKID_CDAT VX_MAKEFOURCC('C', 'd', 'a', 't')
#define VX_CKID_PDAT VX_MAKEFOURCC('P', 'd', 'a', 't')
#define VX_CKID_ISMT VX_MAKEFOURCC('I', 'S', 'M', 'T')
#define VX_CKID_FILLER VX_MAKEFOURCC('J', 'U', 'N', 'Q')
/* The aspect chunk's id: file bytes "AmxV". */
#define VX_CKID_ASPECT 0x56786D41u
/* Its 20-byte record, every number big-endian: "PARf", 20, version 1,
 * reserved 0, numerator, denominator. */
#define VX_ASPECT_TAG 0x50415266u
#define VX_ASPECT_RECORD_SIZE 20

/* Sizes of the lists as written (header included). */
#define VX_TDAT_LIST_BYTES 160
#define VX_CDAT_LIST_BYTES 276
#define VX_PDAT_LIST_BYTES 36

/* Iterates the chunks with id `ckid` in lists or forms of type `listType`
 * (0 matches anything). `*iteration` is null before the first call. Returns
 * 1 with `*size` set and, for a non-empty chunk, `*data` set to a copy from
 * VxAllocData (release with VxDisposeData; null when it could not be read).
 * Returns 0 when nothing is left: the map is freed and `*iteration` is
 * null. */
VXAPI int32_t VXCALL vfwGetNextChunk(HANDLE file, void** iteration, void** data, uint32_t* size,
                                     FOURCC ckid, FOURCC listType);
/* 1 when the file's first stream header has the type "iavs"; the 64-byte
 * header is then copied to `streamHeader` when it is not null. */
VXAPI int32_t VXCALL IsAVIType2File(const char* name, void* streamHeader);

/* Buffers of at least 18, 18, 40, 40 and 256 bytes; absent texts are empty. */
VXAPI void VXCALL vfwGetTimeCode(HANDLE file, char* tcO, char* tcA, char* rnO, char* rnA,
                                 char* comment);
/* Empty timecodes leave stored ones as they are. */
VXAPI int32_t VXCALL vfwAddTimeData(HANDLE file, const AviTimeData* data);

/* 1 and both values when "pulT" and "pulS" were read, else 0. */
VXAPI int32_t VXCALL vfwGetPullUpData(HANDLE file, int32_t* pullT, int32_t* pullS);
VXAPI int32_t VXCALL vfwSetPullUpData(HANDLE file, int32_t pullT, int32_t pullS);

/* 0 when a chunk `ckid` (0: any) exists, else -1. A null buffer gets the
 * chunk's size into `*size`; otherwise min(chunk size, *size) bytes are read
 * and `*size` is left alone. */
VXAPI int32_t VXCALL vfwGetMetaData(HANDLE file, FOURCC ckid, void* buffer, uint32_t* size);
/* -1 when the file has no RIFF form; ids 0, "RIFF", "LIST" and "movi" are
 * refused with 1. A chunk of another size becomes filler and a new one is
 * added. */
VXAPI int32_t VXCALL vfwSetMetaData(HANDLE file, FOURCC ckid, const void* data, uint32_t size);

VXAPI int32_t VXCALL vfwGetAspectData(HANDLE file, int32_t* numerator, int32_t* denominator);
VXAPI int32_t VXCALL vfwSetAspectData(HANDLE file, int32_t numerator, int32_t denominator);

#ifdef __cplusplus
} /* extern "C" */

static_assert(sizeof(AviTimeData) == 372, "AviTimeData layout");
static_assert(offsetof(AviTimeData, tc_A) == 18, "AviTimeData layout");
static_assert(offsetof(AviTimeData, rn_O) == 36, "AviTimeData layout");
static_assert(offsetof(AviTimeData, rn_A) == 76, "AviTimeData layout");
static_assert(offsetof(AviTimeData, cmnt) == 116, "AviTimeData layout");
#endif

#endif
