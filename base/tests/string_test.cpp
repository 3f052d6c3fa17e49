// Byte and 16-bit conversions, UTF-8 in both directions at their limits,
// ASCII case mapping and the libc string wrappers.
#include "qvbase.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Units = std::vector<MWChar>;

Units units(std::initializer_list<MWChar> list) { return Units(list); }

// The first `count` units of `buffer`.
Units head(const MWChar *buffer, size_t count) { return Units(buffer, buffer + count); }

std::string utf8Of(const Units &source, uint32_t dstSize, uint32_t *result) {
    Units terminated = source;
    terminated.push_back(0);
    std::vector<char> out(dstSize + 1, '#'); // '#' marks bytes never written
    *result = MUnicodeToUTF8(terminated.data(), out.data(), dstSize);
    return std::string(out.data(), out.size());
}

// ---- Byte string <-> 16-bit units ----

TEST(CharToWChar, CopiesWithTerminatorWithinTheCount) {
    MWChar out[10];
    EXPECT_EQ(MCharToWChar("abc", out, 10), 4u);
    EXPECT_EQ(head(out, 4), units({'a', 'b', 'c', 0}));
    EXPECT_EQ(MCharToWChar("abc", out, 3), 3u);
    EXPECT_EQ(head(out, 3), units({'a', 'b', 0}));
    EXPECT_EQ(MCharToWChar("\xE9\xFF", out, 10), 3u); // bytes are zero-extended
    EXPECT_EQ(head(out, 3), units({0xE9, 0xFF, 0}));
    EXPECT_EQ(MCharToWChar("", out, 10), 1u);
    EXPECT_EQ(out[0], 0);
}

TEST(CharToWChar, TinyCountsAndNullArguments) {
    MWChar out[2] = {0x1111, 0x2222};
    EXPECT_EQ(MCharToWChar("abc", out, 1), 1u);
    EXPECT_EQ(head(out, 2), units({0, 0x2222}));
    out[0] = 0x1111;
    EXPECT_EQ(MCharToWChar("abc", out, 0), 0u); // nothing written, nothing counted
    EXPECT_EQ(out[0], 0x1111);
    EXPECT_EQ(MCharToWChar(nullptr, out, 2), 0u);
    EXPECT_EQ(MCharToWChar("abc", nullptr, 2), 0u);
}

TEST(WCharToChar, KeepsTheLowByteOfEachUnit) {
    const MWChar source[] = {'h', 0x1234, 0x00E9, 'i', 0};
    char out[8];
    EXPECT_EQ(MWCharToChar(source, out, 8), 5u);
    EXPECT_EQ(std::string(out), "h\x34\xE9i");
    EXPECT_EQ(MWCharToChar(source, out, 2), 2u);
    EXPECT_EQ(std::string(out), "h");
    out[0] = 'x';
    EXPECT_EQ(MWCharToChar(source, out, 0), 0u);
    EXPECT_EQ(out[0], 'x');
}

// ---- 16-bit units -> UTF-8 ----

TEST(UnicodeToUTF8, EncodesEachLengthAtItsBoundaries) {
    uint32_t result;
    EXPECT_EQ(utf8Of({0x7F}, 8, &result).substr(0, 2), std::string("\x7F\0", 2));
    EXPECT_EQ(result, 1u);
    EXPECT_EQ(utf8Of({0x80}, 8, &result).substr(0, 3), std::string("\xC2\x80\0", 3));
    EXPECT_EQ(result, 2u);
    EXPECT_EQ(utf8Of({0x7FF}, 8, &result).substr(0, 2), "\xDF\xBF");
    EXPECT_EQ(result, 2u);
    EXPECT_EQ(utf8Of({0x800}, 8, &result).substr(0, 3), "\xE0\xA0\x80");
    EXPECT_EQ(result, 3u);
    EXPECT_EQ(utf8Of({0x20AC}, 8, &result).substr(0, 4), std::string("\xE2\x82\xAC\0", 4));
    EXPECT_EQ(result, 3u);
    EXPECT_EQ(utf8Of({0xFFFF}, 8, &result).substr(0, 3), "\xEF\xBF\xBF");
    EXPECT_EQ(utf8Of({'a', 0xE9, 0x20AC}, 8, &result).substr(0, 7), std::string("a\xC3\xA9\xE2\x82\xAC\0", 7));
    EXPECT_EQ(result, 6u);
}

