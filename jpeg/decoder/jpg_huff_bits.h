// Bit cursor over a Huffman reader's buffer, for one block at a time: the
// unread bits sit at the top of a register-sized accumulator filled several
// bytes at a time, byte stuffing is removed on the way in and a marker stops
// the real data. Keeping the next bits at the top lets a lookup take them
// with a constant shift, so the step from one code to the next is a lookup
// and a shift by the bits it used. Between blocks the reader's own fields
// (position, bits left, bytes left, marker, end flag) hold the whole state;
// Finish() writes it back.
#ifndef QVJPEG_DECODER_JPG_HUFF_BITS_H
#define QVJPEG_DECODER_JPG_HUFF_BITS_H

#include "decoder/jpg_huff_reader.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// Reads sizeof(Acc) bytes as a big-endian number.
template <typename Acc>
inline Acc JpgLoadBigEndian(const uint8_t *p) {
    Acc word;
    std::memcpy(&word, p, sizeof word);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    if constexpr (sizeof(Acc) == 8)
        word = __builtin_bswap64(word);
    else
        word = __builtin_bswap32(word);
#endif
    return word;
}

// True when one of the bytes of `word` is 0xFF.
template <typename Acc>
inline bool JpgHasFFByte(Acc word) {
    constexpr Acc kOnes = static_cast<Acc>(~Acc(0)) / 0xFF;
    const Acc inverted = ~word;
    return ((inverted - kOnes) & ~inverted & (kOnes << 7)) != 0;
}

// `Acc` is the accumulator: uint64_t where registers are 64 bits wide,
// uint32_t on 32-bit processors (where 64-bit shifts cost several
// instructions).
template <typename Acc>
class JpgHufBits {
public:
    static constexpr int32_t kAccBits = 8 * sizeof(Acc);
    // Bits a Fill() guarantees (real or, past the data, zero padding).
    static constexpr int32_t kFilled = kAccBits - 8;

    explicit JpgHufBits(JpgHufReader *reader)
        : reader_(reader), buffer_(reader->buffer), start_(reader->position),
          next_(reader->position), refillPoint_(reader->position + reader->bytesLeft),
          end_(refillPoint_ + reader->tailCount), entryBits_(reader->bitsLeft) {
        const int32_t bits = entryBits_ < 0 ? 0 : (entryBits_ > 8 ? 8 : entryBits_);
        entryBits_ = bits;
        // Usually the current byte and the ones after it hold no 0xFF: take
        // them in one load, leaving the used bits of the current byte above
        // the unread ones, where no peek looks.
        if (end_ - next_ >= static_cast<std::ptrdiff_t>(sizeof(Acc))) {
            const Acc taken = JpgLoadBigEndian<Acc>(next_) >> 8;
            if (!JpgHasFFByte(taken)) {
                acc_ = taken << (16 - bits); // the used bits drop off the top
                bits_ = bits + kAccBits - 16;
                next_ += sizeof(Acc) - 1;
                return;
            }
        }
        if (bits == 8)
            return; // the current byte is whole: the first fill takes it
        // Take the current byte; with 0 bits left it is used up and dropped.
        const int32_t byte = NextByte();
        if (byte >= 0 && bits > 0) {
            acc_ = static_cast<Acc>(byte) << (kAccBits - bits);
            bits_ = bits;
        }
    }

    // True when the block used bits past the end of the data: it ran into a
    // marker (or off the buffered data) and its values are not to be kept.
    bool Overran() const { return bits_ < padding_; }

    // Makes sure at least `count` bits (count <= kFilled) can be read.
    inline void Need(int32_t count) {
        if (bits_ < count)
            Fill();
    }

    // Next Huffman symbol; needs 16 bits available. A code without an entry
    // gives symbol 0 and consumes nothing.
    inline int32_t DecodeSymbol(const uint16_t *table) {
        uint32_t entry = table[Peek(kJpgHufLookupBits)];
        if (entry >= kJpgHufSubTableRef) {
            Skip(kJpgHufLookupBits);
            entry = table[(entry >> 6) + Peek(static_cast<int32_t>(entry & 63))];
        }
        Skip(static_cast<int32_t>(entry & 63));
        return static_cast<int32_t>(entry >> 6);
    }

    // Reads an s-bit magnitude (1 <= s <= 16) and extends its sign
    // (T.81 F.2.2.1): a leading 0 bit means a negative value.
    inline int32_t Receive(int32_t s) {
        const uint32_t mask = (1u << s) - 1;
        const int32_t v = static_cast<int32_t>(Peek(s));
        Skip(s);
        return v - static_cast<int32_t>(static_cast<uint32_t>((v >> (s - 1)) - 1) & mask);
    }

    inline void Skip(int32_t s) {
        acc_ <<= s;
        bits_ -= s;
    }

    // The next `count` bits (1 <= count <= 16) without using them.
    inline uint32_t Peek(int32_t count) const {
        return static_cast<uint32_t>(acc_ >> (kAccBits - count));
    }

