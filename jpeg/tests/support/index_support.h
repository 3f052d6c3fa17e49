// Random-access index tests: index blocks taken from and given to a
// decoder, and an image read back as MCU runs in random order.
#ifndef QVJPEG_TESTS_INDEX_SUPPORT_H
#define QVJPEG_TESTS_INDEX_SUPPORT_H

#include "decoder_harness.h"
#include "jpeg_oracle.h"

#include <cstdint>
#include <vector>

namespace index_support {

// A copy of the block the decoder owns (empty when it has none).
std::vector<uint8_t> ExportBlock(harness::Decoder &dec);
// Imports `block`, which must outlive the decoder's use of it.
uint32_t Import(harness::Decoder &dec, std::vector<uint8_t> &block);
uint32_t WordAt(const std::vector<uint8_t> &block, size_t offset);

// Reads the whole image as runs of random length in random order (so most
// runs start behind the previous one or far ahead of it), each run to its
// own place in `out` at a scale shift. A run that wraps puts the next
// row's MCUs below its first one, so these runs end with their MCU row.
uint32_t ReadInRandomRuns(harness::Decoder &dec, const oracle::FrameInfo &info, int shift,
                          harness::OutputPlanes &out, unsigned seed);

// Test assertion: at scale 1/`scale`, runs in random order rebuild the
// reference decode exactly.
void ExpectRandomRunsMatch(harness::Decoder &dec, const oracle::FrameInfo &info, int scale,
                           const harness::Decoded &reference, unsigned seed);

} // namespace index_support

#endif
