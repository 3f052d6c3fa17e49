// Encoder state: the record every encoder routine works on, its component
// records, its routine table and the entry points shared between the
// encoder's source files.
#ifndef QVJPEG_ENCODER_JPG_ENCODER_H
#define QVJPEG_ENCODER_JPG_ENCODER_H

#include "common/jpg_glue.h"
#include "common/jpg_tables.h"
#include "encoder/jpg_bit_writer.h"
#include "qvjpeg.h"

#include <cstddef>
#include <cstdint>

struct JpgEncIndexControl; // random-access index bookkeeping
struct JpgEncTranscoder;   // block buffer of a transcoding encoder
struct JpgEncState;

// Largest number of components, blocks per MCU and tables of each kind.
constexpr int kJpgEncMaxComponents = 3;
constexpr int kJpgEncMaxBlocksPerMcu = 10;
constexpr int kJpgEncTableCount = 4;
constexpr int kJpgEncLayerKinds = 6;
constexpr int kJpgEncWriteModes = 4;
constexpr int kJpgEncThumbScales = 4;

// Work space of the Huffman table builder (257 code lengths, 256 16-bit
// codes), also lent to the thumbnail transforms (64 32-bit values).
constexpr int kJpgEncScratchBytes = 1024;

// Layer kinds (jpg_layer_tbl) the encoder may be fed with.
enum JpgEncLayerKind : uint32_t {
    kJpgLayerDecoderBlocks = 0,
    kJpgLayerCoefficients = 1,
    kJpgLayerYCbCr = 2,
    kJpgLayerRGB = 3,
};

// One component of the frame. For coefficient input `base` addresses
// 16-bit values and `pitch` counts them.
struct JpgEncComponent {
    uint8_t *base;
    uint32_t pitch;
    uint32_t width;
    uint32_t height;
    // Rows of samples the caller's plane holds for the band: the height,
    // except for the odd-row chroma of a row-interleaved band of odd line
    // count, which lacks its last row.
    uint32_t sourceRows;
    uint32_t identifier;
    uint32_t index;
    uint32_t h;
    uint32_t v;
    uint32_t quantSelector;
    uint32_t dcSelector;
    uint32_t acSelector;
    uint16_t *reciprocal;
    int32_t dcPredictor;
    uint32_t lastNonzero;
    uint32_t thumbPitch;
    uint32_t lineDoubling;
    int32_t *dequant;
};

// Routine-table slot types.
typedef vltJpgResult (*JpgEncHeaderFn)(JpgEncState *state);
typedef vltJpgResult (*JpgEncImageFn)(JpgEncState *state, uint32_t width, uint32_t lineCount);
typedef vltJpgResult (*JpgEncMcuFn)(JpgEncState *state, int32_t column, int32_t row);
typedef void (*JpgEncTransformFn)(int16_t *block, const uint8_t *source, int32_t step,
                                  int32_t pitch, const uint16_t *reciprocal);
typedef vltJpgResult (*JpgEncBlockFn)(JpgBitWriter *writer, int16_t *block,
                                      JpgEncComponent *component);
typedef void (*JpgEncConvertFn)(JpgEncState *state, int32_t column, int32_t row);
typedef void (*JpgEncThumbTransformFn)(uint8_t *output, int16_t *coefficients, int32_t step,
                                       int32_t pitch, const int32_t *multipliers,
                                       int32_t lineDoubling, int32_t last, int32_t *scratch);
typedef vltJpgResult (*JpgEncLayerFn)(JpgEncState *state, vltJpgEncWriteDesc *descriptor);
typedef vltJpgResult (*JpgEncIndexFn)(JpgEncState *state);

