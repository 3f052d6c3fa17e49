// MCU routines: decode one MCU and write it out as samples (with the
// clipping path for MCUs at the image edge), as quantized coefficients, or
// not at all. Blocks hit by damaged data come out grey.
#include "decoder/jpg_dec_component.h"
#include "decoder/jpg_decoder.h"
#include "decoder/jpg_huff_reader.h"

namespace {

constexpr uint8_t kGrey = 128;

// Where one block of an MCU lands in the output. The output address is
// formed only for blocks that have samples to write, so that no address
// outside the host's plane is ever computed.
struct BlockTarget {
    JpgDecComponent *comp;
    intptr_t offset; // from the component's plane
    int32_t step;
    int32_t pitch;
    int32_t x; // block origin in the component, full-size samples
    int32_t y;
};

BlockTarget LocateBlock(JpgDecoder *dec, int32_t block, int32_t x, int32_t y) {
    BlockTarget t;
    t.comp = dec->blockComponents[block];
    int32_t bx = dec->blockOffsets[block][0];
    int32_t by = dec->blockOffsets[block][1];
    int32_t mcuW = 8 * t.comp->mcuWidth;
    int32_t mcuH = 8 * t.comp->mcuHeight;
    int32_t scale = dec->scaleIndex;
    t.step = dec->routines.runTable[dec->pixelFormat * 3 + t.comp->index];
    t.pitch = t.comp->pitch << t.comp->lineDoubling;
    int32_t px = bx + x * mcuW;
    int32_t py = by + y * mcuH;
    t.offset = static_cast<intptr_t>(t.step) * (px >> scale) +
               static_cast<intptr_t>(t.pitch) * (py >> scale);
    t.x = bx + dec->mcuColumn * mcuW;
    t.y = by + dec->mcuRow * mcuH;
    return t;
}

uint8_t *Output(const BlockTarget &t) {
    return t.comp->plane + t.offset;
}

void ClearCoefficients(int16_t *coef) {
    JpgMemSet(coef, 0, kJpgDecBlockBytes);
}

void FillArea(uint8_t *out, int32_t step, int32_t pitch, int32_t columns, int32_t rows) {
    for (int32_t r = 0; r < rows; ++r) {
        for (int32_t c = 0; c < columns; ++c)
            out[r * pitch + c * step] = kGrey;
    }
}

// Transforms the coefficient block straight into the output, or paints the
// block grey when the data was damaged. A block cut short by a marker may
// hold coefficients beyond its recorded last index, so it is cleared here
// rather than by the transform.
void OutputWholeBlock(JpgDecoder *dec, const BlockTarget &t, int16_t *coef) {
    if (dec->reader->marker != 0) {
        ClearCoefficients(coef);
        dec->routines.stuff(Output(t), t.step, t.pitch, dec->scaleIndex);
        return;
    }
    dec->routines.transform[dec->scaleIndex](Output(t), coef, t.step, t.pitch,
                                             t.comp->dequant, t.comp->lineDoubling,
                                             t.comp->lastNonzero, dec->scratch.words);
}

// Copies the valid part of a transformed block from the edge buffer.
void CopyClipped(JpgDecoder *dec, const BlockTarget &t, int32_t columns, int32_t rows) {
    int32_t size = 8 >> dec->scaleIndex;
    const uint8_t *src = dec->edgeBuffer;
    for (int32_t r = 0; r < rows; ++r) {
        uint8_t *row = Output(t) + r * t.pitch;
        for (int32_t c = 0; c < columns; ++c) {
            row[c * t.step] = src[r * size + c];
            if (t.comp->lineDoubling)
                row[c * t.step + t.pitch / 2] = src[r * size + c];
        }
    }
}

void OutputClippedBlock(JpgDecoder *dec, const BlockTarget &t, int16_t *coef, int32_t columns,
                        int32_t rows) {
    if (dec->reader->marker != 0) {
        ClearCoefficients(coef);
        FillArea(Output(t), t.step, t.pitch, columns, rows);
        return;
    }
    int32_t size = 8 >> dec->scaleIndex;
    dec->routines.transform[dec->scaleIndex](dec->edgeBuffer, coef, 1, size,
                                             t.comp->dequant, 0, t.comp->lastNonzero,
                                             dec->scratch.words);
    CopyClipped(dec, t, columns, rows);
}

// Scaled samples of a block that lie inside the component: the component
// extent and the block origin are both divided by the scale.
int32_t ValidSamples(int32_t origin, int32_t extent, int32_t scale) {
    int32_t valid = JpgDecScaledExtent(extent, scale) - (origin >> scale);
    int32_t size = 8 >> scale;
    return valid < 0 ? 0 : (valid > size ? size : valid);
}

uint32_t DecodeIntoCoefBlock(JpgDecoder *dec, JpgDecComponent *comp) {
    return dec->routines.block(dec->reader, JpgDecCoefBlock(dec), comp);
}

} // namespace