TEST(UnicodeToUTF8, EncodesSurrogatesOneUnitAtATime) {
    uint32_t result;
    // U+1F600 as a surrogate pair: each half gets its own 3-byte form.
    EXPECT_EQ(utf8Of({0xD83D, 0xDE00}, 8, &result).substr(0, 6), "\xED\xA0\xBD\xED\xB8\x80");
    EXPECT_EQ(result, 6u);
}

TEST(UnicodeToUTF8, NeedsRoomForTheTerminator) {
    uint32_t result;
    std::string out = utf8Of({0x20AC}, 3, &result);
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(out[0], '\0'); // an empty string, not a partial one
    EXPECT_EQ(out[3], '#');  // nothing beyond dstSize
    out = utf8Of({'a', 'b', 'c'}, 3, &result);
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(out.substr(0, 1), std::string(1, '\0'));
    out = utf8Of({'a', 'b', 'c'}, 4, &result);
    EXPECT_EQ(result, 3u);
    EXPECT_EQ(out.substr(0, 5), std::string("abc\0#", 5));
}

TEST(UnicodeToUTF8, EmptySourcesZeroSizesAndMeasuring) {
    uint32_t result;
    EXPECT_EQ(utf8Of({}, 1, &result).substr(0, 2), std::string("\0#", 2));
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(utf8Of({}, 0, &result)[0], '#'); // no room even for the terminator
    EXPECT_EQ(utf8Of({'a'}, 0, &result)[0], '#');
    const MWChar text[] = {'a', 0x100, 0x1000, 0};
    EXPECT_EQ(MUnicodeToUTF8(text, nullptr, 0), 6u);
    EXPECT_EQ(MUnicodeToUTF8(nullptr, nullptr, 0), 0u);
}

// ---- UTF-8 -> 16-bit units ----

TEST(UTF8ToUnicode, DecodesOneToThreeByteSequences) {
    MWChar out[8];
    EXPECT_EQ(MUTF8ToUnicode("\xC3\xA9", out, 8), 1u);
    EXPECT_EQ(head(out, 2), units({0xE9, 0}));
    EXPECT_EQ(MUTF8ToUnicode("a\xE2\x82\xAC" "b\xDF\xBF", out, 8), 4u);
    EXPECT_EQ(head(out, 5), units({'a', 0x20AC, 'b', 0x7FF, 0}));
    // Continuation bytes are only masked, not checked.
    EXPECT_EQ(MUTF8ToUnicode("\xC3\x29", out, 8), 1u);
    EXPECT_EQ(out[0], 0xE9);
}

TEST(UTF8ToUnicode, RejectsLeadBytesOfNoOneToThreeByteSequence) {
    MWChar out[8] = {};
    EXPECT_EQ(MUTF8ToUnicode("\xF0\x9F\x98\x80", out, 8), 0xFFFFFFFFu);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(MUTF8ToUnicode("\x80", out, 8), 0xFFFFFFFFu);
    EXPECT_EQ(MUTF8ToUnicode("\xFF", nullptr, 0), 0xFFFFFFFFu);
    // What came before the bad byte stays, terminated.
    EXPECT_EQ(MUTF8ToUnicode("ab\xBF" "cd", out, 8), 0xFFFFFFFFu);
    EXPECT_EQ(head(out, 3), units({'a', 'b', 0}));
}

TEST(UTF8ToUnicode, StopsAtATerminatorInsideASequence) {
    // Exactly sized, so reading past the terminator would be caught by ASan.
    const std::vector<char> cut = {'a', '\xE2', '\x82', '\0'};
    MWChar out[8];
    EXPECT_EQ(MUTF8ToUnicode(cut.data(), out, 8), 0xFFFFFFFFu);
    EXPECT_EQ(head(out, 2), units({'a', 0}));
    const std::vector<char> cutEarly = {'\xC3', '\0'};
    EXPECT_EQ(MUTF8ToUnicode(cutEarly.data(), nullptr, 0), 0xFFFFFFFFu);
}

