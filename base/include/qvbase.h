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

/* A pool lives entirely inside a block the caller owns: a 16-byte pool
 * header, then 32-byte units. Each allocation is a run of units whose first
 * 16 bytes are the block header; the caller gets the bytes after it. Free
 * blocks form a singly linked list, highest unit index first. */
#define MMEM_POOL_UNIT_SIZE 32u
#define MMEM_POOL_HEADER_SIZE 16u

/* At the start of the pool (the memory-manager handle points here). */
typedef struct MMemPoolHeader {
    uint32_t top;           /* first unit never handed out yet */
    uint32_t remaining;     /* units from top to the end of the pool */
    uint32_t freeIndex;     /* unit index of the first (highest) free block */
    uint32_t freeUnits;     /* its length in units; 0 = free list empty */
} MMemPoolHeader;

/* At the start of every block, allocated or free. */
typedef struct MMemPoolBlock {
    uint32_t index;         /* unit index of this block */
    uint32_t units;         /* length in units, this header included */
    uint32_t nextIndex;     /* free block: unit index of the next free block */
    uint32_t nextUnits;     /* its length; 0 = last free block (or allocated) */
} MMemPoolBlock;

/* Returns the pool handle (memory rounded up to 4 bytes), or null when
 * memory is null or too small for the header. The pool never owns memory. */
MMemMgr MMemMgrCreate(void *memory, uint32_t size);
/* Nothing to release: the caller frees or reuses its block. */
void MMemMgrDestroy(MMemMgr pool);

/* Not thread-safe: one thread at a time per pool. */
void *MMemAllocStatic(MMemMgr pool, uint32_t size);
void MMemFreeStatic(MMemMgr pool, void *block);
/* A size of 0 returns null and keeps the block (unlike realloc). */
void *MMemReallocStatic(MMemMgr pool, void *block, uint32_t size);
/* ===== end static memory pool ===== */

/* ===== Streams ===== */

/* 16-bit wide character unit of the platform's own conversions and of every
 * wide (W) path function. Not libc's wchar_t, which the MWCs wrappers use. */
typedef uint16_t MWChar;

/* Longest path, terminator included, that a wide path function accepts. */
#define MSTREAM_PATH_MAX 256

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

/* File: the file's length; memory: its logical size. */
int32_t MStreamGetSize(MStream *stream);
/* Memory streams only, and only shortens (never below 0); returns the
 * resulting size. A file stream is left alone and gives -1. Neither the
 * position nor any buffer changes. */
int32_t MStreamSetSize(MStream *stream, int32_t newSize);
/* Boolean; frees the record (and a memory stream's own chunks). */
uint32_t MStreamClose(MStream *stream);
/* Copies up to n bytes from the current position of source to that of
 * destination; returns the bytes written. */
uint32_t MStreamCopy(MStream *source, MStream *destination, uint32_t n);

/* Open a file in one of the MSTREAM_MODE_* modes; null on failure. The wide
 * form takes a path of byte-valued units (each at most 0xFF) shorter than
 * MSTREAM_PATH_MAX; any other path gives null. */
MStream *MStreamOpenFromFileS(const char *path, uint32_t mode);
MStream *MStreamOpenFromFileW(const MWChar *path, uint32_t mode);

/* block non-null: a stream over the caller's block of `size` bytes, which
 * counts as data from the start and never grows (size at most 0x7FFFFFFF).
 * block null: an empty stream in library-owned chunks of MSTREAM_CHUNK_SIZE
 * bytes; `size` only bounds the first chunk. */
MStream *MStreamOpenFromMemoryBlock(void *block, uint32_t size);

/* The memory-stream halves of the generic operations. On a stream that is
 * not a memory stream they do nothing and report failure. */
