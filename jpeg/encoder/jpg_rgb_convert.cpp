// RGB input: each MCU of R, G, B samples is converted into the MCU sample
// buffer (Y at full resolution, chroma averaged down to the sampling while
// converting) and then coded as a YCbCr MCU of that buffer.
#include "encoder/jpg_encoder.h"

#include <cstddef>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

#if defined(__SSE2__)
// A whole 4:2:0 MCU with the factors of the standard table computed on
// eight pixels at a time: products of sample pairs with factor pairs
// (38470 green as 32767 + 5703, 32768 as a shift), the same 32-bit sums
// as the table's, so the same samples. Chroma is summed over 2x2 pixels
// as ConvertPixels sums it.
class WholeMcu420 {
  public:
    explicit WholeMcu420(const McuPixels &pixels) : pixels_(pixels) {}

    // Packed pixels are taken in when their channels lie in R, G, B order.
    static bool Takes(const McuPixels &pixels) {
        return pixels.pixelStep == 1 ||
               (pixels.pixelStep == 3 && pixels.rgb[1] == pixels.rgb[0] + 1 &&
                pixels.rgb[2] == pixels.rgb[0] + 2);
    }

    void Convert(JpgEncComponent *luma, JpgEncComponent *cb, JpgEncComponent *cr) const {
        for (uint32_t pair = 0; pair < 8; ++pair) {
            __m128i cbSums[2] = {}, crSums[2] = {};
            for (uint32_t line = 0; line < 2; ++line) {
                Pixels8 p[2];
                LoadLine(2 * pair + line, p);
                __m128i luma16[2];
                for (uint32_t half = 0; half < 2; ++half) {
                    luma16[half] = _mm_packs_epi32(Luma(p[half].rg[0], p[half].gb[0]),
                                                   Luma(p[half].rg[1], p[half].gb[1]));
                    cbSums[half] = _mm_add_epi32(cbSums[half], PairSums(Cb(p[half])));
                    crSums[half] = _mm_add_epi32(crSums[half], PairSums(Cr(p[half])));
                }
                const uint32_t y = 2 * pair + line;
                uint8_t *out = luma->base + static_cast<std::size_t>(luma->pitch) * y;
                _mm_storeu_si128(reinterpret_cast<__m128i *>(out),
                                 _mm_packus_epi16(luma16[0], luma16[1]));
            }
            Store(cbSums, cb->base + static_cast<std::size_t>(cb->pitch) * pair);
            Store(crSums, cr->base + static_cast<std::size_t>(cr->pitch) * pair);
        }
    }

  private:
    // Eight pixels as 16-bit lanes: red and blue, and the pairs (r, g)
    // and (g, b) interleaved.
    struct Pixels8 {
        __m128i r, b;
        __m128i rg[2], gb[2];
    };

