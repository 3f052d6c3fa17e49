// Encode loops: MCUs of a band or of a run, in raster order, with the
// encoder's MCU position kept across calls; and the coefficient MCU.
#include "encoder/jpg_enc_placement.h"
#include "encoder/jpg_encoder.h"

namespace {

constexpr uint32_t kProgressDone = 100;

// Moves the encoder and the caller's buffer position (c, r) to the next
// MCU; true when that completed an MCU row of the image.
bool AdvanceMcu(JpgEncState *state, int32_t &c, int32_t &r) {
    ++state->mcuColumn;
    ++c;
    if (state->mcuColumn < state->mcuColumns)
        return false;
    state->mcuColumn = 0;
    ++state->mcuRow;
    ++r;
    c = 0;
    return true;
}

vltJpgResult ReportProgress(JpgEncState *state, uint32_t percent) {
    if (!state->progress)
        return 0;
    return state->progress(percent, state->progressData) != 0 ? VLTJPG_ERR_CANCELLED : 0;
}

// The MCU at the encoder's column and at `areaRow` of the area the
// component extents describe, read at (c, r) of the caller's buffer.
vltJpgResult EncodeOneMcu(JpgEncState *state, JpgEncMcuFn encodeMcu, int32_t c, int32_t r,
                          uint32_t areaRow) {
    if (state->updateIndex) {
        vltJpgResult result = state->updateIndex(state);
        if (result != 0)
            return result;
    }
    state->areaColumn = state->mcuColumn;
    state->areaRow = areaRow;
    return encodeMcu(state, c, r);
}

// Component extents of a band: widths of the image, heights of the band
// (the edge handling works inside the band).
void PrepareBandComponents(JpgEncState *state, uint32_t width, uint32_t lineCount) {
    state->bandLines = lineCount;
    JpgEncSetAreaExtents(state, width, lineCount);
}

// A run fed into an image of unknown height makes the image as tall as
// the MCU rows the runs have reached, so that the size patched in at the
// end covers the coded data.
void GrowHeightToRuns(JpgEncState *state) {
    uint32_t rowsReached = state->mcuRow + (state->mcuColumn > 0 ? 1 : 0);
    uint32_t lines = rowsReached * 8 * state->maxV;
    if (lines > state->height) {
        state->height = lines;
        JpgEncSetMcuRows(state);
    }
}

} // namespace

extern "C" {

vltJpgResult JpgEncImage(JpgEncState *state, uint32_t width, uint32_t lineCount) {
    if (!state)
        return VLTJPG_ERR_ARGUMENT;
    JpgEncMcuFn encodeMcu = state->mcuEncoders[state->layerKind];
    if (!encodeMcu)
        return VLTJPG_ERR_UNSUPPORTED;
    if (state->sizeRewrite)
        state->height += lineCount;
    JpgEncSetMcuRows(state);
    PrepareBandComponents(state, width, lineCount);
    uint32_t mcuHeight = 8 * state->maxV;
    uint32_t bandMcus = state->mcuColumns * JpgCeilDiv(lineCount, mcuHeight);
    int32_t c = 0;
    int32_t r = 0;
    for (uint32_t n = 0; n < bandMcus; ++n) {
        vltJpgResult result = EncodeOneMcu(state, encodeMcu, c, r, static_cast<uint32_t>(r));
        if (result != 0)
            return result;
        if (AdvanceMcu(state, c, r) && state->progress) {
            uint32_t rows = state->mcuRows ? state->mcuRows : 1;
            result = ReportProgress(state, kProgressDone * state->mcuRow / rows);
            if (result != 0)
                return result;
        }
    }
    return ReportProgress(state, kProgressDone);
}

vltJpgResult JpgEncDataLayer(JpgEncState *state, vltJpgEncWriteDesc *descriptor) {
    if (!state || !descriptor)
        return VLTJPG_ERR_ARGUMENT;
    if (descriptor->mode >= kJpgEncWriteModes || !state->mcuEncoders[descriptor->mode])
        return VLTJPG_ERR_UNSUPPORTED;
    JpgEncMcuFn encodeMcu = state->mcuEncoders[descriptor->mode];
    int32_t c = 0;
    int32_t r = 0;
    vltJpgResult result = 0;
    while (result == 0 && descriptor->count-- > 0) {
        result = EncodeOneMcu(state, encodeMcu, c, r, state->mcuRow);
        if (result == 0)
            AdvanceMcu(state, c, r);
    }
    if (state->sizeRewrite)
        GrowHeightToRuns(state);
    return result;
}

vltJpgResult JpgEncCoefMCU(JpgEncState *state, int32_t column, int32_t row) {
    if (!state)
        return VLTJPG_ERR_ARGUMENT;
    vltJpgResult result = JpgEncRestartStep(state);
    if (result != 0)
        return result;
    const JpgEncComponent *luma = state->components[0];
    // One MCU's blocks lie one after another; an MCU row of the caller's
    // buffer is 2 * pitch bytes (the pitch counts 16-bit values).
    std::size_t mcuBytes = static_cast<std::size_t>(state->blocksPerMcu) * kJpgEncCoefBlockBytes;
    uint8_t *mcu = luma->base + static_cast<std::size_t>(column) * mcuBytes +
                   static_cast<std::size_t>(row) * 2 * luma->pitch;
    for (int32_t i = 0; i < state->blocksPerMcu; ++i) {
        auto *block = reinterpret_cast<int16_t *>(mcu + i * kJpgEncCoefBlockBytes);
        result = state->encodeBlock(state->bitWriter, block, state->blockComponents[i]);
        if (result != 0)
            return result;
    }
    return 0;
}

} // extern "C"