struct JpgEncState {
    uint32_t width;
    uint32_t height;
    uint32_t pixelFormat;
    uint32_t samplingMode;
    uint32_t layerKind;
    uint32_t maxH;
    uint32_t maxV;
    int32_t componentCount;
    int32_t blocksPerMcu;
    JpgEncComponent *components[kJpgEncMaxComponents];
    JpgEncComponent *blockComponents[kJpgEncMaxBlocksPerMcu];
    JpgBitWriter *bitWriter;
    JpgEncIndexControl *index;
    uint32_t mcuColumn;
    uint32_t mcuRow;
    uint32_t fullMcuColumns;
    uint32_t fullMcuRows;
    uint32_t mcuColumns;
    uint32_t mcuRows;
    uint8_t *edgeBlock;
    int16_t *workArea;                                // begins with the coefficient block
    uint32_t blockOffsets[kJpgEncMaxBlocksPerMcu][2]; // x, y within the component's MCU area
    const uint8_t *runTable;
    const int32_t *mcuModeTable;
    const int32_t *subsampleTable;
    const int32_t *conversionTable;
    JpgEncHeaderFn writeHeader;
    JpgEncImageFn encodeImage;
    JpgEncMcuFn mcuEncoders[kJpgEncLayerKinds];
    JpgEncMcuFn edgeMcuEncoder;
    JpgEncTransformFn transform;
    JpgEncBlockFn encodeBlock;
    JpgEncConvertFn convertColour;
    JpgEncThumbTransformFn thumbTransforms[kJpgEncThumbScales];
    JpgEncLayerFn layerEncoders[kJpgEncWriteModes];
    JpgEncIndexFn updateIndex;
    uint32_t qualityClass;
    int32_t thumbScale;
    uint8_t *thumbPlanes[kJpgEncMaxComponents];
    uint32_t thumbWidth;
    uint32_t thumbHeight;
    const uint8_t *rgbSources[3];
    uint32_t rgbPitch;
    uint32_t quality;
    uint32_t headerWritten;
    uint32_t sizeRewrite;
    uint32_t heightFieldPosition;
    uint16_t *reciprocalTables[kJpgEncTableCount];
    JpgQuantTable *quantTables[kJpgEncTableCount];
    JpgHuffTable *dcHuffTables[kJpgEncTableCount];
    JpgHuffTable *acHuffTables[kJpgEncTableCount];
    int32_t *dequantTables[kJpgEncTableCount];
    void *sourceDecoder;
    JpgEncTranscoder *transcoder;
    uint32_t headerOnCreate;
    uint32_t qualityMode;
    uint32_t jfifWanted;
    uint8_t jfifVersion[2];
    uint8_t jfifUnits;
    uint8_t jfifReserved; // the byte after the units, kept zero
    uint16_t xDensity;
    uint16_t yDensity;
    const uint8_t *appData;
    uint32_t appDataLength;
    vltJpgProgressCallback progress;
    void *progressData;
    void *memContext;
    vltJpgAllocCallback alloc;
    vltJpgFreeCallback release;
    void **allocSlots;
    vltJpgStreamCallback streamCallback;
    uint8_t scratch[kJpgEncScratchBytes];
    // The creation stream, where a header written at creation lies: a
    // quality change rewrites it there even after images went to streams
    // of their own.
    void *headerStream;
    // MCU position inside the area the component extents describe: the
    // image for runs, the band for band input (its rows counted from the
    // band's first), the MCU sample buffer for RGB input.
    uint32_t areaColumn;
    uint32_t areaRow;
    uint32_t bandLines;         // line count of the current band
    uint32_t rowAboveBand;      // 1: the caller's planes hold the line above it
    uint8_t *rgbMcuBuffer;      // RGB input: the converted MCU's samples
    uint32_t qualityStamp;      // 1: the quality class goes into every DC
    // The first stream failure (0x8020) of the file being written, kept so
    // that a later call whose own writes succeed still reports the loss.
    vltJpgResult streamFailure;
};

// Table area behind `workArea`, in order: the coefficient block, the edge
// block, the four reciprocal tables, the four dequantization tables. Every
// reciprocal table has storage of its own, so tables taken over from a
// decoder never overlap the thumbnail's dequantization tables.
constexpr uint32_t kJpgEncCoefBlockBytes = 64 * sizeof(int16_t);
constexpr uint32_t kJpgEncEdgeBlockBytes = 64;
constexpr uint32_t kJpgEncReciprocalBytes = 128 * sizeof(uint16_t);
constexpr uint32_t kJpgEncDequantBytes = 64 * sizeof(int32_t);
constexpr uint32_t kJpgEncTableAreaBytes = kJpgEncCoefBlockBytes + kJpgEncEdgeBlockBytes +
                                           kJpgEncTableCount * kJpgEncReciprocalBytes +
                                           kJpgEncTableCount * kJpgEncDequantBytes;

