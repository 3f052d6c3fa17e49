// Multi-scan decoding: progressive images and sequential images coded in
// several scans. Every scan of the file gets a record with its own small
// Huffman reader positioned at its entropy-coded data; the decoder keeps
// one MCU row of coefficients (the row store) and, for each MCU row,
// advances every scan through its part of the row before the row is
// output. Memory grows with the width and the number of scans, never with
// the height.
#ifndef QVJPEG_DECODER_JPG_DEC_SCAN_H
#define QVJPEG_DECODER_JPG_DEC_SCAN_H

#include "decoder/jpg_decoder.h"

#include <cstdint>
#include <cstring>

// Bytes a scan reader fetches per refill: small, since every scan of the
// file holds one buffer of this size plus the slack.
constexpr uint32_t kJpgScanChunkSize = 512;

// Parameters of one scan header, read and checked before anything is taken
// over into the decoder.
struct JpgDecScanParams {
    int32_t count;
    JpgDecComponent *components[kJpgDecMaxComponents];
    int32_t dcTables[kJpgDecMaxComponents];
    int32_t acTables[kJpgDecMaxComponents];
    int32_t ss; // spectral selection start and end
    int32_t se;
    int32_t ah; // successive approximation high and low bit
    int32_t al;
};

// One scan of a multi-scan image.
struct JpgDecScan {
    int32_t mcusPerRow;        // the scan's own grid: blocks of the component
    int32_t mcuRows;           // for a single-component scan, frame MCUs otherwise
    int32_t componentCount;
    int32_t blocksPerMcu;
    int32_t rowsDone;          // frame MCU rows this scan has been advanced through
    int32_t acScan;            // a progressive AC scan: not needed for 1/8 sample output
    JpgDecComponent *components[kJpgDecMaxComponents]; // private copies, scan order
    JpgDecComponent *blockComponents[kJpgDecMaxBlocksPerMcu];
    int32_t frameBlocks[kJpgDecMaxBlocksPerMcu]; // each block's index in the frame MCU
    JpgDecBlockRoutine blockDecoder;
    JpgHufReader *reader;
    JpgDecScan *next;
};

// A zigzag index no nonzero AC coefficient of the block lies beyond: 0 when
// every AC coefficient is zero, 24 when all lie in the top-left 4x4 corner
// (whose zigzag indices end at 24), else 63. Reads four coefficients at a
// time, so that blocks can be sized up without a walk through the zigzag
// order.
inline int32_t JpgDecNonzeroBound(const int16_t *coef) {
    uint64_t dc = 0;
    std::memcpy(&dc, coef, sizeof(int16_t)); // the DC's lane of the first word
    uint64_t corner = 0;
    uint64_t outside = 0;
    for (int32_t row = 0; row < 8; ++row) {
        uint64_t left = 0;
        uint64_t right = 0;
        std::memcpy(&left, coef + 8 * row, sizeof left);
        std::memcpy(&right, coef + 8 * row + 4, sizeof right);
        outside |= right | (row >= 4 ? left : 0);
        corner |= row == 0 ? left ^ dc : (row < 4 ? left : 0);
    }
    return outside ? 63 : (corner ? 24 : 0);
}

// Bytes of the row store: one MCU row of coefficient blocks, so its size
// depends on the width only.
inline uint64_t JpgDecRowStoreBytes(const JpgDecoder *dec) {
    return static_cast<uint64_t>(dec->frameBlocksPerMcu) *
           static_cast<uint64_t>(dec->frameMcusPerRow) * kJpgDecBlockBytes;
}

// Helpers shared by the marker parser, creation, the decode loop and the
// multi-scan files; hidden, so not exported.

// Checks a scan of a multi-scan image against the scans before it:
// spectral band and approximation bits of a progressive scan, one scan per
// component of a sequential image. Records what the scan codes; 0x8010 for
// a scan that breaks the rules.
JPG_DEC_HIDDEN uint32_t JpgDecCheckScan(JpgDecoder *dec, const JpgDecScanParams &scan);
// Creates the record and reader of the scan the parser has just set up
// (decoder scan fields, main reader on its first data byte) and appends it
// to the scan list. 0, 0x8002, or 0x8010 when the stream cannot seek.
JPG_DEC_HIDDEN uint32_t JpgDecAddScan(JpgDecoder *dec);
// After the header of a multi-scan image: checks that a complete file
// codes every component, allocates the row store, lays out the frame MCU
// and installs the multi-scan routines. `truncated` is set when the data
// ended before an EOI.
JPG_DEC_HIDDEN uint32_t JpgDecSetupMultiScan(JpgDecoder *dec, bool truncated);
// Releases every scan record and the row store.
JPG_DEC_HIDDEN void JpgDecFreeScans(JpgDecoder *dec);
// The band driver of a multi-scan image: outputs the MCU rows a band of
// `lines` image lines needs.
JPG_DEC_HIDDEN uint32_t JpgDecMultiScanBand(JpgDecoder *dec, int32_t lines);
// The reader the restart handler works on: the current scan's in a
// multi-scan image, the main reader otherwise.
JPG_DEC_HIDDEN JpgHufReader *JpgDecActiveReader(JpgDecoder *dec);

extern "C" {

// Decodes one MCU of the current scan into the row store: x is the scan's
// MCU column, y the block row inside the frame MCU row (single-component
// scans) or 0.
uint32_t JpgDecPCoefMCU(JpgDecoder *dec, int32_t x, int32_t y);
// Output of the frame MCU at the decoder's MCU column of the row store at
// MCU position (x, y) of the band or run: samples, or coefficients.
uint32_t JpgDecPOutYCbCr(JpgDecoder *dec, int32_t x, int32_t y);
uint32_t JpgDecPOutCoef(JpgDecoder *dec, int32_t x, int32_t y);
// Run driver of a multi-scan image for request modes 1 and 2.
uint32_t JpgDecPDataLayer(JpgDecoder *dec, JpgDecRequest *request);

// Progressive block decoders: DC first and refinement,
// AC first and refinement. Each accumulates into `coef`, the block as
// earlier scans left it. 0, or 0x8010 when the data ran out or an AC
// refinement symbol is invalid.
uint32_t JpgDecBlockDCFirst(JpgHufReader *reader, int16_t *coef, JpgDecComponent *comp);
uint32_t JpgDecBlockACFirst(JpgHufReader *reader, int16_t *coef, JpgDecComponent *comp);
uint32_t JpgDecBlockDCRefine(JpgHufReader *reader, int16_t *coef, JpgDecComponent *comp);
uint32_t JpgDecBlockACRefine(JpgHufReader *reader, int16_t *coef, JpgDecComponent *comp);

} // extern "C"

#endif