uint32_t JpgDecCheckRestart(JpgDecoder *dec, JpgHufReader *reader) {
    if (reader->restartInterval == 0)
        return VLTJPG_OK;
    if (reader->restartsToGo == 0) {
        uint32_t result = reader->restartHandler(dec);
        if (result != VLTJPG_OK)
            return result;
    }
    reader->restartsToGo -= 1;
    return VLTJPG_OK;
}

void JpgDecOutputBlock(JpgDecoder *dec, int32_t block, int32_t x, int32_t y, int16_t *coef) {
    BlockTarget t = LocateBlock(dec, block, x, y);
    int32_t scale = dec->scaleIndex;
    int32_t columns = ValidSamples(t.x, t.comp->width, scale);
    int32_t rows = ValidSamples(t.y, t.comp->height, scale);
    int32_t size = 8 >> scale;
    if (columns == 0 || rows == 0)
        ClearCoefficients(coef);
    else if (columns == size && rows == size)
        OutputWholeBlock(dec, t, coef);
    else
        OutputClippedBlock(dec, t, coef, columns, rows);
}

extern "C" {

uint32_t JpgDecYCbCrMCU(JpgDecoder *dec, int32_t x, int32_t y) {
    uint32_t result = JpgDecCheckRestart(dec, dec->reader);
    if (result != VLTJPG_OK)
        return result;
    if (dec->mcuColumn >= dec->edgeMcuColumn || dec->mcuRow >= dec->edgeMcuRow)
        return dec->routines.lastMcu(dec, x, y);
    for (int32_t b = 0; b < dec->blocksPerMcu; ++b) {
        BlockTarget t = LocateBlock(dec, b, x, y);
        result = DecodeIntoCoefBlock(dec, t.comp);
        if (result != VLTJPG_OK)
            return result;
        OutputWholeBlock(dec, t, JpgDecCoefBlock(dec));
    }
    return VLTJPG_OK;
}

uint32_t JpgDecYCbCrLastMCU(JpgDecoder *dec, int32_t x, int32_t y) {
    for (int32_t b = 0; b < dec->blocksPerMcu; ++b) {
        uint32_t result = DecodeIntoCoefBlock(dec, dec->blockComponents[b]);
        if (result != VLTJPG_OK)
            return result;
        JpgDecOutputBlock(dec, b, x, y, JpgDecCoefBlock(dec));
    }
    return VLTJPG_OK;
}

uint32_t JpgDecCoefMCU(JpgDecoder *dec, int32_t x, int32_t y) {
    uint32_t result = JpgDecCheckRestart(dec, dec->reader);
    if (result != VLTJPG_OK)
        return result;
    JpgHufReader *reader = dec->reader;
    const JpgDecComponent *first = dec->scanComponents[0];
    int32_t blockIndex = x * dec->blocksPerMcu + first->firstBlock;
    int16_t *dest = reinterpret_cast<int16_t *>(first->plane) + blockIndex * 64 +
                    static_cast<intptr_t>(first->pitch) * y;
    int32_t savedLast = reader->lastIndexKept;
    reader->lastIndexKept = 63;
    for (int32_t b = 0; b < dec->blocksPerMcu && result == VLTJPG_OK; ++b, dest += 64) {
        JpgMemSet(dest, 0, kJpgDecBlockBytes);
        result = dec->routines.block(reader, dest, dec->blockComponents[b]);
    }
    reader->lastIndexKept = savedLast;
    return result;
}

uint32_t JpgDecStreamMCU(JpgDecoder *dec, int32_t x, int32_t y) {
    (void)x;
    (void)y;
    uint32_t result = JpgDecCheckRestart(dec, dec->reader);
    if (result != VLTJPG_OK)
        return result;
    JpgHufReader *reader = dec->reader;
    int32_t savedLast = reader->lastIndexKept;
    reader->lastIndexKept = 1;
    for (int32_t b = 0; b < dec->blocksPerMcu && result == VLTJPG_OK; ++b)
        result = DecodeIntoCoefBlock(dec, dec->blockComponents[b]);
    reader->lastIndexKept = savedLast;
    ClearCoefficients(JpgDecCoefBlock(dec));
    return result;
}

// RGB output is not produced by this decoder; the MCU-run call refuses the
// mode before any MCU routine runs.
uint32_t JpgDecRGBMCU(JpgDecoder *dec, int32_t x, int32_t y) {
    (void)dec;
    (void)x;
    (void)y;
    return VLTJPG_ERR_UNSUPPORTED;
}

void JpgDecStuff(uint8_t *out, int32_t step, int32_t pitch, int32_t scale) {
    int32_t size = 8 >> scale;
    FillArea(out, step, pitch, size, size);
}

} // extern "C"
