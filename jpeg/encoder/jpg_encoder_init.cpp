// Encoder creation and destruction, component layout and image geometry.
#include "decoder/jpg_idct.h"
#include "encoder/jpg_bit_writer.h"
#include "encoder/jpg_enc_index.h"
#include "encoder/jpg_enc_tables.h"
#include "encoder/jpg_enc_transcode.h"
#include "encoder/jpg_encoder.h"
#include "encoder/jpg_fdct.h"

namespace {

constexpr uint32_t kHighestPixelFormat = 22;
constexpr uint32_t kGreySampling = 4;
constexpr uint32_t kPackedYCbCrFirst = 7;
constexpr uint32_t kPackedYCbCrLast = 10;

// Component layout of the sampling modes 0..4.
struct SamplingLayout {
    uint32_t lumaH;
    uint32_t lumaV;
    int32_t componentCount;
};
constexpr SamplingLayout kSamplingLayouts[kGreySampling + 1] = {
    {2, 2, 3}, {2, 1, 3}, {1, 2, 3}, {1, 1, 3}, {1, 1, 1},
};

uint32_t SamplingModeFor(const vltJpgEncCreateInfo *info, uint32_t layerKind) {
    if (layerKind == kJpgLayerYCbCr) {
        uint32_t fixed = static_cast<uint32_t>(jpg_yuv_tbl[info->pixelFormat]);
        bool packed422 =
            info->pixelFormat >= kPackedYCbCrFirst && info->pixelFormat <= kPackedYCbCrLast;
        // Packed 4:2:2 sources code as 4:2:2 or, dropping every second
        // chroma line, as 4:2:0.
        if (!packed422)
            return fixed;
        return info->samplingMode > 1 ? 1 : info->samplingMode;
    }
    return info->samplingMode;
}

// Sets identifiers, indices and sampling factors of the mode; with
// `selectors` also the table selectors (0 for Y, 1 for chroma).
vltJpgResult LayOutComponents(JpgEncState *state, bool selectors) {
    if (state->samplingMode > kGreySampling)
        return VLTJPG_ERR_ARGUMENT;
    const SamplingLayout &layout = kSamplingLayouts[state->samplingMode];
    // The component records are allocated once, for the creation's count.
    if (layout.componentCount != state->componentCount)
        return VLTJPG_ERR_ARGUMENT;
    state->maxH = layout.lumaH;
    state->maxV = layout.lumaV;
    state->blocksPerMcu = 0;
    for (int32_t i = 0; i < state->componentCount; ++i) {
        JpgEncComponent *component = state->components[i];
        bool luma = i == 0;
        component->identifier = static_cast<uint32_t>(i + 1);
        component->index = static_cast<uint32_t>(i);
        component->h = luma ? layout.lumaH : 1;
        component->v = luma ? layout.lumaV : 1;
        state->blocksPerMcu += static_cast<int32_t>(component->h * component->v);
        if (selectors) {
            uint32_t selector = luma ? 0 : 1;
            component->quantSelector = selector;
            component->dcSelector = selector;
            component->acSelector = selector;
        }
    }
    return 0;
}

// The layout of the sampling mode, then the image size over it.
vltJpgResult LayOutWithSize(JpgEncState *state, bool selectors, uint32_t width, uint32_t height) {
    if (!state)
        return VLTJPG_ERR_ARGUMENT;
    vltJpgResult result = LayOutComponents(state, selectors);
    return result != 0 ? result : JpgEncSetImageProp(state, width, height);
}

// Copies a bits/values pair into a Huffman table record; the symbols only
// when their count is 1..256.
void CopyHuffTable(JpgHuffTable *record, const uint8_t *bits, const uint8_t *values) {
    JpgMemCopy(record->bits, bits, sizeof(record->bits));
    uint32_t count = JpgHuffSymbolCount(bits);
    if (count >= 1 && count <= sizeof(record->values))
        JpgMemCopy(record->values, values, count);
}

// The Annex K tables; with `clipped` the AC tables of a transcoding
// encoder's Huffman mode 2 instead of K.5 and K.6.
void InstallStandardHuffTables(JpgEncState *state, bool clipped) {
    CopyHuffTable(state->dcHuffTables[0], jpg_bits_dc_luminance, jpg_val_dc_luminance);
    CopyHuffTable(state->dcHuffTables[1], jpg_bits_dc_chrominance, jpg_val_dc_chrominance);
    if (clipped) {
        CopyHuffTable(state->acHuffTables[0], jpg_bits_ac_luminance_clip,
                      jpg_val_ac_luminance_clip);
        CopyHuffTable(state->acHuffTables[1], jpg_bits_ac_chrominance_clip,
                      jpg_val_ac_chrominance_clip);
        return;
    }
    CopyHuffTable(state->acHuffTables[0], jpg_bits_ac_luminance, jpg_val_ac_luminance);
    CopyHuffTable(state->acHuffTables[1], jpg_bits_ac_chrominance, jpg_val_ac_chrominance);
}

template <typename T> bool AllocZeroed(JpgEncState *state, T **out, uint32_t bytes) {
    *out = static_cast<T *>(
        JpgMemAllocZeroed(bytes, state->alloc, state->allocSlots, state->memContext));
    return *out != nullptr;
}

bool AllocComponents(JpgEncState *state) {
    JpgEncComponent *records = nullptr;
    uint32_t count = static_cast<uint32_t>(state->componentCount);
    if (!AllocZeroed(state, &records, count * sizeof(JpgEncComponent)))
        return false;
    for (uint32_t i = 0; i < count; ++i)
        state->components[i] = &records[i];
    return true;
}

bool AllocBitWriter(JpgEncState *state, uint32_t bufferSize) {
    JpgBitWriter *writer = nullptr;
    if (!AllocZeroed(state, &writer, sizeof(JpgBitWriter)))
        return false;
    state->bitWriter = writer;
    writer->bufferSize = bufferSize;
    writer->streamCallback = state->streamCallback;
    writer->buffer = static_cast<uint8_t *>(JpgEncAlloc(state, JpgHufBufferBytes(bufferSize)));
    if (!writer->buffer)
        return false;
    for (uint32_t t = 0; t < kJpgHuffTableCount; ++t) {
        if (!AllocZeroed(state, &writer->dcCodes[t], kJpgDcCodeCount * sizeof(JpgHuffCode)) ||
            !AllocZeroed(state, &writer->acCodes[t], kJpgAcCodeCount * sizeof(JpgHuffCode)))
            return false;
    }
    writer->spectralStart = 0;
    writer->spectralEnd = 63;
    writer->zigzag = jpg_natural_order;
    writer->bitCounts = jpg_valbits_tbl;
    writer->flush = JpgHufFlush;
    writer->restart = JpgEncRestart;
    return true;
}

void ReleaseBitWriter(JpgEncState *state) {
    JpgBitWriter *writer = state->bitWriter;
    if (!writer)
        return;
    JpgEncFree(state, writer->buffer);
    for (uint32_t t = 0; t < kJpgHuffTableCount; ++t) {
        JpgEncFree(state, writer->dcCodes[t]);
        JpgEncFree(state, writer->acCodes[t]);
    }
    JpgEncFree(state, writer);
    state->bitWriter = nullptr;
}

// Carves the table area: coefficient block, edge block, reciprocal
// tables, dequantization tables.
bool AllocTableArea(JpgEncState *state) {
    uint8_t *area = static_cast<uint8_t *>(JpgEncAlloc(state, kJpgEncTableAreaBytes));
    if (!area)
        return false;
    // The coefficient block starts cleared; every reader leaves it so.
    JpgMemSet(area, 0, kJpgEncCoefBlockBytes + kJpgEncEdgeBlockBytes);
    state->workArea = reinterpret_cast<int16_t *>(area);
    uint8_t *cursor = area + kJpgEncCoefBlockBytes;
    state->edgeBlock = cursor;
    cursor += kJpgEncEdgeBlockBytes;
    for (int t = 0; t < kJpgEncTableCount; ++t, cursor += kJpgEncReciprocalBytes)
        state->reciprocalTables[t] = reinterpret_cast<uint16_t *>(cursor);
    for (int t = 0; t < kJpgEncTableCount; ++t, cursor += kJpgEncDequantBytes)
        state->dequantTables[t] = reinterpret_cast<int32_t *>(cursor);
    return true;
}

// RGB input converts each MCU into a buffer of its own, sized for the
// largest MCU, so that a later sampling change still fits.
bool AllocRgbMcuBuffer(JpgEncState *state) {
    if (state->layerKind != kJpgLayerRGB)
        return true;
    state->rgbMcuBuffer =
        static_cast<uint8_t *>(JpgEncAlloc(state, kJpgEncMaxBlocksPerMcu * kJpgEncEdgeBlockBytes));
    return state->rgbMcuBuffer != nullptr;
}

void PointComponentsAtTables(JpgEncState *state) {
    for (int32_t i = 0; i < state->componentCount; ++i) {
        JpgEncComponent *component = state->components[i];
        component->reciprocal = state->reciprocalTables[component->quantSelector];
        component->dequant = state->dequantTables[component->quantSelector];
    }
}

bool AllocTableRecords(JpgEncState *state) {
    for (int t = 0; t < kJpgEncTableCount; ++t) {
        if (!AllocZeroed(state, &state->quantTables[t], sizeof(JpgQuantTable)) ||
            !AllocZeroed(state, &state->dcHuffTables[t], sizeof(JpgHuffTable)) ||
            !AllocZeroed(state, &state->acHuffTables[t], sizeof(JpgHuffTable)))
            return false;
    }
    return true;
}

void InstallRoutines(JpgEncState *state) {
    state->runTable = jpg_yccrun_tbl;
    state->mcuModeTable = jpg_mcumode_tbl;
    state->writeHeader = JpgEncWriteHeader;
    state->encodeImage = JpgEncImage;
    state->mcuEncoders[kJpgLayerCoefficients] = JpgEncCoefMCU;
    state->mcuEncoders[kJpgLayerYCbCr] = JpgEncYCbCrMCU;
    state->mcuEncoders[kJpgLayerRGB] = JpgEncRGBMCU;
    state->mcuEncoders[kJpgLayerDecoderBlocks] = JpgEncStreamMCU;
    state->layerEncoders[kJpgLayerDecoderBlocks] = JpgEncStreamLayer;
    state->edgeMcuEncoder = JpgEncYCbCrLastMCU;
    state->transform = JpgFDCTQ_ARMV6;
    state->encodeBlock = JpgEncBlock_ARMV5;
    state->thumbTransforms[0] = JpgDQIDCT8_ARMV6;
    state->thumbTransforms[1] = JpgDQIDCT4_ARMV6;
    state->thumbTransforms[2] = JpgDQIDCT2_ARMV6;
    state->thumbTransforms[3] = JpgDQIDCT1;
    if (state->layerKind == kJpgLayerRGB) {
        state->subsampleTable = jpg_yccsubsample_tbl;
        state->conversionTable = &jpg_rgb2ycc_tbl.column[0][0];
        state->convertColour = JpgEncRGB2YCbCr;
    }
    for (int mode = 1; mode < kJpgEncWriteModes; ++mode)
        state->layerEncoders[mode] = JpgEncDataLayer;
}

void CopyCreationRecord(JpgEncState *state, const vltJpgEncCreateInfo *info, void **slots) {
    state->width = info->width;
    state->height = info->height;
    state->headerOnCreate = info->headerOnCreate;
    state->memContext = info->memContext;
    state->alloc = info->alloc;
    state->release = info->release;
    state->streamCallback = info->streamCallback;
    state->allocSlots = slots;
    state->headerStream = info->stream;
}

// Everything after the state record itself: records, writer, tables; a
// transcoding encoder takes its tables from the decoder.
vltJpgResult BuildEncoder(JpgEncState *state, const vltJpgEncCreateInfo *info, JpgDecoder *decoder,
                          uint32_t huffmanMode) {
    if (!AllocComponents(state))
        return VLTJPG_ERR_MEMORY;
    vltJpgResult result = JpgEncSetCompInfo(state, info->width, info->height);
    if (result != 0)
        return result;
    uint32_t bufferSize = info->huffBufferSize ? info->huffBufferSize : kJpgHufDefaultBufferSize;
    if (!AllocBitWriter(state, bufferSize) || !AllocTableArea(state) ||
        !AllocTableRecords(state) || !AllocRgbMcuBuffer(state))
        return VLTJPG_ERR_MEMORY;
    JpgEncHufInit(state->bitWriter, info->stream);
    if (decoder) {
        result = JpgEncAdoptDecoder(state, decoder, huffmanMode);
        if (result != 0)
            return result;
    }
    PointComponentsAtTables(state);
    InstallRoutines(state);
    result = decoder ? JpgEncCreateQuantScale(state) : JpgSetQuality(state, kJpgDefaultQuality);
    if (result != 0)
        return result;
    if (!decoder || !JpgEncKeepsDecoderHuffman(huffmanMode))
        InstallStandardHuffTables(state, decoder && huffmanMode == 2);
    JpgEncCreateHuffTable(state);
    if (!state->headerOnCreate)
        return 0;
    result = state->writeHeader(state);
    return result != 0 ? result : JpgHufFlush(state->bitWriter);
}

void ReleaseState(JpgEncState *state) {
    JpgEncFree(state, state->rgbMcuBuffer);
    JpgEncFree(state, state->components[0]); // all records in one block
    ReleaseBitWriter(state);
    JpgEncFree(state, state->workArea);
    JpgEncFree(state, state->transcoder);
    JpgEncIdxRelease(state);
    for (int t = 0; t < kJpgEncTableCount; ++t) {
        JpgEncFree(state, state->quantTables[t]);
        JpgEncFree(state, state->dcHuffTables[t]);
        JpgEncFree(state, state->acHuffTables[t]);
    }
    void **slots = state->allocSlots;
    JpgEncFree(state, state);
    JpgMemReleaseSlots(slots);
}

// An image stopped before its last MCU row (cancelled, or ended by a
// failed call) is cut to the MCU rows coded, so that the file ends as a
// complete smaller image. With no row coded there is no image to end:
// that is reported.
vltJpgResult CutToCodedRows(JpgEncState *state) {
    if (state->mcuRow >= state->mcuRows)
        return 0;
    state->height = state->mcuRow * 8 * state->maxV;
    vltJpgResult result = JpgEncReWriteImageSize(state);
    return result == 0 && state->height == 0 ? VLTJPG_ERR_DATA : result;
}

} // namespace

