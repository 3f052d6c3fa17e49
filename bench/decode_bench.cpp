// Decode throughput against libjpeg-turbo in the same run.
//
//   decode_bench [--seconds S] photo.jpg [more.jpg ...]
//
// For every file and output scale (1, 1/2, 1/4, 1/8) both decoders turn the
// whole file, held in memory, into raw Y/Cb/Cr planes (libjpeg-turbo with
// raw_data_out and the islow IDCT); throughput is counted in full-size
// megapixels per second. Files this decoder refuses are reported and
// skipped.
#include "bench_support.h"
#include "decoder_harness.h"
#include "libjpeg_decompressor.h"
#include "qvjpeg.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using bench::MemoryCallback;
using bench::MemorySource;
using bench::Rate;

struct Planes {
    std::vector<std::vector<uint8_t>> storage;
    uint8_t *pointers[3] = {nullptr, nullptr, nullptr};
    int32_t pitches[3] = {0, 0, 0};
};

// Planes big enough for any layout: every component at full scaled size,
// padded to whole MCUs.
Planes MakePlanes(int width, int height, int denominator) {
    Planes p;
    int w = (width + 63) / denominator + 64;
    int h = (height + 63) / denominator + 64;
    p.storage.assign(3, std::vector<uint8_t>(static_cast<size_t>(w) * h));
    for (int c = 0; c < 3; ++c) {
        p.pointers[c] = p.storage[c].data();
        p.pitches[c] = w;
    }
    return p;
}

// A decoder over `source`, or null when the file is refused.
vltJpgDecoder OpenDecoder(MemorySource *source) {
    vltJpgDecoderParams params{};
    params.stream = source;
    params.streamCallback = MemoryCallback;
    vltJpgDecoder handle = nullptr;
    return vltJpgDecoderCreate(&handle, &params) == 0 ? handle : nullptr;
}

// One full decode with this codec; returns false when it is refused.
bool DecodeOurs(const std::vector<uint8_t> &jpeg, int denominator, Planes &planes) {
    MemorySource source{&jpeg, 0};
    vltJpgDecoder handle = OpenDecoder(&source);
    if (!handle)
        return false;
    int32_t scale = denominator;
    int32_t size[2];
    vltJpgDecoderSetProp(handle, VLTJPG_DECPROP_SCALE, &scale, 4);
    vltJpgDecoderGetProp(handle, VLTJPG_DECPROP_SIZE, size, 8);
    int32_t lines = size[1];
    uint32_t result = vltJpgDecoderScanlines(handle, planes.pointers, planes.pitches, nullptr,
                                             &lines);
    vltJpgDecoderDestroy(handle);
    return result == 0;
}

void DecodeLibjpeg(const std::vector<uint8_t> &jpeg, int denominator, Planes &planes) {
    oracle::Decompressor decompressor(jpeg);
    oracle::StartRawOutput(decompressor.cinfo, denominator);
    oracle::ReadRawRows(decompressor.cinfo, planes.pointers, planes.pitches);
    jpeg_finish_decompress(&decompressor.cinfo);
}

bool FrameSize(const std::vector<uint8_t> &jpeg, int *width, int *height) {
    MemorySource source{&jpeg, 0};
    vltJpgDecoder handle = OpenDecoder(&source);
    if (!handle)
        return false;
    int32_t size[2];
    vltJpgDecoderGetProp(handle, VLTJPG_DECPROP_SIZE, size, 8);
    vltJpgDecoderDestroy(handle);
    *width = size[0];
    *height = size[1];
    return true;
}

void BenchFile(const char *path, double seconds) {
    std::vector<uint8_t> jpeg;
    int width = 0, height = 0;
    if (!harness::ReadFileBytes(path, &jpeg) || !FrameSize(jpeg, &width, &height)) {
        std::printf("%-40s  skipped (unreadable or refused)\n", path);
        return;
    }
    const char *name = std::strrchr(path, '/') ? std::strrchr(path, '/') + 1 : path;
    double megapixels = width * static_cast<double>(height) / 1e6;
    for (int denominator : {1, 2, 4, 8}) {
        Planes planes = MakePlanes(width, height, denominator);
        double ours = Rate(seconds, [&] { DecodeOurs(jpeg, denominator, planes); });
        double theirs = Rate(seconds, [&] { DecodeLibjpeg(jpeg, denominator, planes); });
        std::printf("%-22s %5dx%-5d 1/%d  %8.1f  %8.1f  %6.2f\n", name, width, height,
                    denominator, ours * megapixels, theirs * megapixels, ours / theirs);
    }
}

} // namespace

int main(int argc, char **argv) {
    double seconds = 0.5;
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "--seconds") == 0) {
        seconds = std::atof(argv[2]);
        first = 3;
    }
    if (first >= argc) {
        std::fprintf(stderr, "usage: %s [--seconds S] file.jpg...\n", argv[0]);
        return 2;
    }
    std::printf("%-22s %-11s %-4s %9s %9s %7s\n", "file", "size", "scale", "qv Mpx/s",
                "turbo", "ratio");
    for (int i = first; i < argc; ++i)
        BenchFile(argv[i], seconds);
    return 0;
}
