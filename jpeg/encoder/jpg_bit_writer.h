// Bit writer: the buffered entropy output of the encoder. Every byte of the
// JPEG file passes through its output buffer: header bytes and markers
// unstuffed, Huffman-coded data with a 0x00 after every 0xFF.
#ifndef QVJPEG_ENCODER_JPG_BIT_WRITER_H
#define QVJPEG_ENCODER_JPG_BIT_WRITER_H

#include "qvjpeg.h"

#include <cstdint>

struct JpgEncState;      // encoder state (jpg_encoder.h)
struct JpgEncComponent;  // encoder component record (jpg_encoder.h)
struct JpgBitWriter;

// Entry of a derived code table; length 0 means the symbol has no code.
struct JpgHuffCode {
    uint16_t length;
    uint16_t code;
};

// Derived DC tables are indexed by magnitude category, AC tables by the
// run/size symbol (run << 4) | size.
constexpr uint32_t kJpgDcCodeCount = 12;
constexpr uint32_t kJpgAcCodeCount = 256;
constexpr uint32_t kJpgHuffTableCount = 4;

// Largest categories the derived tables can hold: DC differences of up to
// 11 bits, AC values of up to 10 bits (8-bit samples).
constexpr uint32_t kJpgMaxDcCategory = 11;
constexpr uint32_t kJpgMaxAcCategory = 10;

// The due-flush test runs once per block and after every header byte, so
// the output buffer carries slack behind its nominal size. One block can
// produce 27 bits of DC and 63 AC codes of up to 26 bits, every byte
// possibly doubled by stuffing: 418 bytes, plus the partial byte, up to
// eight provisional bytes the block coder stores ahead, and the padding
// and marker bytes written since the previous flush check. 512 bytes hold
// all of it whatever the nominal size.
constexpr uint32_t kJpgHufBufferSlack = 512;
constexpr uint32_t kJpgHufDefaultBufferSize = 4096;

// Bytes to allocate for an output buffer of nominal size `size`.
constexpr uint32_t JpgHufBufferBytes(uint32_t size) { return size + kJpgHufBufferSlack; }

// Stores the `count` (1..3) bytes completed at the top of `bits`, each
// 0xFF followed by a stuffed 0x00; returns the advanced output pointer.
typedef uint8_t *(*JpgHufByteEmitter)(uint8_t *out, uint32_t bits);
typedef vltJpgResult (*JpgHufFlushFn)(JpgBitWriter *writer);
typedef vltJpgResult (*JpgEncRestartFn)(JpgEncState *state);

struct JpgBitWriter {
    void *stream;              // where flushed bytes go
    uint8_t *buffer;           // output buffer (nominal size + slack)
    uint32_t bufferSize;       // nominal bytes before a flush is due
    uint32_t bytesFlushed;     // bytes handed to the stream since the start
    uint8_t *writePtr;         // the byte being filled
    uint32_t bitsUsed;         // 0..7 leading bits of *writePtr holding data
    int32_t remaining;         // nominal bytes left; <= 0: flush due
    JpgHuffCode *dcCodes[kJpgHuffTableCount];  // derived DC tables
    JpgHuffCode *acCodes[kJpgHuffTableCount];  // derived AC tables
    const uint8_t *zigzag;     // jpg_natural_order
    const uint8_t *bitCounts;  // jpg_valbits_tbl
    JpgHufByteEmitter emitBytes[3];  // set and used by JpgEncBlock_ARMV5 only
    JpgHufFlushFn flush;       // JpgHufFlush
    uint32_t spectralEnd;      // last zigzag index coded (63)
    uint32_t spectralStart;    // 0; written into SOS only
    uint32_t restartNumber;    // n of the next RSTn
    uint32_t restartInterval;  // MCUs per interval, 0 = none
    uint32_t restartCountdown; // MCUs left before the next marker
    JpgEncRestartFn restart;   // JpgEncRestart
    vltJpgStreamCallback streamCallback;
};

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(JpgBitWriter) == 112, "bit writer is 28 words on 32-bit targets");
#endif

extern "C" {

// Starts the bit writer on `stream`: clears the buffer and its slack, no
// bytes flushed, write pointer at the start. Restart number and countdown
// are kept. Result 0 (0x8001 for a null writer or buffer).
vltJpgResult JpgEncHufInit(JpgBitWriter *writer, void *stream);

// Codes one block of 64 quantized coefficients (natural order) with the
// component's DC and AC tables and DC predictor. Result 0, 0x8004 when a
// value has no code in the installed tables, or the flush result.
vltJpgResult JpgEncBlock(JpgBitWriter *writer, int16_t *block, JpgEncComponent *component);
// The processor-specific block coder: same contract, faster.
vltJpgResult JpgEncBlock_ARMV5(JpgBitWriter *writer, int16_t *block,
                               JpgEncComponent *component);

// Hands the completed bytes to the stream; keeps the partial byte. Result
// 0, or 0x8020 when the stream took fewer bytes (the buffer is reset all
// the same).
vltJpgResult JpgHufFlush(JpgBitWriter *writer);

// Stores `count` bytes unchanged (no stuffing). Result 0, or the first
// failed flush result.
vltJpgResult JpgHufDump(JpgBitWriter *writer, const uint8_t *bytes, uint32_t count);

// Pads the partial byte, writes the next RSTn marker, clears the DC
// predictors and reloads the countdown.
vltJpgResult JpgEncRestart(JpgEncState *state);

// Replaces the output buffer (property 0x200A) before the header is out.
// Result 0, 0x8001 (size below 1, header written) or 0x8002.
vltJpgResult JpgEncResizeHuffBuffer(JpgEncState *state, int32_t size);

} // extern "C"

// Stores one unstuffed byte (header, marker, raw data) and flushes when
// the nominal size is used up. Returns the flush result, 0 when none ran.
inline vltJpgResult JpgHufPutByte(JpgBitWriter *writer, uint8_t value) {
    *writer->writePtr++ = value;
    writer->remaining -= 1;
    return writer->remaining < 1 ? JpgHufFlush(writer) : 0;
}

// Whole bytes written since the bit writer was started, flushed or still
// buffered.
inline uint32_t JpgHufBytesWritten(const JpgBitWriter *writer) {
    return writer->bytesFlushed + static_cast<uint32_t>(writer->writePtr - writer->buffer);
}

// Completes a partial byte with 1-bits (before a marker), stuffing a 0x00
// when that makes it 0xFF. No flush check: the slack takes the two bytes.
inline void JpgHufPadToByte(JpgBitWriter *writer) {
    if (writer->bitsUsed == 0) {
        return;
    }
    uint8_t *out = writer->writePtr;
    out[0] = static_cast<uint8_t>(out[0] | ((1u << (8 - writer->bitsUsed)) - 1));
    int32_t advance = 1;
    if (out[0] == 0xFF) {
        out[1] = 0x00;
        advance = 2;
    }
    writer->writePtr += advance;
    writer->remaining -= advance;
    writer->bitsUsed = 0;
}

// Every image starts its restart markers at RST0 with a full interval.
inline void JpgHufRestartFromZero(JpgBitWriter *writer) {
    writer->restartNumber = 0;
    writer->restartCountdown = writer->restartInterval;
}

#endif
