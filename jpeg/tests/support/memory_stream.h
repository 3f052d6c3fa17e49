// Platform memory streams for codec tests: over a copy of test data (the
// codec reads it) or growing (the codec writes into it).
#ifndef QVJPEG_TESTS_MEMORY_STREAM_H
#define QVJPEG_TESTS_MEMORY_STREAM_H

#include "qvbase.h"

#include <cstdint>
#include <vector>

class MemoryStream {
public:
    // A stream over a private copy of `data`, positioned at its start.
    explicit MemoryStream(const std::vector<uint8_t> &data);
    // An empty, library-owned stream that grows as it is written.
    MemoryStream();
    ~MemoryStream();
    MemoryStream(const MemoryStream &) = delete;
    MemoryStream &operator=(const MemoryStream &) = delete;

    MStream *get() const { return stream_; }
    // Everything the stream holds, from offset 0; the position is kept.
    std::vector<uint8_t> Contents() const;

private:
    std::vector<uint8_t> data_;
    MStream *stream_ = nullptr;
};

#endif
