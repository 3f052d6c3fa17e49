// Portable baseline block decoder.
#include "decoder/jpg_block_decode.h"

extern "C" uint32_t JpgDecBlock(JpgHufReader *reader, int16_t *coef, JpgDecComponent *comp) {
    return JpgDecodeBlock<uint64_t>(reader, coef, comp);
}
