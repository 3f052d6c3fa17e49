// Progressive block decoders: each scan adds its spectral band or one more
// bit of precision to the blocks earlier scans left in the row store. Bits come through the same cursor as the baseline decoder's,
// so stuffing, markers and refills behave alike; a block that runs into a
// marker keeps what it held before.
#include "decoder/jpg_block_decode.h"
#include "decoder/jpg_dec_scan.h"

namespace {

// The accumulator width of the processor: one register.
#if UINTPTR_MAX == 0xFFFFFFFFu
using Acc = uint32_t;
#else
using Acc = uint64_t;
#endif
using Bits = JpgHufBits<Acc>;
constexpr int32_t kNeed = kJpgBitsPerSymbol<Acc>;

// A coefficient scaled up by the scan's point transform, as a 16-bit value.
int16_t Scaled(int32_t value, int32_t al) {
    return static_cast<int16_t>(static_cast<uint32_t>(value) << al);
}

int32_t ReadBit(Bits &bits) {
    bits.Need(1);
    const int32_t bit = static_cast<int32_t>(bits.Peek(1));
    bits.Skip(1);
    return bit;
}

// An end-of-band run: 2^r blocks, plus r more bits of count.
int32_t ReadEobRun(Bits &bits, int32_t r) {
    int32_t run = 1 << r;
    if (r > 0) {
        bits.Need(r);
        run += static_cast<int32_t>(bits.Peek(r));
        bits.Skip(r);
    }
    return run;
}

// Correction bit of a coefficient already nonzero: a 1 adds the bit of
// this scan's precision away from zero, unless the coefficient has it.
void Refine(Bits &bits, int16_t *coef, int32_t p1) {
    if (ReadBit(bits) && (*coef & p1) == 0)
        *coef = static_cast<int16_t>(*coef >= 0 ? *coef + p1 : *coef - p1);
}

// The AC table the component names (the scan's SOS made sure it exists).
const uint16_t *AcTable(const JpgHufReader *reader, const JpgDecComponent *comp) {
    return JpgSelectTable(reader->acTables, comp->acTable);
}

// Ends a block whose data ran into a marker: nothing of it is kept, and the
// end-of-band run read from the padding is dropped.
uint32_t FinishBlock(Bits &bits, JpgHufReader *reader) {
    if (bits.Overran())
        reader->eobRun = 0;
    return bits.Finish();
}

} // namespace

