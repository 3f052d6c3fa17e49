// Component record: one per frame component, shared by the marker parser,
// the block decoder, the transforms and the output routines.
#ifndef QVJPEG_DECODER_JPG_DEC_COMPONENT_H
#define QVJPEG_DECODER_JPG_DEC_COMPONENT_H

#include <cstdint>

struct JpgDecComponent {
    uint8_t *plane;         // host output of this component (band or run origin)
    int32_t pitch;          // bytes per output row
    // Component size in samples: ceil(X * H / max H) by ceil(Y * V / max V)
    // (ITU T.81 A.1.1), see JpgDecComponentExtent. The scan grid of a
    // single-component scan and the clipping of edge blocks both use it, so
    // that the last partial block row or column of a subsampled component
    // is decoded and delivered.
    int32_t width;
    int32_t height;
    int32_t id;             // Ci of the frame header
    int32_t index;          // 0..Nf-1: position in the frame
    int32_t h;              // sampling factors
    int32_t v;
    int32_t quantTable;     // Tq
    int32_t dcTable;        // Td of the current scan
    int32_t acTable;        // Ta of the current scan
    int32_t dcPredictor;    // last DC value, a signed 16-bit value
    int32_t lastNonzero;    // zigzag index of the last coefficient the block decoder stored
    int32_t mcuWidth;       // blocks per MCU across: H when interleaved, else 1
    int32_t mcuHeight;      // blocks per MCU down: V when interleaved, else 1
    int32_t firstBlock;     // index of the component's first block in the frame MCU
    const int32_t *dequant; // dequantization multipliers (64, natural order)
    int32_t lineDoubling;   // the transforms also write each row at + pitch / 2; 0 in the decoder
};

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(JpgDecComponent) == 72, "component record is 18 words");
#endif

// Samples of a component along one axis: ceil(extent * factor / maxFactor).
// Rounding down would drop the last sample column or row of a subsampled
// component whenever extent * factor is not a multiple of maxFactor.
constexpr int32_t JpgDecComponentExtent(int32_t extent, int32_t factor, int32_t maxFactor) {
    return maxFactor > 0
               ? static_cast<int32_t>((static_cast<int64_t>(extent) * factor + maxFactor - 1) /
                                      maxFactor)
               : 0;
}

// Samples of an extent at output scale index `scale` (1/2^scale), rounded
// up so that a last partial sample is kept.
constexpr int32_t JpgDecScaledExtent(int32_t extent, int32_t scale) {
    return (extent + (1 << scale) - 1) >> scale;
}

#endif
