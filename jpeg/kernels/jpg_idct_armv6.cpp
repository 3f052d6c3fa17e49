// Processor-specific inverse DCTs. On ARMv6 and later the samples saturate
// with USAT (one instruction instead of two compares); the full 8x8 path
// runs the column and row passes on all eight lanes at once wherever the
// compiler has vector registers for them.
#include "decoder/jpg_idct.h"

#include "decoder/jpg_idct_impl.h"

namespace {

#if defined(__arm__) && defined(__ARM_ARCH) && __ARM_ARCH >= 6
struct JpgKernelClamp {
    static inline uint8_t Sample(JpgFix x) {
        int32_t v = static_cast<int32_t>(x) >> kJpgOutShift;
        int32_t s;
        __asm__("usat %0, #8, %1" : "=r"(s) : "r"(v));
        return static_cast<uint8_t>(s);
    }
};
#else
using JpgKernelClamp = JpgPortableClamp;
#endif

void General8(const JpgOutput &o, const int16_t *coef, const int32_t *mult, int32_t *scratch) {
    JpgTwoPass8<JpgKernelClamp, 8, true>(o, coef, mult, scratch,
                                         [](const auto &t, auto &&put) { JpgAan8(t, put); });
}

} // namespace

extern "C" {

void JpgDQIDCT8_ARMV6(uint8_t *out, int16_t *coef, int32_t step, int32_t pitch,
                      const int32_t *multipliers, int32_t lineDoubling, int32_t last,
                      int32_t *scratch) {
    JpgIdct8<JpgKernelClamp>(out, coef, step, pitch, multipliers, lineDoubling, last, scratch,
                             General8);
}

void JpgDQIDCT4_ARMV6(uint8_t *out, int16_t *coef, int32_t step, int32_t pitch,
                      const int32_t *multipliers, int32_t lineDoubling, int32_t last,
                      int32_t *scratch) {
    JpgIdct4<JpgKernelClamp>(out, coef, step, pitch, multipliers, lineDoubling, last, scratch);
}

void JpgDQIDCT2_ARMV6(uint8_t *out, int16_t *coef, int32_t step, int32_t pitch,
                      const int32_t *multipliers, int32_t lineDoubling, int32_t last,
                      int32_t *) {
    JpgIdct2<JpgKernelClamp>(out, coef, step, pitch, multipliers, lineDoubling, last);
}

} // extern "C"
