// Placement of every sample pixel format in the caller's planes, with the
// checks that keep all reads inside them.
#include "encoder/jpg_enc_placement.h"

#include <cstddef>

namespace {

constexpr uint32_t kPacked422First = VLTJPG_PIXEL_YUYV;
constexpr uint32_t kPacked422Last = VLTJPG_PIXEL_VYUY;
constexpr uint32_t kRowsFirst = VLTJPG_PIXEL_ROWS_YCB_YCR;
constexpr uint32_t kRowsLast = VLTJPG_PIXEL_ROWS_CRY_CBY;
// More lines than any frame holds.
constexpr uint32_t kUnknownHeightLines = 1u << 20;

bool InRange(uint32_t format, uint32_t first, uint32_t last) {
    return format >= first && format <= last;
}

// Formats with one plane per component (RGB planes included).
bool ThreePlanes(uint32_t format) {
    return InRange(format, VLTJPG_PIXEL_YUV420, VLTJPG_PIXEL_RGB_PLANAR) ||
           format == VLTJPG_PIXEL_SEMI_PLANAR_420 || format == VLTJPG_PIXEL_SEMI_PLANAR_420B;
}

// Smallest pitch of plane `plane` that holds a row of `width` pixels.
uint32_t RowBytes(uint32_t format, int plane, uint32_t width) {
    uint32_t halfWidth = JpgCeilDiv(width, 2);
    switch (format) {
    case VLTJPG_PIXEL_YUV420:
    case VLTJPG_PIXEL_YUV422:
        return plane == 0 ? width : halfWidth;
    case VLTJPG_PIXEL_SEMI_PLANAR_420:
    case VLTJPG_PIXEL_SEMI_PLANAR_420B:
        return plane == 0 ? width : 2 * halfWidth - 1; // from each chroma's first byte
    case VLTJPG_PIXEL_YCBCR_PACKED:
    case VLTJPG_PIXEL_RGB_PACKED:
        return 3 * width;
    default:
        if (InRange(format, kPacked422First, kPacked422Last))
            return 4 * halfWidth;
        if (InRange(format, kRowsFirst, kRowsLast))
            return 2 * width;
        return width;
    }
}

// Planes 0..2 for the planar formats, plane 0 alone for the others; RGB
// planes share the first plane's pitch.
vltJpgResult CheckPlanes(uint32_t format, uint8_t *const *planes, const int32_t *pitches,
                         uint32_t width) {
    int planeCount = ThreePlanes(format) && format != VLTJPG_PIXEL_RGB_PLANAR ? 3 : 1;
    if (format == VLTJPG_PIXEL_RGB_PLANAR && (!planes[1] || !planes[2]))
        return VLTJPG_ERR_ARGUMENT;
    for (int p = 0; p < planeCount; ++p) {
        if (!planes[p] || pitches[p] < 0 ||
            static_cast<uint32_t>(pitches[p]) < RowBytes(format, p, width))
            return VLTJPG_ERR_ARGUMENT;
    }
    return 0;
}

// Sample formats take the sampling their planes hold; packed 4:2:2 also
// codes as 4:2:0, and RGB converts to any sampling.
bool SamplingFits(const JpgEncState *state) {
    uint32_t format = state->pixelFormat;
    if (state->layerKind == kJpgLayerRGB)
        return true;
    if (InRange(format, kPacked422First, kPacked422Last))
        return state->samplingMode <= VLTJPG_SAMPLING_422;
    return state->samplingMode == static_cast<uint32_t>(jpg_yuv_tbl[format]);
}

void Set(JpgEncPlacement *placement, int component, uint8_t *start, uint32_t pitch) {
    placement->start[component] = start;
    placement->pitch[component] = pitch;
}

// One plane per component: chroma rows at `chromaLine`.
void PlacePlanar(JpgEncPlacement *placement, uint8_t *const *planes, const int32_t *pitches,
                 uint32_t line, uint32_t chromaLine, int components) {
    for (int i = 0; i < components; ++i) {
        uint32_t row = i == 0 ? line : chromaLine;
        uint32_t pitch = static_cast<uint32_t>(pitches[i]);
        Set(placement, i, planes[i] + static_cast<std::size_t>(pitch) * row, pitch);
    }
}

// Byte offsets of Y, Cb, Cr inside a packed pixel group or row pair (the
// row-interleaved formats add the pitch for the odd-row chroma).
struct Interleave {
    uint32_t offset[3];
    bool oddRow[3];
};
Interleave InterleaveOf(uint32_t format) {
    switch (format) {
    case VLTJPG_PIXEL_YUYV: return {{0, 1, 3}, {false, false, false}};
    case VLTJPG_PIXEL_UYVY: return {{1, 0, 2}, {false, false, false}};
    case VLTJPG_PIXEL_YVYU: return {{0, 3, 1}, {false, false, false}};
    case VLTJPG_PIXEL_VYUY: return {{1, 2, 0}, {false, false, false}};
    case VLTJPG_PIXEL_ROWS_YCB_YCR: return {{0, 1, 1}, {false, false, true}};
    case VLTJPG_PIXEL_ROWS_YCR_YCB: return {{0, 1, 1}, {false, true, false}};
    case VLTJPG_PIXEL_ROWS_CBY_CRY: return {{1, 0, 0}, {false, false, true}};
    case VLTJPG_PIXEL_ROWS_CRY_CBY: return {{1, 0, 0}, {false, true, false}};
    default: return {{0, 1, 2}, {false, false, false}}; // packed Y Cb Cr and R G B
    }
}

void PlaceInterleaved(const JpgEncState *state, JpgEncPlacement *placement, uint8_t *base,
                      uint32_t pitch) {
    uint32_t format = state->pixelFormat;
    Interleave layout = InterleaveOf(format);
    bool rows = InRange(format, kRowsFirst, kRowsLast);
    for (int i = 0; i < kJpgEncMaxComponents; ++i) {
        uint32_t offset = layout.offset[i] + (layout.oddRow[i] ? pitch : 0);
        Set(placement, i, base + offset, rows && i > 0 ? 2 * pitch : pitch);
    }
    placement->lineDoubling = InRange(format, kPacked422First, kPacked422Last) &&
                              state->samplingMode == VLTJPG_SAMPLING_420;
}

JpgEncComponent *OddRowChroma(JpgEncState *state) {
    uint32_t format = state->pixelFormat;
    bool crOnOddRows = format == VLTJPG_PIXEL_ROWS_YCB_YCR || format == VLTJPG_PIXEL_ROWS_CBY_CRY;
    return state->components[crOnOddRows ? 2 : 1];
}

} // namespace

