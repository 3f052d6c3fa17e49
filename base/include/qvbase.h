/*
 * libqvbase: portable platform services for the qvjpeg codec and its hosts.
 *
 * Plain C functions with the prefix M. Every instance (stream, pool, mutex,
 * event, thread, INI file, directory search) is an opaque handle with its own
 * create/open and destroy/close call. Nothing here keeps an error state:
 * each function reports in one of these forms (named per function below):
 *   boolean          1 success, 0 failure
 *   byte count       bytes transferred (may be short), 0 on failure
 *   zero-is-success  0 success, non-zero failure
 *   status code      0 success; 1 failed, 2 null handle/argument, 4 no memory
 *   value or -1      the value, or 0xFFFFFFFF on failure
 *   pointer          non-null success, null failure
 */
#ifndef QVBASE_H
#define QVBASE_H

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ===== Memory (process heap or a static pool) ===== */

/* Memory-manager handle: null selects the process heap, anything else is a
 * static pool from MMemMgrCreate. */
typedef void *MMemMgr;

void *MMemAlloc(MMemMgr mgr, uint32_t size);
void MMemFree(MMemMgr mgr, void *block);
void *MMemRealloc(MMemMgr mgr, void *block, uint32_t size);
void *MMemCpy(void *dst, const void *src, uint32_t n);
void *MMemMove(void *dst, const void *src, uint32_t n);
void *MMemSet(void *dst, int32_t value, uint32_t n);
int32_t MMemCmp(const void *a, const void *b, uint32_t n);

/* Huge memory always comes from the process heap; the handle is ignored. */
void *MHugeMemAlloc(MMemMgr mgr, uint32_t size);
void *MHugeMemReAlloc(MMemMgr mgr, void *block, uint32_t size);
void MHugeMemFree(MMemMgr mgr, void *block);
void *MHugeMemLock(MMemMgr mgr, void *block);
void MHugeMemUnlock(MMemMgr mgr, void *block);

/* Code buffers: written by the caller, then made executable. */
typedef struct MCodeBlock {
    void *address;
    uint32_t size;
} MCodeBlock;

MCodeBlock *MCodeAlloc(uint32_t size);
void *MCodeLock(MCodeBlock *code, uint32_t length);
int32_t MCodeUnlock(MCodeBlock *code);
void MCodeFree(MCodeBlock *code);

/* ===== Static memory pool ===== */
/* (declarations of MMemMgrCreate, MMemAllocStatic and friends) */
void *MMemAllocStatic(MMemMgr pool, uint32_t size);
void MMemFreeStatic(MMemMgr pool, void *block);
void *MMemReallocStatic(MMemMgr pool, void *block, uint32_t size);
/* ===== end static memory pool ===== */

/* ===== Streams ===== */

#define MSTREAM_KIND_FILE 1u
#define MSTREAM_KIND_MEMORY 2u

/* Seek origins (note: MStreamSeek takes the origin before the offset). */
#define MSTREAM_SEEK_BEGIN 0
#define MSTREAM_SEEK_END 1
#define MSTREAM_SEEK_CURRENT 2

/* Open modes of MStreamOpenFromFileS/W; any other value reads. */
#define MSTREAM_MODE_READ 1         /* "rb" */
#define MSTREAM_MODE_WRITE 2        /* "wb" */
#define MSTREAM_MODE_APPEND 3       /* "ab" */
#define MSTREAM_MODE_READ_WRITE 4   /* "rb+" */
#define MSTREAM_MODE_CREATE_RW 5    /* "wb+" */
#define MSTREAM_MODE_READ_APPEND 6  /* "ab+" */

/* Memory streams grow by chunks of this many bytes. */
#define MSTREAM_CHUNK_SIZE 16384

typedef struct MStreamChunk {
    int32_t capacity;           /* data bytes that follow this header */
    struct MStreamChunk *next;
} MStreamChunk;

typedef struct MStreamChunkList {
    MStreamChunk *first;
    MStreamChunk *current;
} MStreamChunkList;

/* What a stream handle points to. */
typedef struct MStream {
    void *base;                 /* FILE*, or the memory buffer in use */
    uint32_t kind;              /* MSTREAM_KIND_FILE or MSTREAM_KIND_MEMORY */
    int32_t chunkCapacity;      /* memory: bytes in the buffer in use */
    int32_t chunkPos;           /* memory: position inside that buffer */
    MStreamChunkList *chunkList; /* memory: library-owned chunks, or null */
    int32_t size;               /* memory: logical length of the data */
} MStream;

uint32_t MStreamRead(MStream *stream, void *buffer, uint32_t n);
uint32_t MStreamWrite(MStream *stream, const void *buffer, uint32_t n);
int32_t MStreamSeek(MStream *stream, int32_t origin, int32_t offset);
int32_t MStreamTell(MStream *stream);
uint32_t MStreamFlush(MStream *stream);
/* ===== end streams ===== */

/* ===== Strings and character conversion ===== */
char *MSCsCpy(char *dst, const char *src);
/* ===== end strings ===== */

/* ===== Threads, events, mutexes and time ===== */
/* ===== end threads ===== */

/* ===== Files and directories ===== */
/* ===== end files ===== */

#ifdef __cplusplus
}
#endif

#endif /* QVBASE_H */