// Allocation through the memory glue with the encoder's callbacks.
inline void *JpgEncAlloc(JpgEncState *state, uint32_t size) {
    return JpgMemAlloc(size, state->alloc, state->allocSlots, state->memContext);
}
inline void JpgEncFree(JpgEncState *state, void *block) {
    JpgMemFree(block, state->release, state->allocSlots, state->memContext);
}

// A frame header holds 16-bit sizes and at least one column; height 0
// stands for a height patched in at the end.
constexpr uint32_t kJpgLargestFrameSize = 65535;
inline bool JpgEncFrameSizeFits(uint32_t width, uint32_t height) {
    return width >= 1 && width <= kJpgLargestFrameSize && height <= kJpgLargestFrameSize;
}

inline uint32_t JpgCeilDiv(uint32_t value, uint32_t divisor) {
    return (value + divisor - 1) / divisor;
}

// Gives every block of the MCU its component and its offset (in samples)
// inside the component's part of the MCU, components in order.
inline void JpgEncBuildBlockTables(JpgEncState *state) {
    int32_t block = 0;
    for (int32_t i = 0; i < state->componentCount; ++i) {
        JpgEncComponent *component = state->components[i];
        for (uint32_t r = 0; r < component->v; ++r) {
            for (uint32_t c = 0; c < component->h; ++c, ++block) {
                state->blockComponents[block] = component;
                state->blockOffsets[block][0] = 8 * c;
                state->blockOffsets[block][1] = 8 * r;
            }
        }
    }
}

// Component extents of `width` x `lines` samples (the image, or a band of
// it), then the MCU's block tables. A subsampled component of an odd
// extent keeps its last sample: ceil(extent * factor / max factor).
inline void JpgEncSetComponentExtents(JpgEncState *state, uint32_t width, uint32_t lines) {
    for (int32_t i = 0; i < state->componentCount; ++i) {
        JpgEncComponent *component = state->components[i];
        component->width = JpgCeilDiv(component->h * width, state->maxH);
        component->height = JpgCeilDiv(component->v * lines, state->maxV);
        component->sourceRows = component->height;
    }
    JpgEncBuildBlockTables(state);
}

// MCU rows of the current height: those needing no edge handling and all.
inline void JpgEncSetMcuRows(JpgEncState *state) {
    uint32_t mcuHeight = 8 * state->maxV;
    state->fullMcuRows = state->height / mcuHeight;
    state->mcuRows = JpgCeilDiv(state->height, mcuHeight);
}

// DC predictions start from 0 again: at a restart marker and at the start
// of each image.
inline void JpgEncResetPredictors(JpgEncState *state) {
    for (int32_t i = 0; i < state->componentCount; ++i)
        state->components[i]->dcPredictor = 0;
}

// Before each MCU: with a restart interval, a marker when the countdown
// has run out, then one MCU less to go.
inline vltJpgResult JpgEncRestartStep(JpgEncState *state) {
    JpgBitWriter *writer = state->bitWriter;
    if (writer->restartInterval == 0)
        return 0;
    vltJpgResult result = 0;
    if (writer->restartCountdown == 0)
        result = writer->restart(state);
    --writer->restartCountdown;
    return result;
}

// Writes a marker, FF and `code`, unstuffed; the result of a flush this
// caused, else 0. Shared by the header writer, the trailer and restarts.
inline vltJpgResult JpgEncWriteMarker(JpgBitWriter *writer, uint8_t code) {
    vltJpgResult first = JpgHufPutByte(writer, 0xFF);
    vltJpgResult second = JpgHufPutByte(writer, code);
    return first != 0 ? first : second;
}