vltJpgResult JpgEncPlaceSamples(const JpgEncState *state, uint8_t *const *planes,
                                const int32_t *pitches, uint32_t line, uint32_t width,
                                JpgEncPlacement *placement) {
    uint32_t format = state->pixelFormat;
    if (state->layerKind != kJpgLayerYCbCr && state->layerKind != kJpgLayerRGB)
        return VLTJPG_ERR_UNSUPPORTED;
    if (format == VLTJPG_PIXEL_FRAME_SAMPLING || !SamplingFits(state))
        return VLTJPG_ERR_UNSUPPORTED;
    vltJpgResult result = CheckPlanes(format, planes, pitches, width);
    if (result != 0)
        return result;
    *placement = JpgEncPlacement{};
    switch (format) {
    case VLTJPG_PIXEL_GREY:
        PlacePlanar(placement, planes, pitches, line, line, 1);
        return 0;
    case VLTJPG_PIXEL_YUV420:
    case VLTJPG_PIXEL_YUV440:
    case VLTJPG_PIXEL_SEMI_PLANAR_420:
    case VLTJPG_PIXEL_SEMI_PLANAR_420B:
        PlacePlanar(placement, planes, pitches, line, line / 2, 3);
        return 0;
    case VLTJPG_PIXEL_YUV422:
    case VLTJPG_PIXEL_YUV444:
        PlacePlanar(placement, planes, pitches, line, line, 3);
        return 0;
    case VLTJPG_PIXEL_RGB_PLANAR: {
        // The three planes share the first plane's pitch.
        const int32_t shared[3] = {pitches[0], pitches[0], pitches[0]};
        PlacePlanar(placement, planes, shared, line, line, 3);
        return 0;
    }
    default: {
        uint32_t pitch = static_cast<uint32_t>(pitches[0]);
        PlaceInterleaved(state, placement, planes[0] + static_cast<std::size_t>(pitch) * line,
                         pitch);
        return 0;
    }
    }
}

