// Line reading and classification of INI text, and the item helpers shared
// by the handle and single-shot functions.
#include "ini_text.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr char kDefaultSection[] = "default";
// Longest text of a line before its line end: the window less the CR LF
// that ends, or is taken to end, the line.
constexpr uint32_t kMaxLineText = MINI_LINE_WINDOW - 2;

// A CR that does not end a line counts as a blank.
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }
bool isComment(char c) { return c == '#' || c == ';' || c == '*'; }
char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

IniText trimmed(const char *text, uint32_t length, bool (*drop)(char)) {
    uint32_t first = 0;
    while (first < length && drop(text[first]))
        ++first;
    while (length > first && drop(text[length - 1]))
        --length;
    return {text + first, length - first};
}

bool isBlankOrBracket(char c) { return isBlank(c) || c == ']'; }
bool isBlankOrEquals(char c) { return isBlank(c) || c == '='; }

// Names are kept and compared as C strings, so a NUL byte ends one.
IniText upToNul(IniText text) { return {text.text, static_cast<uint32_t>(strnlen(text.text, text.length))}; }

IniParsedLine sectionLine(const char *text, uint32_t first, uint32_t last) {
    if (last == first || text[last] != ']')
        return {IniLineKind::kInvalid, {}, {}};
    return {IniLineKind::kSection, upToNul(trimmed(text + first + 1, last - first - 1, isBlankOrBracket)), {}};
}

IniParsedLine keyLine(const char *text, uint32_t first, uint32_t length) {
    const char *equals = static_cast<const char *>(std::memchr(text + first, '=', length - first));
    if (!equals)
        return {IniLineKind::kInvalid, {}, {}};
    const uint32_t at = static_cast<uint32_t>(equals - text);
    return {IniLineKind::kKey, upToNul(trimmed(text + first, at - first, isBlank)),
            trimmed(text + at + 1, length - at - 1, isBlankOrEquals)};
}

bool holdsLineBreak(IniText text) {
    return std::memchr(text.text, '\r', text.length) || std::memchr(text.text, '\n', text.length);
}

} // namespace

bool IniSameName(IniText a, IniText b) {
    if (a.length != b.length)
        return false;
    for (uint32_t i = 0; i < a.length; ++i) {
        if (lowerAscii(a.text[i]) != lowerAscii(b.text[i]))
            return false;
    }
    return true;
}

IniText IniTextOf(const char *string) { return {string, MSCsLen(string)}; }

IniLineStatus IniLineReader::next(IniLine *line) {
    for (;;) {
        char *text = window_ + begin_;
        const uint32_t available = filled_ - begin_;
        auto *lineFeed = static_cast<char *>(std::memchr(text, '\n', available));
        uint32_t raw = lineFeed ? static_cast<uint32_t>(lineFeed - text) : available;
        if (lineFeed || atEnd()) {
            if (!lineFeed && raw == 0)
                return IniLineStatus::kEnd;
            const bool crLf = lineFeed && raw > 0 && text[raw - 1] == '\r';
            if (raw > kMaxLineText + (crLf ? 1 : 0))
                return IniLineStatus::kFailed;
            const uint32_t taken = raw + (lineFeed ? 1 : 0);
            *line = {text, raw - (crLf ? 1 : 0), windowOffset_ + static_cast<int32_t>(begin_),
                     windowOffset_ + static_cast<int32_t>(begin_ + taken)};
            begin_ += taken;
            return IniLineStatus::kLine;
        }
        if (begin_ == 0 && filled_ == MINI_LINE_WINDOW)
            return IniLineStatus::kFailed;
        if (!fill())
            return IniLineStatus::kFailed;
    }
}

// Moves the unfinished line to the front of the window and reads after it.
bool IniLineReader::fill() {
    std::memmove(window_, window_ + begin_, filled_ - begin_);
    windowOffset_ += static_cast<int32_t>(begin_);
    filled_ -= begin_;
    begin_ = 0;
    uint32_t wanted = MINI_LINE_WINDOW - filled_;
    const int32_t left = size_ - windowOffset_ - static_cast<int32_t>(filled_);
    if (static_cast<uint32_t>(left) < wanted)
        wanted = static_cast<uint32_t>(left);
    const uint32_t got = MStreamRead(stream_, window_ + filled_, wanted);
    filled_ += got;
    return got == wanted;
}

IniParsedLine IniClassifyLine(const char *text, uint32_t length) {
    uint32_t first = 0;
    while (first < length && isBlank(text[first]))
        ++first;
    if (first == length)
        return {IniLineKind::kBlank, {}, {}};
    if (isComment(text[first]))
        return {IniLineKind::kComment, {}, {}};
    if (text[first] == '[') {
        uint32_t last = length - 1;
        while (isBlank(text[last]))
            --last;
        return sectionLine(text, first, last);
    }
    if (text[first] == '=')
        return {IniLineKind::kInvalid, {}, {}};
    return keyLine(text, first, length);
}

IniText IniSectionOf(const MIniItem *item) {
    const char *name = item->section ? item->section : kDefaultSection;
    return trimmed(name, MSCsLen(name), isBlank);
}

IniText IniKeyOf(const MIniItem *item) { return trimmed(item->key, MSCsLen(item->key), isBlank); }

bool IniItemUsable(const MIniItem *item) {
    return item && item->data && item->key && item->size != 0 &&
           (item->type == MINI_TYPE_INTEGER || item->type == MINI_TYPE_STRING);
}

namespace {

// An integer's low min(size, 4) bytes, least significant first; the rest 0.
IniText valueOf(const MIniItem *item, char (&number)[kIniNumberRoom]) {
    if (item->type == MINI_TYPE_STRING)
        return IniTextOf(static_cast<const char *>(item->data));
    const auto *bytes = static_cast<const unsigned char *>(item->data);
    uint32_t value = 0;
    for (uint32_t i = 0; i < item->size && i < 4; ++i)
        value |= static_cast<uint32_t>(bytes[i]) << (8 * i);
    const int length = std::snprintf(number, sizeof number, "%ld", static_cast<long>(static_cast<int32_t>(value)));
    return {number, static_cast<uint32_t>(length)};
}

bool linesWritable(IniText section, IniText key, IniText value) {
    const uint64_t keyLine = uint64_t{key.length} + value.length + 3;
    const uint64_t headerLine = uint64_t{section.length} + 5;
    return keyLine < MINI_LINE_WINDOW && headerLine < MINI_LINE_WINDOW && key.length > 0 &&
           !std::memchr(key.text, '=', key.length) && !holdsLineBreak(section) &&
           !holdsLineBreak(key) && !holdsLineBreak(value);
}

} // namespace

bool IniPrepareWrite(const MIniItem *item, IniWrite *write) {
    write->section = IniSectionOf(item);
    write->key = IniKeyOf(item);
    write->value = valueOf(item, write->number);
    return linesWritable(write->section, write->key, write->value);
}

uint32_t IniStoreValue(MIniItem *item, const char *value, bool sizeAlways) {
    if (item->type == MINI_TYPE_INTEGER) {
        const uint32_t number = static_cast<uint32_t>(MStoi(value));
        auto *bytes = static_cast<unsigned char *>(item->data);
        for (uint32_t i = 0; i < item->size && i < 4; ++i)
            bytes[i] = static_cast<unsigned char>(number >> (8 * i));
        return 1;
    }
    const uint32_t length = MSCsLen(value);
    const bool fits = length < item->size;
    if (fits)
        std::memcpy(item->data, value, length + 1);
    if (fits || sizeAlways)
        item->size = length;
    return fits;
}
