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

/* Compile-time record size checks, in C and C++ alike. */
#ifdef __cplusplus
#define VLTJPG_STATIC_ASSERT(condition, message) static_assert(condition, message)
#else
#define VLTJPG_STATIC_ASSERT(condition, message) _Static_assert(condition, message)
#endif
/* True on a 32-bit target, where every record field is one 32-bit word. */
#define VLTJPG_32BIT_TARGET (UINTPTR_MAX == 0xFFFFFFFFu)

/* ===== Host callbacks ===== */

/* Memory: the allocation callback gets the byte count and the memory
 * context; a null result is not an error (the platform heap steps in). */
typedef void *(*vltJpgAllocCallback)(uint32_t size, void *context);
typedef void (*vltJpgFreeCallback)(void *block, void *context);

/* Stream operations passed to a stream callback, with the results the codec
 * expects (those of libqvbase's MStreamRead ... MStreamTell). */
#define VLTJPG_STREAM_READ 0u  /* argument: vltJpgStreamBuffer; result: bytes read */
#define VLTJPG_STREAM_WRITE 1u /* argument: vltJpgStreamBuffer; result: bytes written */
#define VLTJPG_STREAM_FLUSH 2u /* argument: null; result: 1 flushed, 0 failed (an
                                  encoder reports a failed final flush as 0x8020) */
#define VLTJPG_STREAM_SEEK 3u  /* argument: vltJpgStreamSeekArgs; result: 0 done */
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

/* Pixel formats: how image data is laid out in the host's planes. */
#define VLTJPG_PIXEL_GREY 0              /* planar Y only */
#define VLTJPG_PIXEL_YUV420 1            /* planar, chroma half width and height */
#define VLTJPG_PIXEL_YUV422 2            /* planar, chroma half width */
#define VLTJPG_PIXEL_YUV440 3            /* planar, chroma half height */
#define VLTJPG_PIXEL_YUV444 4            /* planar, three full planes */
#define VLTJPG_PIXEL_RGB_PLANAR 5        /* planes R, G, B sharing one pitch */
#define VLTJPG_PIXEL_COEFFICIENTS 6      /* quantized coefficients, int16 */
#define VLTJPG_PIXEL_YUYV 7              /* packed 4:2:2, Y0 Cb Y1 Cr */
#define VLTJPG_PIXEL_UYVY 8              /* packed 4:2:2, Cb Y0 Cr Y1 */
#define VLTJPG_PIXEL_YVYU 9              /* packed 4:2:2, Y0 Cr Y1 Cb */
#define VLTJPG_PIXEL_VYUY 10             /* packed 4:2:2, Cr Y0 Cb Y1 */
#define VLTJPG_PIXEL_ROWS_YCB_YCR 11     /* 4:4:0 rows of Y/Cb pairs, then Y/Cr */
#define VLTJPG_PIXEL_ROWS_YCR_YCB 12     /* 4:4:0 rows of Y/Cr pairs, then Y/Cb */
#define VLTJPG_PIXEL_ROWS_CBY_CRY 13     /* 4:4:0 rows of Cb/Y pairs, then Cr/Y */
#define VLTJPG_PIXEL_ROWS_CRY_CBY 14     /* 4:4:0 rows of Cr/Y pairs, then Cb/Y */
#define VLTJPG_PIXEL_YCBCR_PACKED 15     /* packed 4:4:4, Y Cb Cr */
#define VLTJPG_PIXEL_RGB_PACKED 16       /* packed R G B */
#define VLTJPG_PIXEL_DECODER_BLOCKS 17   /* blocks of a decoder (transcoding) */
#define VLTJPG_PIXEL_FRAME_SAMPLING 18   /* planar in the frame's own sampling */
#define VLTJPG_PIXEL_SEMI_PLANAR_420 21  /* Y plane + interleaved chroma plane */
#define VLTJPG_PIXEL_SEMI_PLANAR_420B 22 /* as 21; order given by the planes */

/* Sampling modes: chroma layout of a frame. */
#define VLTJPG_SAMPLING_420 0
#define VLTJPG_SAMPLING_422 1
#define VLTJPG_SAMPLING_440 2
#define VLTJPG_SAMPLING_444 3
#define VLTJPG_SAMPLING_GREY 4
#define VLTJPG_SAMPLING_OTHER 5 /* any other layout (decoder only) */
#define VLTJPG_SAMPLING_NONE 6  /* not a YCbCr sample format */