namespace {

// Places and binds samples of rows `width` pixels wide.
vltJpgResult BindSamples(JpgEncState *state, uint8_t *const *planes, const int32_t *pitches,
                         uint32_t line, uint32_t width) {
    JpgEncPlacement placement;
    vltJpgResult result = JpgEncPlaceSamples(state, planes, pitches, line, width, &placement);
    if (result != 0)
        return result;
    state->rowAboveBand = line > 0;
    if (state->layerKind == kJpgLayerRGB) {
        for (int i = 0; i < kJpgEncMaxComponents; ++i)
            state->rgbSources[i] = placement.start[i];
        state->rgbPitch = placement.pitch[0];
        state->thumbScale = -1; // RGB input gives no thumbnail
        return 0;
    }
    for (int32_t i = 0; i < state->componentCount; ++i) {
        JpgEncComponent *component = state->components[i];
        uint32_t doubling = i > 0 ? placement.lineDoubling : 0;
        component->base = placement.start[i];
        component->pitch = placement.pitch[i] << doubling;
        component->lineDoubling = doubling;
    }
    return 0;
}

// Pixels in the widest row of a run's buffer: the rest of the first MCU
// row, or whole image rows when the run continues below it.
uint32_t RunWidth(const JpgEncState *state, const vltJpgEncWriteDesc *descriptor) {
    uint32_t mcuWidth = 8 * state->maxH;
    uint32_t count = descriptor->count > 0 ? static_cast<uint32_t>(descriptor->count) : 0;
    uint32_t firstRowMcus = state->mcuColumns - state->mcuColumn;
    if (count > firstRowMcus)
        return state->width;
    uint32_t start = state->mcuColumn * mcuWidth;
    uint32_t end = (state->mcuColumn + count) * mcuWidth;
    return (end < state->width ? end : state->width) - start;
}

// With the height known, a run ends inside the image: MCUs below it
// would make a file longer than its frame.
bool RunFitsImage(const JpgEncState *state, const vltJpgEncWriteDesc *descriptor) {
    if (state->sizeRewrite || descriptor->count <= 0)
        return true;
    uint32_t done = state->mcuRow * state->mcuColumns + state->mcuColumn;
    uint32_t total = state->mcuRows * state->mcuColumns;
    return done <= total && static_cast<uint32_t>(descriptor->count) <= total - done;
}

} // namespace

vltJpgResult JpgEncBindSampleBand(JpgEncState *state, uint8_t *const *planes,
                                  const int32_t *pitches, uint32_t line) {
    return BindSamples(state, planes, pitches, line, state->width);
}

vltJpgResult JpgEncBindSampleRun(JpgEncState *state, const vltJpgEncWriteDesc *descriptor) {
    switch (state->pixelFormat) {
    case VLTJPG_PIXEL_GREY:
    case VLTJPG_PIXEL_YUV420:
    case VLTJPG_PIXEL_YUV422:
    case VLTJPG_PIXEL_YUV440:
    case VLTJPG_PIXEL_YUV444:
    case VLTJPG_PIXEL_YUYV:
    case VLTJPG_PIXEL_ROWS_YCB_YCR:
    case VLTJPG_PIXEL_SEMI_PLANAR_420:
    case VLTJPG_PIXEL_SEMI_PLANAR_420B:
        break;
    default:
        return VLTJPG_ERR_UNSUPPORTED;
    }
    const auto *planeSet = static_cast<const vltJpgPlaneSet *>(descriptor->data);
    if (!planeSet || !planeSet->planes || !planeSet->pitches || !RunFitsImage(state, descriptor))
        return VLTJPG_ERR_ARGUMENT;
    vltJpgResult result =
        BindSamples(state, planeSet->planes, planeSet->pitches, 0, RunWidth(state, descriptor));
    if (result != 0)
        return result;
    // Runs address the image itself: its extents classify the edge blocks.
    // While the height is unknown every row a run reaches lies inside.
    uint32_t lines = state->sizeRewrite ? kUnknownHeightLines : state->height;
    JpgEncSetAreaExtents(state, state->width, lines);
    return 0;
}

void JpgEncSetAreaExtents(JpgEncState *state, uint32_t width, uint32_t lines) {
    JpgEncSetComponentExtents(state, width, lines);
    if (InRange(state->pixelFormat, kRowsFirst, kRowsLast) && lines % 2 == 1)
        OddRowChroma(state)->sourceRows = lines / 2;
}
