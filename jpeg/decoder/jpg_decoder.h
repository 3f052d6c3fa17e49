// Decoder state, routine table and MCU-run request: the record every
// decoder step works on. A codec handle of a decoder is the address of a
// JpgDecoder.
#ifndef QVJPEG_DECODER_JPG_DECODER_H
#define QVJPEG_DECODER_JPG_DECODER_H

#include "common/jpg_glue.h"
#include "common/jpg_tables.h"
#include "qvjpeg.h"

#include <cstdint>

struct JpgDecComponent;
struct JpgHufReader;
struct JpgDecoder;
struct JpgDecIndex;
struct JpgDecScan;

// Limits of the frame and of one MCU.
constexpr int32_t kJpgDecMaxComponents = 4;
constexpr int32_t kJpgDecMaxBlocksPerMcu = 48;
constexpr int32_t kJpgDecBlockBytes = 128; // 64 signed 16-bit coefficients
constexpr int32_t kJpgDecDefaultChunkSize = 4096;

// Decode states.
enum JpgDecState : int32_t {
    kJpgDecReadMarkers = 0,
    kJpgDecScanHeaderRead = 1,
    kJpgDecDecodingMcus = 2,
    kJpgDecEndOfImage = 3,
    kJpgDecMultiScanOutput = 4,
};

// Output modes, which are also the request modes of the MCU-run call.
enum JpgDecOutputMode : int32_t {
    kJpgDecOutputStream = 0,
    kJpgDecOutputCoefficients = 1,
    kJpgDecOutputSamples = 2,
    kJpgDecOutputRgb = 3,
};

// Multi-scan modes.
enum JpgDecMultiScan : int32_t {
    kJpgDecSingleScan = 0,
    kJpgDecProgressive = 1,
    kJpgDecSequentialScans = 2,
    kJpgDecUnsupportedProcess = 3,
};

// MCU-run request: the public record vltJpgDecoderReadMCUs receives.
using JpgDecRequest = vltJpgDecoderRequest;

using JpgDecHeaderRoutine = uint32_t (*)(JpgDecoder *dec);
using JpgDecImageRoutine = uint32_t (*)(JpgDecoder *dec, int32_t width, int32_t lines);
using JpgDecMcuRoutine = uint32_t (*)(JpgDecoder *dec, int32_t x, int32_t y);
using JpgDecBlockRoutine = uint32_t (*)(JpgHufReader *reader, int16_t *coef,
                                        JpgDecComponent *comp);
using JpgDecTransformRoutine = void (*)(uint8_t *out, int16_t *coef, int32_t step, int32_t pitch,
                                        const int32_t *multipliers, int32_t lineDoubling,
                                        int32_t last, int32_t *scratch);
using JpgDecRunDriver = uint32_t (*)(JpgDecoder *dec, JpgDecRequest *request);
using JpgDecStuffRoutine = void (*)(uint8_t *out, int32_t step, int32_t pitch, int32_t scale);
using JpgDecIndexRoutine = uint32_t (*)(JpgDecoder *dec);

// Routine table: every step the decoder calls indirectly, filled at creation.
// Null slots have no routine and are never called (the index-update slot is
// null while no index exists).
struct JpgDecRoutines {
    const uint8_t *runTable;      // jpg_yccrun_tbl
    const int32_t *mcuModeTable;  // jpg_mcumode_tbl
    JpgDecHeaderRoutine readHeader;
    JpgDecImageRoutine decode;
    JpgDecMcuRoutine mcu[6];      // by output mode; [4], [5] null
    JpgDecMcuRoutine lastMcu;     // edge MCUs of sample output
    JpgDecBlockRoutine block;
    JpgDecTransformRoutine transform[4]; // by scale index
    JpgDecRunDriver runDriver[4];        // by request mode
    JpgDecMcuRoutine coefOutput[4];      // multi-scan output by request mode
    JpgDecStuffRoutine stuff;
    JpgDecIndexRoutine indexUpdate;
};

// Node of the list that owns every derived Huffman table.
struct JpgDecTableNode {
    uint16_t *table;
    JpgDecTableNode *next;
};

