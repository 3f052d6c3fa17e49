// Input binding: bands of lines, whole images onto another stream and MCU
// runs, each placed onto the component records before the loops run.
#include "encoder/jpg_enc_placement.h"
#include "encoder/jpg_enc_transcode.h"
#include "encoder/jpg_encoder.h"

namespace {

// Coefficient input: the component records take the caller's buffer and
// its pitch counted in 16-bit values.
vltJpgResult BindCoefficients(JpgEncState *state, uint8_t *base, int32_t pitchValues) {
    if (!base || pitchValues < 0)
        return VLTJPG_ERR_ARGUMENT;
    JpgEncComponent *luma = state->components[0];
    luma->base = base;
    luma->pitch = static_cast<uint32_t>(pitchValues);
    return 0;
}

// Places the band's first line of every component; the pitches of band
// input count bytes.
vltJpgResult PlaceBand(JpgEncState *state, uint8_t **planes, const int32_t *pitches,
                       uint32_t startLine) {
    switch (state->pixelFormat) {
    case VLTJPG_PIXEL_COEFFICIENTS: {
        if (!planes[0])
            return VLTJPG_ERR_ARGUMENT;
        state->thumbScale = -1; // coefficients give no thumbnail
        uint8_t *base = planes[0] + static_cast<std::ptrdiff_t>(pitches[0]) * startLine;
        return BindCoefficients(state, base, pitches[0] / 2);
    }
    default:
        return JpgEncBindSampleBand(state, planes, pitches, startLine);
    }
}

// With the height known, a band ends inside the image and holds whole MCU
// rows unless it is the image's last; with it unknown any band goes.
bool BandFits(const JpgEncState *state, uint32_t lineCount) {
    if (state->sizeRewrite || state->layerKind == kJpgLayerCoefficients)
        return true;
    uint32_t mcuHeight = 8 * state->maxV;
    uint32_t linesDone = state->mcuRow * mcuHeight;
    if (linesDone >= state->height)
        return false;
    uint32_t linesLeft = state->height - linesDone;
    return lineCount == linesLeft || (lineCount < linesLeft && lineCount % mcuHeight == 0);
}

// Lines the band loop covers: coefficient input brings the whole image in
// one call, or with the height unknown, the band's own lines.
uint32_t BandLines(const JpgEncState *state, uint32_t lineCount) {
    if (state->layerKind == kJpgLayerCoefficients && !state->sizeRewrite)
        return state->height;
    return lineCount;
}

// Once an image has been ended by its own trailer (and size patch), the
// next image starts afresh: without the header written at creation it
// gets a complete header of its own and destruction adds nothing; with an
// unknown height it counts its lines from 0 again.
vltJpgResult FinishImage(JpgEncState *state) {
    vltJpgResult result = JpgEncWriteFileTrailer(state);
    if (result == 0 && state->sizeRewrite)
        result = JpgEncReWriteImageSize(state);
    if (state->sizeRewrite)
        state->height = 0;
    if (!state->headerOnCreate) {
        JpgEncMarkTablesForHeader(state);
        state->headerWritten = 0;
    }
    return result;
}

} // namespace

extern "C" {

vltJpgResult JpgEncSetWriteProp(JpgEncState *state, const vltJpgEncWriteDesc *descriptor) {
    if (!state || !descriptor)
        return VLTJPG_ERR_ARGUMENT;
    const auto *planeSet = static_cast<const vltJpgPlaneSet *>(descriptor->data);
    switch (descriptor->mode) {
    case VLTJPG_WRITE_TRANSCODE:
        return JpgEncCheckTranscodeSource(state, descriptor->data);
    case VLTJPG_WRITE_COEFFICIENTS:
        if (!planeSet || !planeSet->planes || !planeSet->pitches)
            return VLTJPG_ERR_ARGUMENT;
        return BindCoefficients(state, planeSet->planes[0], planeSet->pitches[0]);
    case VLTJPG_WRITE_YCBCR:
        return JpgEncBindSampleRun(state, descriptor);
    default:
        return VLTJPG_ERR_UNSUPPORTED; // RGB runs are not bound
    }
}

vltJpgResult vltJpgEncoderScanlines(vltJpgEncoder encoder, uint8_t **planes, int32_t *pitches,
                                    uint32_t startLine, const uint32_t *lineCount) {
    auto *state = static_cast<JpgEncState *>(encoder);
    if (!state || !planes || !pitches || !lineCount || *lineCount < 1)
        return VLTJPG_ERR_ARGUMENT;
    if (!BandFits(state, *lineCount))
        return VLTJPG_ERR_ARGUMENT;
    vltJpgResult result = PlaceBand(state, planes, pitches, startLine);
    if (result != 0)
        return result;
    result = state->writeHeader(state);
    if (result == 0)
        result = state->encodeImage(state, state->width, BandLines(state, *lineCount));
    return JpgEncStreamResult(state, result);
}

vltJpgResult vltJpgEncoderDefaultScanlines(vltJpgEncoder encoder, uint8_t **planes,
                                           int32_t *pitches, uint32_t startLine,
                                           const uint32_t *lineCount, void *stream) {
    auto *state = static_cast<JpgEncState *>(encoder);
    if (!state || !stream)
        return VLTJPG_ERR_ARGUMENT;
    JpgBitWriter *writer = state->bitWriter;
    JpgEncHufInit(writer, stream);
    JpgHufRestartFromZero(writer);
    JpgEncResetPredictors(state);
    // The image is a file of its own, reported whole by this call; a
    // failure kept for the creation stream waits for a later call.
    vltJpgResult pending = state->streamFailure;
    state->streamFailure = 0;
    vltJpgResult result = vltJpgEncoderScanlines(encoder, planes, pitches, startLine, lineCount);
    result = JpgEncStreamResult(state, result != 0 ? result : FinishImage(state));
    state->streamFailure = pending;
    return result;
}

vltJpgResult vltJpgEncoderWriteMCUs(vltJpgEncoder encoder, vltJpgEncWriteDesc *descriptor) {
    auto *state = static_cast<JpgEncState *>(encoder);
    if (!state || !descriptor)
        return VLTJPG_ERR_ARGUMENT;
    if (descriptor->startColumn != state->mcuColumn || descriptor->startRow != state->mcuRow)
        return VLTJPG_ERR_DATA;
    vltJpgResult result = JpgEncSetWriteProp(state, descriptor);
    if (result != 0)
        return result;
    result = state->writeHeader(state);
    if (result == 0)
        result = state->layerEncoders[descriptor->mode](state, descriptor);
    return JpgEncStreamResult(state, result);
}

} // extern "C"
