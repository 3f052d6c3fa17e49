// Huffman reader: a buffered byte-and-bit reader over the decoder's stream,
// the derived (two-level lookup) Huffman tables and the baseline block
// decoder built on them.
#ifndef QVJPEG_DECODER_JPG_HUFF_READER_H
#define QVJPEG_DECODER_JPG_HUFF_READER_H

#include "qvjpeg.h"

#include <cstdint>

struct JpgDecoder;
struct JpgDecComponent;
struct JpgHufReader;

using JpgHufRefill = uint32_t (*)(JpgHufReader *reader);
using JpgHufRestartHandler = uint32_t (*)(JpgDecoder *dec);

// Bytes held past the refill point, so that a block started before the
// refill point can be decoded without a refill inside it.
constexpr int32_t kJpgHufSlack = 128;

// Derived Huffman table: entries 0..255 are indexed by the next 8 bits.
// An entry packs a value in bits 6..15 and a length in bits 0..5: a code of
// up to 8 bits holds (symbol, length); a prefix of longer codes holds
// (index of its sub-table, number of further bits indexing it), recognisable
// by a value of 256 or more; a sub-table entry holds (symbol, length - 8);
// 0 marks "no code".
constexpr int32_t kJpgHufLookupBits = 8;
constexpr uint16_t kJpgHufSubTableRef = 256u << 6;
// The two levels take at most the 1024 entries an entry can address; every
// table is allocated with room for all of them (the usual tables need 576).
constexpr int32_t kJpgHufMaxTableEntries = 1024;

// Behind that room every table carries a second, combined lookup: indexed
// by the next kJpgHufFastBits bits, it gives a whole coefficient (a DC
// difference, or an AC value with its zero run) when the code and its
// magnitude bits fit in them, so the common short codes take one lookup and
// no separate receive step. An entry holds the sign-extended value in bits
// 16..31, the zero run before it in bits 8..11 (or, for the end of block,
// the mark kJpgHufFastEndOfBlock in bits 8..15) and the bits used (code
// plus magnitude) in bits 0..7; 0 means "decode the long way" (longer
// codes, ZRL, missing codes).
constexpr int32_t kJpgHufFastBits = 10;
constexpr uint32_t kJpgHufFastEndOfBlock = 0x80;
constexpr int32_t kJpgHufFastEntries = 1 << kJpgHufFastBits;

inline const uint32_t *JpgHufFastTable(const uint16_t *table) {
    return reinterpret_cast<const uint32_t *>(table + kJpgHufMaxTableEntries);
}
inline uint32_t *JpgHufFastTable(uint16_t *table) {
    return reinterpret_cast<uint32_t *>(table + kJpgHufMaxTableEntries);
}

struct JpgHufReader {
    void *stream;
    uint8_t *buffer;          // chunkSize + kJpgHufSlack bytes
    uint32_t chunkSize;       // bytes fetched per refill; the refill point is buffer + chunkSize
    uint32_t bufferOrigin;    // stream offset of buffer[0]
    int32_t tailCount;        // valid bytes held beyond the refill point (0..128)
    uint32_t endFlag;         // stream ran short, a seek failed or the slack was overrun
    uint32_t marker;          // code of the marker that stopped the reader; 0 = none pending
    uint8_t *position;        // the byte holding the next unread bit
    int32_t bitsLeft;         // unread bits of *position, from its low end (0..8)
    int32_t bytesLeft;        // bytes from position (inclusive) to the refill point
    const uint16_t *dcTables[4]; // derived tables by table number, null = undefined
    const uint16_t *acTables[4];
    const uint8_t *naturalOrder; // jpg_natural_order
    const int32_t *extendTable;  // jpg_extend_tbl
    JpgHufRefill refill;      // JpgHufRead, or JpgScanHufRead for a scan reader
    int32_t lastIndexKept;    // coefficients past this zigzag index are decoded and dropped
    int32_t ss;               // progressive scan parameters
    int32_t ah;
    int32_t al;
    int32_t eobRun;
    uint32_t readPosition;    // stream position after the last read (scan readers)
    uint32_t dataStart;       // bit offset of the scan's first entropy-coded bit
    uint32_t mainCount;       // bytes before the refill point that came from the stream
    uint32_t nextRestart;     // 0..7: RSTn expected next
    uint32_t restartInterval; // MCUs per interval, 0 = none
    uint32_t restartsToGo;    // MCUs before the next restart marker
    JpgHufRestartHandler restartHandler;
    vltJpgStreamCallback streamCallback;
};

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(JpgHufReader) == 34 * 4, "Huffman reader is 34 words");
#endif

extern "C" {

// Entry s = 1 - 2^s: added to an s-bit magnitude whose leading bit is 0.
extern const int32_t jpg_extend_tbl[16];
// Last zigzag index kept for scale index 0..3 (8x8, 4x4, 2x2, 1x1 output).
extern const int32_t jpg_scalese_tbl[4];

// Binds the reader to a stream and fills it from the stream's current
// position (buffer origin 0, bits left 8). Returns 0.
uint32_t JpgDecHufInit(JpgHufReader *reader, void *stream);
// Repositions at an absolute bit offset: inside the buffered main part only
// the position moves, otherwise the stream is seeked and the buffer
// refilled. A failed seek sets the end flag and gives 0x8010.
uint32_t JpgHufReset(JpgHufReader *reader, uint32_t bitOffset);
// JpgHufReset for a scan reader, which also restarts its scan state.
uint32_t JpgScanHufReset(JpgHufReader *reader, uint32_t bitOffset);
// Binds a scan reader (data start already set) to the decoder's stream,
// taking the scan parameters from the main reader, and fills it from the
// data start, leaving the stream where it was. Data that ends within the
// first fill ends in an appended EOI, as after any refill. 0, or 0x8010 when
// the stream cannot seek.
uint32_t JpgScanHufInit(JpgHufReader *reader, JpgDecoder *dec);
// Refill at the refill point: the bytes held past the refill point move to
// the front and the stream is read straight behind them (no gap after a
// short read). 0, or 0x8010: not at the refill point yet, stream already
// ended, or the position ran past the buffered bytes (end flag set).
uint32_t JpgHufRead(JpgHufReader *reader);
// JpgHufRead for a scan reader sharing the stream with other readers.
uint32_t JpgScanHufRead(JpgHufReader *reader);

// Decodes one block into `coef` (64 values in natural order, zero on entry
// except where this call writes) and sets the component's DC predictor and
// last nonzero index. A block whose data stops at a marker leaves the marker
// pending (reader on the byte after it, 8 bits left) and the block and the
// predictor as they were; later calls return 0 at once until the marker is
// cleared. Returns 0, or 0x8010 when the data ran out without a marker or a
// table the component names is undefined (so a scan naming an undefined
// table fails here instead of reading through a null table). Between blocks
// the reader holds 0..8 bits left; a block longer than the slack refills
// inside itself.
uint32_t JpgDecBlock(JpgHufReader *reader, int16_t *coef, JpgDecComponent *comp);
// Same contract, built for processors with 32-bit registers.
uint32_t JpgDecBlock_ARMV5(JpgHufReader *reader, int16_t *coef, JpgDecComponent *comp);

// Builds the derived table of DC (class 0) or AC (class non-zero) table
// `number` from its definition record, puts it on the decoder's derived
// table list (a table node and its table are two separate blocks) and
// installs it in the main reader. 0, 0x8001 for an invalid definition,
// 0x8002 when memory runs out. Defined in jpg_huff_table.cpp.
uint32_t JpgDecSetHuffTable(JpgDecoder *dec, int32_t number, int32_t tableClass);

} // extern "C"

#endif
