// Transcoding: the encoder takes over a decoder's frame and tables and
// pulls its entropy-decoded blocks MCU by MCU into the block coder. The
// coefficients are kept as they are, or requantized where the encoder's
// quantization table of a component differs from the decoder's (after a
// quality change). Memory does not grow with the image: one MCU of blocks.
#include "decoder/jpg_dec_component.h"
#include "decoder/jpg_decoder.h"
#include "decoder/jpg_huff_reader.h"
#include "encoder/jpg_enc_transcode.h"
#include "encoder/jpg_huff_coder.h"

struct JpgEncTranscoder {
    JpgDecoder *decoder;
    uint32_t huffmanMode;
    // Step sizes of the decoder's table of each component where they
    // differ from the encoder's, else null.
    const uint16_t *requantizeFrom[kJpgEncMaxComponents];
    // Every MCU of the run is coded in a dry run first (see PrepareRun).
    bool dryRunAlways;
    int16_t blocks[kJpgEncMaxBlocksPerMcu * 64];
};

namespace {

// Both frames hold the same components with the same sampling factors,
// in the order the decoder's scan delivers them.
bool SameMcuStructure(const JpgEncState *state, const JpgDecoder *dec) {
    if (dec->componentCount != state->componentCount ||
        dec->scanComponentCount != dec->componentCount ||
        dec->frameBlocksPerMcu != state->blocksPerMcu || dec->blocksPerMcu != state->blocksPerMcu)
        return false;
    for (int32_t i = 0; i < state->componentCount; ++i) {
        const JpgDecComponent *source = dec->scanComponents[i];
        const JpgEncComponent *target = state->components[i];
        if (source->index != i || static_cast<uint32_t>(source->h) != target->h ||
            static_cast<uint32_t>(source->v) != target->v)
            return false;
    }
    return true;
}

void CopyHuffRecord(JpgHuffTable *to, const JpgHuffTable *from) {
    JpgMemCopy(to->bits, from->bits, sizeof(to->bits));
    JpgMemCopy(to->values, from->values, sizeof(to->values));
    to->built = 0;
}

void AdoptHuffmanTables(JpgEncState *state, const JpgDecoder *dec) {
    for (int32_t t = 0; t < kJpgEncTableCount; ++t) {
        CopyHuffRecord(state->dcHuffTables[t], dec->dcDefs[t]);
        CopyHuffRecord(state->acHuffTables[t], dec->acDefs[t]);
    }
    for (int32_t i = 0; i < state->componentCount; ++i) {
        state->components[i]->dcSelector = static_cast<uint32_t>(dec->components[i]->dcTable);
        state->components[i]->acSelector = static_cast<uint32_t>(dec->components[i]->acTable);
    }
}

// False for a derived code table the builder refused (it has no code at
// all).
bool HasCodes(const JpgHuffCode *codes, uint32_t count) {
    for (uint32_t s = 0; s < count; ++s) {
        if (codes[s].length != 0)
            return true;
    }
    return false;
}

// Notes, for the run about to start, which components need their
// coefficients requantized from the decoder's steps to the encoder's, and
// whether the tables can code every MCU that stays within the values of
// 8-bit baseline data: the full standard tables can; the decoder's own
// tables can for the very symbols they decoded (same values, same DC
// predictions), unless requantization changes them or one of them was
// refused by the code table builder; the clipped tables cannot.
void PrepareRun(JpgEncState *state, JpgEncTranscoder *transcoder) {
    const JpgDecoder *dec = transcoder->decoder;
    bool requantizing = false;
    bool tablesBuilt = true;
    for (int32_t i = 0; i < state->componentCount; ++i) {
        const JpgEncComponent *component = state->components[i];
        const uint16_t *from = dec->quantTables[dec->components[i]->quantTable]->values;
        const uint16_t *to = state->quantTables[component->quantSelector]->values;
        bool same = true;
        for (int k = 0; k < 64 && same; ++k)
            same = from[k] == to[k];
        transcoder->requantizeFrom[i] = same ? nullptr : from;
        requantizing = requantizing || !same;
        const JpgBitWriter *writer = state->bitWriter;
        tablesBuilt = tablesBuilt &&
                      HasCodes(writer->dcCodes[component->dcSelector & 3], kJpgDcCodeCount) &&
                      HasCodes(writer->acCodes[component->acSelector & 3], kJpgAcCodeCount);
    }
    bool decoderTables = JpgEncKeepsDecoderHuffman(transcoder->huffmanMode);
    transcoder->dryRunAlways =
        transcoder->huffmanMode == 2 || !tablesBuilt || (decoderTables && requantizing);
}

// The DC predictors of the components, as the next MCU meets them.
void CopyPredictors(const JpgEncState *state, int32_t *predictors) {
    for (int32_t i = 0; i < state->componentCount; ++i)
        predictors[i] = state->components[i]->dcPredictor;
}

// True when every AC value has at most 10 bits and every DC difference at
// most 11, as in 8-bit baseline data.
bool WithinBaselineRange(const JpgEncState *state, const int16_t *blocks) {
    int32_t predictors[kJpgEncMaxComponents];
    CopyPredictors(state, predictors);
    int32_t low = 0;  // of the AC values, gathered without branches so
    int32_t high = 0; // that the loop vectorizes
    for (int32_t b = 0; b < state->blocksPerMcu; ++b, blocks += 64) {
        int32_t &predictor = predictors[state->blockComponents[b]->index];
        int32_t diff = blocks[0] - predictor;
        predictor = blocks[0];
        if (diff < -2047 || diff > 2047)
            return false;
        for (int k = 1; k < 64; ++k) {
            low = blocks[k] < low ? blocks[k] : low;
            high = blocks[k] > high ? blocks[k] : high;
        }
    }
    return low >= -1023 && high <= 1023;
}

// round(v * from / to), symmetric about zero.
void Requantize(int16_t *block, const uint16_t *from, const uint16_t *to) {
    for (int k = 0; k < 64; ++k) {
        if (block[k] == 0)
            continue;
        int32_t step = to[k] ? to[k] : 1;
        int32_t scaled = block[k] * static_cast<int32_t>(from[k]);
        int32_t magnitude = ((scaled < 0 ? -scaled : scaled) + step / 2) / step;
        if (magnitude > 32767)
            magnitude = 32767;
        block[k] = static_cast<int16_t>(scaled < 0 ? -magnitude : magnitude);
    }
}

// Output of the block coder's symbols goes nowhere: the pass only tells
// whether every symbol has a code.
struct DiscardingSink {
    void Put(uint32_t, uint32_t) {}
};

// Codes the MCU's blocks in a dry run against the encoder's tables, with
// the predictors they would meet.
bool McuCodable(const JpgEncState *state, const int16_t *blocks) {
    const JpgBitWriter *writer = state->bitWriter;
    int32_t predictors[kJpgEncMaxComponents];
    CopyPredictors(state, predictors);
    DiscardingSink sink;
    TableCategory category(writer);
    for (int32_t b = 0; b < state->blocksPerMcu; ++b, blocks += 64) {
        const JpgEncComponent *component = state->blockComponents[b];
        BlockCoder<DiscardingSink, TableCategory> coder(
            sink, category, writer->dcCodes[component->dcSelector & 3],
            writer->acCodes[component->acSelector & 3]);
        int32_t &predictor = predictors[component->index];
        uint32_t last = 0;
        if (CodeBlockSymbols<BlockCoder<DiscardingSink, TableCategory>, LinearScan>(
                coder, writer, blocks, blocks[0] - predictor, &last) != kCodeOk)
            return false;
        predictor = blocks[0];
    }
    return true;
}

void AdvanceDecoder(JpgDecoder *dec) {
    dec->mcuColumn += 1;
    if (dec->mcuColumn == dec->mcusPerRow) {
        dec->mcuColumn = 0;
        dec->mcuRow += 1;
    }
}

// The decoder's coefficient output writes one MCU's blocks, one after
// another, into the transcoder's block buffer.
void BindDecoderOutput(JpgDecoder *dec, JpgEncTranscoder *transcoder) {
    for (int32_t i = 0; i < kJpgDecMaxComponents; ++i) {
        dec->components[i]->plane = reinterpret_cast<uint8_t *>(transcoder->blocks);
        dec->components[i]->pitch = 0;
    }
}

} // namespace

