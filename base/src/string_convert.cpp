// Character conversion: byte strings <-> 16-bit units, 16-bit units <->
// UTF-8, and libc wide strings <-> multi-byte strings in the process locale.
#include "qvbase.h"

#include <cstdlib>

namespace {

// No destination limit when only measuring.
constexpr uint32_t kMeasureLimit = 0x7FFFFFFF;
constexpr uint32_t kInvalidInput = 0xFFFFFFFFu;

void storeUnit(MWChar &dst, char byte) { dst = static_cast<unsigned char>(byte); }
void storeUnit(char &dst, MWChar unit) { dst = static_cast<char>(unit & 0xFF); }

// Copies unit by unit until the terminator or until only the terminator's
// slot is left, then terminates. Returns the units written with the
// terminator.
template <typename From, typename To> uint32_t convertUnits(const From *src, To *dst, uint32_t dstCount) {
    if (!src || !dst || dstCount == 0)
        return 0;
    uint32_t i = 0;
    for (; i + 1 < dstCount && src[i] != 0; ++i)
        storeUnit(dst[i], src[i]);
    dst[i] = 0;
    return i + 1;
}

// A failed conversion leaves an empty string, so that its result 0 reads
// the same as the conversion of an empty source.
template <typename Unit> uint32_t emptyResult(Unit *dst, uint32_t dstCount) {
    if (dst && dstCount > 0)
        dst[0] = 0;
    return 0;
}

uint32_t utf8Length(MWChar unit) { return unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3; }

void encodeUtf8(MWChar unit, uint32_t length, char *out) {
    auto byte = [](uint32_t value) { return static_cast<char>(value); };
    if (length == 1) {
        out[0] = byte(unit);
    } else if (length == 2) {
        out[0] = byte(0xC0 | (unit >> 6));
        out[1] = byte(0x80 | (unit & 0x3F));
    } else {
        out[0] = byte(0xE0 | (unit >> 12));
        out[1] = byte(0x80 | ((unit >> 6) & 0x3F));
        out[2] = byte(0x80 | (unit & 0x3F));
    }
}

// Decodes the 1-3 byte sequence at `s` into one unit and returns the bytes
// it spans; 0 for a lead byte that starts no such sequence, or a sequence
// that the terminator cuts short. Continuation bytes contribute their low
// six bits without being checked further.
uint32_t decodeUtf8(const unsigned char *s, MWChar *unit) {
    uint32_t length;
    uint32_t value;
    if (s[0] < 0x80) {
        length = 1;
        value = s[0];
    } else if ((s[0] & 0xE0) == 0xC0) {
        length = 2;
        value = s[0] & 0x1F;
    } else if ((s[0] & 0xF0) == 0xE0) {
        length = 3;
        value = s[0] & 0x0F;
    } else {
        return 0;
    }
    for (uint32_t i = 1; i < length; ++i) {
        if (s[i] == 0)
            return 0;
        value = (value << 6) | (s[i] & 0x3F);
    }
    *unit = static_cast<MWChar>(value);
    return length;
}

} // namespace

extern "C" {

uint32_t MCharToWChar(const char *src, MWChar *dst, uint32_t dstCount) {
    return convertUnits(src, dst, dstCount);
}

uint32_t MWCharToChar(const MWChar *src, char *dst, uint32_t dstCount) {
    return convertUnits(src, dst, dstCount);
}

uint32_t MUnicodeToUTF8(const MWChar *src, char *dst, uint32_t dstSize) {
    uint32_t limit = dst ? dstSize : kMeasureLimit;
    if (!src || limit == 0)
        return emptyResult(dst, dstSize);
    uint32_t total = 0;
    for (; *src; ++src) {
        uint32_t length = utf8Length(*src);
        if (total + length >= limit) // no room left for the terminator
            return emptyResult(dst, dstSize);
        if (dst)
            encodeUtf8(*src, length, dst + total);
        total += length;
    }
    if (dst)
        dst[total] = 0;
    return total;
}

uint32_t MUTF8ToUnicode(const char *src, MWChar *dst, uint32_t dstCount) {
    uint32_t limit = dst ? dstCount : kMeasureLimit;
    if (!src || *src == 0 || limit < 2)
        return emptyResult(dst, dstCount);
    auto *bytes = reinterpret_cast<const unsigned char *>(src);
    uint32_t count = 0;
    for (;;) {
        MWChar unit;
        uint32_t length = decodeUtf8(bytes, &unit);
        if (length == 0) {
            // Keep the units converted so far, terminated.
            if (dst)
                dst[count] = 0;
            return kInvalidInput;
        }
        if (dst)
            dst[count] = unit;
        ++count;
        bytes += length;
        if (*bytes == 0)
            break;
        if (count + 1 >= limit) // the next unit and the terminator do not fit
            return emptyResult(dst, dstCount);
    }
    if (dst)
        dst[count] = 0;
    return count;
}

uint32_t MWideCharToMultiByte(uint32_t, const wchar_t *src, int32_t, char *dst, uint32_t dstSize) {
    return static_cast<uint32_t>(std::wcstombs(dst, src, dstSize));
}

uint32_t MMultiByteToWideChar(uint32_t, const char *src, int32_t, wchar_t *dst, uint32_t dstCount) {
    return static_cast<uint32_t>(std::mbstowcs(dst, src, dstCount));
}

} // extern "C"
