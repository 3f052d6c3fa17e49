// Producing the new text of an INI file: stretches of the old file copied
// unchanged around the lines written anew, into a temporary file that then
// replaces the file in one step.
#ifndef QVBASE_INI_REWRITE_H
#define QVBASE_INI_REWRITE_H

#include "ini_text.h"
#include "qvbase.h"

// Shared between the INI sources only: kept out of the library's exports.
#pragma GCC visibility push(hidden)

// What a copied stretch must end with; CR LF is added when it does not.
enum class IniStretchEnd { kAsIs, kLineEnd, kCrLf };

// Copies from `source` (of `size` bytes, read from offset 0 on) to `target`
// through `buffer` (MINI_LINE_WINDOW bytes). The first failing read, write
// or seek stops all further work; failed() tells.
class IniCopier {
public:
    IniCopier(MStream *source, int32_t size, MStream *target, char *buffer)
        : source_(source), size_(size), target_(target), buffer_(buffer) {}

    // Copies from the current position up to `offset`; nothing when it is
    // not beyond the position.
    void copyUpTo(int32_t offset, IniStretchEnd end);
    void copyRest(IniStretchEnd end) { copyUpTo(size_, end); }
    bool restCopied() const { return position_ >= size_; }
    // Passes over the old text up to `offset`.
    void skipTo(int32_t offset);
    void writeSection(IniText name);
    void writeKey(IniText key, IniText value);
    bool failed() const { return failed_; }

private:
    void write(const char *text, uint32_t length);

    MStream *source_;
    int32_t size_;
    MStream *target_;
    char *buffer_;
    int32_t position_ = 0;
    bool failed_ = false;
};

// path + "_tmp" on the heap, or null.
char *IniTemporaryPath(const char *path);

// Puts the finished temporary file in place of `path`: written out to the
// disk, closed and renamed over the file. Any failure deletes the temporary
// file and leaves `path` as it was. Closes `temporary` in every case.
bool IniReplaceFile(MStream *temporary, const char *temporaryPath, const char *path);

// Closes and deletes an unfinished temporary file.
void IniDiscardFile(MStream *temporary, const char *temporaryPath);

#pragma GCC visibility pop

#endif // QVBASE_INI_REWRITE_H
