// Records of the binary debug stream: ID records that map an ID to its text
// and trace-data records of caller words, written to the context's debug
// stream under its debug mutex.
#include "context_lock.h"
#include "qvbase.h"

#include <cstdlib>
#include <cstring>

namespace {

// Records up to this size are built on the stack, larger ones on the heap.
constexpr uint32_t kStackRecordSize = 256;
constexpr uint32_t kHeaderSize = 4;
constexpr uint32_t kWordSize = 4;
// The length field is 16 bits wide.
constexpr uint32_t kMaxRecordSize = 0xFFFF;
constexpr uint32_t kTraceLeadingWords = 5;
constexpr uint32_t kMaxTraceWords = kMaxRecordSize / kWordSize - kTraceLeadingWords;
// The text and its NUL padded to whole words after the header and the ID.
constexpr uint32_t kMaxIdText = ((kMaxRecordSize - 2 * kWordSize) & ~3u) - 1;

uint32_t paddedTextSize(uint32_t length) { return (length + 4) & ~3u; }

// The file's words are little-endian whatever the host.
void putWord(unsigned char *at, uint32_t word) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<unsigned char>(word >> (8 * i));
}

uint32_t headerWord(uint32_t size, uint32_t type) { return (size & 0xFFFFu) | (type << 16); }

// A zero-filled record of `size` bytes, on the stack when it is small.
class RecordBuffer {
public:
    explicit RecordBuffer(uint32_t size)
        : heap_(size > kStackRecordSize ? static_cast<unsigned char *>(std::calloc(1, size)) : nullptr),
          bytes_(size > kStackRecordSize ? heap_ : stack_) {
        if (bytes_ == stack_)
            std::memset(stack_, 0, size);
    }
    ~RecordBuffer() { std::free(heap_); }
    RecordBuffer(const RecordBuffer &) = delete;
    RecordBuffer &operator=(const RecordBuffer &) = delete;

    unsigned char *bytes() const { return bytes_; }

private:
    unsigned char stack_[kStackRecordSize];
    unsigned char *heap_;
    unsigned char *bytes_;
};

} // namespace

extern "C" {

void MSTATIC_MTableOutPutID(uint32_t mask, uint32_t type, const char *string) {
    if (!string)
        return;
    // A text too long for the length field is cut; the reader still gets the
    // ID and as much of the text as the record holds.
    uint32_t length = MSCsLen(string);
    if (length > kMaxIdText)
        length = kMaxIdText;
    const uint32_t padded = paddedTextSize(length);
    const uint32_t size = kHeaderSize + kWordSize + padded;
    RecordBuffer record(size);
    unsigned char *bytes = record.bytes();
    if (!bytes)
        return;
    putWord(bytes, headerWord(size, type));
    putWord(bytes + kHeaderSize, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(string)));
    std::memcpy(bytes + kHeaderSize + kWordSize, string, length);
    MSTATIC_MDebugStreamDump(mask, bytes, size);
}

void MSTATIC_MLogTraceData(uint32_t mask, uint32_t word1, uint32_t word2, uint32_t word3,
                           uint32_t word4, const uint32_t *words, uint32_t count) {
    // Cutting the caller's data would hand the reader a record that looks
    // whole but is not; one that cannot be written whole is not written.
    if (count > kMaxTraceWords || (count && !words))
        return;
    const uint32_t size = (count + kTraceLeadingWords) * kWordSize;
    RecordBuffer record(size);
    unsigned char *bytes = record.bytes();
    if (!bytes)
        return;
    const uint32_t leading[kTraceLeadingWords] = {headerWord(size, MDEBUG_RECORD_TRACE_DATA), word1,
                                                  word2, word3, word4};
    for (uint32_t i = 0; i < kTraceLeadingWords; ++i)
        putWord(bytes + i * kWordSize, leading[i]);
    for (uint32_t i = 0; i < count; ++i)
        putWord(bytes + (kTraceLeadingWords + i) * kWordSize, words[i]);
    MSTATIC_MDebugStreamDump(mask, bytes, size);
}

void MSTATIC_MDebugStreamDump(uint32_t mask, const void *data, uint32_t n) {
    __tag_context *context = MSTATIC_MGetContext();
    if (!context)
        return;
    ContextLock lock(context->debugMutex);
    if (context->debugStream)
        MLogDump(context->debugStream, mask, data, n);
}

void MSTATIC_MDebugStreamClose(void) {
    __tag_context *context = MSTATIC_MGetContext();
    if (!context)
        return;
    ContextLock lock(context->debugMutex);
    if (context->debugStream)
        MLogClose(context->debugStream);
    context->debugStream = nullptr;
}

} // extern "C"
