/*
 * libqvjpeg: a streaming JPEG decoder and baseline encoder.
 *
 * Every entry point returns a result code (0 on success). The codec keeps no
 * global state: each decoder or encoder handle owns everything it allocates
 * and releases it when destroyed. Memory and stream access go through the
 * host's callbacks when given, otherwise through libqvbase, which the host
 * must have loaded (with global symbol visibility) before this library.
 *
 * Public records are plain structs of 32-bit words; on a 32-bit target every
 * field, pointers included, is one word.
 */
#ifndef QVJPEG_H
#define QVJPEG_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ===== Result codes ===== */
#define VLTJPG_OK 0x0000u
#define VLTJPG_ERR_ARGUMENT 0x8001u    /* invalid argument or value size */
#define VLTJPG_ERR_MEMORY 0x8002u      /* an allocation returned null */
#define VLTJPG_ERR_CATEGORY 0x8004u    /* encoder: coefficient the tables cannot code */
#define VLTJPG_ERR_UNSUPPORTED 0x8008u /* process, layout, format or mode not handled */
#define VLTJPG_ERR_DATA 0x8010u        /* bad or truncated data, failed seek */
#define VLTJPG_ERR_SHORT_WRITE 0x8020u /* encoder: stream took fewer bytes */
#define VLTJPG_ERR_NO_INDEX 0x8040u    /* no random-access index exists */
#define VLTJPG_ERR_CANCELLED 0x8FFFu   /* the progress callback asked to stop */

typedef uint32_t vltJpgResult;

/* ===== Host callbacks ===== */

/* Memory: the allocation callback gets the byte count and the memory
 * context; a null result is not an error (the platform heap steps in). */
typedef void *(*vltJpgAllocCallback)(uint32_t size, void *context);
typedef void (*vltJpgFreeCallback)(void *block, void *context);

/* Stream operations passed to a stream callback. */
#define VLTJPG_STREAM_READ 0u  /* argument: vltJpgStreamBuffer */
#define VLTJPG_STREAM_WRITE 1u /* argument: vltJpgStreamBuffer */
#define VLTJPG_STREAM_FLUSH 2u /* argument: null */
#define VLTJPG_STREAM_SEEK 3u  /* argument: vltJpgStreamSeekArgs */
#define VLTJPG_STREAM_TELL 4u  /* argument: null; result: position */

/* Seek origins, as libqvbase's: from the beginning, the end, the current
 * position. */
#define VLTJPG_SEEK_SET 0
#define VLTJPG_SEEK_END 1
#define VLTJPG_SEEK_CUR 2

typedef struct vltJpgStreamBuffer {
    void *buffer;
    uint32_t count;
} vltJpgStreamBuffer;

typedef struct vltJpgStreamSeekArgs {
    int32_t origin;
    int32_t offset;
} vltJpgStreamSeekArgs;

typedef uint32_t (*vltJpgStreamCallback)(uint32_t operation, void *stream, void *argument);

/* Progress: called with a percentage; a non-zero answer cancels (0x8FFF). */
typedef uint32_t (*vltJpgProgressCallback)(uint32_t percent, void *context);

/* Plane set: three plane pointers and three row pitches (bytes). */
typedef struct vltJpgPlaneSet {
    uint8_t **planes;
    int32_t *pitches;
} vltJpgPlaneSet;

/* ===== Version ===== */

/* Writes 4, 0, 0. With a text buffer of more than 8 bytes the date text
 * "08042009" is copied in; a smaller buffer gives 0x8001. */
vltJpgResult vltJpgGetVersionInfo(uint32_t *major, uint32_t *minor, uint32_t *build,
                                  char *text, uint32_t textSize);

/* ===== Pixel formats and sampling tables ===== */
/* ===== end pixel formats ===== */

/* ===== Decoder ===== */
/* ===== end decoder ===== */

/* ===== Encoder ===== */
/* ===== end encoder ===== */

#ifdef __cplusplus
}
#endif

#endif /* QVJPEG_H */
