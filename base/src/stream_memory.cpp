// Memory streams: over a caller's block (fixed, starts full) or over a list
// of library-owned chunks that grows by MSTREAM_CHUNK_SIZE bytes, so a write
// never moves or reallocates data already written.
#include "qvbase.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(MStreamChunk) == 8, "chunk header is two words");
static_assert(sizeof(MStreamChunkList) == 8, "chunk-list anchor is two pointers");
#endif

namespace {

// The anchor and the first chunk's header share one allocation; the first
// chunk's data follows them.
struct OwnedHead {
    MStreamChunkList anchor;
    MStreamChunk first;
};

bool isMemoryStream(const MStream *stream) {
    return stream && stream->kind == MSTREAM_KIND_MEMORY;
}

char *chunkData(MStreamChunk *chunk) { return reinterpret_cast<char *>(chunk + 1); }

int32_t roomInBuffer(const MStream *stream) { return stream->chunkCapacity - stream->chunkPos; }

void enterChunk(MStream *stream, MStreamChunk *chunk, int32_t pos) {
    stream->chunkList->current = chunk;
    stream->base = chunkData(chunk);
    stream->chunkCapacity = chunk->capacity;
    stream->chunkPos = pos;
}

MStreamChunk *newChunk() {
    auto *chunk = static_cast<MStreamChunk *>(std::malloc(sizeof(MStreamChunk) + MSTREAM_CHUNK_SIZE));
    if (chunk) {
        chunk->capacity = MSTREAM_CHUNK_SIZE;
        chunk->next = nullptr;
    }
    return chunk;
}

// Moves to the start of the chunk after the current one. A write (`grow`)
// reuses an existing following chunk or appends a new one; a read stops at
// the end of the list. Always false over a caller's block.
bool advanceChunk(MStream *stream, bool grow) {
    if (!stream->chunkList)
        return false;
    MStreamChunk *current = stream->chunkList->current;
    if (!current->next && grow)
        current->next = newChunk();
    if (!current->next)
        return false;
    enterChunk(stream, current->next, 0);
    return true;
}

// Copies n bytes between the stream position and `readInto` (a read) or
// `writeFrom` (a write); exactly one of them is non-null. Returns the bytes
// moved: short when the buffer or list ends, or a new chunk is unavailable.
uint32_t transfer(MStream *stream, char *readInto, const char *writeFrom, uint32_t n) {
    uint32_t done = 0;
    while (done < n) {
        if (roomInBuffer(stream) < 1 && !advanceChunk(stream, writeFrom != nullptr))
            break;
        uint32_t piece = static_cast<uint32_t>(roomInBuffer(stream));
        if (piece > n - done)
            piece = n - done;
        char *at = static_cast<char *>(stream->base) + stream->chunkPos;
        if (readInto)
            std::memcpy(readInto + done, at, piece);
        else
            std::memcpy(at, writeFrom + done, piece);
        stream->chunkPos += static_cast<int32_t>(piece);
        done += piece;
    }
    return done;
}

MStream *newRecord() { return static_cast<MStream *>(std::calloc(1, sizeof(MStream))); }

// A stream whose first chunk holds min(sizeHint, chunk size) bytes, or a
// whole chunk when sizeHint is 0.
MStream *openOwned(uint32_t sizeHint) {
    int32_t capacity = (sizeHint == 0 || sizeHint > MSTREAM_CHUNK_SIZE)
                           ? MSTREAM_CHUNK_SIZE
                           : static_cast<int32_t>(sizeHint);
    MStream *stream = newRecord();
    if (!stream)
        return nullptr;
    auto *head = static_cast<OwnedHead *>(std::malloc(sizeof(OwnedHead) + capacity));
    if (!head) {
        std::free(stream);
        return nullptr;
    }
    head->first.capacity = capacity;
    head->first.next = nullptr;
    head->anchor.first = &head->first;
    stream->kind = MSTREAM_KIND_MEMORY;
    stream->chunkList = &head->anchor;
    stream->size = 0;
    enterChunk(stream, &head->first, 0);
    return stream;
}

MStream *openOverBlock(void *block, uint32_t size) {
    if (size > INT32_MAX)
        return nullptr;
    MStream *stream = newRecord();
    if (!stream)
        return nullptr;
    stream->base = block;
    stream->kind = MSTREAM_KIND_MEMORY;
    stream->chunkCapacity = static_cast<int32_t>(size);
    stream->size = static_cast<int32_t>(size);
    return stream;
}

int32_t clampToSize(const MStream *stream, int64_t target) {
    if (target < 0)
        return 0;
    return target > stream->size ? stream->size : static_cast<int32_t>(target);
}

// Finds the chunk holding `target`; an offset equal to a chunk's capacity
// stays at the end of that chunk rather than the start of the next.
void seekInChunks(MStream *stream, int32_t target) {
    MStreamChunk *chunk = stream->chunkList->first;
    while (chunk && chunk->capacity < target) {
        target -= chunk->capacity;
        chunk = chunk->next;
    }
    if (chunk)
        enterChunk(stream, chunk, target);
}

} // namespace

