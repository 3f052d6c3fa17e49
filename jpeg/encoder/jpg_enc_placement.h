// Where the samples of each pixel format lie in a caller's planes: the
// first sample and row pitch of every component (or RGB source) from the
// plane pointers, pitches and a start line. Band input, MCU runs of
// samples and the thumbnail buffer are all placed by it.
#ifndef QVJPEG_ENCODER_JPG_ENC_PLACEMENT_H
#define QVJPEG_ENCODER_JPG_ENC_PLACEMENT_H

#include "encoder/jpg_encoder.h"

#include <cstdint>

struct JpgEncPlacement {
    uint8_t *start[kJpgEncMaxComponents]; // Y, Cb, Cr (or R, G, B) at the line
    uint32_t pitch[kJpgEncMaxComponents]; // bytes from one row of it to the next
    // 1 when the chroma rows are every second row of `pitch` (packed 4:2:2
    // coded as 4:2:0).
    uint32_t lineDoubling;
};

// Places the state's pixel format at `line` of `planes`, checking that
// every plane it reads is given and that every pitch holds a row of
// `width` pixels. 0x8001 for missing planes or short pitches, 0x8008 for a
// format without sample layout or one the sampling mode cannot take.
JPG_ENC_HIDDEN vltJpgResult JpgEncPlaceSamples(const JpgEncState *state, uint8_t *const *planes,
                                const int32_t *pitches, uint32_t line, uint32_t width,
                                JpgEncPlacement *placement);

// Band input: binds the band starting at `line` to the component records
// (YCbCr) or the RGB sources; RGB input switches the thumbnail off.
JPG_ENC_HIDDEN vltJpgResult JpgEncBindSampleBand(JpgEncState *state, uint8_t *const *planes,
                                  const int32_t *pitches, uint32_t line);

// MCU runs of samples (write mode 2): binds the run buffer of the
// descriptor for the pixel formats runs take (grey, planar, semi-planar,
// format 7 and 11); its pitches must hold the run's widest row.
JPG_ENC_HIDDEN vltJpgResult JpgEncBindSampleRun(JpgEncState *state,
                                                const vltJpgEncWriteDesc *descriptor);

// Component extents of an area of `width` x `lines` samples (see
// JpgEncSetComponentExtents); the odd-row chroma of a row-interleaved
// format holds only lines / 2 rows of it.
JPG_ENC_HIDDEN void JpgEncSetAreaExtents(JpgEncState *state, uint32_t width, uint32_t lines);

#endif