extern "C" {

// The first DC scan of a component starts its blocks afresh: the whole block
// is cleared, so the row store holds nothing of the previous MCU row.
uint32_t JpgDecBlockDCFirst(JpgHufReader *reader, int16_t *coef, JpgDecComponent *comp) {
    JpgMemSet(coef, 0, kJpgDecBlockBytes);
    if (reader->marker)
        return 0;
    const uint16_t *table = JpgSelectTable(reader->dcTables, comp->dcTable);
    if (!table)
        return VLTJPG_ERR_DATA;
    Bits bits(reader);
    bits.Need(kNeed);
    int32_t diff = 0;
    if (int32_t s = bits.DecodeSymbol(table)) {
        s = s > kJpgMaxCategory ? kJpgMaxCategory : s;
        diff = JpgReceiveCoefficient(bits, s);
    }
    if (!bits.Overran()) {
        const int16_t dc = static_cast<int16_t>(static_cast<uint16_t>(diff + comp->dcPredictor));
        comp->dcPredictor = dc;
        coef[0] = Scaled(dc, reader->al);
    }
    return FinishBlock(bits, reader);
}

uint32_t JpgDecBlockDCRefine(JpgHufReader *reader, int16_t *coef, JpgDecComponent *comp) {
    (void)comp;
    if (reader->marker)
        return 0;
    const int32_t left = reader->bitsLeft;
    if (left > 0 && left < 8) {
        // The current byte is data an earlier block took in part: its next
        // bit needs no stuffing or marker check, nor the bit cursor.
        if ((*reader->position >> (left - 1)) & 1)
            coef[0] = static_cast<int16_t>(coef[0] | (1 << reader->al));
        reader->bitsLeft = left - 1;
        return 0;
    }
    Bits bits(reader);
    const int32_t bit = ReadBit(bits);
    if (bit && !bits.Overran())
        coef[0] = static_cast<int16_t>(coef[0] | (1 << reader->al));
    return FinishBlock(bits, reader);
}

uint32_t JpgDecBlockACFirst(JpgHufReader *reader, int16_t *coef, JpgDecComponent *comp) {
    if (reader->marker)
        return 0;
    if (reader->eobRun > 0) {
        reader->eobRun -= 1;
        return 0;
    }
    const uint16_t *table = AcTable(reader, comp);
    if (!table)
        return VLTJPG_ERR_DATA;
    const uint8_t *natural = jpg_natural_order;
    Bits bits(reader);
    for (int32_t k = reader->ss; k <= reader->lastIndexKept; ++k) {
        bits.Need(kNeed);
        const int32_t rs = bits.DecodeSymbol(table);
        const int32_t r = rs >> 4;
        const int32_t s = rs & 15;
        if (s) {
            k += r; // a run past the band lands on position 63 through the order's tail
            coef[natural[k]] = Scaled(JpgReceiveCoefficient(bits, s), reader->al);
        } else if (r == 15) {
            k += 15;
        } else {
            reader->eobRun = ReadEobRun(bits, r) - 1; // this block is the run's first
            break;
        }
    }
    if (bits.Overran()) {
        // The band was empty before this scan: clearing it undoes the values
        // decoded from the padding behind the marker.
        for (int32_t k = reader->ss; k <= reader->lastIndexKept; ++k)
            coef[natural[k]] = 0;
    }
    return FinishBlock(bits, reader);
}

uint32_t JpgDecBlockACRefine(JpgHufReader *reader, int16_t *coef, JpgDecComponent *comp) {
    const uint16_t *table = AcTable(reader, comp);
    if (reader->marker || !table)
        return reader->marker ? 0 : VLTJPG_ERR_DATA;
    // No coefficient past `bound` is nonzero: walks stop there.
    const int32_t bound = JpgDecNonzeroBound(coef);
    if (reader->eobRun > 0 && bound == 0) {
        reader->eobRun -= 1; // nothing in the band to refine
        return 0;
    }
    const uint8_t *natural = jpg_natural_order;
    const int32_t se = reader->lastIndexKept;
    const int32_t p1 = 1 << reader->al;
    // Positions this block made nonzero, undone if the data stops inside it.
    uint8_t created[64];
    int32_t createdCount = 0;
    Bits bits(reader);
    int32_t k = reader->ss;
    if (reader->eobRun == 0) {
        for (; k <= se; ++k) {
            bits.Need(kNeed);
            const int32_t rs = bits.DecodeSymbol(table);
            int32_t r = rs >> 4;
            const int32_t s = rs & 15;
            int32_t value = 0;
            if (s == 1) {
                value = ReadBit(bits) ? p1 : -p1;
            } else if (s != 0) {
                if (bits.Overran())
                    break; // decoded from the padding behind a marker
                bits.Finish();
                return VLTJPG_ERR_DATA; // a refinement only ever adds one bit
            } else if (r != 15) {
                reader->eobRun = ReadEobRun(bits, r);
                break;
            }
            // Pass over r zero coefficients (the run), refining the nonzero
            // ones met on the way; a new value goes at the next zero.
            for (; k <= se; ++k) {
                if (k > bound) { // only zeros from here on
                    k += r;
                    break;
                }
                int16_t *c = &coef[natural[k]];
                if (*c != 0)
                    Refine(bits, c, p1);
                else if (r-- == 0)
                    break;
            }
            if (value && k <= se) {
                coef[natural[k]] = static_cast<int16_t>(value);
                created[createdCount++] = natural[k];
            }
        }
    }
    if (reader->eobRun > 0) {
        // Inside an end-of-band run only the nonzero coefficients get bits.
        for (const int32_t last = bound < se ? bound : se; k <= last; ++k) {
            int16_t *c = &coef[natural[k]];
            if (*c != 0)
                Refine(bits, c, p1);
        }
        reader->eobRun -= 1;
    }
    if (bits.Overran()) {
        for (int32_t i = 0; i < createdCount; ++i)
            coef[created[i]] = 0;
    }
    return FinishBlock(bits, reader);
}

} // extern "C"
