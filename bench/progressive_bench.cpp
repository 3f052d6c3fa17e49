// Progressive decoding against libjpeg-turbo in the same run: time and peak
// memory of a full-size decode and of a 1/8 decode.
//
//   progressive_bench [--runs N] photo.jpg [more.jpg ...]
//
// Both decoders read the file held in memory and deliver raw Y/Cb/Cr rows
// that are thrown away: this codec in bands of one MCU row into a buffer of
// one MCU row, libjpeg-turbo (raw_data_out, islow IDCT) one row group per
// call into a buffer of one row per component. Times are the best of N
// runs, in processor time of the thread (the machine may be shared). Peak memory is the growth of the peak resident set over one decode
// in a fresh process (this program run again with --peak), so it counts
// the decoder's memory and the output buffer, not the file; "codec" is what
// this decoder allocates, which it does at creation only.
#include "decoder_harness.h"
#include "libjpeg_decompressor.h"
#include "qvjpeg.h"

#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

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

double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec * 1e-9;
}

template <typename Decode>
double BestSeconds(int runs, Decode decode) {
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        double start = ThreadSeconds();
        decode();
        best = std::min(best, ThreadSeconds() - start);
    }
    return best;
}

long PeakResidentKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Growth of the peak resident set (KiB) over one decode of `path` by
// `decoder` ("qv" or "turbo"), measured by this program run again, whose
// peak holds nothing of earlier decodes.
long PeakGrowthKb(const char *self, const char *decoder, int denominator, const char *path) {
    std::string command = std::string(self) + " --peak " + decoder + " " +
                          std::to_string(denominator) + " '" + path + "'";
    FILE *child = popen(command.c_str(), "r");
    if (!child)
        return -1;
    long growth = -1;
    if (std::fscanf(child, "%ld", &growth) != 1)
        growth = -1;
    pclose(child);
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

// The --peak run: loads the file, then decodes it once and prints the
// growth of the peak resident set.
int MeasurePeak(const char *decoder, int denominator, const char *path) {
    harness::VectorStream stream;
    Frame frame;
    if (!harness::ReadFileBytes(path, &stream.data) || !ReadFrame(stream, &frame))
        return 1;
    malloc_trim(0); // what the frame query freed goes back, not to be reused unseen
    long before = PeakResidentKb();
    if (std::strcmp(decoder, "qv") == 0)
        DecodeOurs(stream, frame, denominator);
    else
        DecodeLibjpeg(stream.data, frame, denominator);
    std::printf("%ld\n", PeakResidentKb() - before);
    return 0;
}

void BenchFile(const char *self, const char *path, int runs) {
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
        long oursKb = PeakGrowthKb(self, "qv", denominator, path);
        long theirsKb = PeakGrowthKb(self, "turbo", denominator, path);
        std::printf("%-24s %5dx%-5d 1/%d  %8.1f %8.1f %6.2f   %8ld %8ld %8zu\n", name,
                    frame.width(), frame.height(), denominator, ours * 1e3, theirs * 1e3,
                    theirs / ours, oursKb, theirsKb, codec / 1024);
    }
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 5 && std::strcmp(argv[1], "--peak") == 0)
        return MeasurePeak(argv[2], std::atoi(argv[3]), argv[4]);
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
        BenchFile(argv[0], argv[i], runs);
    return 0;
}
