// The INI rewrite: copying the old text around changed lines, and putting
// the new file in place atomically, so that a reader sees either the old or
// the new file whole and a failure at any point leaves the old one.
#include "ini_rewrite.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kTemporarySuffix[] = "_tmp";
constexpr char kCrLf[] = "\r\n";

bool stretchEnded(const char tail[2], IniStretchEnd end) {
    if (end == IniStretchEnd::kAsIs)
        return true;
    return tail[1] == '\n' && (end == IniStretchEnd::kLineEnd || tail[0] == '\r');
}

FILE *fileOf(MStream *stream) { return static_cast<FILE *>(stream->base); }

// The new file takes the place of the old one, so it takes over the old
// one's permissions too (a private file must not become readable to all).
bool keepPermissions(int descriptor, const char *path) {
    struct stat status;
    return stat(path, &status) != 0 || fchmod(descriptor, status.st_mode & 07777) == 0;
}

} // namespace

void IniCopier::copyUpTo(int32_t offset, IniStretchEnd end) {
    if (failed_ || offset <= position_)
        return;
    char tail[2] = {0, 0};
    while (!failed_ && position_ < offset) {
        const int32_t left = offset - position_;
        const uint32_t piece = left < static_cast<int32_t>(MINI_LINE_WINDOW) ? left : MINI_LINE_WINDOW;
        if (MStreamRead(source_, buffer_, piece) != piece) {
            failed_ = true;
            return;
        }
        write(buffer_, piece);
        tail[0] = piece > 1 ? buffer_[piece - 2] : tail[1];
        tail[1] = buffer_[piece - 1];
        position_ += static_cast<int32_t>(piece);
    }
    if (!stretchEnded(tail, end))
        write(kCrLf, 2);
}

void IniCopier::skipTo(int32_t offset) {
    if (failed_ || offset <= position_)
        return;
    failed_ = MStreamSeek(source_, MSTREAM_SEEK_BEGIN, offset) != 0;
    position_ = offset;
}

void IniCopier::writeSection(IniText name) {
    write("[", 1);
    write(name.text, name.length);
    write("]\r\n", 3);
}

void IniCopier::writeKey(IniText key, IniText value) {
    write(key.text, key.length);
    write("=", 1);
    write(value.text, value.length);
    write(kCrLf, 2);
}

void IniCopier::write(const char *text, uint32_t length) {
    if (!failed_ && length > 0 && MStreamWrite(target_, text, length) != length)
        failed_ = true;
}

char *IniTemporaryPath(const char *path) {
    const uint32_t length = MSCsLen(path);
    auto *temporary = static_cast<char *>(std::malloc(length + sizeof kTemporarySuffix));
    if (temporary) {
        std::memcpy(temporary, path, length);
        std::memcpy(temporary + length, kTemporarySuffix, sizeof kTemporarySuffix);
    }
    return temporary;
}

// A close can report a write that only failed when stdio wrote out its
// buffer, so its result counts as much as the sync's.
bool IniReplaceFile(MStream *temporary, const char *temporaryPath, const char *path) {
    const int descriptor = fileno(fileOf(temporary));
    const bool synced = std::fflush(fileOf(temporary)) == 0 && keepPermissions(descriptor, path) &&
                        fsync(descriptor) == 0;
    const bool closed = MStreamClose(temporary) != 0;
    if (synced && closed && std::rename(temporaryPath, path) == 0)
        return true;
    std::remove(temporaryPath);
    return false;
}

void IniDiscardFile(MStream *temporary, const char *temporaryPath) {
    MStreamClose(temporary);
    std::remove(temporaryPath);
}