// Decoder state: one zeroed allocation per decoder.
struct JpgDecoder {
    // Image and frame.
    int32_t precision;
    int32_t width;
    int32_t height;
    int32_t firstLine;        // full-size lines handed out by the band calls
    int32_t pixelFormat;      // planar output format bound with the planes
    int32_t samplingMode;     // 0..5
    int32_t outputMode;       // JpgDecOutputMode
    int32_t frameMaxH;
    int32_t frameMaxV;
    int32_t componentCount;
    int32_t frameBlocksPerMcu;
    JpgDecComponent *components[kJpgDecMaxComponents];
    JpgHufReader *reader;
    JpgDecIndex *index;
    uint32_t dataOrigin;      // stream offset of the JPEG data's first byte

    // Scan and position.
    int32_t scanMaxV;
    int32_t mcuHeight;        // in component samples of the tallest scan MCU
    int32_t frameMcusPerRow;
    int32_t frameMcuRows;
    int32_t mcuColumn;        // next MCU to decode
    int32_t mcuRow;
    int32_t mcusPerRow;       // grid of the current scan
    int32_t mcuRows;
    int32_t edgeMcuColumn;    // first MCU column/row partly outside the image
    int32_t edgeMcuRow;
    uint8_t *blockArea;       // coefficient block, edge buffer, multipliers
    uint8_t *edgeBuffer;
    int32_t decodeState;      // JpgDecState
    int32_t scanComponentCount;
    int32_t blocksPerMcu;
    JpgDecComponent *scanComponents[kJpgDecMaxComponents];
    JpgDecComponent *blockComponents[kJpgDecMaxBlocksPerMcu];
    int32_t blockOffsets[kJpgDecMaxBlocksPerMcu][2]; // (x, y) inside the MCU

    JpgDecRoutines routines;

    // Tables and header flags.
    int32_t progressiveFrame;
    int16_t *rowStore;
    int32_t soiSeen;
    int32_t sofSeen;
    int32_t dqtSeen;
    int32_t dhtSeen;
    int32_t scaleIndex;       // 0..3: output 1/1, 1/2, 1/4, 1/8
    int32_t scaledWidth;
    int32_t scaledHeight;
    JpgQuantTable *quantTables[4];
    JpgHuffTable *dcDefs[4];
    JpgHuffTable *acDefs[4];
    int32_t *dequantTables[4];
    int32_t huffTableLimit;   // table numbers a scan may name are below it
    JpgDecTableNode *derivedTables;
    JpgDecScan *scanList;
    JpgDecScan *currentScan;
    int32_t multiScanMode;    // JpgDecMultiScan
    // Per component and coefficient (zigzag index), what
    // the scans of a multi-scan image have coded so far: 0 nothing, else the
    // point transform (Al) of the last scan plus one.
    uint8_t scanCoverage[kJpgDecMaxComponents][64];
    int32_t rgbComponents;
    uint32_t reserved;        // creation record word 4
    vltJpgProgressCallback progress;
    void *progressContext;
    void *memContext;
    vltJpgAllocCallback alloc;
    vltJpgFreeCallback release;
    void **allocSlots;
    vltJpgStreamCallback streamCallback;
    // Huffman table builder work area while tables are built, transform
    // workspace while blocks are decoded.
    union {
        uint8_t bytes[257];
        int32_t words[64 + 1];
    } scratch;
    uint16_t codeScratch[256];
};

// Layout of the block area: the coefficient block, the edge buffer, then the
// four dequantization multiplier tables.
constexpr uint32_t kJpgDecEdgeBufferOffset = kJpgDecBlockBytes;
constexpr uint32_t kJpgDecMultiplierOffset = kJpgDecEdgeBufferOffset + 64;
constexpr uint32_t kJpgDecMultiplierBytes = 64 * sizeof(int32_t);
constexpr uint32_t kJpgDecBlockAreaBytes = kJpgDecMultiplierOffset + 4 * kJpgDecMultiplierBytes;

inline int16_t *JpgDecCoefBlock(JpgDecoder *dec) {
    return reinterpret_cast<int16_t *>(dec->blockArea);
}

// Memory through the glue with the decoder's own callbacks.
inline void *JpgDecAlloc(JpgDecoder *dec, uint32_t size) {
    return JpgMemAlloc(size, dec->alloc, dec->allocSlots, dec->memContext);
}

inline void *JpgDecAllocZeroed(JpgDecoder *dec, uint32_t size) {
    return JpgMemAllocZeroed(size, dec->alloc, dec->allocSlots, dec->memContext);
}