// Marks the tables of every component to go into the next full header.
// The derived code tables are built already; the flag also means "still
// to be written".
inline void JpgEncMarkTablesForHeader(JpgEncState *state) {
    for (int32_t i = 0; i < state->componentCount; ++i) {
        const JpgEncComponent *component = state->components[i];
        state->quantTables[component->quantSelector]->toBeWritten = 1;
        state->dcHuffTables[component->dcSelector]->built = 1;
        state->acHuffTables[component->acSelector]->built = 1;
    }
}

// Colour conversion table: eight columns of 256 entries with 16 fraction
// bits; Y = c0[R] + c1[G] + c2[B], Cb = c3[R] + c4[G] + c5[B],
// Cr = c5[R] + c6[G] + c7[B], each shifted right by 16.
struct JpgRgbToYccTable {
    int32_t column[8][256];
};

// Helpers shared between encoder files; hidden, so not exported.
#define JPG_ENC_HIDDEN __attribute__((visibility("hidden")))

// Thumbnail properties: the reduction 1, 2, 4, 8 or 0 (off), and the
// thumbnail size of the current geometry, also kept in the state.
JPG_ENC_HIDDEN vltJpgResult JpgEncSetThumbnailScale(JpgEncState *state, uint32_t reduction);
JPG_ENC_HIDDEN void JpgEncGetThumbnailSize(JpgEncState *state, uint32_t *width,
                                           uint32_t *height);

extern "C" {

extern const JpgRgbToYccTable jpg_rgb2ycc_tbl;

// Creation and destruction.
vltJpgResult JpgEncInit(JpgEncState **out, const vltJpgEncCreateInfo *info, void *decoder,
                        uint32_t huffmanMode);
vltJpgResult JpgEncUninit(JpgEncState *state);

// Component layout and image size.
vltJpgResult JpgEncSetCompInfo(JpgEncState *state, uint32_t width, uint32_t height);
vltJpgResult JpgEncSetCompInfoWithoutQH(JpgEncState *state, uint32_t width, uint32_t height);
vltJpgResult JpgEncSetImageProp(JpgEncState *state, uint32_t width, uint32_t height);

// Markers.
vltJpgResult JpgEncWriteHeader(JpgEncState *state);
vltJpgResult JpgEncWriteFileTrailer(JpgEncState *state);
vltJpgResult JpgEncReWriteImageSize(JpgEncState *state);

// Keeps `result` when it is the first stream failure of the file.
inline void JpgEncKeepStreamFailure(JpgEncState *state, vltJpgResult result) {
    if (result == VLTJPG_ERR_SHORT_WRITE && state->streamFailure == 0)
        state->streamFailure = result;
}

// The result of a call that writes the file: `result`, or when that is 0
// the stream failure kept from an earlier call.
inline vltJpgResult JpgEncStreamResult(JpgEncState *state, vltJpgResult result) {
    JpgEncKeepStreamFailure(state, result);
    return result != 0 ? result : state->streamFailure;
}

// Encode loops and MCU routines.
vltJpgResult JpgEncImage(JpgEncState *state, uint32_t width, uint32_t lineCount);
vltJpgResult JpgEncDataLayer(JpgEncState *state, vltJpgEncWriteDesc *descriptor);
vltJpgResult JpgEncCoefMCU(JpgEncState *state, int32_t column, int32_t row);
vltJpgResult JpgEncYCbCrMCU(JpgEncState *state, int32_t column, int32_t row);
vltJpgResult JpgEncYCbCrLastMCU(JpgEncState *state, int32_t column, int32_t row);
vltJpgResult JpgEncRGBMCU(JpgEncState *state, int32_t column, int32_t row);
void JpgEncRGB2YCbCr(JpgEncState *state, int32_t column, int32_t row);

// Thumbnail buffer in the input's pixel format (property 0x2006).
vltJpgResult JpgSetThumbnailBuffer(JpgEncState *state, const vltJpgPlaneSet *planeSet);

// Binding of the caller's buffers for MCU runs.
vltJpgResult JpgEncSetWriteProp(JpgEncState *state, const vltJpgEncWriteDesc *descriptor);

} // extern "C"

#endif