    // Ends the block: writes the position of the first unread bit back into
    // the reader and refills it when the refill point was passed. 0, or
    // 0x8010 when the block needed more data than the stream holds.
    uint32_t Finish() {
        JpgHufReader *r = reader_;
        if (Overran()) {
            if (!markerAt_) {
                // The data ended without a marker: nothing sound remains.
                r->endFlag = 1;
                r->position = const_cast<uint8_t *>(end_);
                r->bitsLeft = 8;
                r->bytesLeft = static_cast<int32_t>(refillPoint_ - end_);
                return VLTJPG_ERR_DATA;
            }
            // The block reached into a marker: leave it pending, with the
            // reader on the byte after it.
            r->marker = markerAt_[1];
            r->position = const_cast<uint8_t *>(markerAt_ + 2);
            r->bitsLeft = 8;
        } else if (next_ == start_) {
            r->bitsLeft = entryBits_; // no byte was taken
        } else {
            GiveBack(bits_ - padding_);
        }
        r->bytesLeft = static_cast<int32_t>(refillPoint_ - r->position);
        if (r->bytesLeft > 0 || !r->refill)
            return 0;
        r->refill(r);
        return (r->bytesLeft < 0 && r->endFlag) ? VLTJPG_ERR_DATA : 0;
    }

private:
    // Tops the accumulator up: several bytes at once while no 0xFF is among
    // them, byte by byte otherwise.
    inline void Fill() {
        if (end_ - next_ >= static_cast<int32_t>(sizeof(Acc))) {
            const int32_t count = (kAccBits - 1 - bits_) >> 3;
            const Acc taken = JpgLoadBigEndian<Acc>(next_) >> (kAccBits - 8 * count);
            if (!JpgHasFFByte(taken)) {
                acc_ |= taken << (kAccBits - 8 * count - bits_);
                bits_ += 8 * count;
                next_ += count;
                return;
            }
        }
        SlowFill();
    }

    __attribute__((noinline)) void SlowFill() {
        while (bits_ <= kAccBits - 8) {
            const int32_t byte = NextByte();
            if (byte < 0) {
                // No more real data: pad with zero bits (the accumulator
                // holds zeros below its unread bits), counted apart so that
                // Finish() can tell whether the block used them.
                const int32_t count = (kAccBits - 1 - bits_) >> 3;
                bits_ += 8 * count;
                padding_ += 8 * count;
                return;
            }
            acc_ |= static_cast<Acc>(byte) << (kAccBits - 8 - bits_);
            bits_ += 8;
        }
    }

    // The next data byte with stuffing removed, or -1 at a marker or at the
    // end of the data.
    int32_t NextByte() {
        if (stopped_)
            return -1;
        if (next_ >= end_ && !RefillInside())
            return Stop();
        const int32_t byte = *next_;
        if (byte != 0xFF) {
            ++next_;
            return byte;
        }
        // 0xFF 0x00 is a data 0xFF; 0xFF before anything else starts a
        // marker, possibly after fill bytes (0xFF 0xFF ...). Fill bytes are
        // looked at, not taken, so next_ stays after the last data byte.
        std::ptrdiff_t fill = 0;
        for (;;) {
            if (next_ + fill + 1 >= end_ && !RefillInside())
                return Stop();
            const uint8_t follower = next_[fill + 1];
            if (follower == 0x00) {
                next_ += fill + 2; // stray fill bytes before a data 0xFF are dropped
                stuffed_ = true;
                return 0xFF;
            }
            if (follower != 0xFF)
                break;
            ++fill;
        }
        markerAt_ = next_ + fill;
        return Stop();
    }

    int32_t Stop() {
        stopped_ = true;
        return -1;
    }

    // Refill in the middle of a block whose data runs past the slack: the
    // reader moves the unread tail to the front of its buffer and reads
    // behind it; the cursor follows the move.
    bool RefillInside() {
        JpgHufReader *r = reader_;
        if (r->endFlag || !r->refill || next_ < refillPoint_)
            return false;
        r->position = const_cast<uint8_t *>(next_);
        r->bytesLeft = static_cast<int32_t>(refillPoint_ - next_);
        if (r->refill(r) != 0)
            return false;
        const std::ptrdiff_t shift = r->position - next_;
        const std::ptrdiff_t startOffset = (start_ - buffer_) + shift;
        start_ = buffer_ + (startOffset > 0 ? startOffset : 0);
        next_ = r->position;
        refillPoint_ = r->position + r->bytesLeft;
        end_ = refillPoint_ + r->tailCount;
        return true;
    }

    // The data byte taken before `p`, stepping over a stuffed zero.
    const uint8_t *PreviousByte(const uint8_t *p) const {
        if (p - 1 > start_ && p[-1] == 0x00 && p[-2] == 0xFF)
            return p - 2;
        return p - 1;
    }

    // Returns the whole unread bytes: the reader ends on the byte holding
    // the next unread bit, with 0..8 bits left in it.
    void GiveBack(int32_t unread) {
        if (!stuffed_) {
            // No stuffed byte was taken: the bytes step back one for one.
            const uint8_t *p = next_ - 1;
            const std::ptrdiff_t steps =
                unread > 8 ? std::min<std::ptrdiff_t>((unread - 1) / 8, p - start_) : 0;
            reader_->position = const_cast<uint8_t *>(p - steps);
            reader_->bitsLeft = unread - static_cast<int32_t>(8 * steps);
            return;
        }
        const uint8_t *p = PreviousByte(next_);
        while (unread > 8 && p > start_) {
            p = PreviousByte(p);
            unread -= 8;
        }
        reader_->position = const_cast<uint8_t *>(p);
        reader_->bitsLeft = unread;
    }

    JpgHufReader *reader_;
    const uint8_t *buffer_;
    const uint8_t *start_;       // first byte this block may give back to
    const uint8_t *next_;        // next byte to take
    const uint8_t *refillPoint_;
    const uint8_t *end_;         // end of the valid bytes
    const uint8_t *markerAt_ = nullptr; // 0xFF of the marker that stopped the data
    Acc acc_ = 0;                // unread bits at the top, zeros below them
    int32_t bits_ = 0;           // number of unread bits
    int32_t padding_ = 0;        // zero bits appended past the data, at the low end
    int32_t entryBits_;
    bool stopped_ = false;
    bool stuffed_ = false;       // a stuffed 0xFF 0x00 pair was taken
};

} // namespace

#endif
