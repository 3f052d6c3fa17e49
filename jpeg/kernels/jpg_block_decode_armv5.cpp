// Block decoder for 32-bit processors: the bit accumulator is one 32-bit
// register instead of a register pair, at the cost of a second fill check
// before magnitude bits. On 64-bit processors it is the portable decoder.
#include "decoder/jpg_block_decode.h"

#if UINTPTR_MAX == 0xFFFFFFFFu
using JpgKernelAccumulator = uint32_t;
#else
using JpgKernelAccumulator = uint64_t;
#endif

extern "C" uint32_t JpgDecBlock_ARMV5(JpgHufReader *reader, int16_t *coef,
                                      JpgDecComponent *comp) {
    return JpgDecodeBlock<JpgKernelAccumulator>(reader, coef, comp);
}