uint32_t QVStreamMemRead(MStream *stream, void *buffer, uint32_t n);
uint32_t QVStreamMemWrite(MStream *stream, const void *buffer, uint32_t n);
int32_t QVStreamMemSeek(MStream *stream, int32_t origin, int32_t offset);
int32_t QVStreamMemTell(MStream *stream);
int32_t QVStreamMemGetSize(MStream *stream);
uint32_t QVStreamMemClose(MStream *stream);

/* Whole-file operations; booleans unless noted. */
MStream *MStreamFileCreateS(const char *path);
MStream *MStreamFileCreateW(const MWChar *path);
uint32_t MStreamFileExistsS(const char *path);
uint32_t MStreamFileExistsW(const MWChar *path);
uint32_t MStreamFileDeleteS(const char *path);
/* Note the order: the destination comes first. */
uint32_t MStreamFileMoveS(const char *destination, const char *source);
uint32_t MStreamFileRenameS(const char *oldPath, const char *newPath);
uint32_t MStreamFileCopyS(const char *destination, const char *source);
/* The size, or 0xFFFFFFFF when the file cannot be examined or its size does
 * not fit in 32 bits. */
uint32_t MStreamFileGetSizeS(const char *path);
/* ===== end streams ===== */

/* ===== Strings and character conversion ===== */

/* Status of the case mappers. */
#define MSTRING_OK 0u
#define MSTRING_NULL_ARGUMENT 2u

/* Byte string <-> 16-bit units, one unit per byte (zero-extended one way,
 * low 8 bits the other way). dstCount includes the terminator, which is
 * always written when dstCount > 0; returns the units written, terminator
 * included (0 when nothing could be written). */
uint32_t MCharToWChar(const char *src, MWChar *dst, uint32_t dstCount);
uint32_t MWCharToChar(const MWChar *src, char *dst, uint32_t dstCount);

/* 16-bit units to UTF-8, each unit encoded on its own in 1 to 3 bytes.
 * Returns the bytes produced without the terminator; a null dst only
 * measures. 0 when the result and its terminator do not fit in dstSize (dst
 * then holds an empty string). */
uint32_t MUnicodeToUTF8(const MWChar *src, char *dst, uint32_t dstSize);
/* UTF-8 (sequences of 1 to 3 bytes) to 16-bit units. Returns the units
 * produced without the terminator; a null dst only measures. 0 when they do
 * not fit (dst then holds an empty string); 0xFFFFFFFF at a lead byte that
 * starts no 1-3 byte sequence or a sequence cut short by the terminator
 * (dst then holds the units before it). */
uint32_t MUTF8ToUnicode(const char *src, MWChar *dst, uint32_t dstCount);

/* In-place ASCII case mapping; other bytes or units are unchanged. */
uint32_t MSCsMakeLower(char *s);
uint32_t MSCsMakeUpper(char *s);
uint32_t MWCsMakeLower(MWChar *s);
uint32_t MWCsMakeUpper(MWChar *s);

/* Byte-string wrappers of the libc functions of the same meaning. Numbers
 * saturate at the 32-bit limits as on a 32-bit libc. */
