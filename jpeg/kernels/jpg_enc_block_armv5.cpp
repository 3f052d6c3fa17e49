// Fast block coder, installed in the encoder's block-coder slot. Against
// the portable JpgEncBlock it gathers the non-zero coefficients into bit
// masks first and jumps between them, finds categories by counting leading
// zeros, and stores completed bytes through the bit writer's byte emitters.
// On 32-bit ARM the bit accumulator and the masks are 32-bit words scanned
// with CLZ; on x86 the accumulator is a 64-bit word and the mask is formed
// with SSE2 compares and scanned with CTZ.
#include "encoder/jpg_huff_coder.h"

namespace {

#if defined(__arm__)
using FastSink = BitSink<uint32_t, EmitterStore>;
using FastScan = MsbMaskScan;
#elif defined(__SSE2__)
using FastSink = BitSink<uint64_t, EmitterStore>;
using FastScan = RowTableMaskScan;
#else
using FastSink = BitSink<uint64_t, EmitterStore>;
using FastScan = MsbMaskScan;
#endif

void InstallByteEmitters(JpgBitWriter *writer) {
    writer->emitBytes[0] = EmitStuffedBytes<1>;
    writer->emitBytes[1] = EmitStuffedBytes<2>;
    writer->emitBytes[2] = EmitStuffedBytes<3>;
}

} // namespace

extern "C" vltJpgResult JpgEncBlock_ARMV5(JpgBitWriter *writer, int16_t *block,
                                          JpgEncComponent *component) {
    InstallByteEmitters(writer);
    return EncodeBlock<FastSink, ClzCategory, FastScan>(writer, block, component);
}
