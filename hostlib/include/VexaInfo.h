/* The host's support library, VexaInfo.
 *
 * The media library imports these calls by name. This project ships its own
 * implementation of the whole table (libVexaInfo.so / VexaInfo.dll) so that
 * the library, its tool and its tests run without the host. Handles are the
 * platform's file handles (on Linux a descriptor carried in a HANDLE, see
 * vxmedia/vxtypes.h); reference numbers are this library's own small file
 * references.
 */
#ifndef VEXAINFO_H
#define VEXAINFO_H

#include <vxmedia/vxtypes.h>

#if defined(_WIN32)
#if defined(VEXAINFO_BUILDING)
#define VXHOSTAPI VX_EXTERN_C __declspec(dllexport)
#else
#define VXHOSTAPI VX_EXTERN_C __declspec(dllimport)
#endif
#else
#define VXHOSTAPI VX_EXTERN_C __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes of this implementation.
 *
 * The handle calls (VxRead .. SetFilePointer64) return 0, a positive system
 * error code (errno here, GetLastError on Windows), or one of the negative
 * codes below: VXHOST_EOFERR when the file ends before `count` bytes were
 * read, VXHOST_PARAMERR for a null pointer or bad argument and VXHOST_IOERR
 * for an injected fault. The reference-number calls return only the
 * negative codes. */
#define VXHOST_NOERR 0
#define VXHOST_DSKFULERR (-34)     /* the disk is full */
#define VXHOST_IOERR (-36)         /* input/output error */
#define VXHOST_BDNAMERR (-37)      /* unusable file name */
#define VXHOST_EOFERR (-39)        /* end of file reached */
#define VXHOST_POSERR (-40)        /* position before the start of the file */
#define VXHOST_TMFOERR (-42)       /* too many files open */
#define VXHOST_FNFERR (-43)        /* file not found */
#define VXHOST_PARAMERR (-50)      /* bad parameter */
#define VXHOST_RFNUMERR (-51)      /* not an open reference number */
#define VXHOST_PERMERR (-54)       /* permission denied on opening */
#define VXHOST_WRPERMERR (-61)     /* file not open for writing */
#define VXHOST_MEMFULLERR (-108)   /* out of memory (HostMemFuncs.memError) */
#define VXHOST_NILHANDLEERR (-109) /* null handle (HostMemFuncs.memError) */

/* GetAGlobal indices and the string list GetIndString knows. */
#define VXHOST_GLOBAL_PLUGIN_DIR 225
#define VXHOST_GLOBAL_DRAWDIB 236
#define VXHOST_STRLIST_REPORT 1000
#define VXHOST_STR_REPORT_TRUNCATED 16

/* File access on platform handles. 0 = success, else an error code. */
VXHOSTAPI int32_t VXCALL VxRead(HANDLE h, void* buffer, uint32_t count);
VXHOSTAPI int32_t VXCALL VxWrite(HANDLE h, const void* buffer, uint32_t count);
VXHOSTAPI int32_t VXCALL VxPRead(HANDLE h, void* buffer, uint32_t count, const int64_t* position);
VXHOSTAPI int32_t VXCALL VxPWrite(HANDLE h, const void* buffer, uint32_t count,
                                  const int64_t* position);
/* method: 0 from the start, 1 from the current position, 2 from the end. */
VXHOSTAPI int32_t VXCALL SetFilePointer64(HANDLE h, const int64_t* distance, int64_t* newPosition,
                                          int32_t method);
/* Free space on the file system holding `path` (or its folder when the file
 * does not exist yet; the current folder for an empty path), capped by the
 * environment variable VEXAINFO_MAX_FILE_SIZE (decimal bytes) when set. 0
 * when nothing is known about the place. */
VXHOSTAPI uint64_t VXCALL VxGetMaxFileSize(const char* path);

/* File access by reference number. Results are 16-bit error codes.
 * HOpen opens an existing file (it never creates one); permission -1 or 0
 * opens it read-write when allowed, else read-only; 1 read, 2 write, 3 or 4
 * read-write. Each reference keeps its own mark. FSRead past the end moves
 * what there is, sets *count to it and returns VXHOST_EOFERR. SetFPos to a
 * position before the start returns VXHOST_POSERR and leaves the mark;
 * past the end it puts the mark at the end and returns VXHOST_EOFERR. */
VXHOSTAPI int16_t VXCALL HOpen(int16_t volume, int32_t directory, const char* name,
                               int8_t permission, int16_t* refNum);
VXHOSTAPI int16_t VXCALL FSRead(int16_t refNum, int32_t* count, void* buffer);
VXHOSTAPI int16_t VXCALL FSWrite(int16_t refNum, int32_t* count, const void* buffer);
/* mode 1 from the start, 2 from the end, 3 from the current mark. */
VXHOSTAPI int16_t VXCALL SetFPos(int16_t refNum, int16_t mode, int32_t offset);
VXHOSTAPI int16_t VXCALL FSClose(int16_t refNum);

/* Errors: records the failure and returns the code unchanged. The record
 * goes to an in-memory log (the last 4096 records, see VxHostErrorGet) and,
 * when the environment variable VEXAINFO_ERROR_LOG names a file, is appended
 * there as a line "source:line code=0x%08X". */
