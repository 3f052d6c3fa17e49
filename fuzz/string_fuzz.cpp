// Fuzz target: the string and UTF-8 conversions of libqvbase. The input
// gives destination sizes and a text (as bytes, as 16-bit units and as
// wide characters); every conversion writes into heap buffers of exactly
// the size it is told, so a write past them is caught. A conversion that
// measured its result must then produce exactly that many units.
#include "qvbase.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kFailed = 0xFFFFFFFFu;

void check(bool condition) {
    if (!condition)
        std::abort();
}

void Utf8RoundTrip(const std::string &text, uint32_t dstCount) {
    uint32_t units = MUTF8ToUnicode(text.c_str(), nullptr, 0);
    std::vector<MWChar> wide(dstCount);
    uint32_t written = MUTF8ToUnicode(text.c_str(), dstCount ? wide.data() : nullptr, dstCount);
    if (units == kFailed || dstCount == 0)
        return;
    check(written == units || written == 0); // all of it, or it did not fit
    std::vector<MWChar> exact(units + 1);
    check(MUTF8ToUnicode(text.c_str(), exact.data(), units + 1) == units);
    uint32_t bytes = MUnicodeToUTF8(exact.data(), nullptr, 0);
    std::vector<char> utf8(bytes + 1);
    check(MUnicodeToUTF8(exact.data(), utf8.data(), bytes + 1) == bytes);
}

void UnitsToUtf8(const std::vector<MWChar> &units, uint32_t dstSize) {
    uint32_t bytes = MUnicodeToUTF8(units.data(), nullptr, 0);
    std::vector<char> utf8(dstSize);
    uint32_t written = MUnicodeToUTF8(units.data(), dstSize ? utf8.data() : nullptr, dstSize);
    if (dstSize > 0)
        check(written == bytes || written == 0);
    std::vector<char> narrow(dstSize);
    MWCharToChar(units.data(), dstSize ? narrow.data() : nullptr, dstSize);
    std::vector<MWChar> copy(units);
    MWCsMakeLower(copy.data());
    MWCsMakeUpper(copy.data());
}

void ByteStrings(const std::string &text, const std::string &other, uint32_t dstCount) {
    std::vector<MWChar> wide(dstCount);
    MCharToWChar(text.c_str(), dstCount ? wide.data() : nullptr, dstCount);
    std::string copy = text;
    MSCsMakeLower(&copy[0]);
    MSCsMakeUpper(&copy[0]);
    MSCsLen(text.c_str());
    MSCsCmp(text.c_str(), other.c_str());
    MSCsICmp(text.c_str(), other.c_str());
    MSCsNICmp(text.c_str(), other.c_str(), dstCount);
    MSCsStr(text.c_str(), other.c_str());
    MSCsChr(text.c_str(), other.empty() ? 0 : other[0]);
    MSCsRChr(text.c_str(), other.empty() ? 0 : other[0]);
    char *end = nullptr;
    MSCsToUL(text.c_str(), &end, static_cast<int32_t>(dstCount % 37));
    MStol(text.c_str());
    std::vector<char> bounded(dstCount + 1);
    MSCsNCpy(bounded.data(), text.c_str(), dstCount);
}

void WideStrings(const std::wstring &text, const std::wstring &other, uint32_t dstSize) {
    MWCsLen(text.c_str());
    MWCsICmp(text.c_str(), other.c_str());
    MWCsStr(text.c_str(), other.c_str());
    wchar_t *end = nullptr;
    MWCsToUL(text.c_str(), &end, static_cast<int32_t>(dstSize % 37));
    MWtol(text.c_str());
    std::vector<char> multi(dstSize);
    uint32_t converted =
        MWideCharToMultiByte(0, text.c_str(), -1, dstSize ? multi.data() : nullptr, dstSize);
    check(converted == kFailed || converted <= dstSize || dstSize == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider provider(data, size);
    uint32_t dstCount = provider.ConsumeIntegralInRange<uint32_t>(0, 80);
    std::string text = provider.ConsumeRandomLengthString(256);
    std::string other = provider.ConsumeRandomLengthString(16);
    std::vector<MWChar> units;
    std::wstring wide;
    while (provider.remaining_bytes() >= 2) {
        MWChar unit = provider.ConsumeIntegral<MWChar>();
        if (unit == 0)
            break;
        units.push_back(unit);
        wide.push_back(static_cast<wchar_t>(unit));
    }
    units.push_back(0);
    Utf8RoundTrip(text, dstCount);
    UnitsToUtf8(units, dstCount);
    ByteStrings(text, other, dstCount);
    WideStrings(wide, std::wstring(other.begin(), other.end()), dstCount);
    std::vector<wchar_t> back(dstCount);
    MMultiByteToWideChar(0, text.c_str(), -1, dstCount ? back.data() : nullptr, dstCount);
    return 0;
}
