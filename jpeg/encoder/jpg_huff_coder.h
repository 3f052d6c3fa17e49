// Building blocks of the Huffman block coders (JpgEncBlock and its
// processor-specific twin): a bit accumulator kept in a register for the
// length of a block, and the coding of one block over it. The two coders
// instantiate the same template with different policies (accumulator width,
// how the non-zero coefficients are found, how a value's category is found,
// how completed bytes are stored), so there is one coding algorithm.
//
// Internal to the block coders: everything here has internal linkage.
#ifndef QVJPEG_ENCODER_JPG_HUFF_CODER_H
#define QVJPEG_ENCODER_JPG_HUFF_CODER_H

#include "encoder/jpg_bit_writer.h"
#include "encoder/jpg_encoder.h"

#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Stores one completed byte of coded data, followed by a stuffed 0x00 when
// it is 0xFF. The zero is always written and kept only after a 0xFF, which
// makes stuffing free of branches; the byte after the advanced pointer is
// provisional and overwritten by the next store.
inline uint8_t *PutStuffedByte(uint8_t *out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = 0;
    return out + 1 + (static_cast<uint8_t>(value) == 0xFF);
}

// True when one of the bytes of `word` is 0xFF: only an 0xFF byte turns into
// one with its top bit clear when 1 is added to every byte (a carry into a
// byte comes only from an 0xFF byte below it).
template <typename Word>
inline bool HasFFByte(Word word) {
    constexpr Word kOnes = static_cast<Word>(~Word(0)) / 0xFF;  // 0x0101...
    constexpr Word kTops = kOnes << 7;                           // 0x8080...
    return (word & kTops & ~(word + kOnes)) != 0;
}

inline uint32_t ByteSwap(uint32_t word) { return __builtin_bswap32(word); }
inline uint64_t ByteSwap(uint64_t word) { return __builtin_bswap64(word); }

// Stores `count` completed bytes from the top of a 32-bit word, stuffed.
inline uint8_t *PutStuffedBytes(uint8_t *out, uint32_t bits, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i, bits <<= 8) {
        out = PutStuffedByte(out, bits >> 24);
    }
    return out;
}

// The same with the count fixed, for the bit writer's byte emitters.
template <int kCount>
uint8_t *EmitStuffedBytes(uint8_t *out, uint32_t bits) {
    return PutStuffedBytes(out, bits, kCount);
}

// Completed bytes leave the accumulator through a store policy:
// InlineStore stores them byte by byte here; EmitterStore goes through the
// bit writer's byte emitters, up to three bytes per call.
struct InlineStore {
    explicit InlineStore(const JpgBitWriter *) {}
    uint8_t *Put(uint8_t *out, uint32_t top, uint32_t count) const {
        return PutStuffedBytes(out, top, count);
    }
};

struct EmitterStore {
    explicit EmitterStore(const JpgBitWriter *writer) : emit(writer->emitBytes) {}
    uint8_t *Put(uint8_t *out, uint32_t top, uint32_t count) const {
        return count == 0 ? out : emit[count - 1](out, top);
    }
    const JpgHufByteEmitter *emit;
};

// Bits waiting for a whole accumulator word: `bits` holds `kWidth - free`
// pending bits right-aligned (above them may lie leftovers of a code that
// straddled the last word; shifting pushes them out before they count).
template <typename Word, typename Store>
struct BitSink {
    static constexpr uint32_t kWidth = 8 * sizeof(Word);

    explicit BitSink(JpgBitWriter *writer)
        : store(writer), out(writer->writePtr), free(kWidth - writer->bitsUsed) {
        // The partial byte at the write pointer carries its bits at the top.
        bits = writer->bitsUsed ? (*writer->writePtr >> (8 - writer->bitsUsed)) : 0;
    }

    // Appends the low `length` (1..27) bits of `code`, which has no bits
    // above them.
    inline void Put(uint32_t code, uint32_t length) {
        if (length < free) {
            bits = (bits << length) | code;
            free -= length;
            return;
        }
        uint32_t spill = length - free;
        StoreWord((bits << free) | (code >> spill));
        bits = code;
        free = kWidth - spill;
    }