// Converts into a buffer of 7s one unit larger than dstCount: the result
// and the whole buffer, so that writes past dstCount show.
struct Decoded {
    uint32_t result;
    Units buffer;
};

Decoded decodeInto(const char *source, uint32_t dstCount) {
    Units buffer(dstCount + 1, 7);
    uint32_t result = MUTF8ToUnicode(source, buffer.data(), dstCount);
    return {result, buffer};
}

TEST(UTF8ToUnicode, NeedsRoomForTheTerminator) {
    Decoded tooSmall = decodeInto("abc", 3);
    EXPECT_EQ(tooSmall.result, 0u);
    EXPECT_EQ(tooSmall.buffer.front(), 0);            // an empty string
    EXPECT_EQ(tooSmall.buffer.back(), 7);             // nothing beyond dstCount
    Decoded fits = decodeInto("abc", 4);
    EXPECT_EQ(fits.result, 3u);
    EXPECT_EQ(fits.buffer, units({'a', 'b', 'c', 0, 7}));
    Decoded single = decodeInto("a", 1);
    EXPECT_EQ(single.result, 0u);
    EXPECT_EQ(single.buffer, units({0, 7}));
    Decoded none = decodeInto("a", 0);
    EXPECT_EQ(none.result, 0u);
    EXPECT_EQ(none.buffer, units({7}));
    EXPECT_EQ(decodeInto("a", 2).result, 1u);
}

TEST(UTF8ToUnicode, EmptySourcesAndMeasuring) {
    Decoded empty = decodeInto("", 2);
    EXPECT_EQ(empty.result, 0u);
    EXPECT_EQ(empty.buffer, units({0, 7, 7}));
    EXPECT_EQ(decodeInto("", 0).buffer, units({7}));
    EXPECT_EQ(decodeInto(nullptr, 2).buffer, units({0, 7, 7}));
    EXPECT_EQ(MUTF8ToUnicode("a\xE2\x82\xAC\xC3\xA9", nullptr, 0), 3u);
}

TEST(UTF8RoundTrip, EveryUnitSurvivesBothConversions) {
    for (uint32_t unit = 1; unit <= 0xFFFF; ++unit) {
        const MWChar source[] = {static_cast<MWChar>(unit), 'z', 0};
        char bytes[8];
        uint32_t length = MUnicodeToUTF8(source, bytes, sizeof bytes);
        ASSERT_EQ(length, unit < 0x80 ? 2u : unit < 0x800 ? 3u : 4u) << unit;
        MWChar back[3];
        ASSERT_EQ(MUTF8ToUnicode(bytes, back, 3), 2u) << unit;
        ASSERT_EQ(head(back, 3), units({static_cast<MWChar>(unit), 'z', 0})) << unit;
    }
}

// ---- Case mapping ----

TEST(CaseMapping, ChangesOnlyAsciiLetters) {
    char text[] = "a-z AZ @[`{ \xE9\xC9 09";
    EXPECT_EQ(MSCsMakeUpper(text), 0u);
    EXPECT_STREQ(text, "A-Z AZ @[`{ \xE9\xC9 09");
    EXPECT_EQ(MSCsMakeLower(text), 0u);
    EXPECT_STREQ(text, "a-z az @[`{ \xE9\xC9 09");
    EXPECT_EQ(MSCsMakeUpper(nullptr), 2u);
    EXPECT_EQ(MSCsMakeLower(nullptr), 2u);
}

TEST(CaseMapping, WideFormsChangeOnlyAsciiLetterUnits) {
    MWChar text[] = {'a', 'Z', '@', '[', '`', '{', 0xE9, 0xC9, 0x161, 0x0141 /* 'A' + 0x100 */, 0};
    EXPECT_EQ(MWCsMakeUpper(text), 0u);
    EXPECT_EQ(head(text, 11), units({'A', 'Z', '@', '[', '`', '{', 0xE9, 0xC9, 0x161, 0x141, 0}));
    EXPECT_EQ(MWCsMakeLower(text), 0u);
    EXPECT_EQ(head(text, 11), units({'a', 'z', '@', '[', '`', '{', 0xE9, 0xC9, 0x161, 0x141, 0}));
    EXPECT_EQ(MWCsMakeUpper(nullptr), 2u);
    EXPECT_EQ(MWCsMakeLower(nullptr), 2u);
}