/* Layer kinds: what kind of data a pixel format carries. */
#define VLTJPG_LAYER_DECODER_BLOCKS 0
#define VLTJPG_LAYER_COEFFICIENTS 1
#define VLTJPG_LAYER_YCBCR 2
#define VLTJPG_LAYER_RGB 3

/* ===== end pixel formats ===== */

/* ===== Random-access index block ===== */

/* The index block a decoder or encoder exports and a decoder imports: this
 * header (little-endian), then `entryCount` bit offsets (uint32, 0 = entry
 * not recorded) and `dcValueCount` DC predictors (int16, one per component
 * for each entry, in scan component order). Entry e of MCU (column m, row r)
 * is r * ceil(MCUs per row / interval) + m / interval. */
#define VLTJPG_INDEX_MAGIC 0x18100C0Du

typedef struct vltJpgIndexHeader {
    uint32_t magic;
    uint32_t interval;     /* MCUs per entry along a row, at least 1 */
    uint32_t entryCount;   /* MCU rows x entries per row */
    uint32_t dcValueCount; /* entryCount x component count */
} vltJpgIndexHeader;
VLTJPG_STATIC_ASSERT(sizeof(vltJpgIndexHeader) == 16, "index block header is four words");

/* ===== end index block ===== */

/* ===== Decoder ===== */

/* Decoder handle: opaque. */
typedef void *vltJpgDecoder;

/* Creation record (nine words). The JPEG data is read from the stream's
 * current position; it need not start at offset 0. */
typedef struct vltJpgDecoderParams {
    void *stream;                  /* input stream handle */
    uint32_t indexInterval;        /* MCUs per index entry, 0 = no index;
                                      creation writes 0 back for a
                                      multi-scan image, which has none */
    uint32_t chunkSize;            /* bytes per stream read; 0 means 4096;
                                      below 256 or above 16 MiB: 0x8001 */
    uint32_t reserved3;            /* not read */
    uint32_t reserved4;            /* kept, not used */
    void *memContext;              /* last argument of both memory callbacks */
    vltJpgAllocCallback alloc;     /* null: platform heap */
    vltJpgFreeCallback release;    /* partner of alloc */
    vltJpgStreamCallback streamCallback; /* null: libqvbase streams */
} vltJpgDecoderParams;

/* Request modes of vltJpgDecoderReadMCUs. */
#define VLTJPG_REQUEST_HANDOVER 0u     /* position only; the handle is written
                                          to the request's plane set field */
#define VLTJPG_REQUEST_COEFFICIENTS 1u /* quantized coefficients, natural
                                          order, 64 int16 per block, the
                                          blocks of an MCU and the MCUs of a
                                          row consecutive, into planes[0];
                                          pitches[0] is the distance between
                                          MCU rows of the run, counted in
                                          coefficients (2 bytes each) */
#define VLTJPG_REQUEST_SAMPLES 2u      /* Y, Cb, Cr samples into the planes */
/* Mode 3 (RGB) and above are refused with 0x8008; nothing is decoded. */

/* Request (five words). MCUs are read in raster order from (startColumn,
 * startRow), wrapping to the next MCU row; the MCU count is counted down as
 * they are read, and a run stops at the end of the image, leaving the count
 * of MCUs it could not read. A start outside the MCU grid gives 0x8001.
 * The decoder gets there by decoding forward without output, or by going
 * back to the start of the scan data (a seek) when the start lies behind
 * it. */
typedef struct vltJpgDecoderRequest {
    int32_t mode;
    int32_t mcuCount;
    int32_t startColumn;
    int32_t startRow;
    vltJpgPlaneSet *planeSet;
} vltJpgDecoderRequest;

/* Decoder properties (get/set, value size in bytes). */
#define VLTJPG_DECPROP_SIZE 0x1001u           /* get 8: width, height */
#define VLTJPG_DECPROP_PRECISION 0x1002u      /* get 4: bits per sample (8) */
#define VLTJPG_DECPROP_SCALE 0x1003u          /* get/set 4: 1, 2, 4 or 8 */
#define VLTJPG_DECPROP_COMPONENTS 0x1004u     /* get 4: 1 or 3 */
#define VLTJPG_DECPROP_PROGRESS 0x1005u       /* set 8: vltJpgDecProgress */
#define VLTJPG_DECPROP_SCALED_SIZE 0x1006u    /* get 8: width and height
                                                 divided by the scale,
                                                 rounded up */