    // Stores the completed bytes, leaves the partial byte at the write
    // pointer, and returns the bytes the write pointer advanced by.
    int32_t Finish(JpgBitWriter *writer) {
        uint32_t pending = kWidth - free;
        uint32_t whole = pending >> 3;
        uint32_t partial = pending & 7;
        Word top = pending ? static_cast<Word>(bits << free) : 0;
        // Usually no completed byte is 0xFF: one store writes them (the
        // bytes behind them are provisional).
        Word completed = top & static_cast<Word>(~(~Word(0) >> (8 * whole)));
        if (!HasFFByte(completed)) {
            Word bigEndian = ByteSwap(top);
            std::memcpy(out, &bigEndian, sizeof(Word));
            out += whole;
            top = static_cast<Word>(top << (8 * whole));
            whole = 0;
        }
        while (whole > 0) {
            uint32_t count = whole < 3 ? whole : 3;
            out = store.Put(out, static_cast<uint32_t>(top >> (kWidth - 32)), count);
            top = static_cast<Word>(top << (8 * count));
            whole -= count;
        }
        if (partial) {
            *out = static_cast<uint8_t>(top >> (kWidth - 8));
        }
        int32_t advanced = static_cast<int32_t>(out - writer->writePtr);
        writer->writePtr = out;
        writer->bitsUsed = partial;
        return advanced;
    }

  private:
    // A word without an 0xFF byte goes out in one store; otherwise byte by
    // byte with stuffing.
    inline void StoreWord(Word word) {
        if (__builtin_expect(!HasFFByte(word), 1)) {
            Word bigEndian = ByteSwap(word);
            std::memcpy(out, &bigEndian, sizeof(Word));
            out += sizeof(Word);
            return;
        }
        out = StoreStuffedWord(out, word);
    }

    static uint8_t *StoreStuffedWord(uint8_t *out, Word word) {
        for (uint32_t shift = kWidth; shift > 0; shift -= 8) {
            out = PutStuffedByte(out, static_cast<uint32_t>(word >> (shift - 8)) & 0xFF);
        }
        return out;
    }

    Store store;
    uint8_t *out;
    Word bits;
    uint32_t free;
};

// Magnitude and the extra bits of a signed value: the low bits of v, or of
// v - 1 when v is negative.
struct SignedValue {
    explicit SignedValue(int32_t v) {
        int32_t negative = v >> 31;
        sign = static_cast<uint32_t>(negative);
        magnitude = static_cast<uint32_t>((v ^ negative) - negative);
        extraBits = static_cast<uint32_t>(v + negative);
    }
    uint32_t sign;  // all ones for a negative value, else 0
    uint32_t magnitude;
    uint32_t extraBits;
};

// Category by the bit-count table (five bits at a time).
struct TableCategory {
    explicit TableCategory(const JpgBitWriter *writer) : counts(writer->bitCounts) {}
    uint32_t operator()(uint32_t magnitude) const {
        uint32_t category = 0;
        while (magnitude > 31) {
            magnitude >>= 5;
            category += 5;
        }
        return category + counts[magnitude];
    }
    uint32_t NonZero(uint32_t magnitude) const { return (*this)(magnitude); }
    const uint8_t *counts;
};

// Category by counting leading zeros (one instruction on ARMv5 and later;
// on x86 the index of the top bit, which 31 ^ clz lets the compiler use).
struct ClzCategory {
    explicit ClzCategory(const JpgBitWriter *) {}
    uint32_t operator()(uint32_t magnitude) const { return magnitude ? NonZero(magnitude) : 0; }
    uint32_t NonZero(uint32_t magnitude) const {
#if defined(__arm__)
        return 32 - static_cast<uint32_t>(__builtin_clz(magnitude));
#else
        return (31 ^ static_cast<uint32_t>(__builtin_clz(magnitude))) + 1;
#endif
    }
};