uint32_t MSCsLen(const char *s);
char *MSCsCpy(char *dst, const char *src);
char *MSCsNCpy(char *dst, const char *src, uint32_t n);
char *MSCsCat(char *dst, const char *src);
int32_t MSCsCmp(const char *a, const char *b);
int32_t MSCsNCmp(const char *a, const char *b, uint32_t n);
int32_t MSCsICmp(const char *a, const char *b);
int32_t MSCsNICmp(const char *a, const char *b, uint32_t n);
char *MSCsChr(const char *s, int32_t c);
char *MSCsRChr(const char *s, int32_t c);
char *MSCsStr(const char *s, const char *t);
uint32_t MSCsToUL(const char *s, char **end, int32_t base);
/* Decimal only: "0x10" gives 0. */
int32_t MStol(const char *s);
int32_t MStoi(const char *s);
/* No length bound: dst must hold the whole result. Returns its length. */
int32_t MSSprintf(char *dst, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

/* libc wide-string (wchar_t) wrappers. */
uint32_t MWCsLen(const wchar_t *s);
wchar_t *MWCsCpy(wchar_t *dst, const wchar_t *src);
wchar_t *MWCsNCpy(wchar_t *dst, const wchar_t *src, uint32_t n);
wchar_t *MWCsCat(wchar_t *dst, const wchar_t *src);
int32_t MWCsCmp(const wchar_t *a, const wchar_t *b);
int32_t MWCsNCmp(const wchar_t *a, const wchar_t *b, uint32_t n);
int32_t MWCsICmp(const wchar_t *a, const wchar_t *b);
int32_t MWCsNICmp(const wchar_t *a, const wchar_t *b, uint32_t n);
wchar_t *MWCsChr(const wchar_t *s, wchar_t c);
wchar_t *MWCsRChr(const wchar_t *s, wchar_t c);
wchar_t *MWCsStr(const wchar_t *s, const wchar_t *t);
uint32_t MWCsToUL(const wchar_t *s, wchar_t **end, int32_t base);
/* Base from the prefix: "0x" hexadecimal, "0" octal, else decimal. */
int32_t MWtol(const wchar_t *s);
int32_t MWtoi(const wchar_t *s);
/* Writes at most MWSPRINTF_MAX wide characters, terminator included;
 * returns the length, or -1 when the result did not fit. */
#define MWSPRINTF_MAX 4096
int32_t MWSprintf(wchar_t *dst, const wchar_t *format, ...);

/* Conversions between libc wide strings and multi-byte strings in the
 * process locale (wcstombs / mbstowcs); codePage and the source length are
 * ignored. Return the libc result: the count converted, or 0xFFFFFFFF. */
uint32_t MWideCharToMultiByte(uint32_t codePage, const wchar_t *src, int32_t srcLength, char *dst,
                              uint32_t dstSize);
uint32_t MMultiByteToWideChar(uint32_t codePage, const char *src, int32_t srcLength, wchar_t *dst,
                              uint32_t dstCount);
/* ===== end strings ===== */

/* ===== Threads, events, mutexes and time ===== */

/* Handles: a thread is its POSIX thread identifier (null = no thread); a
 * mutex points to a heap POSIX mutex of the recursive kind; an event points
 * to a heap record holding a mutex and a condition variable. */
typedef void *MThread;
typedef void *MMutex;
typedef void *MEvent;
typedef void *(*MThreadProc)(void *argument);

/* MEventWait timeout that waits for a signal; any other timeout returns 1
 * at once (timed waits are not provided). */
#define MEVENT_WAIT_INFINITE 0xFFFFFFFFu

/* Null when proc is null or the thread cannot be started. */
MThread MThreadCreate(MThreadProc proc, void *argument);
/* Both wait for the thread to finish (a null handle returns at once); 0. */
uint32_t MThreadExit(MThread thread);
uint32_t MThreadDestory(MThread thread);
/* Sleeps the calling thread; the handle is ignored. 0. */
uint32_t MThreadSleep(MThread thread, uint32_t milliseconds);
/* Not provided on this platform: do nothing and return 0. */
uint32_t MThreadResume(MThread thread);
uint32_t MThreadSuspend(MThread thread);
uint32_t MThreadSetPriority(MThread thread, int32_t priority);

/* Status codes: 0 done, 1 failed, 2 null handle. */
MMutex MMutexCreate(void);
uint32_t MMutexLock(MMutex mutex);
uint32_t MMutexUnlock(MMutex mutex);
uint32_t MMutexDestroy(MMutex mutex);  /* 0, also for null */

/* An event keeps no signalled state: a signal wakes at most one thread
 * already waiting, and is lost when none is. */
MEvent MEventCreate(void);
uint32_t MEventSignal(MEvent event);
uint32_t MEventWait(MEvent event, uint32_t timeout);
uint32_t MEventReset(MEvent event);    /* does nothing; 0 */
uint32_t MEventDestroy(MEvent event);

/* Wall-clock milliseconds since 1970, rounded, modulo 2^32. */
uint32_t MGetCurTimeStamp(void);
/* 0 .. RAND_MAX from the C library's generator. */
int32_t MGetRandomNumber(void);
uint32_t MSrand(uint32_t seed);        /* 0 */
/* ===== end threads ===== */

/* ===== Files and directories ===== */

/* Which entries a directory search returns. */
#define MDIR_FIND_FILES 0u
#define MDIR_FIND_DIRECTORIES 1u
#define MDIR_FIND_ALL 2u

/* MFileInfo.attributes */
#define MFILE_ATTR_DIRECTORY 8u
#define MFILE_ATTR_REGULAR 16u

typedef struct MFileInfo {
    uint32_t attributes;  /* MFILE_ATTR_*, 0 for any other kind of file */
    uint32_t fileSize;    /* bytes; 0xFFFFFFFF for 4 GiB and more */
    uint32_t changeTime;  /* seconds since 1970 */
    uint32_t accessTime;
    uint32_t writeTime;
} MFileInfo;

/* A directory search in progress (what a find handle points to). */
typedef struct MDirFind {
    uint32_t mode;        /* MDIR_FIND_*; any other value finds nothing */
    char *directory;      /* the directory searched, ending with '/' or '\\' */
    char *pattern;        /* lower-case wildcard pattern, null for all */
    void *dirStream;      /* the open POSIX DIR stream */
    void *entry;          /* the struct dirent last read */
} MDirFind;

/* Starts a search. pattern is a directory (with or without its trailing
 * separator) or a directory, a separator ('/' or '\\') and a pattern with
 * the wildcards '*' and '?' matched without regard to ASCII case; "*" and
 * "*.*" mean every entry. Null when the directory cannot be opened. */
MDirFind *MDirStartFindS(const char *pattern, const uint32_t *mode);
MDirFind *MDirStartFindExS(const char *pattern, const uint32_t *mode);
/* 1 with the next entry: name receives directory + entry name (the caller
 * makes room for both) and isDirectory 1 or 0 (a regular file). 0 and an
 * empty name at the end. Entries whose status cannot be read, and entries
 * that are neither directories nor regular files, are passed over. */
uint32_t MDirFindNextS(MDirFind *find, char *name, uint32_t *isDirectory);
uint32_t MDirFindNextExS(MDirFind *find, char *name, MFileInfo *info);
/* Close the search and free the handle; null does nothing. */
void MDirEndFind(MDirFind *find);
void MDirEndFindEx(MDirFind *find);

/* Booleans (1 success, 0 failure). */
uint32_t MGetFileInfoS(MFileInfo *info, const char *path);
uint32_t MIsDirectoryS(const char *path);
uint32_t MDirectoryCreateS(const char *path);  /* mode 0775; 0 if it exists */
uint32_t MDirectoryRemoveS(const char *path);
/* Compare the texts only, ignoring case; the file system is not asked. */
uint32_t MIsSameFileS(const char *a, const char *b);
uint32_t MIsSameFileW(const wchar_t *a, const wchar_t *b);

/* The running executable's path in buffer (size bytes, terminator
 * included); returns its length, or 0 when module is not null, the path
 * cannot be read or it does not fit. */
uint32_t MGetModuleFileName(void *module, char *buffer, uint32_t size);
/* The executable's directory with its trailing separator.
 * 0 done, 1 failed (no path, or it does not fit in size), 4 no memory. */
#define MMODULE_PATH_OK 0u
#define MMODULE_PATH_FAILED 1u
#define MMODULE_PATH_NO_MEMORY 4u
uint32_t MGetModulePathS(char *buffer, uint32_t size);
/* The same as libc wide characters (size counts wide characters); also 1
 * when the path cannot be converted in the process locale. */
uint32_t MGetModulePathW(wchar_t *buffer, uint32_t size);
/* ===== end files ===== */

#ifdef __cplusplus
}
#endif

#endif /* QVBASE_H */
