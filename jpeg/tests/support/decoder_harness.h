// Drives the decoder the way a host does: JPEG bytes behind a stream
// callback (or a platform memory stream), planes sized per component with
// guard bytes around them, bands or MCU runs.
#ifndef QVJPEG_TESTS_DECODER_HARNESS_H
#define QVJPEG_TESTS_DECODER_HARNESS_H

#include "jpeg_oracle.h"
#include "qvjpeg.h"

#include <cstdint>
#include <set>
#include <vector>

namespace harness {

// A stream callback read served from `data` at `*position`: at most
// `maxRead` bytes, fewer at the end of the data.
uint32_t ReadFromBytes(const std::vector<uint8_t> &data, size_t *position,
                       vltJpgStreamBuffer *request, size_t maxRead = SIZE_MAX);
// A stream callback seek over `size` bytes: moves `*position`, or returns 1
// and leaves it when the target lies outside the data.
uint32_t SeekInBytes(size_t size, size_t *position, const vltJpgStreamSeekArgs *seek);

// A stream callback over a byte vector; counts the operations it sees.
struct VectorStream {
    std::vector<uint8_t> data;
    size_t position = 0;
    bool seekable = true;
    int reads = 0;
    int seeks = 0;
    int tells = 0;
    static uint32_t Callback(uint32_t operation, void *stream, void *argument);
};

// Host memory callbacks that keep every live block (test assertion: each
// block freed is one of them) and can refuse every request.
struct CountingAllocator {
    int allocations = 0;
    int frees = 0;
    bool refuse = false;
    std::set<void *> live;
    static void *Alloc(uint32_t size, void *context);
    static void Free(void *block, void *context);
};

// Decoder parameters with the allocator's callbacks and itself as context.
vltJpgDecoderParams WithAllocator(CountingAllocator *allocator);

// A host plane: `width` x `height` samples at `pitch`, surrounded by guard
// bytes that must survive every decode.
class GuardedPlane {
public:
    GuardedPlane(int width, int height);
    uint8_t *origin() { return &storage_[kGuardRows * pitch_ + kGuardColumns]; }
    int32_t pitch() const { return pitch_; }
    bool GuardsIntact() const;
    oracle::Plane Extract() const;

private:
    static constexpr int kGuardRows = 16;
    static constexpr int kGuardColumns = 32;
    static constexpr uint8_t kGuard = 0xA5;
    int width_;
    int height_;
    int32_t pitch_;
    std::vector<uint8_t> storage_;
};

// An open decoder over a VectorStream; destroyed with the object.
class Decoder {
public:
    // A decoder over `jpeg` with default parameters and the given chunk size.
    explicit Decoder(const std::vector<uint8_t> &jpeg, uint32_t chunkSize = 0);
    // A decoder with the host's `params` (its stream fields are replaced);
    // the stream is positioned at `startOffset` before creation, so that
    // bytes before a JPEG inside a larger stream are never read.
    Decoder(const std::vector<uint8_t> &jpeg, vltJpgDecoderParams params,
            size_t startOffset = 0);
    ~Decoder();
    Decoder(const Decoder &) = delete;
    Decoder &operator=(const Decoder &) = delete;

    uint32_t created() const { return createResult_; }
    vltJpgDecoder handle() const { return handle_; }
    VectorStream &stream() { return stream_; }

    uint32_t SetScale(int32_t denominator);
    void GetPair(uint32_t id, int32_t *first, int32_t *second);
    int32_t GetWord(uint32_t id);

private:
    VectorStream stream_;
    vltJpgDecoder handle_ = nullptr;
    uint32_t createResult_ = 0;
};

// The plane and pitch arrays a host passes to the decoder.
struct PlanePointers {
    uint8_t *planes[3] = {nullptr, nullptr, nullptr};
    int32_t pitches[3] = {0, 0, 0};
    vltJpgPlaneSet set() { return vltJpgPlaneSet{planes, pitches}; }
};

// Planes for every component of `info` at a scale denominator.
struct OutputPlanes {
    std::vector<GuardedPlane> planes;
    OutputPlanes(const oracle::FrameInfo &info, int denominator);
    // Pointers to the first sample of every plane.
    PlanePointers Origins();
    bool GuardsIntact() const;
    std::vector<oracle::Plane> Extract() const;
};

// Decodes the whole image in bands of `bandLines` lines (0: one band) into
// `out`; returns the first non-zero result.
uint32_t DecodeBands(Decoder &dec, const oracle::FrameInfo &info, int denominator,
                     OutputPlanes &out, int bandLines = 0);

struct Decoded {
    uint32_t result = 0;
    bool guardsIntact = true;
    std::vector<oracle::Plane> planes;
};

// Creates a decoder, sets the scale and decodes everything in bands.
Decoded DecodeImage(const std::vector<uint8_t> &jpeg, int denominator, int bandLines = 0);
// The same for a file whose frame is known (libjpeg need not read it).
Decoded DecodeImage(const std::vector<uint8_t> &jpeg, const oracle::FrameInfo &info,
                    int denominator, int bandLines = 0);

// The whole file at `path` (benchmarks read their photos with it).
bool ReadFileBytes(const char *path, std::vector<uint8_t> *data);

// Test assertion: every MCU read as coefficients (request mode 1) equals
// libjpeg's coefficients of the same file, padding blocks aside.
void ExpectCoefficientsMatch(const std::vector<uint8_t> &jpeg);

// Test assertion: both plane sets hold the same samples, plane by plane.
void ExpectSamePlanes(const std::vector<oracle::Plane> &a, const std::vector<oracle::Plane> &b);

} // namespace harness

#endif
