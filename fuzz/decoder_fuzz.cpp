// Fuzz target: decoder creation and a decode in bands at one scale into
// planes of exactly the scaled image size. The first input byte picks the
// chunk size, band height and scale; the rest is the JPEG. MCU runs have a
// target of their own (decoder_mcu_fuzz).
#include "fuzz_input.h"

namespace {

void DecodeBands(vltJpgDecoder handle, const fuzz::Image &image, int32_t denominator,
                 int32_t band) {
    vltJpgDecoderSetProp(handle, VLTJPG_DECPROP_SCALE, &denominator, 4);
    int32_t scaled[2];
    vltJpgDecoderGetProp(handle, VLTJPG_DECPROP_SCALED_SIZE, scaled, 8);
    fuzz::Planes planes(scaled[0], scaled[1]);
    int32_t done = 0;
    while (done < image.height) {
        uint8_t *pointers[3];
        for (int c = 0; c < 3; ++c) {
            int32_t row = (c == 0 ? done : done / image.chromaRowRatio) / denominator;
            pointers[c] = planes.pointers[c] + static_cast<size_t>(row) * planes.pitches[c];
        }
        int32_t lines = band;
        if (vltJpgDecoderScanlines(handle, pointers, planes.pitches, nullptr, &lines) != 0 ||
            lines == 0)
            return;
        done += lines;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::DecodeInput(data, size, [](vltJpgDecoder handle, const fuzz::Image &image,
                                     uint8_t options) {
        DecodeBands(handle, image, 1 << ((options >> 3) & 3), 8 << ((options >> 1) & 3));
    });
    return 0;
}