#define VLTJPG_DECPROP_MCU_GRID 0x1007u       /* get 8: MCU columns, rows */
#define VLTJPG_DECPROP_MCU_SIZE 0x1008u       /* get 8: MCU width, height */
#define VLTJPG_DECPROP_BLOCKS_PER_MCU 0x1009u /* get 4 */
#define VLTJPG_DECPROP_SAMPLING 0x100Au       /* get 4: sampling mode 0..5 */
#define VLTJPG_DECPROP_SUBSAMPLING 0x100Bu    /* get 8: chroma ratios h, v;
                                                 0x8008 on a grey image */
#define VLTJPG_DECPROP_BUILD_INDEX 0x100Du    /* get: build the index */
#define VLTJPG_DECPROP_MULTISCAN 0x100Eu      /* get 4: 0 single scan, 1
                                                 progressive, 2 sequential
                                                 in several scans */
#define VLTJPG_DECPROP_RGB 0x100Fu            /* get 4: components R, G, B */
#define VLTJPG_DECPROP_INDEX 0x1010u          /* get/set 8: vltJpgDecIndexBlock */
#define VLTJPG_DECPROP_STREAM 0x1011u         /* set (pointer size): replace the
                                                 stream; buffered bytes stay */
/* Value of VLTJPG_DECPROP_PROGRESS: called with 100 * band row / band rows
 * after each completed MCU row of a band but the image's last; non-zero
 * stops the band with 0x8FFF. A null callback removes it. */
typedef struct vltJpgDecProgress {
    vltJpgProgressCallback callback;
    void *context;
} vltJpgDecProgress;

/* Value of VLTJPG_DECPROP_INDEX. */
typedef struct vltJpgDecIndexBlock {
    uint32_t size;
    void *address;
} vltJpgDecIndexBlock;

/* Random-access index. A decoder created with an index interval records an
 * entry for every interval-th MCU of each row while it decodes in order;
 * BUILD_INDEX (any size; 0x8001 without an index, 0x8008 on a multi-scan
 * image) records all of them by decoding the whole image without output.
 * Getting INDEX gives the block the decoder owns (0x8040 without one, as
 * after an import). Setting INDEX imports a block for the same image, also
 * one read from another stream or another offset (bit offsets count from
 * the JPEG data's first byte): it must match the MCU grid, the component
 * count and the scan's data start, with its recorded entries first and in
 * increasing order inside the stream's data (the stream must tell its
 * length), else 0x8008 and nothing changes. The host keeps an imported
 * block alive and unchanged while the decoder uses it. vltJpgDecoderReadMCUs
 * then resumes at the entry in front of the requested MCU. */

/* Creation parses the header up to the first scan. Sequential (SOF0, SOF1)
 * and progressive (SOF2) Huffman JPEG with 8-bit samples and one or three
 * components is decoded; arithmetic, lossless and hierarchical files and
 * four components give 0x8008.
 *
 * Progressive files and sequential files coded in several scans are read to
 * their end at creation, every scan checked (0x8010 for a scan that breaks
 * the progression rules or names a table it needs but that is undefined);
 * the stream must be able to seek (else 0x8010), since the scans are read
 * in turn, one MCU row of each at a time. The decoder keeps one MCU row of
 * coefficients, so its memory grows with the width, not the height. A file
 * whose later scans are missing or cut short decodes to what its scans
 * give (components no scan reached come out grey). At 1/8 scale only the
 * DC scans of a progressive file are read. */
vltJpgResult vltJpgDecoderCreate(vltJpgDecoder *handle, vltJpgDecoderParams *params);
vltJpgResult vltJpgDecoderDestroy(vltJpgDecoder handle);
vltJpgResult vltJpgDecoderGetProp(vltJpgDecoder handle, uint32_t id, void *value, uint32_t size);
vltJpgResult vltJpgDecoderSetProp(vltJpgDecoder handle, uint32_t id, void *value, uint32_t size);

/* Decodes the next band into the planes: Y, Cb, Cr planes of
 * ceil(width * H / maxH) x ceil(height * V / maxV) samples, each divided by
 * the output scale and rounded up; planes[i] receives the band's first row.
 * A band is made of whole MCU rows: *lines asks for that many full-size
 * lines (ceil(*lines / MCU height) MCU rows, from the next undecoded one)
 * and is written back with the lines actually delivered, the last MCU row
 * clipped to the image; so it can exceed the request, and it is 0 once the
 * image is complete. Nothing outside the image area is written. A band that
 * follows vltJpgDecoderReadMCUs continues from the MCU where the run
 * stopped: its first row is that MCU row, whose remaining MCUs are written
 * at their own columns. Damaged data comes out grey (128). */
