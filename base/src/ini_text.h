// The INI text format: reading a file line by line through the 2048-byte
// window, classifying a line, and the names and values of items.
#ifndef QVBASE_INI_TEXT_H
#define QVBASE_INI_TEXT_H

#include "qvbase.h"

// Shared between the INI sources only: kept out of the library's exports.
#pragma GCC visibility push(hidden)

// A stretch of text that need not end with a NUL.
struct IniText {
    const char *text;
    uint32_t length;
};

bool IniSameName(IniText a, IniText b);
IniText IniTextOf(const char *string);

// One line of the file: its text without the line end, and the file offsets
// of its start and of the byte just past its line end.
struct IniLine {
    char *text;
    uint32_t length;
    int32_t start;
    int32_t end;
};

enum class IniLineStatus { kLine, kEnd, kFailed };

// Reads the lines of `size` bytes from the current position of `stream`
// (offset 0) through `window`, which holds MINI_LINE_WINDOW + 1 bytes (the
// last one lets a line's text be ended with a NUL in place). A line longer
// than the window allows, or a read that falls short, fails.
class IniLineReader {
public:
    IniLineReader(MStream *stream, int32_t size, char *window)
        : stream_(stream), size_(size), window_(window) {}
    IniLineStatus next(IniLine *line);

private:
    bool fill();
    bool atEnd() const { return windowOffset_ + static_cast<int32_t>(filled_) >= size_; }

    MStream *stream_;
    int32_t size_;
    char *window_;
    uint32_t begin_ = 0;
    uint32_t filled_ = 0;
    int32_t windowOffset_ = 0;
};

enum class IniLineKind { kBlank, kComment, kSection, kKey, kInvalid };

// What a line is; a section's name is in `name`, a key line's key and value
// in `name` and `value`.
struct IniParsedLine {
    IniLineKind kind;
    IniText name;
    IniText value;
};

IniParsedLine IniClassifyLine(const char *text, uint32_t length);

// The item's names with blanks around them dropped; a null section is the
// section named "default".
IniText IniSectionOf(const MIniItem *item);
IniText IniKeyOf(const MIniItem *item);

// The checks every read and write makes of the item.
bool IniItemUsable(const MIniItem *item);

// Room for an integer formatted as text.
constexpr uint32_t kIniNumberRoom = 16;

// What a write puts into the file: the trimmed names and the value text
// (the item's string, or its integer formatted into `number`).
struct IniWrite {
    IniText section;
    IniText key;
    IniText value;
    char number[kIniNumberRoom];
};

// Fills `write` from a usable item. False when its lines could not be
// written and read back: too long for the window, a line break inside, or a
// key that is empty or holds '='.
bool IniPrepareWrite(const MIniItem *item, IniWrite *write);

// Stores a read value into the item: a string when it fits (1), or the low
// min(size, 4) bytes of its decimal value. `value` ends with a NUL. A string
// that does not fit gives 0; `sizeAlways` then still sets size.
uint32_t IniStoreValue(MIniItem *item, const char *value, bool sizeAlways);

#pragma GCC visibility pop

#endif // QVBASE_INI_TEXT_H