// Scan policies find the non-zero AC coefficients of zigzag positions
// 1..last in order: each call of Next(run, v) yields the number of zeros
// before the next one and its value, false when there is none; Last() is
// the position of the coefficient yielded last (0 before the first).

// Position by position, as the zigzag order runs.
class LinearScan {
  public:
    LinearScan(const int16_t *block, const uint8_t *zigzag, uint32_t last)
        : block_(block), zigzag_(zigzag), last_(last) {}
    bool Next(uint32_t &run, int32_t &v) {
        for (uint32_t k = k_ + 1; k <= last_; ++k) {
            v = block_[zigzag_[k]];
            if (v != 0) {
                run = k - k_ - 1;
                k_ = k;
                return true;
            }
        }
        return false;
    }
    uint32_t Last() const { return k_; }

  private:
    const int16_t *block_;
    const uint8_t *zigzag_;
    uint32_t last_;
    uint32_t k_ = 0;
};

// Mask scans first gather one bit per non-zero coefficient without a
// branch, then jump from one set bit to the next, so runs of zeros cost
// nothing and no branch depends on the data of a zero coefficient.

// Natural index -> zigzag position, by walking the anti-diagonals.
struct ZigzagPositions {
    uint8_t of[64];
};
constexpr ZigzagPositions MakeZigzagPositions() {
    ZigzagPositions table{};
    int position = 0;
    for (int diagonal = 0; diagonal < 15; ++diagonal) {
        for (int i = 0; i <= diagonal; ++i) {
            // Odd diagonals run down the rows, even ones up.
            int row = (diagonal & 1) ? i : diagonal - i;
            int column = diagonal - row;
            if (row < 8 && column < 8) table.of[8 * row + column] = static_cast<uint8_t>(position++);
        }
    }
    return table;
}

// Zigzag position -> natural index (the inverse of the table above).
struct NaturalOrder {
    uint8_t of[64];
};
constexpr NaturalOrder MakeNaturalOrder() {
    constexpr ZigzagPositions kPositions = MakeZigzagPositions();
    NaturalOrder table{};
    for (int i = 0; i < 64; ++i) table.of[kPositions.of[i]] = static_cast<uint8_t>(i);
    return table;
}
// A constant of the coder's own, so its address needs no register.
constexpr NaturalOrder kNaturalOrder = MakeNaturalOrder();

#if defined(__SSE2__)
// [row][bits of the non-zero columns of that row] -> the same coefficients
// as bits of a zigzag-ordered mask.
struct ZigzagRowBits {
    uint64_t rows[8][256];
};
constexpr ZigzagRowBits MakeZigzagRowBits() {
    constexpr ZigzagPositions kPositions = MakeZigzagPositions();
    ZigzagRowBits table{};
    for (int row = 0; row < 8; ++row) {
        for (int columns = 0; columns < 256; ++columns) {
            uint64_t bits = 0;
            for (int column = 0; column < 8; ++column) {
                if ((columns >> column) & 1) bits |= uint64_t(1) << kPositions.of[8 * row + column];
            }
            table.rows[row][columns] = bits;
        }
    }
    return table;
}

// Bit k - 1 of a 64-bit mask for position k, the lowest bit cleared as
// each position is yielded, so counting trailing zeros gives it (64-bit
// hosts with SSE2). The mask is formed in natural order, then moved to
// zigzag positions by a table lookup per row of eight coefficients.
class RowTableMaskScan {
  public:
    RowTableMaskScan(const int16_t *block, const uint8_t *, uint32_t last)
        : block_(block), mask_((ZigzagMask(block) & ((uint64_t(2) << last) - 2)) >> 1) {}
    bool Next(uint32_t &run, int32_t &v) {
        if (mask_ == 0) return false;
        uint32_t k = static_cast<uint32_t>(__builtin_ctzll(mask_)) + 1;
        mask_ &= mask_ - 1;
        run = k - k_ - 1;
        k_ = k;
        v = block_[kNaturalOrder.of[k]];
        return true;
    }
    uint32_t Last() const { return k_; }

