// MCU formation for sample input: each block of the MCU is read in place
// from the caller's samples (or, at the right and bottom edges, from the
// edge block with the last valid column and row repeated), transformed and
// quantized, stamped with the quality class, coded and, with a thumbnail,
// reconstructed into the thumbnail buffer.
#include "encoder/jpg_encoder.h"

#include <cstddef>

namespace {

constexpr uint8_t kOutsideSample = 128;

// Edge class of a block starting at `p` in an extent `n`: 0 inside, 1
// straddling the edge, 2 wholly outside.
uint32_t EdgeClass(uint32_t p, uint32_t n) {
    return p + 8 <= n ? 0 : (p < n ? 1 : 2);
}

uint32_t SampleStep(const JpgEncState *state, const JpgEncComponent *component) {
    return state->runTable[3 * state->pixelFormat + component->index];
}

// Where block `i` of the MCU at (column, row) of a grid of MCUs lies in
// its component, in samples.
struct BlockPosition {
    uint32_t x;
    uint32_t y;
};
BlockPosition PositionOf(const JpgEncState *state, int32_t i, uint32_t column, uint32_t row) {
    const JpgEncComponent *component = state->blockComponents[i];
    return {state->blockOffsets[i][0] + column * 8 * component->h,
            state->blockOffsets[i][1] + row * 8 * component->v};
}

const uint8_t *SourceOf(const JpgEncState *state, int32_t i, int32_t column, int32_t row) {
    const JpgEncComponent *component = state->blockComponents[i];
    BlockPosition at = PositionOf(state, i, static_cast<uint32_t>(column),
                                  static_cast<uint32_t>(row));
    return component->base + static_cast<std::size_t>(SampleStep(state, component)) * at.x +
           static_cast<std::size_t>(component->pitch) * at.y;
}

// Reconstructs the coded block into the thumbnail at its place in the
// image, when a thumbnail buffer is bound and the block lies inside it.
void WriteThumbnailBlock(JpgEncState *state, int32_t i) {
    JpgEncComponent *component = state->blockComponents[i];
    int32_t scale = state->thumbScale;
    BlockPosition at = PositionOf(state, i, state->mcuColumn, state->mcuRow);
    uint32_t size = 8u >> scale;
    uint32_t x = at.x >> scale;
    uint32_t y = at.y >> scale;
    // The bound buffer's size counts luma samples.
    if ((x + size) * state->maxH > state->thumbWidth * component->h ||
        (y + size) * state->maxV > state->thumbHeight * component->v)
        return;
    uint32_t step = SampleStep(state, component);
    uint32_t rowStride = component->thumbPitch << component->lineDoubling;
    uint8_t *output = state->thumbPlanes[component->index] + static_cast<std::size_t>(step) * x +
                      static_cast<std::size_t>(rowStride) * y;
    state->thumbTransforms[scale](output, state->workArea, static_cast<int32_t>(step),
                                  static_cast<int32_t>(rowStride), component->dequant,
                                  static_cast<int32_t>(component->lineDoubling),
                                  static_cast<int32_t>(component->lastNonzero),
                                  reinterpret_cast<int32_t *>(state->scratch));
}

// Transform and quantization of block `i` read at `source`, quality stamp,
// entropy coding and thumbnail.
vltJpgResult CodeBlock(JpgEncState *state, int32_t i, const uint8_t *source, uint32_t step,
                       uint32_t pitch) {
    JpgEncComponent *component = state->blockComponents[i];
    int16_t *block = state->workArea;
    state->transform(block, source, static_cast<int32_t>(step), static_cast<int32_t>(pitch),
                     component->reciprocal);
    if (state->qualityStamp) {
        // The lowest bit of the DC carries the quality class.
        uint16_t dc = static_cast<uint16_t>(block[0]) & 0xFFFEu;
        block[0] = static_cast<int16_t>(dc + state->qualityClass);
    }
    vltJpgResult result = state->encodeBlock(state->bitWriter, block, component);
    if (result == 0 && state->thumbScale >= 0 && state->thumbPlanes[0])
        WriteThumbnailBlock(state, i);
    return result;
}

// An MCU wholly inside the area: the luma extents cover it, and with them
// every chroma extent, which is rounded up.
bool McuInside(const JpgEncState *state) {
    const JpgEncComponent *luma = state->components[0];
    return (state->areaColumn + 1) * 8 * state->maxH <= luma->width &&
           (state->areaRow + 1) * 8 * state->maxV <= luma->sourceRows;
}

// Copies the valid part of a block into the edge block: `columns` samples
// of each row, the last repeated to 8; `rows` rows, the last repeated to 8.
// Rows the caller's plane lacks repeat its last row, `lastRow` (relative to
// the block; -1 when that is the row above the block).
void FormEdgeBlock(uint8_t *edge, const uint8_t *source, uint32_t step, int32_t pitch,
                   uint32_t columns, uint32_t rows, int32_t lastRow) {
    for (uint32_t r = 0; r < 8; ++r) {
        int32_t validRow = static_cast<int32_t>(r < rows ? r : rows - 1);
        int32_t sourceRow = validRow < lastRow ? validRow : lastRow;
        const uint8_t *line = source + static_cast<std::ptrdiff_t>(pitch) * sourceRow;
        uint8_t *out = edge + 8 * r;
        for (uint32_t c = 0; c < columns; ++c)
            out[c] = line[static_cast<std::size_t>(step) * c];
        for (uint32_t c = columns; c < 8; ++c)
            out[c] = out[columns - 1];
    }
}

struct BlockSource {
    const uint8_t *samples;
    uint32_t step;
    uint32_t pitch;
};

// Where the transform reads block `i` of an edge MCU: in place when the
// caller's plane holds all of it, else the edge block, filled by the
// block's edge mode with the samples it has.
BlockSource EdgeBlockSource(JpgEncState *state, int32_t i, int32_t column, int32_t row) {
    const JpgEncComponent *component = state->blockComponents[i];
    BlockPosition at = PositionOf(state, i, state->areaColumn, state->areaRow);
    uint32_t horizontal = EdgeClass(at.x, component->width);
    uint32_t vertical = EdgeClass(at.y, component->height);
    int32_t mode = state->mcuModeTable[horizontal + 3 * vertical];
    const uint8_t *source = SourceOf(state, i, column, row);
    uint32_t step = SampleStep(state, component);
    int32_t lastRow = static_cast<int32_t>(component->sourceRows) - 1 - static_cast<int32_t>(at.y);
    if (mode == kJpgEdgeWhole && lastRow >= 7)
        return {source, step, component->pitch};
    if (mode == kJpgEdgeNothing || (component->sourceRows == 0 && !state->rowAboveBand)) {
        JpgMemSet(state->edgeBlock, kOutsideSample, kJpgEncEdgeBlockBytes);
    } else {
        uint32_t columns = horizontal == 0 ? 8 : component->width - at.x;
        uint32_t rows = vertical == 0 ? 8 : component->height - at.y;
        FormEdgeBlock(state->edgeBlock, source, step, static_cast<int32_t>(component->pitch),
                      columns, rows, lastRow);
    }
    return {state->edgeBlock, 1, 8};
}

} // namespace

extern "C" {

vltJpgResult JpgEncYCbCrMCU(JpgEncState *state, int32_t column, int32_t row) {
    vltJpgResult result = JpgEncRestartStep(state);
    if (result != 0)
        return result;
    if (!McuInside(state))
        return state->edgeMcuEncoder(state, column, row);
    for (int32_t i = 0; i < state->blocksPerMcu; ++i) {
        const JpgEncComponent *component = state->blockComponents[i];
        result = CodeBlock(state, i, SourceOf(state, i, column, row),
                           SampleStep(state, component), component->pitch);
        if (result != 0)
            return result;
    }
    return 0;
}

vltJpgResult JpgEncYCbCrLastMCU(JpgEncState *state, int32_t column, int32_t row) {
    for (int32_t i = 0; i < state->blocksPerMcu; ++i) {
        BlockSource block = EdgeBlockSource(state, i, column, row);
        vltJpgResult result = CodeBlock(state, i, block.samples, block.step, block.pitch);
        if (result != 0)
            return result;
    }
    return 0;
}

} // extern "C"
