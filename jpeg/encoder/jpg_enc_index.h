// Random-access index of the encoder: the block a decoder of the output
// imports to start decoding at any MCU group.
#ifndef QVJPEG_ENCODER_JPG_ENC_INDEX_H
#define QVJPEG_ENCODER_JPG_ENC_INDEX_H

#include "encoder/jpg_encoder.h"

#define JPG_ENC_INDEX_HIDDEN __attribute__((visibility("hidden")))

JPG_ENC_INDEX_HIDDEN void JpgEncIdxRelease(JpgEncState *state);
// Size and address of the index block; 0x8040 when there is none.
JPG_ENC_INDEX_HIDDEN vltJpgResult JpgEncIdxExport(const JpgEncState *state,
                                                  vltJpgEncIndexBlock *value);

extern "C" {

// Replaces the index by one of `interval` MCUs per entry over the MCU grid
// of the image size known now (0 switches it off). 0, or 0x8002 with the
// index off.
vltJpgResult JpgEncSetIndexInterval(JpgEncState *state, uint32_t interval);
// Records the entry of the MCU about to be coded when it is the next one
// due: the position of the next bit to be written, counted from the start
// of the output, and the DC predictors. Result 0.
vltJpgResult JpgEncIdxUpdate(JpgEncState *state);

} // extern "C"

#endif
