// Generic stream operations (dispatch on the stream kind), file streams over
// libc stdio, and whole-file operations.
#include "qvbase.h"
#include "wide_path.h"

#include <climits>
#include <cstdio>
#include <cstdlib>

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(MStream) == 24, "stream record is six words");
#endif

namespace {

constexpr const char *kFopenModes[] = {"rb", "rb", "wb", "ab", "rb+", "wb+", "ab+"};
constexpr int kWhenceOfOrigin[] = {SEEK_SET, SEEK_END, SEEK_CUR};
constexpr uint32_t kCopyBufferSize = 0x20000;
constexpr uint32_t kFileCopyPieceSize = 1024;

const char *fopenMode(uint32_t mode) {
    return mode < sizeof kFopenModes / sizeof *kFopenModes ? kFopenModes[mode] : "rb";
}

bool isFile(const MStream *stream) { return stream && stream->kind == MSTREAM_KIND_FILE; }
bool isMemory(const MStream *stream) { return stream && stream->kind == MSTREAM_KIND_MEMORY; }
FILE *fileOf(const MStream *stream) { return static_cast<FILE *>(stream->base); }

// File positions are 32-bit here; one that does not fit is reported as the
// failure value, as a 32-bit libc does.
int32_t toPosition(long position) {
    return position < 0 || position > INT32_MAX ? -1 : static_cast<int32_t>(position);
}

int32_t fileSize(FILE *file) {
    long position = std::ftell(file);
    if (position < 0 || std::fseek(file, 0, SEEK_END) != 0)
        return -1;
    long end = std::ftell(file);
    std::fseek(file, position, SEEK_SET);
    return toPosition(end);
}

// Copies the rest of `source` into `destination`; false when a write falls
// short or the source cannot be read.
bool copyFileContents(MStream *source, MStream *destination) {
    char piece[kFileCopyPieceSize];
    for (;;) {
        uint32_t got = MStreamRead(source, piece, sizeof piece);
        if (got == 0)
            return !std::ferror(fileOf(source));
        if (MStreamWrite(destination, piece, got) != got)
            return false;
    }
}

// For the existence checks: whether the open succeeded.
bool closeIfOpened(MStream *stream) {
    if (!stream)
        return false;
    MStreamClose(stream);
    return true;
}

} // namespace

