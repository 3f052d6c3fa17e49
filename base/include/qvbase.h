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

/* ===== INI configuration files ===== */

/* Text files of "[section]" header lines and "key=value" lines; blank,
 * comment ('#', ';', '*') and unknown lines are kept byte for byte when a
 * file is edited. A line, its line end included, must fit a 2048-byte window
 * (MINI_LINE_WINDOW): at most 2048 bytes ending in CR LF, 2047 ending in a
 * bare LF, 2046 for a last line without a line end. Names compare without
 * regard to ASCII case. Every function here is boolean (1 success, 0
 * failure) unless noted. */
#define MINI_LINE_WINDOW 2048u

/* MIniItem.type */
#define MINI_TYPE_INTEGER 1u
#define MINI_TYPE_STRING 2u

/* What every read, write and remove takes. Five words on the 32-bit target;
 * on a 64-bit host the three pointers are 8 bytes each (32 bytes in all). */
typedef struct MIniItem {
    const char *section;  /* null: the section named "default" */
    const char *key;
    void *data;           /* a NUL-terminated string, or a 32-bit integer's bytes */
    uint32_t type;        /* MINI_TYPE_* */
    uint32_t size;        /* bytes at data; non-zero */
} MIniItem;

/* A file parsed into memory (opaque). */
typedef struct MIni MIni;

/* Parses the file, creating it empty when it does not exist; null when it
 * cannot be opened, holds a line too long for the window or a key line before
 * the first section. The file stays open until MIniEndS. */
MIni *MIniStartS(const char *path);
/* Writes the changes back, if any, then releases the handle. The new content
 * goes to path + "_tmp" first, which then replaces the file in one rename:
 * when anything fails the file is left as it was. */
void MIniEndS(MIni *ini);
/* Strings: 1 when the value is shorter than size (size then becomes its
 * length); integers: the low min(size, 4) bytes of the decimal value. */
uint32_t MIniReadS(MIni *ini, MIniItem *item);
/* Changes the model only. A key line (key, '=', value, CR LF) must be shorter
 * than the window and a header line ('[', name, "]", CR LF) shorter than the
 * window less one; names and values holding CR or LF, and keys that are empty
 * or hold '=', would not read back and are refused as well. */
uint32_t MIniWriteS(MIni *ini, MIniItem *item);
/* Removes a key, or the whole section when item->key is null. */
uint32_t MIniRemoveS(MIni *ini, MIniItem *item);
/* Section names in file order, then the added ones. 0 and an empty name at
 * the end; 0 with *size set to the room needed when the name does not fit
 * (the next call retries the same section). */
uint32_t MIniFindFirstCategoryS(MIni *ini, char *buffer, uint32_t *size);
uint32_t MIniFindNextCategoryS(MIni *ini, char *buffer, uint32_t *size);
/* One item straight from a file. A string read sets size to the value's
 * length even when it does not fit (and returns 0). */
uint32_t MIniReadSingleS(const char *path, MIniItem *item);
/* Writes one item through path + "_tmp" and a rename, as MIniEndS does. A
 * rewritten file keeps the permissions of the file it replaces. */
uint32_t MIniWriteSingleS(const char *path, MIniItem *item);
/* ===== end INI ===== */

/* ===== Log and trace ===== */

#define MLOG_BUFFER_SIZE 16384u
/* A message is written after the buffer once this many bytes wait. */
#define MLOG_FLUSH_THRESHOLD 15360u
/* Longest text message; a longer one is cut to this many characters. */
#define MLOG_MESSAGE_MAX 1024u
/* Longest trace message; a longer one is cut to this many characters. */
#define MTRACE_MESSAGE_MAX 255u

/* What a log handle points to (also the binary debug stream). 28 bytes and
 * the buffer on the 32-bit target; on a 64-bit host the two pointers are 8
 * bytes each. */
typedef struct MLog {
    uint32_t categoryMask;  /* kept when a message's mask shares a bit */
    uint32_t enabled;       /* 0: everything is dropped */
    uint32_t buffered;      /* 0: written out after every message */
    MStream *stream;
    char *buffer;           /* the area below */
    int32_t used;           /* bytes waiting in the buffer */
    uint32_t failed;        /* a write fell short: nothing is written any more */
    char area[MLOG_BUFFER_SIZE];
} MLog;