vltJpgResult vltJpgDecoderScanlines(vltJpgDecoder handle, uint8_t **planes, int32_t *pitches,
                                    void *reserved, int32_t *lines);
/* Decodes the first scan of another stream (same frame layout, tables kept
 * unless redefined) into the planes, leaving the line count unchanged. A
 * decoder of a multi-scan image, or another stream holding one, gives
 * 0x8008. */
vltJpgResult vltJpgDecoderDefaultScanlines(vltJpgDecoder handle, uint8_t **planes,
                                           int32_t *pitches, void *reserved, int32_t *lines,
                                           void *stream);
/* Reads request->mcuCount MCUs from (startColumn, startRow). For a
 * multi-scan image the whole MCU rows the run touches are decoded (a start
 * row behind the last one read decodes again from the top) and request
 * mode 0 gives 0x8008. Sample output
 * places MCU (i, j) of the run at column i, row j of MCUs from the planes,
 * where i counts from 0 at the first MCU of each row of the run; blocks
 * past the image's right or bottom edge are not written. A refused request
 * leaves the decoder as it was. */
vltJpgResult vltJpgDecoderReadMCUs(vltJpgDecoder handle, vltJpgDecoderRequest *request);

#if VLTJPG_32BIT_TARGET
VLTJPG_STATIC_ASSERT(sizeof(vltJpgDecoderParams) == 36, "creation record is nine words");
VLTJPG_STATIC_ASSERT(sizeof(vltJpgDecoderRequest) == 20, "request is five words");
VLTJPG_STATIC_ASSERT(sizeof(vltJpgDecProgress) == 8, "progress value is two words");
VLTJPG_STATIC_ASSERT(sizeof(vltJpgDecIndexBlock) == 8, "index value is two words");
#endif
/* ===== end decoder ===== */

/* ===== Encoder ===== */

/* The encoder writes baseline JPEG: SOI, APP0 (JFIF) or the host's
 * application data, DQT, SOF0, DHT, DRI, SOS, one interleaved scan, EOI.
 * Quantization tables with steps above 255 are written with 16-bit
 * precision, and they or Huffman tables numbered above 1 make the frame
 * extended sequential (SOF1).
 *
 * Input, chosen by the pixel format of the creation record:
 *   samples (formats 0..5, 7..16, 21, 22): band by band through
 *   vltJpgEncoderScanlines, read in place at each component's sample
 *   distance (jpg_yccrun_tbl); planar chroma planes of odd-sized images
 *   hold ceil(width / 2) columns and ceil(lines / 2) rows where halved.
 *   Every pitch must hold a row; a band must hold whole MCU rows unless
 *   it ends the image, and must not run past the image's height when
 *   that is known. RGB (5, 16) is converted with jpg_rgb2ycc_tbl.
 *   VLTJPG_PIXEL_COEFFICIENTS (6): quantized coefficients, signed 16-bit,
 *   natural order, one MCU's blocks after another in MCU order (Y blocks
 *   first), the MCUs of a row one after another, MCU rows at a pitch.
 * Transcoding (17), format 18 and the reserved formats (19, 20) are not
 * available: creation succeeds or fails, but encoding calls answer 0x8008.
 * Refused input (0x8001, 0x8008) writes nothing.
 */

/* Encoder handle: opaque. */
typedef void *vltJpgEncoder;

/* Creation record: eleven 32-bit words, read once by vltJpgEncoderCreate. */
typedef struct vltJpgEncCreateInfo {
    void *stream;           /* output stream handle */
    uint32_t width;         /* pixels */
    uint32_t height;        /* lines; 0: unknown, patched at destruction */
    uint32_t huffBufferSize;/* output buffer bytes; 0 means 4096 */
    uint32_t pixelFormat;   /* 0..22 */
    uint32_t samplingMode;  /* 0..4 where the pixel format does not fix it */
    uint32_t headerOnCreate;/* non-zero: the whole header is written at once */
    void *memContext;
    vltJpgAllocCallback alloc;  /* null: platform heap */
    vltJpgFreeCallback release;
    vltJpgStreamCallback streamCallback; /* null: platform streams */
} vltJpgEncCreateInfo;

