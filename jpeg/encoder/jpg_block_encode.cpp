// Portable block coder: the reference twin of JpgEncBlock_ARMV5. It walks
// the zigzag order position by position and finds categories with the bit
// writer's bit-count table.
#include "encoder/jpg_huff_coder.h"

extern "C" vltJpgResult JpgEncBlock(JpgBitWriter *writer, int16_t *block,
                                    JpgEncComponent *component) {
    return EncodeBlock<BitSink<uint32_t, InlineStore>, TableCategory, LinearScan>(writer, block,
                                                                                  component);
}
