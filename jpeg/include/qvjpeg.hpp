// qvjpeg.hpp: a header-only C++17 layer over the C interfaces of libqvjpeg
// and libqvbase. Owners release their handle on every path (move-only),
// results come back as a small error-code type with a message, and image
// planes are handed over as spans. The libraries keep their C ABI; only this
// header uses the C++ standard library.
#ifndef QVJPEG_HPP
#define QVJPEG_HPP

#include <cstddef>
#include <cstdint>
#include <utility>

#include "qvbase.h"
#include "qvjpeg.h"

namespace qvjpeg {

// A codec result code and what it means in words.
class Error {
public:
    constexpr Error(vltJpgResult code = VLTJPG_OK) : code_(code) {}
    constexpr vltJpgResult code() const { return code_; }
    constexpr explicit operator bool() const { return code_ != VLTJPG_OK; }
    const char *message() const {
        switch (code_) {
        case VLTJPG_OK: return "success";
        case VLTJPG_ERR_ARGUMENT: return "invalid argument";
        case VLTJPG_ERR_MEMORY: return "out of memory";
        case VLTJPG_ERR_CATEGORY: return "a coefficient the Huffman tables cannot code";
        case VLTJPG_ERR_UNSUPPORTED: return "not supported";
        case VLTJPG_ERR_DATA: return "damaged or truncated data";
        case VLTJPG_ERR_SHORT_WRITE: return "the output took fewer bytes than written";
        case VLTJPG_ERR_NO_INDEX: return "no random-access index";
        case VLTJPG_ERR_CANCELLED: return "cancelled";
        default: return "unknown error";
        }
    }

private:
    vltJpgResult code_;
};

// A contiguous run of elements seen through a pointer and a count.
template <typename T>
class Span {
public:
    constexpr Span() = default;
    constexpr Span(T *data, std::size_t size) : data_(data), size_(size) {}
    constexpr T *data() const { return data_; }
    constexpr std::size_t size() const { return size_; }
    constexpr T &operator[](std::size_t i) const { return data_[i]; }
    constexpr T *begin() const { return data_; }
    constexpr T *end() const { return data_ + size_; }

private:
    T *data_ = nullptr;
    std::size_t size_ = 0;
};

// One image plane: its bytes, the distance between rows and its size.
struct Plane {
    Span<uint8_t> bytes;
    int32_t pitch = 0;
    int32_t width = 0;
    int32_t height = 0;
    uint8_t *row(int32_t y) const { return bytes.data() + static_cast<std::size_t>(y) * pitch; }
};

// Up to three planes in the pointer-and-pitch form the codec reads.
class PlaneSet {
public:
    PlaneSet() = default;
    explicit PlaneSet(Span<const Plane> planes) {
        for (std::size_t i = 0; i < planes.size() && i < 3; ++i) {
            pointers_[i] = planes[i].bytes.data();
            pitches_[i] = planes[i].pitch;
        }
    }
    // The same planes, moved down by `rows[i]` rows each.
    PlaneSet advanced(const int32_t rows[3]) const {
        PlaneSet moved = *this;
        for (int i = 0; i < 3; ++i)
            if (moved.pointers_[i]) moved.pointers_[i] += static_cast<std::ptrdiff_t>(rows[i]) * pitches_[i];
        return moved;
    }
    uint8_t **pointers() { return pointers_; }
    int32_t *pitches() { return pitches_; }
    vltJpgPlaneSet *record() {
        record_ = {pointers_, pitches_};
        return &record_;
    }

private:
    uint8_t *pointers_[3] = {nullptr, nullptr, nullptr};
    int32_t pitches_[3] = {0, 0, 0};
    vltJpgPlaneSet record_ = {nullptr, nullptr};
};

// Move-only owner of a handle released by `Close`.
template <typename Handle, auto Close>
class Owner {
public:
    Owner() = default;
    explicit Owner(Handle handle) : handle_(handle) {}
    Owner(Owner &&other) noexcept : handle_(std::exchange(other.handle_, Handle{})) {}
    Owner &operator=(Owner &&other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, Handle{});
        }
        return *this;
    }
    Owner(const Owner &) = delete;
    Owner &operator=(const Owner &) = delete;
    ~Owner() { reset(); }
    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != Handle{}; }
    void reset() {
        if (handle_ != Handle{}) Close(release());
    }
    // Gives the handle up without closing it.
    Handle release() { return std::exchange(handle_, Handle{}); }

private:
    Handle handle_{};
};

