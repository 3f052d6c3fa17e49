// Portable forward transforms with the shift-and-add rotations.
#include "encoder/jpg_fdct.h"

#include "encoder/jpg_fdct_impl.h"

extern "C" {

void JpgFDCTQ(int16_t *block, const uint8_t *source, int32_t step, int32_t pitch,
              const uint16_t *reciprocal) {
    JpgFdctQuantize<JpgFdctShiftAddRotations, JpgFdctTruncate>(block, source, step, pitch,
                                                               reciprocal);
}

void JpgFDCTQ_HQ(int16_t *block, const uint8_t *source, int32_t step, int32_t pitch,
                 const uint16_t *reciprocal) {
    JpgFdctQuantize<JpgFdctShiftAddRotations, JpgFdctRound>(block, source, step, pitch,
                                                            reciprocal);
}

} // extern "C"