extern "C" {

MStream *MStreamOpenFromMemoryBlock(void *block, uint32_t size) {
    return block ? openOverBlock(block, size) : openOwned(size);
}

uint32_t QVStreamMemRead(MStream *stream, void *buffer, uint32_t n) {
    if (!isMemoryStream(stream))
        return 0;
    // A caller's block is read up to its end, whatever the logical size;
    // chunks only up to the logical size.
    if (stream->chunkList) {
        int64_t available = static_cast<int64_t>(stream->size) - QVStreamMemTell(stream);
        if (available <= 0)
            return 0;
        if (n > available)
            n = static_cast<uint32_t>(available);
    }
    return transfer(stream, static_cast<char *>(buffer), nullptr, n);
}

uint32_t QVStreamMemWrite(MStream *stream, const void *buffer, uint32_t n) {
    if (!isMemoryStream(stream))
        return 0;
    // Offsets and the size are 32-bit signed: never grow past INT32_MAX.
    int32_t start = QVStreamMemTell(stream);
    uint32_t limit = static_cast<uint32_t>(INT32_MAX - start);
    if (n > limit)
        n = limit;
    uint32_t written = transfer(stream, nullptr, static_cast<const char *>(buffer), n);
    int32_t end = start + static_cast<int32_t>(written);
    if (end > stream->size)
        stream->size = end;
    return written;
}

int32_t QVStreamMemSeek(MStream *stream, int32_t origin, int32_t offset) {
    if (!isMemoryStream(stream))
        return 1;
    int64_t from;
    switch (origin) {
    case MSTREAM_SEEK_BEGIN:
        from = 0;
        break;
    case MSTREAM_SEEK_END:
        from = stream->size;
        break;
    case MSTREAM_SEEK_CURRENT:
        from = QVStreamMemTell(stream);
        break;
    default:
        return 1;
    }
    int32_t target = clampToSize(stream, from + offset);
    if (stream->chunkList)
        seekInChunks(stream, target);
    else
        stream->chunkPos = target;
    return 0;
}

int32_t QVStreamMemTell(MStream *stream) {
    if (!isMemoryStream(stream))
        return 0;
    if (!stream->chunkList)
        return stream->chunkPos;
    int32_t offset = stream->chunkPos;
    for (MStreamChunk *chunk = stream->chunkList->first; chunk && chunk != stream->chunkList->current;
         chunk = chunk->next)
        offset += chunk->capacity;
    return offset;
}

int32_t QVStreamMemGetSize(MStream *stream) { return isMemoryStream(stream) ? stream->size : 0; }

uint32_t QVStreamMemClose(MStream *stream) {
    if (!isMemoryStream(stream))
        return 0;
    if (MStreamChunkList *anchor = stream->chunkList) {
        MStreamChunk *chunk = anchor->first->next;
        while (chunk) {
            MStreamChunk *next = chunk->next;
            std::free(chunk);
            chunk = next;
        }
        std::free(anchor); // also holds the first chunk
    }
    std::free(stream);
    return 1;
}

} // extern "C"
