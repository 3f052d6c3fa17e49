#include "memory_stream.h"

#include <stdexcept>

MemoryStream::MemoryStream(const std::vector<uint8_t> &data) : data_(data) {
    // A null block would open a growing stream, so empty data still gets an
    // address: the stream is then a caller's block of size 0.
    static uint8_t emptyBlock;
    stream_ = MStreamOpenFromMemoryBlock(data_.empty() ? &emptyBlock : data_.data(),
                                         static_cast<uint32_t>(data_.size()));
    if (!stream_)
        throw std::runtime_error("cannot open memory stream");
}

MemoryStream::MemoryStream() : stream_(MStreamOpenFromMemoryBlock(nullptr, 0)) {
    if (!stream_)
        throw std::runtime_error("cannot open memory stream");
}

MemoryStream::~MemoryStream() { MStreamClose(stream_); }

std::vector<uint8_t> MemoryStream::Contents() const {
    int32_t position = MStreamTell(stream_);
    std::vector<uint8_t> bytes(MStreamGetSize(stream_));
    MStreamSeek(stream_, MSTREAM_SEEK_BEGIN, 0);
    uint32_t read = bytes.empty() ? 0 : MStreamRead(stream_, bytes.data(), bytes.size());
    bytes.resize(read);
    MStreamSeek(stream_, MSTREAM_SEEK_BEGIN, position);
    return bytes;
}