extern "C" {

vltJpgResult JpgEncInit(JpgEncState **out, const vltJpgEncCreateInfo *info, void *decoder,
                        uint32_t huffmanMode) {
    if (!out || !info)
        return VLTJPG_ERR_ARGUMENT;
    *out = nullptr;
    void **slots = nullptr;
    if (!JpgMemCreateSlots(info->alloc, &slots))
        return VLTJPG_ERR_MEMORY;
    auto *state = static_cast<JpgEncState *>(
        JpgMemAllocZeroed(sizeof(JpgEncState), info->alloc, slots, info->memContext));
    if (!state) {
        JpgMemReleaseSlots(slots);
        return VLTJPG_ERR_MEMORY;
    }
    CopyCreationRecord(state, info, slots);
    if (info->pixelFormat > kHighestPixelFormat ||
        !JpgEncFrameSizeFits(info->width, info->height)) {
        ReleaseState(state);
        return VLTJPG_ERR_ARGUMENT;
    }
    state->pixelFormat = info->pixelFormat;
    state->layerKind = static_cast<uint32_t>(jpg_layer_tbl[info->pixelFormat]);
    if (state->layerKind > kJpgLayerRGB) {
        ReleaseState(state); // reserved formats carry no layout to encode
        return VLTJPG_ERR_UNSUPPORTED;
    }
    state->samplingMode = SamplingModeFor(info, state->layerKind);
    state->componentCount = state->samplingMode == kGreySampling ? 1 : 3;
    state->thumbScale = -1;
    state->quality = kJpgDefaultQuality;
    state->qualityStamp = 1;
    auto *source = static_cast<JpgDecoder *>(decoder);
    vltJpgResult result = BuildEncoder(state, info, source, huffmanMode);
    if (result != 0) {
        ReleaseState(state);
        return result;
    }
    *out = state;
    return 0;
}

vltJpgResult JpgEncUninit(JpgEncState *state) {
    if (!state)
        return VLTJPG_ERR_ARGUMENT;
    vltJpgResult result = 0;
    if (!state->headerOnCreate && state->headerWritten) {
        result = JpgEncWriteFileTrailer(state);
        // A size that could not be patched leaves a file without a height:
        // that is reported too.
        vltJpgResult sized = state->sizeRewrite ? JpgEncReWriteImageSize(state)
                                                : CutToCodedRows(state);
        result = result != 0 ? result : sized;
    }
    result = JpgEncStreamResult(state, result);
    ReleaseState(state);
    return result;
}

vltJpgResult JpgEncSetCompInfo(JpgEncState *state, uint32_t width, uint32_t height) {
    return LayOutWithSize(state, true, width, height);
}

vltJpgResult JpgEncSetCompInfoWithoutQH(JpgEncState *state, uint32_t width, uint32_t height) {
    return LayOutWithSize(state, false, width, height);
}

vltJpgResult JpgEncSetImageProp(JpgEncState *state, uint32_t width, uint32_t height) {
    if (!state)
        return VLTJPG_ERR_ARGUMENT;
    state->width = width;
    state->height = height;
    JpgEncSetComponentExtents(state, width, height);
    uint32_t mcuWidth = 8 * state->maxH;
    state->fullMcuColumns = width / mcuWidth;
    state->mcuColumns = JpgCeilDiv(width, mcuWidth);
    JpgEncSetMcuRows(state);
    state->mcuColumn = 0;
    state->mcuRow = 0;
    return 0;
}

} // extern "C"