    // The sixteen pixels of a line, as two groups of eight.
    void LoadLine(uint32_t line, Pixels8 *p) const {
        const std::size_t at = line * pixels_.pitch;
        __m128i channels[3];
        if (pixels_.pixelStep == 1) {
            for (int c = 0; c < 3; ++c) {
                const uint8_t *samples = pixels_.rgb[c] + at;
                channels[c] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(samples));
            }
        } else {
            Deinterleave(pixels_.rgb[0] + at, channels);
        }
        const __m128i zero = _mm_setzero_si128();
        for (int half = 0; half < 2; ++half) {
            const __m128i r = half ? _mm_unpackhi_epi8(channels[0], zero)
                                   : _mm_unpacklo_epi8(channels[0], zero);
            const __m128i g = half ? _mm_unpackhi_epi8(channels[1], zero)
                                   : _mm_unpacklo_epi8(channels[1], zero);
            const __m128i b = half ? _mm_unpackhi_epi8(channels[2], zero)
                                   : _mm_unpacklo_epi8(channels[2], zero);
            p[half].r = r;
            p[half].b = b;
            p[half].rg[0] = _mm_unpacklo_epi16(r, g);
            p[half].rg[1] = _mm_unpackhi_epi16(r, g);
            p[half].gb[0] = _mm_unpacklo_epi16(g, b);
            p[half].gb[1] = _mm_unpackhi_epi16(g, b);
        }
    }

    // 48 bytes of packed pixels into sixteen R, G and B bytes. Interleaving
    // the first 24 bytes with the last 24 moves the byte at position x to
    // 2x mod 47; four rounds move it to 16x mod 47, which sends x = 3i + c
    // to 16c + i: the channels side by side.
    static void Deinterleave(const uint8_t *at, __m128i *v) {
        for (int i = 0; i < 3; ++i)
            v[i] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at + 16 * i));
        for (int round = 0; round < 4; ++round) {
            const __m128i a = v[0], b = v[1], c = v[2];
            v[0] = _mm_unpacklo_epi8(a, _mm_srli_si128(b, 8));
            v[1] = _mm_unpacklo_epi8(_mm_srli_si128(a, 8), c);
            v[2] = _mm_unpacklo_epi8(b, _mm_srli_si128(c, 8));
        }
    }

    static __m128i Factors(int16_t first, int16_t second) {
        return _mm_setr_epi16(first, second, first, second, first, second, first, second);
    }

    // Four Y values from the pairs of four pixels, 32-bit lanes.
    static __m128i Luma(__m128i rg, __m128i gb) {
        const __m128i sum = _mm_add_epi32(_mm_madd_epi16(rg, Factors(19595, 32767)),
                                          _mm_madd_epi16(gb, Factors(5703, 7471)));
        return _mm_srai_epi32(_mm_add_epi32(sum, _mm_set1_epi32(kYRounding)), 16);
    }

    // The eight chroma values of a line: `shifted` holds the samples the
    // factor 32768 applies to, `pairs` the pairs the other two apply to.
    static __m128i Chroma(const __m128i *pairs, __m128i shifted, int16_t first, int16_t second) {
        const __m128i zero = _mm_setzero_si128();
        const __m128i factors = Factors(first, second), offset = _mm_set1_epi32(kChromaOffset);
        const __m128i low = _mm_add_epi32(
            _mm_add_epi32(_mm_madd_epi16(pairs[0], factors),
                          _mm_slli_epi32(_mm_unpacklo_epi16(shifted, zero), 15)),
            offset);
        const __m128i high = _mm_add_epi32(
            _mm_add_epi32(_mm_madd_epi16(pairs[1], factors),
                          _mm_slli_epi32(_mm_unpackhi_epi16(shifted, zero), 15)),
            offset);
        return _mm_packs_epi32(_mm_srai_epi32(low, 16), _mm_srai_epi32(high, 16));
    }
    static __m128i Cb(const Pixels8 &p) { return Chroma(p.rg, p.b, -11059, -21709); }
    static __m128i Cr(const Pixels8 &p) { return Chroma(p.gb, p.r, -27439, -5329); }

    // Sums of horizontally adjacent values.
    static __m128i PairSums(__m128i values) {
        return _mm_madd_epi16(values, _mm_set1_epi16(1));
    }

    // Rounded means of the 2x2 sums, eight samples of a chroma line.
    static void Store(const __m128i *sums, uint8_t *out) {
        const __m128i two = _mm_set1_epi32(2);
        const __m128i means = _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(sums[0], two), 2),
                                              _mm_srai_epi32(_mm_add_epi32(sums[1], two), 2));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out), _mm_packus_epi16(means, means));
    }

    const McuPixels &pixels_;
};
#endif

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
#if defined(__SSE2__)
    // The vector form knows the standard table's factors only.
    if (subsample == 3 && columns == jpg_rgb2ycc_tbl.column && pixels.width == mcuWidth &&
        pixels.height == mcuHeight && WholeMcu420::Takes(pixels)) {
        WholeMcu420(pixels).Convert(state->components[0], state->components[1],
                                    state->components[2]);
        return;
    }
#endif
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
