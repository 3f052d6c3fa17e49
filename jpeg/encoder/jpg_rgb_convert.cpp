// RGB input: each MCU of R, G, B samples is converted into the MCU sample
// buffer (Y at full resolution, chroma averaged down to the sampling while
// converting) and then coded as a YCbCr MCU of that buffer.
#include "encoder/jpg_encoder.h"

#include <cstddef>

namespace {

// T.871 factors times 65536, rounded; the constants round Y and add 128
// (and rounding) to Cb and Cr.
constexpr int32_t kFactors[8] = {19595, 38470, 7471, -11059, -21709, 32768, -27439, -5329};
constexpr int32_t kYRounding = 32768;
constexpr int32_t kChromaOffset = 128 * 65536 + 32767;

constexpr JpgRgbToYccTable BuildConversionTable() {
    JpgRgbToYccTable table{};
    for (int column = 0; column < 8; ++column) {
        int32_t offset = column == 2 ? kYRounding : (column == 5 ? kChromaOffset : 0);
        for (int32_t x = 0; x < 256; ++x)
            table.column[column][x] = kFactors[column] * x + offset;
    }
    return table;
}

// The samples of one pixel and what it converts to.
struct Converter {
    const int32_t (*column)[256];
    int32_t Luma(const uint8_t *const rgb[3], std::size_t at) const {
        return (column[0][rgb[0][at]] + column[1][rgb[1][at]] + column[2][rgb[2][at]]) >> 16;
    }
    int32_t Cb(const uint8_t *const rgb[3], std::size_t at) const {
        return (column[3][rgb[0][at]] + column[4][rgb[1][at]] + column[5][rgb[2][at]]) >> 16;
    }
    int32_t Cr(const uint8_t *const rgb[3], std::size_t at) const {
        return (column[5][rgb[0][at]] + column[6][rgb[1][at]] + column[7][rgb[2][at]]) >> 16;
    }
};

// Valid pixels of the MCU and how they are laid out in the caller's band.
struct McuPixels {
    const uint8_t *rgb[3];
    std::size_t pitch;
    std::size_t pixelStep;
    uint32_t width;
    uint32_t height;
    std::size_t At(uint32_t x, uint32_t y) const { return y * pitch + x * pixelStep; }
};

void ConvertLuma(const Converter &convert, const McuPixels &pixels, JpgEncComponent *luma) {
    for (uint32_t y = 0; y < pixels.height; ++y) {
        uint8_t *out = luma->base + static_cast<std::size_t>(luma->pitch) * y;
        for (uint32_t x = 0; x < pixels.width; ++x)
            out[x] = static_cast<uint8_t>(convert.Luma(pixels.rgb, pixels.At(x, y)));
    }
}

// Rounded mean of `count` (1, 2 or 4) values summing to `sum`: count / 2
// is both the rounding term and the power of two of the count.
uint8_t RoundedMean(int32_t sum, int32_t count) {
    int32_t half = count >> 1;
    return static_cast<uint8_t>((sum + half) >> half);
}

// Every chroma sample is the rounded mean of the chroma of the valid
// pixels it covers (1, 2 or 4 of them).
void ConvertChroma(const Converter &convert, const McuPixels &pixels, JpgEncComponent *cb,
                   JpgEncComponent *cr, uint32_t spanX, uint32_t spanY) {
    for (uint32_t cy = 0; cy < cb->height; ++cy) {
        uint32_t y0 = cy * spanY;
        uint32_t y1 = y0 + spanY <= pixels.height ? y0 + spanY : pixels.height;
        for (uint32_t cx = 0; cx < cb->width; ++cx) {
            uint32_t x0 = cx * spanX;
            uint32_t x1 = x0 + spanX <= pixels.width ? x0 + spanX : pixels.width;
            int32_t sumCb = 0, sumCr = 0, count = 0;
            for (uint32_t y = y0; y < y1; ++y) {
                for (uint32_t x = x0; x < x1; ++x, ++count) {
                    std::size_t at = pixels.At(x, y);
                    sumCb += convert.Cb(pixels.rgb, at);
                    sumCr += convert.Cr(pixels.rgb, at);
                }
            }
            std::size_t out = static_cast<std::size_t>(cy) * cb->pitch + cx;
            cb->base[out] = RoundedMean(sumCb, count);
            cr->base[out] = RoundedMean(sumCr, count);
        }
    }
}

// Gives each component its part of the MCU sample buffer and the extent
// of the valid pixels in it.
void SetMcuBufferComponents(JpgEncState *state, uint32_t width, uint32_t height) {
    uint8_t *part = state->rgbMcuBuffer;
    for (int32_t i = 0; i < state->componentCount; ++i) {
        JpgEncComponent *component = state->components[i];
        component->base = part;
        component->pitch = 8 * component->h;
        part += 64 * component->h * component->v;
    }
    JpgEncSetComponentExtents(state, width, height);
}

uint32_t Smaller(uint32_t a, uint32_t b) { return a < b ? a : b; }

} // namespace

extern "C" {

const JpgRgbToYccTable jpg_rgb2ycc_tbl = BuildConversionTable();

void JpgEncRGB2YCbCr(JpgEncState *state, int32_t column, int32_t row) {
    uint32_t mcuWidth = 8 * state->maxH;
    uint32_t mcuHeight = 8 * state->maxV;
    uint32_t c = column < 0 ? state->fullMcuColumns : static_cast<uint32_t>(column);
    uint32_t r = row < 0 ? state->fullMcuRows : static_cast<uint32_t>(row);
    McuPixels pixels;
    pixels.pitch = state->rgbPitch;
    pixels.pixelStep = state->pixelFormat == VLTJPG_PIXEL_RGB_PACKED ? 3 : 1;
    std::size_t offset = pixels.pitch * mcuHeight * r + pixels.pixelStep * mcuWidth * c;
    for (int i = 0; i < 3; ++i)
        pixels.rgb[i] = state->rgbSources[i] + offset;
    // The valid pixels are counted at the MCU's place in the image and band.
    pixels.width = Smaller(state->width - mcuWidth * state->areaColumn, mcuWidth);
    pixels.height = Smaller(state->bandLines - mcuHeight * state->areaRow, mcuHeight);
    SetMcuBufferComponents(state, pixels.width, pixels.height);

    Converter convert{reinterpret_cast<const int32_t(*)[256]>(state->conversionTable)};
    ConvertLuma(convert, pixels, state->components[0]);
    if (state->componentCount < 3)
        return;
    int32_t subsample = state->subsampleTable[state->samplingMode];
    ConvertChroma(convert, pixels, state->components[1], state->components[2],
                  (subsample & 2) ? 2 : 1, (subsample & 1) ? 2 : 1);
}

vltJpgResult JpgEncRGBMCU(JpgEncState *state, int32_t column, int32_t row) {
    state->convertColour(state, column, row);
    // The MCU is now the whole area of the component extents.
    state->areaColumn = 0;
    state->areaRow = 0;
    return JpgEncYCbCrMCU(state, 0, 0);
}

} // extern "C"