  private:
    static constexpr ZigzagRowBits kRowBits = MakeZigzagRowBits();

    static uint64_t ZigzagMask(const int16_t *block) {
        uint64_t natural = NaturalMask(block);
        uint64_t mask = 0;
        for (int row = 0; row < 8; ++row) {
            mask |= kRowBits.rows[row][(natural >> (8 * row)) & 0xFF];
        }
        return mask;
    }

    // Bit i set when coefficient i (natural order) is not zero: compares of
    // eight coefficients at a time, packed to bytes, their top bits
    // gathered sixteen at a time.
    static uint64_t NaturalMask(const int16_t *block) {
        const __m128i zero = _mm_setzero_si128();
        uint64_t natural = 0;
        for (int i = 0; i < 4; ++i) {
            __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i *>(block + 16 * i));
            __m128i second =
                _mm_loadu_si128(reinterpret_cast<const __m128i *>(block + 16 * i + 8));
            __m128i zeros = _mm_packs_epi16(_mm_cmpeq_epi16(first, zero),
                                            _mm_cmpeq_epi16(second, zero));
            uint32_t nonzero = ~static_cast<uint32_t>(_mm_movemask_epi8(zeros)) & 0xFFFF;
            natural |= static_cast<uint64_t>(nonzero) << (16 * i);
        }
        return natural;
    }

    const int16_t *block_;
    uint64_t mask_;
    uint32_t k_ = 0;
};
#endif

// Two 32-bit masks, position k at bit 31 - (k mod 32), found by counting
// leading zeros: 32-bit registers and the CLZ instruction of ARMv5, which
// has no instruction for trailing zeros; also the portable choice.
class MsbMaskScan {
  public:
    MsbMaskScan(const int16_t *block, const uint8_t *, uint32_t last) : block_(block) {
        for (uint32_t k = 1; k < 32; ++k) {
            low_ |= static_cast<uint32_t>(block[kNaturalOrder.of[k]] != 0) << (31 - k);
        }
        for (uint32_t k = 32; k < 64; ++k) {
            high_ |= static_cast<uint32_t>(block[kNaturalOrder.of[k]] != 0) << (63 - k);
        }
        if (last < 32) {
            low_ &= ~(0x7FFFFFFFu >> last);  // positions 0..last
            high_ = 0;
        } else {
            high_ &= ~(0x7FFFFFFFu >> (last - 32));
        }
    }
    bool Next(uint32_t &run, int32_t &v) {
        if (low_ == 0) {
            if (high_ == 0) return false;
            low_ = high_;
            high_ = 0;
            base_ = 32;
        }
        uint32_t bit = static_cast<uint32_t>(__builtin_clz(low_));
        low_ ^= 0x80000000u >> bit;
        uint32_t k = base_ + bit;
        run = k - k_ - 1;
        k_ = k;
        v = block_[kNaturalOrder.of[k]];
        return true;
    }
    uint32_t Last() const { return k_; }

  private:
    const int16_t *block_;
    uint32_t low_ = 0;
    uint32_t high_ = 0;
    uint32_t base_ = 0;
    uint32_t k_ = 0;
};

enum : vltJpgResult { kCodeOk = VLTJPG_OK, kCodeMissing = VLTJPG_ERR_CATEGORY };

// Codes the symbols of one block into a sink.
template <typename Sink, typename Category>
class BlockCoder {
  public:
    BlockCoder(Sink &sink, const Category &category, const JpgHuffCode *dc,
               const JpgHuffCode *ac)
        : sink_(sink), category_(category), dc_(dc), ac_(ac) {}

    vltJpgResult Dc(int32_t diff) {
        SignedValue value(diff);
        uint32_t size = category_(value.magnitude);
        if (size > kJpgMaxDcCategory || dc_[size].length == 0) {
            return kCodeMissing;
        }
        PutWithExtra(dc_[size], value, size);
        return kCodeOk;
    }

