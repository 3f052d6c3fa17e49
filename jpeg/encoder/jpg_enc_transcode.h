// Transcoding: an encoder fed with the entropy-decoded blocks of a decoder
// of the same frame, without going back to samples.
#ifndef QVJPEG_ENCODER_JPG_ENC_TRANSCODE_H
#define QVJPEG_ENCODER_JPG_ENC_TRANSCODE_H

#include "encoder/jpg_encoder.h"

struct JpgDecoder;

// Huffman modes 0 (standard tables) and 2 (standard DC tables, clipped AC
// tables) code with tables of their own; every other mode keeps the
// decoder's tables and selectors.
constexpr bool JpgEncKeepsDecoderHuffman(uint32_t huffmanMode) {
    return huffmanMode != 0 && huffmanMode != 2;
}

// Takes over the decoder's frame for a new encoder: checks that both have
// the same MCU structure (0x8008 otherwise), copies the quantization
// tables and selectors, the Huffman tables and selectors when the mode
// keeps them, and the restart interval, and allocates the transcoding
// state (0x8002). The tables' derived forms are built by the caller.
JPG_ENC_HIDDEN vltJpgResult JpgEncAdoptDecoder(JpgEncState *state, JpgDecoder *decoder,
                                              uint32_t huffmanMode);

// Write mode 0 before anything is written: 0x8008 on an encoder not made
// from a decoder, 0x8001 unless `decoder` is the encoder's own source.
JPG_ENC_HIDDEN vltJpgResult JpgEncCheckTranscodeSource(const JpgEncState *state,
                                                      const void *decoder);

extern "C" {

// Write mode 0: `descriptor->data` is the decoder handle that request mode
// 0 of vltJpgDecoderReadMCUs stored; it must be the encoder's own source.
vltJpgResult JpgEncStreamLayer(JpgEncState *state, vltJpgEncWriteDesc *descriptor);
// Moves one MCU from the decoder to the encoder. A block the encoder's
// tables cannot code ends the MCU with 0x8004 before any of its bits are
// written, so the output stays a valid prefix.
vltJpgResult JpgEncStreamMCU(JpgEncState *state, int32_t column, int32_t row);

} // extern "C"

#endif