vltJpgResult JpgEncAdoptDecoder(JpgEncState *state, JpgDecoder *dec, uint32_t huffmanMode) {
    if (!SameMcuStructure(state, dec))
        return VLTJPG_ERR_UNSUPPORTED;
    for (int32_t t = 0; t < kJpgEncTableCount; ++t)
        JpgMemCopy(state->quantTables[t]->values, dec->quantTables[t]->values,
                   sizeof(state->quantTables[t]->values));
    for (int32_t i = 0; i < state->componentCount; ++i)
        state->components[i]->quantSelector = static_cast<uint32_t>(dec->components[i]->quantTable);
    if (JpgEncKeepsDecoderHuffman(huffmanMode))
        AdoptHuffmanTables(state, dec);
    JpgBitWriter *writer = state->bitWriter;
    writer->restartInterval = dec->reader->restartInterval;
    writer->restartCountdown = writer->restartInterval;
    auto *transcoder = static_cast<JpgEncTranscoder *>(
        JpgMemAllocZeroed(sizeof(JpgEncTranscoder), state->alloc, state->allocSlots,
                          state->memContext));
    if (!transcoder)
        return VLTJPG_ERR_MEMORY;
    transcoder->decoder = dec;
    transcoder->huffmanMode = huffmanMode;
    state->transcoder = transcoder;
    // The tables are the decoder's, not those of a quality: any quality set
    // later replaces them (and the blocks are requantized to them).
    state->quality = 0;
    state->sourceDecoder = dec;
    return VLTJPG_OK;
}