    // A non-zero AC value after `run` zeros.
    vltJpgResult Ac(uint32_t run, int32_t v) {
        if (__builtin_expect(run > 15, 0)) {
            if (!PutZeroRuns(run >> 4)) {
                return kCodeMissing;
            }
            run &= 15;
        }
        SignedValue value(v);
        uint32_t size = category_.NonZero(value.magnitude);
        // Sizes above 10 have no code in a derived table (its builder gives
        // them none).
        if (__builtin_expect(size > kJpgMaxAcCategory, 0)) {
            return kCodeMissing;
        }
        const JpgHuffCode entry = ac_[(run << 4) | size];
        if (entry.length == 0) {
            return kCodeMissing;
        }
        PutWithExtra(entry, value, size);
        return kCodeOk;
    }

    vltJpgResult EndOfBlock() {
        const JpgHuffCode &eob = ac_[0x00];
        if (eob.length == 0) {
            return kCodeMissing;
        }
        sink_.Put(eob.code, eob.length);
        return kCodeOk;
    }

  private:
    // `count` ZRL symbols, each for sixteen zeros.
    bool PutZeroRuns(uint32_t count) {
        const JpgHuffCode zrl = ac_[0xF0];
        if (zrl.length == 0) {
            return false;
        }
        for (; count != 0; --count) {
            sink_.Put(zrl.code, zrl.length);
        }
        return true;
    }

    // The code followed by the value's `size` extra bits. For a negative
    // value the extra bits are v - 1 + 2^size, so code << size plus them is
    // (code + 1) << size plus v - 1: no mask is needed.
    inline void PutWithExtra(const JpgHuffCode &entry, const SignedValue &value, uint32_t size) {
        uint32_t code = ((entry.code - value.sign) << size) + value.extraBits;
        sink_.Put(code, entry.length + size);
    }

    Sink &sink_;
    const Category &category_;
    const JpgHuffCode *dc_;
    const JpgHuffCode *ac_;
};

// The symbols of one block into a coder: DC difference, AC run/size
// symbols, end of block. Sets *lastCoded to the last position coded.
template <typename Coder, typename Scan>
vltJpgResult CodeBlockSymbols(Coder &coder, const JpgBitWriter *writer, const int16_t *block,
                              int32_t diff, uint32_t *lastCoded) {
    *lastCoded = 0;
    vltJpgResult result = coder.Dc(diff);
    if (result == kCodeOk) {
        Scan scan(block, writer->zigzag, writer->spectralEnd < 63 ? writer->spectralEnd : 63);
        uint32_t run;
        int32_t v;
        while (scan.Next(run, v) && (result = coder.Ac(run, v)) == kCodeOk) {
        }
        *lastCoded = scan.Last();
    }
    // Position 63 coded ends the block by itself; anything else needs EOB.
    if (result == kCodeOk && *lastCoded != 63) {
        result = coder.EndOfBlock();
    }
    return result;
}

// The whole block: its symbols, then the due-flush test. On a value the
// tables cannot code the bits coded so far stay in the buffer and the
// block ends with 0x8004.
template <typename Sink, typename Category, typename Scan>
vltJpgResult EncodeBlock(JpgBitWriter *writer, const int16_t *block, JpgEncComponent *component) {
    Sink sink(writer);
    Category category(writer);
    BlockCoder<Sink, Category> coder(sink, category, writer->dcCodes[component->dcSelector & 3],
                                     writer->acCodes[component->acSelector & 3]);
    int32_t diff = block[0] - component->dcPredictor;
    component->dcPredictor = block[0];
    uint32_t lastCoded = 0;
    vltJpgResult result = CodeBlockSymbols<BlockCoder<Sink, Category>, Scan>(coder, writer, block,
                                                                              diff, &lastCoded);
    component->lastNonzero = lastCoded;
    writer->remaining -= sink.Finish(writer);
    if (writer->remaining <= 0) {
        vltJpgResult flushed = JpgHufFlush(writer);
        return result != kCodeOk ? result : flushed;
    }
    return result;
}

} // namespace

#endif