inline void JpgDecFree(JpgDecoder *dec, void *block) {
    JpgMemFree(block, dec->release, dec->allocSlots, dec->memContext);
}

// Helpers shared between decoder files; hidden, so not exported.
#define JPG_DEC_HIDDEN __attribute__((visibility("hidden")))

// Returns a step's non-zero result code at once.
#define RETURN_IF_FAILED(expr)                                                                     \
    do {                                                                                           \
        uint32_t result_ = (expr);                                                                 \
        if (result_ != VLTJPG_OK)                                                                  \
            return result_;                                                                        \
    } while (0)

// Releases a reader and its buffer; null is passed over.
JPG_DEC_HIDDEN void JpgDecFreeReader(JpgDecoder *dec, JpgHufReader *reader);
// Binds the main reader to a stream and fills it; positions are counted
// from the stream's start whatever its current position.
JPG_DEC_HIDDEN uint32_t JpgDecBindStream(JpgDecoder *dec, void *stream);
// Skips to the next marker (0xFF followed by neither 0x00 nor 0xFF) and
// stores its code in the reader; fails when the data ends first.
JPG_DEC_HIDDEN uint32_t JpgDecFindMarker(JpgHufReader *reader);
// Moves the reader to the next whole byte after entropy-coded data (past a
// stuffed 0x00 with its 0xFF), as the parser and the restart handler need.
JPG_DEC_HIDDEN void JpgDecAlignToByte(JpgHufReader *reader);
// Zeroes the DC predictors of the scan's components, as a restart, a rewind
// and the start of another image need.
JPG_DEC_HIDDEN void JpgDecClearPredictors(JpgDecoder *dec);
// Restart check before an MCU read through `reader`: at the end of each
// restart interval the restart handler checks the marker and resets the
// predictors.
JPG_DEC_HIDDEN uint32_t JpgDecCheckRestart(JpgDecoder *dec, JpgHufReader *reader);
// Writes the block `coef` as block `block` of the MCU at position (x, y) of
// the band or run, clipped to the component at the image edge (grey while
// the main reader holds a marker); leaves `coef` zero where it was read.
JPG_DEC_HIDDEN void JpgDecOutputBlock(JpgDecoder *dec, int32_t block, int32_t x, int32_t y,
                                      int16_t *coef);
// Progress after `bandRow` completed rows of a band of `rows`; 0x8FFF when
// the callback asks to stop.
JPG_DEC_HIDDEN uint32_t JpgDecReportProgress(JpgDecoder *dec, int32_t bandRow, int32_t rows);

extern "C" {

// Creation and destruction.
uint32_t JpgDecInit(JpgDecoder **handle, vltJpgDecoderParams *params);
uint32_t JpgDecUninit(JpgDecoder *dec);
uint32_t JpgDecSetDeQuantScale(JpgDecoder *dec, int32_t table);

// Marker parser.
uint32_t JpgDecReadHeader(JpgDecoder *dec);
uint32_t JpgDecSetFrameInfo(JpgDecoder *dec);
uint32_t JpgDecSetScanInfo(JpgDecoder *dec);
uint32_t JpgDecSetHuffTable(JpgDecoder *dec, int32_t number, int32_t tableClass);

// Output binding of the MCU-run call.
uint32_t JpgDecSetReadProp(JpgDecoder *dec, const JpgDecRequest *request);

// Decode loop.
uint32_t JpgDecImage(JpgDecoder *dec, int32_t width, int32_t lines);
uint32_t JpgDecDataLayer(JpgDecoder *dec, JpgDecRequest *request);
uint32_t JpgDecStreamLayer(JpgDecoder *dec, JpgDecRequest *request);
uint32_t JpgDecStreamMCU(JpgDecoder *dec, int32_t x, int32_t y);
uint32_t JpgDecCoefMCU(JpgDecoder *dec, int32_t x, int32_t y);
uint32_t JpgDecYCbCrMCU(JpgDecoder *dec, int32_t x, int32_t y);
uint32_t JpgDecYCbCrLastMCU(JpgDecoder *dec, int32_t x, int32_t y);
uint32_t JpgDecRGBMCU(JpgDecoder *dec, int32_t x, int32_t y);
void JpgDecStuff(uint8_t *out, int32_t step, int32_t pitch, int32_t scale);
uint32_t JpgDecRestart(JpgDecoder *dec);

} // extern "C"

#endif