/* Write descriptor of vltJpgEncoderWriteMCUs: five 32-bit words. */
#define VLTJPG_WRITE_TRANSCODE 0u    /* data: the decoder handle that
                                        vltJpgDecoderReadMCUs in request mode
                                        0 stored, of the decoder the encoder
                                        was created from (else 0x8001) */
#define VLTJPG_WRITE_COEFFICIENTS 1u /* data: plane set; planes[0] holds the
                                        run's MCUs in the layout of format 6:
                                        the first MCU at the start, the next
                                        ones to its right, after the end of an
                                        image row the next MCU one MCU row
                                        further down at the start; pitches[0]
                                        counts the 16-bit values from one MCU
                                        row to the next */
#define VLTJPG_WRITE_YCBCR 2u        /* data: plane set holding the run's MCUs
                                        placed as above, for formats 0..4, 7,
                                        11, 21 and 22 (others: 0x8008); blocks
                                        are clipped at the image's edges */
#define VLTJPG_WRITE_RGB 3u          /* not available: 0x8008, nothing encoded */

typedef struct vltJpgEncWriteDesc {
    uint32_t mode;        /* VLTJPG_WRITE_* */
    int32_t count;        /* MCUs to encode; consumed (ends at -1) */
    uint32_t startColumn; /* must equal the encoder's MCU position, */
    uint32_t startRow;    /* else 0x8010 and nothing is encoded */
    void *data;           /* mode 0: decoder handle; mode 1: vltJpgPlaneSet * */
} vltJpgEncWriteDesc;

/* Encoder properties (value sizes in bytes). Unknown identifiers are
 * ignored with result 0. */
#define VLTJPG_ENCPROP_QUALITY 0x2001u       /* set (any size) / get (4): 1..100, default 85 */
#define VLTJPG_ENCPROP_APP_DATA 0x2002u      /* set: value = bytes, size = their count; kept
                                            by reference until the header is written */
#define VLTJPG_ENCPROP_PROGRESS 0x2003u      /* set (8): vltJpgEncProgress */
#define VLTJPG_ENCPROP_THUMB_SCALE 0x2004u   /* set (any size): reduction 1, 2, 4, 8, or 0
                                            off; unbinds the thumbnail buffer */
#define VLTJPG_ENCPROP_THUMB_SIZE 0x2005u    /* get (8): width, height of whole MCUs,
                                            reduced; off: nothing written */
#define VLTJPG_ENCPROP_THUMB_BUFFER 0x2006u  /* set (8): plane set placed as the input's
                                            format at line 0, pitches holding a
                                            thumbnail row; off: ignored; formats
                                            without a thumbnail: 0x8008 */
#define VLTJPG_ENCPROP_IMAGE_SIZE 0x2007u    /* set (8): {width 1..65535, height 0..65535};
                                            resets the MCU position */
#define VLTJPG_ENCPROP_RESTART 0x2008u       /* set (4): restart interval in MCUs, 0 none */
#define VLTJPG_ENCPROP_SAMPLING 0x2009u      /* set (4): sampling mode 0..4 */
#define VLTJPG_ENCPROP_BUFFER_SIZE 0x200Au   /* set (4): output buffer bytes (>= 1), before
                                            the header is written */
#define VLTJPG_ENCPROP_ROTATION 0x200Bu      /* set (4): 0, 90, 180, 270: transposes the
                                            quantization tables for 90 and 270 */
#define VLTJPG_ENCPROP_QUALITY_MODE 0x200Cu  /* set / get (4): 0 fast, 1 rounding quantizer */
#define VLTJPG_ENCPROP_INDEX_INTERVAL 0x200Du /* set (4): MCUs per index entry, 0 none; the
                                            index covers the MCU grid of the image
                                            size known when it is set */
#define VLTJPG_ENCPROP_INDEX 0x200Eu         /* get (vltJpgEncIndexBlock): the index block
                                            (owned by the encoder), the form a decoder
                                            of the output imports; 0x8040 without one */
#define VLTJPG_ENCPROP_QUALITY_STAMP 0x200Fu /* set / get (4): 1 (default) puts the
                                            quality class into the lowest bit of
                                            every DC coded from samples, 0 leaves
                                            the DCs as quantized */

