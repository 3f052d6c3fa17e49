// Progressive decoding against libjpeg-turbo in the same run: time and peak
// memory of a full-size decode and of a 1/8 decode.
//
//   progressive_bench [--runs N] photo.jpg [more.jpg ...]
//
// Both decoders read the file held in memory and deliver raw Y/Cb/Cr rows
// that are thrown away: this codec in bands of one MCU row into a buffer of
// one MCU row, libjpeg-turbo (raw_data_out, islow IDCT) one row group per
// call into a buffer of one row per component. Times are the best of N
// runs. Peak memory is the growth of the peak resident set while one decode
// runs in a child process of its own (so it counts the decoder's memory and
// the output buffer, not the file); "codec" is what this decoder allocates,
// which it does at creation only.
#include "decoder_harness.h"
#include "libjpeg_decompressor.h"
#include "qvjpeg.h"

#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Property values of the frame: width and height, MCU width and height.
struct Frame {
    int32_t size[2] = {0, 0};
    int32_t mcuSize[2] = {0, 0};
    int32_t width() const { return size[0]; }
    int32_t height() const { return size[1]; }
    int32_t mcuHeight() const { return mcuSize[1]; }
};

// Output rows of one band for every component, reused band after band:
// three planes of `rows` rows, one after the other in one block.
struct BandBuffer {
    std::vector<uint8_t> storage;
    uint8_t *planes[3];
    int32_t pitches[3];
    BandBuffer(int width, int rows) : storage(3 * static_cast<size_t>(width + 64) * (rows + 8)) {
        const size_t planeBytes = storage.size() / 3;
        for (int c = 0; c < 3; ++c) {
            planes[c] = storage.data() + c * planeBytes;
            pitches[c] = width + 64;
        }
    }
};

vltJpgDecoder Open(harness::VectorStream &stream) {
    stream.position = 0;
    vltJpgDecoderParams params{};
    params.stream = &stream;
    params.streamCallback = harness::VectorStream::Callback;
    vltJpgDecoder handle = nullptr;
    return vltJpgDecoderCreate(&handle, &params) == 0 ? handle : nullptr;
}

// One decode with this codec at 1/denominator, in bands of one MCU row.
// Returns the bytes the decoder allocated, 0 when it failed.
size_t DecodeOurs(harness::VectorStream &stream, const Frame &frame, int denominator) {
    size_t before = mallinfo2().uordblks;
    vltJpgDecoder handle = Open(stream);
    if (!handle)
        return 0;
    size_t allocated = mallinfo2().uordblks - before;
    int32_t scale = denominator;
    vltJpgDecoderSetProp(handle, VLTJPG_DECPROP_SCALE, &scale, 4);
    BandBuffer band(frame.width() / denominator + 1, frame.mcuHeight() / denominator + 1);
    for (int done = 0; done < frame.height();) {
        int32_t lines = frame.mcuHeight();
        if (vltJpgDecoderScanlines(handle, band.planes, band.pitches, nullptr, &lines) != 0 ||
            lines == 0) {
            allocated = 0;
            break;
        }
        done += lines;
    }
    vltJpgDecoderDestroy(handle);
    return allocated;
}

void DecodeLibjpeg(const std::vector<uint8_t> &jpeg, const Frame &frame, int denominator) {
    oracle::Decompressor decompressor(jpeg);
    oracle::StartRawOutput(decompressor.cinfo, denominator);
    // Pitch 0: every row of a call lands in the same row buffer.
    BandBuffer row(frame.width() / denominator + 64, 1);
    int32_t pitches[3] = {0, 0, 0};
    oracle::ReadRawRows(decompressor.cinfo, row.planes, pitches);
    jpeg_finish_decompress(&decompressor.cinfo);
}

template <typename Decode>
double BestSeconds(int runs, Decode decode) {
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        Clock::time_point start = Clock::now();
        decode();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

long PeakResidentKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Growth of the peak resident set (KiB) while `decode` runs in a child.
template <typename Decode>
long PeakGrowthKb(Decode decode) {
    int channel[2];
    if (pipe(channel) != 0)
        return -1;
    pid_t child = fork();
    if (child == 0) {
        long before = PeakResidentKb();
        decode();
        long growth = PeakResidentKb() - before;
        ssize_t written = write(channel[1], &growth, sizeof growth);
        _exit(written == sizeof growth ? 0 : 1);
    }
    long growth = -1;
    if (child < 0 || read(channel[0], &growth, sizeof growth) != sizeof growth)
        growth = -1;
    if (child > 0)
        waitpid(child, nullptr, 0);
    close(channel[0]);
    close(channel[1]);
    return growth;
}

bool ReadFrame(harness::VectorStream &stream, Frame *frame) {
    vltJpgDecoder handle = Open(stream);
    if (!handle)
        return false;
    vltJpgDecoderGetProp(handle, VLTJPG_DECPROP_SIZE, frame->size, 8);
    vltJpgDecoderGetProp(handle, VLTJPG_DECPROP_MCU_SIZE, frame->mcuSize, 8);
    vltJpgDecoderDestroy(handle);
    return true;
}

void BenchFile(const char *path, int runs) {
    harness::VectorStream stream;
    Frame frame;
    if (!harness::ReadFileBytes(path, &stream.data) || !ReadFrame(stream, &frame)) {
        std::printf("%s: unreadable or refused\n", path);
        return;
    }
    const char *name = std::strrchr(path, '/') ? std::strrchr(path, '/') + 1 : path;
    for (int denominator : {1, 8}) {
        size_t codec = 0;
        double ours = BestSeconds(runs, [&] { codec = DecodeOurs(stream, frame, denominator); });
        double theirs =
            BestSeconds(runs, [&] { DecodeLibjpeg(stream.data, frame, denominator); });
        long oursKb = PeakGrowthKb([&] { DecodeOurs(stream, frame, denominator); });
        long theirsKb = PeakGrowthKb([&] { DecodeLibjpeg(stream.data, frame, denominator); });
        std::printf("%-24s %5dx%-5d 1/%d  %8.1f %8.1f %6.2f   %8ld %8ld %8zu\n", name,
                    frame.width(), frame.height(), denominator, ours * 1e3, theirs * 1e3,
                    theirs / ours, oursKb, theirsKb, codec / 1024);
    }
}

} // namespace

int main(int argc, char **argv) {
    int runs = 3;
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "--runs") == 0) {
        runs = std::max(1, std::atoi(argv[2]));
        first = 3;
    }
    if (first >= argc) {
        std::fprintf(stderr, "usage: %s [--runs N] file.jpg...\n", argv[0]);
        return 2;
    }
    std::printf("%-24s %-11s %-5s %8s %8s %6s   %8s %8s %8s\n", "file", "size", "scale", "qv ms",
                "turbo ms", "speed", "qv KiB", "turboKiB", "codecKiB");
    for (int i = first; i < argc; ++i)
        BenchFile(argv[i], runs);
    return 0;
}
