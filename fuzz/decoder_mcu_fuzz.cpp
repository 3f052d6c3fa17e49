// Fuzz target: MCU runs in every request mode (coefficients, samples,
// hand-over, and an unknown one), at positions the first input byte picks;
// the rest is the JPEG.
#include "fuzz_input.h"

namespace {

void ReadRuns(vltJpgDecoder handle, const fuzz::Image &image, uint8_t seed) {
    int32_t column = seed % image.mcuColumns;
    int32_t row = (seed / 7) % image.mcuRows;
    int32_t count = 1 + seed % 5;
    std::vector<int16_t> coefficients(static_cast<size_t>(image.blocksPerMcu) * 64 * count);
    uint8_t *coefPlanes[3] = {reinterpret_cast<uint8_t *>(coefficients.data()), nullptr, nullptr};
    int32_t coefPitches[3] = {image.blocksPerMcu * 64 * count, 0, 0};
    vltJpgPlaneSet coefSet{coefPlanes, coefPitches};
    // Sample runs go into full-size planes at the run's own position; a run
    // that wraps to the next row stays inside them.
    fuzz::Planes planes(image.mcuColumns * 32, image.mcuRows * 32 + 32);
    vltJpgPlaneSet sampleSet{planes.pointers, planes.pitches};
    vltJpgDecoderRequest requests[] = {
        {VLTJPG_REQUEST_COEFFICIENTS, 1, column, row, &coefSet},
        {VLTJPG_REQUEST_SAMPLES, count, 0, row, &sampleSet},
        {VLTJPG_REQUEST_HANDOVER, 1, column, 0, nullptr},
        {VLTJPG_REQUEST_SAMPLES, 1, 0, 0, &sampleSet},
        {3, 1, 0, 0, &sampleSet},
    };
    for (vltJpgDecoderRequest &request : requests)
        vltJpgDecoderReadMCUs(handle, &request);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::DecodeInput(data, size, ReadRuns);
    return 0;
}