vltJpgResult JpgEncCheckTranscodeSource(const JpgEncState *state, const void *decoder) {
    if (!state->transcoder)
        return VLTJPG_ERR_UNSUPPORTED; // an encoder not made from a decoder
    return decoder == state->transcoder->decoder ? VLTJPG_OK : VLTJPG_ERR_ARGUMENT;
}

extern "C" {

vltJpgResult JpgEncStreamLayer(JpgEncState *state, vltJpgEncWriteDesc *descriptor) {
    if (!state || !descriptor)
        return VLTJPG_ERR_ARGUMENT;
    vltJpgResult result = JpgEncCheckTranscodeSource(state, descriptor->data);
    if (result != VLTJPG_OK)
        return result;
    JpgEncTranscoder *transcoder = state->transcoder;
    JpgDecoder *dec = transcoder->decoder;
    state->bitWriter->spectralEnd = 63;
    PrepareRun(state, transcoder);
    BindDecoderOutput(dec, transcoder);
    return JpgEncDataLayer(state, descriptor);
}

vltJpgResult JpgEncStreamMCU(JpgEncState *state, int32_t column, int32_t row) {
    (void)column;
    (void)row;
    JpgEncTranscoder *transcoder = state->transcoder;
    if (!transcoder)
        return VLTJPG_ERR_UNSUPPORTED;
    JpgDecoder *dec = transcoder->decoder;
    if (dec->mcuRow >= dec->mcuRows)
        return VLTJPG_ERR_DATA; // the decoder's scan has no MCU left
    if (dec->routines.indexUpdate)
        dec->routines.indexUpdate(dec);
    vltJpgResult result = dec->routines.mcu[kJpgDecOutputCoefficients](dec, 0, 0);
    if (result != VLTJPG_OK)
        return result;
    AdvanceDecoder(dec);
    int16_t *block = transcoder->blocks;
    for (int32_t b = 0; b < state->blocksPerMcu; ++b, block += 64) {
        const JpgEncComponent *component = state->blockComponents[b];
        if (const uint16_t *from = transcoder->requantizeFrom[component->index])
            Requantize(block, from, state->quantTables[component->quantSelector]->values);
    }
    result = JpgEncRestartStep(state);
    if (result != VLTJPG_OK)
        return result;
    // A dry run makes sure before any bit of the MCU is written where the
    // tables may lack a code: always with some tables, else after damaged
    // data (blocks cut short by a marker) or for values out of range.
    bool dryRun = transcoder->dryRunAlways || dec->reader->marker != 0 ||
                  !WithinBaselineRange(state, transcoder->blocks);
    if (dryRun && !McuCodable(state, transcoder->blocks))
        return VLTJPG_ERR_CATEGORY;
    block = transcoder->blocks;
    for (int32_t b = 0; b < state->blocksPerMcu && result == VLTJPG_OK; ++b, block += 64)
        result = state->encodeBlock(state->bitWriter, block, state->blockComponents[b]);
    return result;
}

vltJpgResult vltJpgEncoderCreateFromDecoder(vltJpgEncoder *encoder, vltJpgDecoder decoder,
                                            void *stream, uint32_t huffmanMode) {
    if (!encoder)
        return VLTJPG_ERR_ARGUMENT;
    *encoder = nullptr;
    if (!decoder)
        return VLTJPG_ERR_ARGUMENT;
    auto *dec = static_cast<JpgDecoder *>(decoder);
    // The blocks come from one interleaved scan in the planar formats'
    // sampling modes.
    if (dec->samplingMode < 0 || dec->samplingMode > 5 || dec->multiScanMode != kJpgDecSingleScan)
        return VLTJPG_ERR_UNSUPPORTED;
    int32_t format = JpgOutputFormatForSampling(dec->samplingMode);
    dec->pixelFormat = format;
    vltJpgEncCreateInfo info{};
    info.stream = stream;
    info.width = static_cast<uint32_t>(dec->width);
    info.height = static_cast<uint32_t>(dec->height);
    info.huffBufferSize = dec->reader->chunkSize;
    info.pixelFormat = static_cast<uint32_t>(format);
    info.samplingMode = static_cast<uint32_t>(dec->samplingMode);
    // The decoder's own context goes with its callbacks: a host allocator
    // gets the context it was given at the decoder's creation.
    info.memContext = dec->memContext;
    info.alloc = dec->alloc;
    info.release = dec->release;
    JpgEncState *state = nullptr;
    vltJpgResult result = JpgEncInit(&state, &info, dec, huffmanMode);
    if (result == VLTJPG_OK)
        *encoder = state;
    return result;
}

} // extern "C"
