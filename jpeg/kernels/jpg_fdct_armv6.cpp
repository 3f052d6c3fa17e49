// Processor-specific forward transforms: the rotations are single
// multiplications by 8-bit constants, which ARM's multiply-accumulate
// instructions take in one step where the portable shift-and-add forms
// need several.
#include "encoder/jpg_fdct.h"

#include "encoder/jpg_fdct_impl.h"

extern "C" {

void JpgFDCTQ_ARMV6(int16_t *block, const uint8_t *source, int32_t step, int32_t pitch,
                    const uint16_t *reciprocal) {
    JpgFdctQuantize<JpgFdctByteRotations, JpgFdctTruncate>(block, source, step, pitch,
                                                           reciprocal);
}

void JpgFDCTQ_HQ_ARMV6(int16_t *block, const uint8_t *source, int32_t step, int32_t pitch,
                       const uint16_t *reciprocal) {
    JpgFdctQuantize<JpgFdctByteRotations, JpgFdctRound>(block, source, step, pitch, reciprocal);
}

} // extern "C"
