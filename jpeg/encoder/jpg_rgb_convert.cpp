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

// Valid pixels of the MCU and how they are laid out in the caller's band.
struct McuPixels {
    const uint8_t *rgb[3];
    std::size_t pitch;
    std::size_t pixelStep;
    uint32_t width;
    uint32_t height;
};

// Sums of the chroma of the pixels each chroma sample covers, and their
// count (1, 2 or 4).
struct ChromaSums {
    int32_t cb[64];
    int32_t cr[64];
    int32_t count[64];
};

// Rounded mean of `count` (1, 2 or 4) values summing to `sum`: count / 2
// is both the rounding term and the power of two of the count.
uint8_t RoundedMean(int32_t sum, int32_t count) {
    int32_t half = count >> 1;
    return static_cast<uint8_t>((sum + half) >> half);
}

// One pass over the valid pixels: Y stored at once, and with `sums` the
// chroma of each pixel added to the chroma sample it falls in (spans of
// 2^shiftX x 2^shiftY pixels).
void ConvertPixels(const int32_t (*c)[256], const McuPixels &pixels, JpgEncComponent *luma,
                   ChromaSums *sums, uint32_t shiftX, uint32_t shiftY) {
    for (uint32_t y = 0; y < pixels.height; ++y) {
        const std::size_t row = y * pixels.pitch;
        uint8_t *out = luma->base + static_cast<std::size_t>(luma->pitch) * y;
        uint32_t chromaRow = 8 * (y >> shiftY);
        for (uint32_t x = 0; x < pixels.width; ++x) {
            const std::size_t at = row + x * pixels.pixelStep;
            const uint8_t r = pixels.rgb[0][at], g = pixels.rgb[1][at], b = pixels.rgb[2][at];
            out[x] = static_cast<uint8_t>((c[0][r] + c[1][g] + c[2][b]) >> 16);
            if (!sums)
                continue;
            uint32_t i = chromaRow + (x >> shiftX);
            sums->cb[i] += (c[3][r] + c[4][g] + c[5][b]) >> 16;
            sums->cr[i] += (c[5][r] + c[6][g] + c[7][b]) >> 16;
            ++sums->count[i];
        }
    }
}

void StoreChroma(const ChromaSums &sums, JpgEncComponent *cb, JpgEncComponent *cr) {
    for (uint32_t y = 0; y < cb->height; ++y) {
        for (uint32_t x = 0; x < cb->width; ++x) {
            uint32_t i = 8 * y + x;
            std::size_t out = static_cast<std::size_t>(y) * cb->pitch + x;
            cb->base[out] = RoundedMean(sums.cb[i], sums.count[i]);
            cr->base[out] = RoundedMean(sums.cr[i], sums.count[i]);
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

    const auto *columns = reinterpret_cast<const int32_t(*)[256]>(state->conversionTable);
    if (state->componentCount < 3) {
        ConvertPixels(columns, pixels, state->components[0], nullptr, 0, 0);
        return;
    }
    // Chroma is averaged while converting, never stored at full size.
    int32_t subsample = state->subsampleTable[state->samplingMode];
    ChromaSums sums{};
    ConvertPixels(columns, pixels, state->components[0], &sums, (subsample & 2) ? 1 : 0,
                  (subsample & 1) ? 1 : 0);
    StoreChroma(sums, state->components[1], state->components[2]);
}

vltJpgResult JpgEncRGBMCU(JpgEncState *state, int32_t column, int32_t row) {
    state->convertColour(state, column, row);
    // The MCU is now the whole area of the component extents.
    state->areaColumn = 0;
    state->areaRow = 0;
    return JpgEncYCbCrMCU(state, 0, 0);
}

} // extern "C"