extern "C" {

MStream *MStreamOpenFromFileS(const char *path, uint32_t mode) {
    if (!path)
        return nullptr;
    FILE *file = std::fopen(path, fopenMode(mode));
    if (!file)
        return nullptr;
    auto *stream = static_cast<MStream *>(std::calloc(1, sizeof(MStream)));
    if (!stream) {
        std::fclose(file);
        return nullptr;
    }
    stream->base = file;
    stream->kind = MSTREAM_KIND_FILE;
    return stream;
}

MStream *MStreamOpenFromFileW(const MWChar *path, uint32_t mode) {
    char bytes[MSTREAM_PATH_MAX];
    return QvWidePathToBytes(path, bytes) ? MStreamOpenFromFileS(bytes, mode) : nullptr;
}

uint32_t MStreamRead(MStream *stream, void *buffer, uint32_t n) {
    if (isFile(stream))
        return static_cast<uint32_t>(std::fread(buffer, 1, n, fileOf(stream)));
    return isMemory(stream) ? QVStreamMemRead(stream, buffer, n) : 0;
}

uint32_t MStreamWrite(MStream *stream, const void *buffer, uint32_t n) {
    if (isFile(stream))
        return static_cast<uint32_t>(std::fwrite(buffer, 1, n, fileOf(stream)));
    return isMemory(stream) ? QVStreamMemWrite(stream, buffer, n) : 0;
}

int32_t MStreamSeek(MStream *stream, int32_t origin, int32_t offset) {
    if (isFile(stream)) {
        int whence = origin >= 0 && origin <= 2 ? kWhenceOfOrigin[origin] : SEEK_SET;
        return std::fseek(fileOf(stream), offset, whence);
    }
    return isMemory(stream) ? QVStreamMemSeek(stream, origin, offset) : 0;
}

int32_t MStreamTell(MStream *stream) {
    if (isFile(stream))
        return toPosition(std::ftell(fileOf(stream)));
    return isMemory(stream) ? QVStreamMemTell(stream) : 0;
}

uint32_t MStreamFlush(MStream *stream) {
    if (isFile(stream))
        return std::fflush(fileOf(stream)) == 0;
    return isMemory(stream) ? 1 : 0;
}

int32_t MStreamGetSize(MStream *stream) {
    if (isFile(stream))
        return fileSize(fileOf(stream));
    return isMemory(stream) ? QVStreamMemGetSize(stream) : 0;
}

int32_t MStreamSetSize(MStream *stream, int32_t newSize) {
    if (isFile(stream))
        return -1;
    if (!isMemory(stream))
        return 0;
    if (stream->size > newSize)
        stream->size = newSize;
    if (stream->size < 0)
        stream->size = 0;
    return stream->size;
}

uint32_t MStreamClose(MStream *stream) {
    if (isFile(stream)) {
        bool closed = std::fclose(fileOf(stream)) == 0;
        std::free(stream);
        return closed;
    }
    return isMemory(stream) ? QVStreamMemClose(stream) : 0;
}

uint32_t MStreamCopy(MStream *source, MStream *destination, uint32_t n) {
    auto *buffer = static_cast<char *>(std::malloc(kCopyBufferSize));
    if (!buffer)
        return 0;
    uint32_t total = 0;
    uint32_t remaining = n;
    uint32_t request = kCopyBufferSize;
    for (;;) {
        // The last piece asks for exactly what is left; earlier ones ask for
        // as much as the previous read delivered.
        if (remaining < kCopyBufferSize)
            request = remaining;
        uint32_t got = MStreamRead(source, buffer, request);
        uint32_t written = MStreamWrite(destination, buffer, got);
        total += written;
        if (written != got || got == 0 || remaining == got)
            break;
        remaining -= got;
        request = got;
    }
    std::free(buffer);
    return total;
}

MStream *MStreamFileCreateS(const char *path) { return MStreamOpenFromFileS(path, MSTREAM_MODE_WRITE); }
MStream *MStreamFileCreateW(const MWChar *path) { return MStreamOpenFromFileW(path, MSTREAM_MODE_WRITE); }

uint32_t MStreamFileExistsS(const char *path) {
    return closeIfOpened(MStreamOpenFromFileS(path, MSTREAM_MODE_READ));
}

uint32_t MStreamFileExistsW(const MWChar *path) {
    return closeIfOpened(MStreamOpenFromFileW(path, MSTREAM_MODE_READ));
}

uint32_t MStreamFileDeleteS(const char *path) { return path && std::remove(path) == 0; }

uint32_t MStreamFileMoveS(const char *destination, const char *source) {
    return MStreamFileRenameS(source, destination);
}

uint32_t MStreamFileRenameS(const char *oldPath, const char *newPath) {
    return oldPath && newPath && std::rename(oldPath, newPath) == 0;
}

uint32_t MStreamFileCopyS(const char *destination, const char *source) {
    MStream *from = MStreamOpenFromFileS(source, MSTREAM_MODE_READ);
    if (!from)
        return 0;
    MStream *to = MStreamOpenFromFileS(destination, MSTREAM_MODE_WRITE);
    if (!to) {
        MStreamClose(from);
        return 0;
    }
    bool copied = copyFileContents(from, to);
    MStreamClose(from);
    // Closing writes out what stdio still buffers; a failure there loses data.
    bool closed = MStreamClose(to);
    return copied && closed;
}

// The file info's size word already saturates at 0xFFFFFFFF, the same value
// that reports a file that cannot be examined.
uint32_t MStreamFileGetSizeS(const char *path) {
    MFileInfo info;
    return MGetFileInfoS(&info, path) ? info.fileSize : 0xFFFFFFFFu;
}

} // extern "C"