/* Exchanged by MLogGetConfig / MLogSetConfig: four words on every host. */
typedef struct MLogConfig {
    uint32_t recordSize;    /* 16 from MLogGetConfig; not checked */
    uint32_t enabled;
    uint32_t buffered;
    uint32_t categoryMask;
} MLogConfig;

/* A null log handle means the platform context's default log, and only then
 * is the context's log mutex held around the operation; without a context
 * (or a default log) such calls do nothing. */

/* *log becomes the new log (appending to path), or null. */
void MLogOpenS(const char *path, MLog **log);
/* The same, but truncating the file: the debug stream. */
void MSTATIC_MDebugStreamOpenS(const char *path, MLog **log);
void MLogS(MLog *log, uint32_t mask, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;
/* Bytes unchanged; MLOG_BUFFER_SIZE bytes or more go straight to the file. */
void MLogDump(MLog *log, uint32_t mask, const void *data, uint32_t n);
/* Writes out the buffer (not libc's); 0. */
uint32_t MLogFlush(MLog *log);
void MLogGetConfig(MLog *log, MLogConfig *config);
/* Writes out the buffer first. */
void MLogSetConfig(MLog *log, const MLogConfig *config);
/* Writes out the buffer, closes the file, frees the record. */
void MLogClose(MLog *log);
/* Prints to standard output when mask shares a bit with the context's trace
 * mask. */
void MTraceS(uint32_t mask, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
/* ===== end log ===== */

/* ===== Debug stream and ID tables ===== */

/* The debug stream file: the magic "AADD", then records of little-endian
 * 32-bit words. A record's first word holds its length in bytes (bits 0-15,
 * the word included) and its type (bits 16-31). */
#define MDEBUG_MAGIC "AADD"
#define MDEBUG_RECORD_TRACE_DATA 1u
/* An ID record's type is the table kind + MDEBUG_RECORD_ID_BASE; its body is
 * the ID word, then the text, its NUL and zero bytes up to a word boundary.
 * A text too long for the 16-bit length is cut in the record. */
#define MDEBUG_RECORD_ID_BASE 10u

/* Table kinds: 1 and 2 know a string by its address (the caller keeps it),
 * 3 by its contents (the table keeps a copy). */
#define MDEBUG_TABLE_BY_ADDRESS 1u
#define MDEBUG_TABLE_BY_ADDRESS_2 2u
#define MDEBUG_TABLE_BY_CONTENTS 3u
/* Node forms of MSTATIC_MTableNewOneNode and friends. */
#define MDEBUG_FORM_ID_NODE 1u
#define MDEBUG_FORM_UNIT_NODE 2u

#define MDEBUG_NODE_ENTRIES 256u
/* String storage of each kind-3 node and the region of each unit node. */
#define MDEBUG_NODE_STORAGE 8192u

/* An ID is the address at which the table keeps the string. On the 32-bit
 * target that is the whole ID; on a 64-bit host the tables compare whole
 * pointers and the ID word of a debug record holds the low 32 bits. */

/* One node of an ID table; the string storage (totalSize minus this fixed
 * part) follows it in the same allocation. The fixed part is 1040 bytes on
 * the 32-bit target; on a 64-bit host it is 2072 (8-byte entries and next). */
typedef struct MIdNode {
    uint32_t totalSize;     /* fixed part + storage */
    uint32_t count;         /* entries used */
    const char *entries[MDEBUG_NODE_ENTRIES];
    uint32_t storageUsed;
    struct MIdNode *next;
} MIdNode;

/* Reading side: numeric IDs mapped back to strings. The inner header (the
 * fixed part of an ID node, whose totalSize is the region's size) and its
 * storage follow this record; ids[i] belongs to inner->entries[i]. */
typedef struct MUnitNode {
    uint32_t reserved[MDEBUG_NODE_ENTRIES];
    uint32_t ids[MDEBUG_NODE_ENTRIES];
    struct MUnitNode *next;
    MIdNode *inner;
} MUnitNode;

/* Registers a string in the context's table of that kind and returns its
 * ID; the first registration writes an ID record. 0 without a table, for a
 * null string or when no node can be had. */
uintptr_t MSTATIC_MTableAddOneID(uint32_t kind, const char *string);
void MSTATIC_MGetTable(uint32_t kind, MIdNode **table);
uintptr_t MSTATIC_MTableWrite(MIdNode *table, uint32_t kind, const char *string);
/* Kind 1: the address; kind 3: the contents; kind 2: value's low 32 bits
 * against the ids of a unit-node chain. *node is the node searched last,
 * *index the position of a hit. */
uint32_t MSTATIC_MTableIDExists(uint32_t kind, void *table, const void *value, void **node,
                                uint32_t *index);
/* The caller has checked the node has room. */
const char *MSTATIC_MTableFillNode(MIdNode *node, const char *string);
void *MSTATIC_MTableNewOneNode(uint32_t form, uint32_t size);
void MSTATIC_MTableAddOneNode(uint32_t form, void *chain, void *node);
void MSTATIC_MTableReMoveAll(uint32_t form, void *chain);
/* length: the string's length + 1. A string longer than a node's storage
 * gets a node of its own. */
void MSTATIC_MTableAssembleOneUnit(MUnitNode *chain, uint32_t id, const char *string,
                                   uint32_t length);
/* Turns a loaded unit node (entries holding IDs, storage holding the strings
 * back to back) into a searchable one; strings that would run past the
 * storage are dropped from the count. */
void MSTATIC_MTableAssembleOneNode(MUnitNode *node);
void MSTATIC_MTableOutPutID(uint32_t mask, uint32_t type, const char *string);
/* A trace-data record: four words, then count words (a count too large for
 * the 16-bit record length writes nothing). */
void MSTATIC_MLogTraceData(uint32_t mask, uint32_t word1, uint32_t word2, uint32_t word3,
                           uint32_t word4, const uint32_t *words, uint32_t count);
void MSTATIC_MDebugStreamDump(uint32_t mask, const void *data, uint32_t n);
void MSTATIC_MDebugStreamClose(void);
/* ===== end debug ===== */

/* ===== Platform context ===== */

/* The process-wide record the diagnostics share. Eight words on the 32-bit
 * target; on a 64-bit host every pointer is 8 bytes (56 bytes in all). */
struct __tag_context {
    MMutex logMutex;        /* guards the default log */
    MMutex debugMutex;      /* guards the debug stream and the ID tables */
    uint32_t traceMask;     /* filter of MTraceS */
    MLog *log;              /* default log, or null */
    MLog *debugStream;      /* or null */
    MIdNode *idTable1;      /* kind 1 */
    MIdNode *idTable2;      /* kind 2 */
    MIdNode *idTable3;      /* kind 3 */
};

/* What MPlatInitialize reads: seven words on the 32-bit target; on a 64-bit
 * host the two paths are 8 bytes each (40 bytes in all). */
typedef struct MPlatInitParams {
    uint32_t recordSize;    /* not read */
    uint32_t version;       /* not read */
    uint32_t debugMask;     /* category mask of the debug stream */
    const char *debugPath;  /* debug stream file (truncated), or null */
    uint32_t logMask;       /* category mask of the default log */
    const char *logPath;    /* default log file (appended to), or null */
    uint32_t traceMask;
} MPlatInitParams;

/* MPlatInitialize results */
#define MPLAT_OK 0u
#define MPLAT_FAILED 1u
#define MPLAT_NO_MEMORY 4u

struct __tag_context *MSTATIC_MGetContext(void);
uint32_t MSTATIC_MSetContext(struct __tag_context *context);  /* 0 */
uint32_t MSTATIC_MContextDestroy(void);                         /* 0 */
uint32_t MGetAppMemInfo(void);                                  /* 3 */
/* 0, 1 (a file or table could not be had, or a context exists already), or
 * 4 (no memory); every failure leaves things as they were. Not to be run
 * while other threads use the log, the trace or the debug stream. */
uint32_t MPlatInitialize(const MPlatInitParams *params);
/* 0 after teardown; 1 without a context. */
uint32_t MPlatUninitialize(void);
/* ===== end context ===== */

#ifdef __cplusplus
}
#endif

#endif /* QVBASE_H */
