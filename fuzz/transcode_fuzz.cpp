// Fuzz target: transcoding. A decoder over the input hands its blocks to an
// encoder run by run; the first input byte picks the Huffman mode, the run
// length, a quality change (requantization) and an index interval; the
// rest is the JPEG. The encoder's output is discarded.
#include "fuzz_input.h"

namespace {

void SetWord(vltJpgEncoder encoder, uint32_t id, uint32_t value) {
    vltJpgEncoderSetProp(encoder, id, &value, sizeof value);
}

void Transcode(vltJpgDecoder decoder, const fuzz::Image &image, uint8_t options) {
    fuzz::Input sink{nullptr, 0, 0};
    vltJpgEncoder encoder = nullptr;
    if (vltJpgEncoderCreateFromDecoder(&encoder, decoder, &sink, options % 3) != 0)
        return;
    if (options & 4)
        SetWord(encoder, VLTJPG_ENCPROP_QUALITY, 20 + options % 80);
    if (options & 8)
        SetWord(encoder, VLTJPG_ENCPROP_INDEX_INTERVAL, 1 + (options >> 4) % 4);
    int32_t runLength = 1 + (options >> 5);
    int32_t total = image.mcuColumns * image.mcuRows;
    for (int32_t first = 0; first < total; first += runLength) {
        vltJpgDecoderRequest request{VLTJPG_REQUEST_HANDOVER, 0, first % image.mcuColumns,
                                     first / image.mcuColumns, nullptr};
        if (vltJpgDecoderReadMCUs(decoder, &request) != 0)
            break;
        int32_t count = runLength < total - first ? runLength : total - first;
        vltJpgEncWriteDesc write{VLTJPG_WRITE_TRANSCODE, count,
                                 static_cast<uint32_t>(request.startColumn),
                                 static_cast<uint32_t>(request.startRow), request.planeSet};
        if (vltJpgEncoderWriteMCUs(encoder, &write) != 0)
            break;
    }
    vltJpgEncoderDestroy(encoder);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::DecodeInput(data, size, Transcode);
    return 0;
}
