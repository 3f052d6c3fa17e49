// The thumbnail: while encoding sample input, every coded block is
// reconstructed at 1/1, 1/2, 1/4 or 1/8 size into a buffer in the input's
// own pixel format (thumbnail properties 0x2004, 0x2005 and 0x2006).
#include "encoder/jpg_enc_placement.h"
#include "encoder/jpg_enc_tables.h"
#include "encoder/jpg_encoder.h"

namespace {

// Scale index 0..3 of a reduction 1, 2, 4 or 8; -1 for anything else.
int32_t ScaleIndex(uint32_t reduction) {
    switch (reduction) {
    case 1: return 0;
    case 2: return 1;
    case 4: return 2;
    case 8: return 3;
    default: return -1;
    }
}

// Thumbnail size of the current geometry: whole MCUs, reduced.
void ThumbnailSize(const JpgEncState *state, uint32_t *width, uint32_t *height) {
    *width = (state->mcuColumns * 8 * state->maxH) >> state->thumbScale;
    *height = (state->mcuRows * 8 * state->maxV) >> state->thumbScale;
}

} // namespace

vltJpgResult JpgEncSetThumbnailScale(JpgEncState *state, uint32_t reduction) {
    int32_t scale = reduction == 0 ? -1 : ScaleIndex(reduction);
    if (reduction != 0 && scale < 0)
        return VLTJPG_ERR_ARGUMENT;
    state->thumbScale = scale;
    // A buffer bound for another scale has another size: it is unbound.
    for (uint8_t *&plane : state->thumbPlanes)
        plane = nullptr;
    return JpgEncCreateDeQuantScale(state);
}

void JpgEncGetThumbnailSize(JpgEncState *state, uint32_t *width, uint32_t *height) {
    ThumbnailSize(state, &state->thumbWidth, &state->thumbHeight);
    *width = state->thumbWidth;
    *height = state->thumbHeight;
}

extern "C" vltJpgResult JpgSetThumbnailBuffer(JpgEncState *state, const vltJpgPlaneSet *planeSet) {
    if (!state || !planeSet)
        return VLTJPG_ERR_ARGUMENT;
    if (state->thumbScale < 0)
        return 0;
    if (state->layerKind != kJpgLayerYCbCr || state->pixelFormat == VLTJPG_PIXEL_GREY)
        return VLTJPG_ERR_UNSUPPORTED;
    if (!planeSet->planes || !planeSet->pitches)
        return VLTJPG_ERR_ARGUMENT;
    uint32_t width, height;
    ThumbnailSize(state, &width, &height);
    JpgEncPlacement placement;
    vltJpgResult result =
        JpgEncPlaceSamples(state, planeSet->planes, planeSet->pitches, 0, width, &placement);
    if (result != 0)
        return result;
    // Blocks are reconstructed only inside the size the buffer was bound for.
    state->thumbWidth = width;
    state->thumbHeight = height;
    for (int32_t i = 0; i < state->componentCount; ++i) {
        JpgEncComponent *component = state->components[i];
        state->thumbPlanes[i] = placement.start[i];
        component->thumbPitch = placement.pitch[i];
        component->lineDoubling = i > 0 ? placement.lineDoubling : 0;
    }
    return 0;
}
