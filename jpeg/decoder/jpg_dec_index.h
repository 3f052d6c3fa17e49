// Random-access index of the decoder: creation, export, release and the
// steps the MCU-run call takes to resume at a recorded entry.
#ifndef QVJPEG_DECODER_JPG_DEC_INDEX_H
#define QVJPEG_DECODER_JPG_DEC_INDEX_H

#include "decoder/jpg_decoder.h"

// Makes the index the creation record asks for (an interval of 0, or a
// multi-scan image, makes none and writes 0 back into the record).
JPG_DEC_HIDDEN uint32_t JpgDecIdxSetUp(JpgDecoder *dec, vltJpgDecoderParams *params);
JPG_DEC_HIDDEN void JpgDecIdxRelease(JpgDecoder *dec);
// Another image is bound: the entries of the old one no longer apply. An
// owned block starts recording afresh, an imported one is let go.
JPG_DEC_HIDDEN void JpgDecIdxForget(JpgDecoder *dec);
// Size and address of the block the decoder owns; 0x8040 without one.
JPG_DEC_HIDDEN uint32_t JpgDecIdxExport(JpgDecoder *dec, vltJpgDecIndexBlock *value);
// MCU number (row x MCUs per row + column) of the recorded entry that
// MCU (column, row) belongs to, or -1 when there is none.
JPG_DEC_HIDDEN int32_t JpgDecIdxEntryStart(const JpgDecoder *dec, int32_t column, int32_t row);
// Repositions the reader at that entry and restores its predictors and
// MCU position; the restart counters are the caller's.
JPG_DEC_HIDDEN uint32_t JpgDecIdxResume(JpgDecoder *dec, int32_t column, int32_t row);

extern "C" {

// Records the entry of the MCU about to be decoded when it is the next one
// due. Result always 0.
uint32_t JpgDecIdxUpdate(JpgDecoder *dec);
// Imports a host's index block after checking it completely: 0x8001 for a
// null block, 0x8008 for a multi-scan image or a block that does not fit
// this image (nothing changes then), 0x8002 when memory runs out.
uint32_t JpgDecSetIndexInfo(JpgDecoder *dec, const vltJpgDecIndexBlock *value);

} // extern "C"

#endif