// ---- Byte-string wrappers ----

TEST(ByteStrings, CopyConcatenateAndMeasure) {
    char buffer[16];
    EXPECT_EQ(MSCsCpy(buffer, "abc"), buffer);
    EXPECT_EQ(MSCsCat(buffer, "def"), buffer);
    EXPECT_STREQ(buffer, "abcdef");
    EXPECT_EQ(MSCsLen(buffer), 6u);
    EXPECT_EQ(MSCsLen(""), 0u);
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(MSCsNCpy(buffer, "ab", 4), buffer);
    EXPECT_EQ(std::string(buffer, 5), std::string("ab\0\0x", 5)); // padded, then untouched
}

TEST(ByteStrings, CompareAndSearch) {
    EXPECT_EQ(MSCsCmp("abc", "abc"), 0);
    EXPECT_LT(MSCsCmp("abc", "abd"), 0);
    EXPECT_GT(MSCsCmp("b", "abc"), 0);
    EXPECT_EQ(MSCsNCmp("abcX", "abcY", 3), 0);
    EXPECT_NE(MSCsNCmp("abcX", "abcY", 4), 0);
    EXPECT_EQ(MSCsICmp("HeLLo", "hello"), 0);
    EXPECT_LT(MSCsICmp("apple", "BANANA"), 0);
    EXPECT_EQ(MSCsNICmp("ABCx", "abcy", 3), 0);
    const char *text = "path/to/file";
    EXPECT_EQ(MSCsChr(text, '/'), text + 4);
    EXPECT_EQ(MSCsRChr(text, '/'), text + 7);
    EXPECT_EQ(MSCsChr(text, '#'), nullptr);
    EXPECT_EQ(MSCsStr(text, "to"), text + 5);
    EXPECT_EQ(MSCsStr(text, "xyz"), nullptr);
}

TEST(ByteStrings, NumbersFollowStrtolWith32BitLimits) {
    char *end = nullptr;
    const char *hex = "ff rest";
    EXPECT_EQ(MSCsToUL(hex, &end, 16), 255u);
    EXPECT_EQ(end, hex + 2);
    EXPECT_EQ(MSCsToUL("0x10", nullptr, 0), 16u);
    EXPECT_EQ(MSCsToUL("4294967295", nullptr, 10), 0xFFFFFFFFu);
    errno = 0;
    EXPECT_EQ(MSCsToUL("4294967296", nullptr, 10), 0xFFFFFFFFu);
    EXPECT_EQ(errno, ERANGE);
    EXPECT_EQ(MSCsToUL("  -1", nullptr, 10), 0xFFFFFFFFu);
    EXPECT_EQ(MSCsToUL("-5", nullptr, 10), 0xFFFFFFFBu);
    EXPECT_EQ(MSCsToUL("-4294967296", nullptr, 10), 0xFFFFFFFFu);

    EXPECT_EQ(MStol("0x10"), 0);
    EXPECT_EQ(MStol("010"), 10);
    EXPECT_EQ(MStol("  -42abc"), -42);
    EXPECT_EQ(MStoi("2147483647"), INT32_MAX);
    EXPECT_EQ(MStoi("99999999999"), INT32_MAX);
    EXPECT_EQ(MStol("-99999999999"), INT32_MIN);
}

TEST(ByteStrings, SprintfFormatsWithoutBound) {
    char buffer[64];
    EXPECT_EQ(MSSprintf(buffer, "%s=%d/%04x", "n", -7, 0xAB), 9);
    EXPECT_STREQ(buffer, "n=-7/00ab");
    std::string big(5000, '\0');
    EXPECT_EQ(MSSprintf(big.data(), "%4500s", "x"), 4500);
}

// ---- libc wide-string wrappers ----

