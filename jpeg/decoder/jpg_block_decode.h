// Baseline block decoding, shared by the portable block decoder and its
// processor-specific twin, which differ only in the accumulator width.
#ifndef QVJPEG_DECODER_JPG_BLOCK_DECODE_H
#define QVJPEG_DECODER_JPG_BLOCK_DECODE_H

#include "common/jpg_tables.h"
#include "decoder/jpg_dec_component.h"
#include "decoder/jpg_huff_bits.h"

namespace {

// Largest magnitude category the receive step takes (T.81 allows 16).
constexpr int32_t kJpgMaxCategory = 16;

inline const uint16_t *JpgSelectTable(const uint16_t *const tables[4], int32_t number) {
    return static_cast<uint32_t>(number) < 4 ? tables[number] : nullptr;
}

// Bits one coefficient can take (code and magnitude), and what the cursor
// must hold before a code when it cannot hold both.
template <typename Acc>
constexpr int32_t kJpgBitsPerSymbol = JpgHufBits<Acc>::kFilled >= 32 ? 32 : 16;

template <typename Acc>
inline int32_t JpgReceiveCoefficient(JpgHufBits<Acc> &bits, int32_t s) {
    if constexpr (kJpgBitsPerSymbol<Acc> < 32)
        bits.Need(s);
    return bits.Receive(s);
}

// Decodes one block: DC difference plus prediction, then the AC run/size
// symbols; coefficients past the reader's last index kept are decoded and
// dropped. Runs that overshoot the block end land on position 63 through the
// tail of jpg_natural_order.
template <typename Acc>
uint32_t JpgDecodeBlock(JpgHufReader *reader, int16_t *coef, JpgDecComponent *comp) {
    if (reader->marker)
        return 0;
    const uint16_t *dcTable = JpgSelectTable(reader->dcTables, comp->dcTable);
    const uint16_t *acTable = JpgSelectTable(reader->acTables, comp->acTable);
    if (!dcTable || !acTable)
        return VLTJPG_ERR_DATA;

    JpgHufBits<Acc> bits(reader);
    constexpr int32_t kNeed = kJpgBitsPerSymbol<Acc>;
    bits.Need(kNeed);
    const uint32_t dcEntry = JpgHufFastTable(dcTable)[bits.Peek(kJpgHufFastBits)];
    int32_t diff = 0;
    if (dcEntry) {
        bits.Skip(static_cast<int32_t>(dcEntry & 0xFF));
        diff = static_cast<int16_t>(dcEntry >> 16);
    } else if (int32_t s = bits.DecodeSymbol(dcTable)) {
        s = s > kJpgMaxCategory ? kJpgMaxCategory : s;
        diff = JpgReceiveCoefficient(bits, s);
    }
    // The predictor is a 16-bit value and wraps like one.
    const int32_t predictor = comp->dcPredictor;
    const int16_t dc = static_cast<int16_t>(static_cast<uint16_t>(diff + predictor));
    coef[0] = dc;
    comp->dcPredictor = dc;

    const int32_t kept = reader->lastIndexKept < 63 ? reader->lastIndexKept : 63;
    const uint8_t *const natural = jpg_natural_order;
    const uint32_t *const fast = JpgHufFastTable(acTable);
    int32_t k = 1;
    int32_t last = 0;
    while (k <= kept) {
        bits.Need(kNeed);
        const uint32_t entry = fast[bits.Peek(kJpgHufFastBits)];
        if (entry) {
            bits.Skip(static_cast<int32_t>(entry & 0xFF));
            const uint32_t run = (entry >> 8) & 0xFF;
            if (run == kJpgHufFastEndOfBlock) {
                k = 64;
                break;
            }
            k += static_cast<int32_t>(run);
            coef[natural[k]] = static_cast<int16_t>(entry >> 16);
            last = k++;
            continue;
        }
        const int32_t rs = bits.DecodeSymbol(acTable);
        const int32_t run = rs >> 4;
        const int32_t s = rs & 15;
        if (s) {
            k += run;
            coef[natural[k]] = static_cast<int16_t>(JpgReceiveCoefficient(bits, s));
            last = k++;
        } else if (run == 15) {
            k += 16;
        } else {
            k = 64; // end of block
        }
    }
    while (k <= 63) {
        bits.Need(kNeed);
        const uint32_t entry = fast[bits.Peek(kJpgHufFastBits)];
        if (entry) {
            bits.Skip(static_cast<int32_t>(entry & 0xFF));
            const uint32_t run = (entry >> 8) & 0xFF;
            if (run == kJpgHufFastEndOfBlock)
                break;
            k += static_cast<int32_t>(run) + 1;
            continue;
        }
        const int32_t rs = bits.DecodeSymbol(acTable);
        const int32_t s = rs & 15;
        if (s) {
            if constexpr (kNeed < 32)
                bits.Need(s);
            bits.Skip(s);
            k += (rs >> 4) + 1;
        } else if ((rs >> 4) == 15) {
            k += 16;
        } else {
            break;
        }
    }
    if (bits.Overran()) {
        // The data stopped inside the block: what was decoded from the zero
        // padding is dropped, so the block and the predictor stay as they
        // were (the caller paints the block or leaves it zero).
        for (int32_t i = 0; i <= last; ++i)
            coef[jpg_natural_order[i]] = 0;
        comp->dcPredictor = predictor;
        last = 0;
    }
    comp->lastNonzero = last;
    return bits.Finish();
}

} // namespace

#endif