/* Value of VLTJPG_ENCPROP_INDEX. */
typedef vltJpgDecIndexBlock vltJpgEncIndexBlock;

/* Value of VLTJPG_ENCPROP_PROGRESS: called with 100 * MCU row / MCU rows after
 * every MCU row of a band and with 100 at its end; non-zero stops (0x8FFF)
 * after that row. */
typedef struct vltJpgEncProgress {
    vltJpgProgressCallback callback;
    void *data;
} vltJpgEncProgress;

/* Creates an encoder writing to info->stream; *encoder is null on failure.
 * With headerOnCreate the header is written and flushed at once. */
vltJpgResult vltJpgEncoderCreate(vltJpgEncoder *encoder, const vltJpgEncCreateInfo *info);

/* Ends the image (trailer, size patch when the height was unknown) unless
 * the header was written at creation, and releases everything. An image
 * stopped before its last MCU row (a cancel, a failed call) has its height
 * cut to the MCU rows coded, so the file holds a complete smaller image;
 * with no row coded the result is 0x8010. */
vltJpgResult vltJpgEncoderDestroy(vltJpgEncoder encoder);

vltJpgResult vltJpgEncoderSetProp(vltJpgEncoder encoder, uint32_t id, void *value, uint32_t size);
vltJpgResult vltJpgEncoderGetProp(vltJpgEncoder encoder, uint32_t id, void *value, uint32_t size);

/* Encodes a band of lineCount lines starting at line startLine of the
 * planes (planes address the image's first line; for 4:2:0 and 4:4:0
 * planes the chroma band starts at line startLine / 2). For coefficients
 * (format 6) the band is the whole image: planes[0] holds all MCUs,
 * pitches[0] bytes from one MCU row to the next. */
vltJpgResult vltJpgEncoderScanlines(vltJpgEncoder encoder, uint8_t **planes, int32_t *pitches,
                                    uint32_t startLine, const uint32_t *lineCount);

/* Encodes a whole image onto `stream` (with the header written at creation:
 * frame and scan header, data, EOI), starting it at RST0 with a full
 * restart interval. */
vltJpgResult vltJpgEncoderDefaultScanlines(vltJpgEncoder encoder, uint8_t **planes, int32_t *pitches,
                                           uint32_t startLine, const uint32_t *lineCount,
                                           void *stream);

/* Encodes descriptor->count MCUs from the encoder's current MCU position. */
vltJpgResult vltJpgEncoderWriteMCUs(vltJpgEncoder encoder, vltJpgEncWriteDesc *descriptor);

/* Transcoding: creates an encoder onto `stream` (a libqvbase stream) that
 * re-encodes the blocks of `decoder` without going back to samples, with
 * the decoder's frame, quantization tables and restart interval. Huffman
 * mode 0 codes with the Annex K tables, 2 with the Annex K DC tables and
 * the clipped AC tables (end of block, runs 0..3 of sizes 1..10), any other
 * mode with the decoder's own tables. A decoder of a multi-scan image gives
 * 0x8008, one of sampling mode 5 (a layout the encoder has no mode for)
 * 0x8001. Then, run by run in raster order from MCU (0, 0):
 * vltJpgDecoderReadMCUs in request mode 0 positions the decoder and stores
 * its handle in the request; the host sets the count again and passes the
 * same five words as a write descriptor in mode 0. Where the encoder's
 * quantization table of a component differs from the decoder's (after a
 * quality change; the quality reads 0 until one is set) the coefficients
 * are requantized to it. An MCU holding a value the Huffman mode has no
 * code for gives 0x8004 with none of its bits written; a run past the
 * decoder's last MCU gives 0x8010. The encoder is destroyed before the
 * decoder. */
vltJpgResult vltJpgEncoderCreateFromDecoder(vltJpgEncoder *encoder, vltJpgDecoder decoder,
                                            void *stream, uint32_t huffmanMode);

#if VLTJPG_32BIT_TARGET
VLTJPG_STATIC_ASSERT(sizeof(vltJpgEncCreateInfo) == 44, "creation record is eleven words");
VLTJPG_STATIC_ASSERT(sizeof(vltJpgEncWriteDesc) == 20, "write descriptor is five words");
VLTJPG_STATIC_ASSERT(sizeof(vltJpgEncProgress) == 8, "progress value is two words");
#endif

/* ===== end encoder ===== */

#ifdef __cplusplus
}
#endif

#endif /* QVJPEG_H */