// A libqvbase stream over a file or memory.
class Stream : public Owner<MStream *, MStreamClose> {
public:
    using Owner::Owner;
    static Stream openFile(const char *path, uint32_t mode) {
        return Stream(MStreamOpenFromFileS(path, mode));
    }
    // Reads the caller's bytes, which must outlive the stream.
    static Stream overMemory(Span<const uint8_t> bytes) {
        return Stream(MStreamOpenFromMemoryBlock(const_cast<uint8_t *>(bytes.data()),
                                                 static_cast<uint32_t>(bytes.size())));
    }
    // An empty memory stream that grows as it is written.
    static Stream growingMemory() { return Stream(MStreamOpenFromMemoryBlock(nullptr, 0)); }
    int32_t size() const { return MStreamGetSize(get()); }
    bool seek(int32_t origin, int32_t offset) const { return MStreamSeek(get(), origin, offset) == 0; }
    uint32_t read(void *buffer, uint32_t count) const { return MStreamRead(get(), buffer, count); }
    uint32_t write(const void *buffer, uint32_t count) const {
        return MStreamWrite(get(), buffer, count);
    }
    bool flush() const { return MStreamFlush(get()) != 0; }
};

// Owner of a decoder or encoder handle, with typed property access.
template <typename Handle, auto Close, auto GetProp, auto SetProp>
class CodecOwner : public Owner<Handle, Close> {
public:
    CodecOwner() = default;
    explicit CodecOwner(Handle handle) : Owner<Handle, Close>(handle) {}
    using Owner<Handle, Close>::get;
    template <typename Value>
    Error get(uint32_t id, Value &value) const {
        return GetProp(get(), id, &value, static_cast<uint32_t>(sizeof value));
    }
    template <typename Value>
    Error set(uint32_t id, Value value) const {
        return SetProp(get(), id, &value, static_cast<uint32_t>(sizeof value));
    }
};

class Decoder : public CodecOwner<vltJpgDecoder, vltJpgDecoderDestroy, vltJpgDecoderGetProp,
                                  vltJpgDecoderSetProp> {
public:
    using CodecOwner::CodecOwner;
    // Reads the header from the stream's position; indexInterval 0: no index.
    static Error create(Decoder &out, const Stream &stream, uint32_t indexInterval = 0) {
        vltJpgDecoderParams params{};
        params.stream = stream.get();
        params.indexInterval = indexInterval;
        vltJpgDecoder handle = nullptr;
        const Error error = vltJpgDecoderCreate(&handle, &params);
        out = Decoder(error ? nullptr : handle);
        return error;
    }
    // Decodes the next band; `lines` asks for lines and receives those given.
    Error scanlines(PlaneSet &planes, int32_t &lines) const {
        return vltJpgDecoderScanlines(get(), planes.pointers(), planes.pitches(), nullptr, &lines);
    }
    Error readMcus(vltJpgDecoderRequest &request) const {
        return vltJpgDecoderReadMCUs(get(), &request);
    }
    // The index the decoder owns, valid while it lives.
    Error index(Span<const uint8_t> &block) const {
        vltJpgDecIndexBlock value{};
        const Error error = get(VLTJPG_DECPROP_INDEX, value);
        if (!error) block = Span<const uint8_t>(static_cast<const uint8_t *>(value.address), value.size);
        return error;
    }
    // Imports an index block, which must outlive the decoder.
    Error importIndex(Span<const uint8_t> block) const {
        vltJpgDecIndexBlock value{static_cast<uint32_t>(block.size()),
                                  const_cast<uint8_t *>(block.data())};
        return set(VLTJPG_DECPROP_INDEX, value);
    }
    Error buildIndex() const {
        uint32_t unused = 0;
        return get(VLTJPG_DECPROP_BUILD_INDEX, unused);
    }
};

class Encoder : public CodecOwner<vltJpgEncoder, vltJpgEncoderDestroy, vltJpgEncoderGetProp,
                                  vltJpgEncoderSetProp> {
public:
    using CodecOwner::CodecOwner;
    static Error create(Encoder &out, const vltJpgEncCreateInfo &info) {
        vltJpgEncoder handle = nullptr;
        const Error error = vltJpgEncoderCreate(&handle, &info);
        out = Encoder(error ? nullptr : handle);
        return error;
    }
    // An encoder re-coding the blocks of `decoder`, which must outlive it.
    static Error fromDecoder(Encoder &out, const Decoder &decoder, const Stream &stream,
                             uint32_t huffmanMode) {
        vltJpgEncoder handle = nullptr;
        const Error error =
            vltJpgEncoderCreateFromDecoder(&handle, decoder.get(), stream.get(), huffmanMode);
        out = Encoder(error ? nullptr : handle);
        return error;
    }
    Error scanlines(PlaneSet &planes, uint32_t startLine, uint32_t lineCount) const {
        return vltJpgEncoderScanlines(get(), planes.pointers(), planes.pitches(), startLine,
                                      &lineCount);
    }
    Error writeMcus(vltJpgEncWriteDesc &descriptor) const {
        return vltJpgEncoderWriteMCUs(get(), &descriptor);
    }
    // Ends the image and releases the encoder; the result of the ending.
    Error finish() {
        if (!get()) return VLTJPG_ERR_ARGUMENT;
        return vltJpgEncoderDestroy(release());
    }
};

}  // namespace qvjpeg

#endif  // QVJPEG_HPP