VXHOSTAPI int32_t VXCALL RecordAVIError(int32_t code, const char* source, int32_t line);

/* One process-wide value per four-character key; null when unset. */
VXHOSTAPI void* VXCALL GetClassData(uint32_t key);
VXHOSTAPI void VXCALL SetClassData(uint32_t key, void* value);

/* 225: plug-in folder (no trailing separator), taken from the environment
 * variable VEXAINFO_PLUGIN_DIR; the string lives as long as the process.
 * 236: the host's DrawDib handle, which does not exist here (null). */
VXHOSTAPI void* VXCALL GetAGlobal(int32_t index);
/* Copies string `index` (1-based) of list `listId` into a 256-byte buffer as a
 * C string; empty when missing. */
VXHOSTAPI void VXCALL GetIndString(char* buffer, int16_t listId, int16_t index);

/* A copy of the resource of four-character `type` and `id` in a new handle
 * of VxHostMemFuncs' table, or null when there is none; the handle's size is
 * the resource's. ReleaseResource disposes of the copy. The host's resource
 * 'CDEC' 1000 holds its own entries of the video codec list. */
VXHOSTAPI VxHandle VXCALL GetResource(uint32_t type, int16_t id);
VXHOSTAPI void VXCALL ReleaseResource(VxHandle resource);

/* Number text. `text` must hold at least 64 chars; at most 64 are written
 * (NUL included). `decimals` is clamped to 0..10. Byte counts read like
 * "123 bytes" or "1.50 MB" (units of 1024). */
VXHOSTAPI void VXCALL VxBytes64ToStr(uint32_t low, uint32_t high, char* text, int32_t decimals);
VXHOSTAPI void VXCALL VxBytesFToStr(double value, char* text, int32_t decimals);
VXHOSTAPI void VXCALL VxFloatToStr(double value, char* text, int32_t decimals);
/* Bytes per row of a bottom-up bitmap, a multiple of 4; 0 for impossible input. */
VXHOSTAPI int32_t VXCALL CalcRowBytes(int32_t width, int32_t depth);
/* Expands RLE8 or RLE4 data (by the header's biCompression) into a bottom-up
 * image of the header's size. The source holds biSizeImage bytes. Pixels the
 * data skips keep their value; anything outside the image is clipped. */
VXHOSTAPI void VXCALL PlayRle(const BITMAPINFOHEADER* header, void* destination,
                              const void* source);
VXHOSTAPI void* VXCALL ppixTopLine(void* pixels, int32_t rowStride, int32_t height);
/* Rounded to nearest (halves away from zero) and saturated to 32 bits;
 * division by zero gives the saturated value of the dividend's sign. */
VXHOSTAPI int32_t VXCALL FixedMul(int32_t a, int32_t b);
VXHOSTAPI int32_t VXCALL FixedDiv(int32_t a, int32_t b);

/* ---- Extras of this implementation, for tools and tests ---- */

/* A handle-memory table backed by this library's allocator. Handles and
 * pointers of size 0 are valid; memError is per thread and reports the last
 * call of that thread (0, VXHOST_MEMFULLERR or VXHOST_NILHANDLEERR). */
VXHOSTAPI const HostMemFuncs* VXCALL VxHostMemFuncs(void);

/* The log of RecordAVIError calls, oldest first. */
typedef struct VxHostErrorRecord {
    int32_t code;
    int32_t line;
    char source[64];
} VxHostErrorRecord;
VXHOSTAPI uint32_t VXCALL VxHostErrorCount(void);
/* Copies record `index`; returns 0 when there is no such record. */
VXHOSTAPI int32_t VXCALL VxHostErrorGet(uint32_t index, VxHostErrorRecord* record);
VXHOSTAPI void VXCALL VxHostErrorClear(void);

/* Fault injection: the `afterCalls`-th next call of the given kind (0 = the
 * very next) fails; a short transfer moves only half the bytes first. */
enum VxHostFaultKind {
    VX_FAULT_NONE = 0,
    VX_FAULT_READ = 1,  /* VxRead, VxPRead, FSRead */
    VX_FAULT_WRITE = 2, /* VxWrite, VxPWrite, FSWrite */
    VX_FAULT_SEEK = 3,  /* SetFilePointer64, SetFPos */
    VX_FAULT_SHORT_WRITE = 4
};
VXHOSTAPI void VXCALL VxHostInjectFault(int32_t kind, uint32_t afterCalls);
VXHOSTAPI void VXCALL VxHostClearFaults(void);
/* Replaces the resource of `type` and `id` by `size` bytes at `data`; null
 * data removes it. VxHostResetResources restores the host's own. Returns 0
 * when memory ran out. */
VXHOSTAPI int32_t VXCALL VxHostSetResource(uint32_t type, int16_t id, const void* data,
                                           uint32_t size);
VXHOSTAPI void VXCALL VxHostResetResources(void);
/* Counters of calls made, for tests that check how often the file was read. */
VXHOSTAPI uint64_t VXCALL VxHostReadCalls(void);

#ifdef __cplusplus
}
#endif

#endif