TEST(WideStrings, CopyConcatenateCompareAndSearch) {
    wchar_t buffer[16];
    EXPECT_EQ(MWCsCpy(buffer, L"abc"), buffer);
    EXPECT_EQ(MWCsCat(buffer, L"\x20AC"), buffer);
    EXPECT_EQ(std::wstring(buffer), L"abc\x20AC");
    EXPECT_EQ(MWCsLen(buffer), 4u);
    EXPECT_EQ(MWCsNCpy(buffer, L"z", 3), buffer);
    EXPECT_EQ(std::wstring(buffer, 3), std::wstring(L"z\0\0", 3));
    EXPECT_EQ(MWCsCmp(L"abc", L"abc"), 0);
    EXPECT_LT(MWCsCmp(L"abc", L"abd"), 0);
    EXPECT_EQ(MWCsNCmp(L"abX", L"abY", 2), 0);
    EXPECT_EQ(MWCsICmp(L"MiXeD", L"mixed"), 0);
    EXPECT_NE(MWCsNICmp(L"abX", L"ABY", 3), 0);
    EXPECT_EQ(MWCsNICmp(L"abX", L"ABY", 2), 0);
    const wchar_t *text = L"a.b.c";
    EXPECT_EQ(MWCsChr(text, L'.'), text + 1);
    EXPECT_EQ(MWCsRChr(text, L'.'), text + 3);
    EXPECT_EQ(MWCsStr(text, L"b.c"), text + 2);
    EXPECT_EQ(MWCsStr(text, L"x"), nullptr);
}

TEST(WideStrings, NumbersTakeTheirBaseFromThePrefix) {
    EXPECT_EQ(MWtol(L"0x10"), 16);
    EXPECT_EQ(MWtol(L"010"), 8);
    EXPECT_EQ(MWtol(L" -12"), -12);
    EXPECT_EQ(MWtoi(L"0X1f"), 31);
    EXPECT_EQ(MWtoi(L"99999999999"), INT32_MAX);
    wchar_t *end = nullptr;
    const wchar_t *text = L"777z";
    EXPECT_EQ(MWCsToUL(text, &end, 8), 511u);
    EXPECT_EQ(end, text + 3);
    EXPECT_EQ(MWCsToUL(L"4294967296", nullptr, 10), 0xFFFFFFFFu);
    EXPECT_EQ(MWCsToUL(L"-2", nullptr, 10), 0xFFFFFFFEu);
}

TEST(WideStrings, SprintfIsBoundedTo4096Characters) {
    std::vector<wchar_t> buffer(MWSPRINTF_MAX + 100, L'#');
    EXPECT_EQ(MWSprintf(buffer.data(), L"%ls-%d", L"x", 5), 3);
    EXPECT_EQ(std::wstring(buffer.data()), L"x-5");
    EXPECT_EQ(MWSprintf(buffer.data(), L"%4095ls", L"y"), 4095);
    EXPECT_EQ(MWSprintf(buffer.data(), L"%4096ls", L"y"), -1); // no room for the terminator
    EXPECT_EQ(buffer[MWSPRINTF_MAX], L'#');
}

TEST(WideStrings, MultiByteConversionsInTheCLocale) {
    wchar_t wide[8];
    char bytes[8];
    EXPECT_EQ(MMultiByteToWideChar(0, "abc", -1, wide, 8), 3u);
    EXPECT_EQ(std::wstring(wide), L"abc");
    EXPECT_EQ(MWideCharToMultiByte(0, L"xyz", -1, bytes, 8), 3u);
    EXPECT_STREQ(bytes, "xyz");
    EXPECT_EQ(MWideCharToMultiByte(0, L"xyz", -1, nullptr, 0), 3u); // measures
}

TEST(WideStrings, MultiByteConversionsUseUTF8InAUTF8Locale) {
    if (!std::setlocale(LC_CTYPE, "C.UTF-8"))
        GTEST_SKIP() << "no C.UTF-8 locale";
    wchar_t wide[8];
    char bytes[8];
    EXPECT_EQ(MMultiByteToWideChar(0, "\xC3\xA9!", -1, wide, 8), 2u);
    EXPECT_EQ(std::wstring(wide), L"\xE9!");
    EXPECT_EQ(MWideCharToMultiByte(0, L"\x20AC", -1, bytes, 8), 3u);
    EXPECT_STREQ(bytes, "\xE2\x82\xAC");
    EXPECT_EQ(MMultiByteToWideChar(0, "\xFF", -1, wide, 8), 0xFFFFFFFFu);
    std::setlocale(LC_CTYPE, "C");
}

} // namespace
