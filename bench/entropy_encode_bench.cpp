// Entropy coding throughput: quantized coefficients to JPEG bytes, our
// encoder (pixel format 6, one band per image) against libjpeg-turbo's
// jpeg_write_coefficients on the very same blocks, in the same run.
//
// The blocks are the real coefficients of the JPEG photos named on the
// command line (for instance Debian's mate-backgrounds), read with
// jpeg_read_coefficients. Both sides write the header, code every block
// with the standard Huffman tables into memory, and write EOI.
//
//   entropy_encode_bench [--rounds N] file.jpg...
#include "bench_support.h"
#include "jpeg_oracle.h"
#include "qvjpeg.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace {

constexpr uint32_t kOutputBufferBytes = 65536;

struct Photo {
    std::string path;
    jpeg_decompress_struct source;
    jpeg_error_mgr error;
    jvirt_barray_ptr *arrays = nullptr;
    uint32_t samplingMode = 0;
    std::vector<int16_t> mcus; // the encoder's layout, MCU rows one after another
    int32_t mcuRowBytes = 0;
    uint64_t coefficients = 0;
    size_t fileBytes = 0;
};

// Sampling mode of a frame, or -1 when our encoder has no such layout.
int SamplingModeOf(const jpeg_decompress_struct &info) {
    if (info.num_components == 1)
        return 4;
    if (info.num_components != 3)
        return -1;
    for (int i = 1; i < 3; ++i) {
        if (info.comp_info[i].h_samp_factor != 1 || info.comp_info[i].v_samp_factor != 1)
            return -1;
    }
    int h = info.comp_info[0].h_samp_factor;
    int v = info.comp_info[0].v_samp_factor;
    if (h == 2 && v == 2)
        return 0;
    if (h == 2 && v == 1)
        return 1;
    if (h == 1 && v == 2)
        return 2;
    if (h == 1 && v == 1)
        return 3;
    return -1;
}

// Lays the source's blocks out MCU by MCU, as the encoder takes them.
void BuildMcuLayout(Photo &photo) {
    jpeg_decompress_struct &info = photo.source;
    bool single = info.num_components == 1;
    int maxH = single ? 1 : info.max_h_samp_factor;
    int maxV = single ? 1 : info.max_v_samp_factor;
    int mcuColumns = static_cast<int>((info.image_width + 8 * maxH - 1) / (8 * maxH));
    int mcuRows = static_cast<int>((info.image_height + 8 * maxV - 1) / (8 * maxV));
    int blocksPerMcu = 0;
    for (int i = 0; i < info.num_components; ++i)
        blocksPerMcu +=
            single ? 1 : info.comp_info[i].h_samp_factor * info.comp_info[i].v_samp_factor;
    photo.mcuRowBytes = mcuColumns * blocksPerMcu * 64 * 2;
    photo.mcus.assign(static_cast<size_t>(mcuRows) * mcuColumns * blocksPerMcu * 64, 0);
    photo.coefficients = photo.mcus.size();
    int16_t *out = photo.mcus.data();
    for (int mr = 0; mr < mcuRows; ++mr) {
        for (int mc = 0; mc < mcuColumns; ++mc) {
            for (int i = 0; i < info.num_components; ++i) {
                int h = single ? 1 : info.comp_info[i].h_samp_factor;
                int v = single ? 1 : info.comp_info[i].v_samp_factor;
                for (int r = 0; r < v; ++r) {
                    JBLOCKARRAY row = info.mem->access_virt_barray(
                        reinterpret_cast<j_common_ptr>(&info), photo.arrays[i],
                        static_cast<JDIMENSION>(mr * v + r), 1, FALSE);
                    for (int c = 0; c < h; ++c, out += 64)
                        std::memcpy(out, row[0][mc * h + c], 64 * sizeof(int16_t));
                }
            }
        }
    }
}

bool LoadPhoto(const char *path, Photo &photo) {
    FILE *file = std::fopen(path, "rb");
    if (!file)
        return false;
    std::fseek(file, 0, SEEK_END);
    photo.fileBytes = static_cast<size_t>(std::ftell(file));
    std::rewind(file);
    photo.path = path;
    photo.source.err = jpeg_std_error(&photo.error);
    jpeg_create_decompress(&photo.source);
    jpeg_stdio_src(&photo.source, file);
    jpeg_read_header(&photo.source, TRUE);
    photo.arrays = jpeg_read_coefficients(&photo.source);
    std::fclose(file);
    int mode = SamplingModeOf(photo.source);
    if (mode < 0)
        return false;
    photo.samplingMode = static_cast<uint32_t>(mode);
    BuildMcuLayout(photo);
    return true;
}

// Output of our encoder: a preallocated byte array behind the callback.
struct Sink {
    std::vector<uint8_t> bytes;
    size_t used = 0;
};

uint32_t SinkWrite(uint32_t operation, void *stream, void *argument) {
    auto *sink = static_cast<Sink *>(stream);
    if (operation == VLTJPG_STREAM_FLUSH)
        return 1;
    if (operation != VLTJPG_STREAM_WRITE)
        return operation == VLTJPG_STREAM_TELL ? static_cast<uint32_t>(sink->used) : 0;
    auto *buffer = static_cast<vltJpgStreamBuffer *>(argument);
    if (sink->used + buffer->count > sink->bytes.size())
        sink->bytes.resize((sink->used + buffer->count) * 2);
    std::memcpy(sink->bytes.data() + sink->used, buffer->buffer, buffer->count);
    sink->used += buffer->count;
    return buffer->count;
}

size_t EncodeOurs(Photo &photo, Sink &sink) {
    sink.used = 0;
    vltJpgEncCreateInfo info{};
    info.stream = &sink;
    info.width = photo.source.image_width;
    info.height = photo.source.image_height;
    info.huffBufferSize = kOutputBufferBytes;
    info.pixelFormat = VLTJPG_PIXEL_COEFFICIENTS;
    info.samplingMode = photo.samplingMode;
    info.streamCallback = SinkWrite;
    vltJpgEncoder encoder = nullptr;
    if (vltJpgEncoderCreate(&encoder, &info) != 0)
        return 0;
    uint8_t *planes[3] = {reinterpret_cast<uint8_t *>(photo.mcus.data()), nullptr, nullptr};
    int32_t pitches[3] = {photo.mcuRowBytes, 0, 0};
    uint32_t lines = info.height;
    vltJpgResult encoded = vltJpgEncoderScanlines(encoder, planes, pitches, 0, &lines);
    vltJpgResult destroyed = vltJpgEncoderDestroy(encoder);
    return encoded == 0 && destroyed == 0 ? sink.used : 0;
}

size_t EncodeLibjpeg(Photo &photo, std::vector<uint8_t> &buffer) {
    jpeg_compress_struct target;
    jpeg_error_mgr error;
    target.err = jpeg_std_error(&error);
    jpeg_create_compress(&target);
    unsigned char *out = buffer.data();
    unsigned long size = buffer.size();
    jpeg_mem_dest(&target, &out, &size);
    jpeg_copy_critical_parameters(&photo.source, &target);
    jpeg_write_coefficients(&target, photo.arrays);
    jpeg_finish_compress(&target);
    jpeg_destroy_compress(&target);
    if (out != buffer.data()) {
        std::free(out); // libjpeg outgrew the buffer: not a fair round
        return 0;
    }
    return size;
}

// Both coders use the standard Huffman tables, so the coded scans must be
// the same bytes (the headers differ in their quantization tables).
bool SameScanData(const std::vector<uint8_t> &ours, const std::vector<uint8_t> &theirs) {
    size_t ourStart = oracle::ScanDataOffset(ours);
    size_t theirStart = oracle::ScanDataOffset(theirs);
    return ourStart <= ours.size() && theirStart <= theirs.size() &&
           std::equal(ours.begin() + ourStart, ours.end(), theirs.begin() + theirStart,
                      theirs.end());
}

struct Totals {
    double ours = 0; // seconds per pass over all images
    double libjpeg = 0;
    uint64_t coefficients = 0;
    bench::RatioSummary ratios{"entropy coding"};
};

void TimeBothAndReport(Photo &photo, int rounds, Totals &totals) {
    Sink sink;
    sink.bytes.resize(photo.fileBytes * 2 + (1 << 20));
    std::vector<uint8_t> libjpegBuffer(photo.fileBytes * 2 + (1 << 20));
    double ours = 1e30;
    double theirs = 1e30;
    size_t ourBytes = 0;
    size_t theirBytes = 0;
    for (int round = 0; round < rounds; ++round) {
        ours = std::min(ours, bench::TimePerRun([&] { return EncodeOurs(photo, sink); }, ourBytes));
        theirs = std::min(theirs, bench::TimePerRun(
                                      [&] { return EncodeLibjpeg(photo, libjpegBuffer); },
                                      theirBytes));
    }
    if (ourBytes == 0 || theirBytes == 0) {
        std::printf("%-28s failed (ours %zu bytes, libjpeg %zu bytes)\n", photo.path.c_str(),
                    ourBytes, theirBytes);
        return;
    }
    double mcoef = static_cast<double>(photo.coefficients) / 1e6;
    std::string name = photo.path.substr(photo.path.find_last_of('/') + 1);
    bool same = SameScanData({sink.bytes.begin(), sink.bytes.begin() + ourBytes},
                             {libjpegBuffer.begin(), libjpegBuffer.begin() + theirBytes});
    std::printf("%-28s %5u %9.2f %10.1f %10.1f %7.2f   %s scan data, %zu bytes\n", name.c_str(),
                photo.samplingMode, mcoef, mcoef / ours, mcoef / theirs, theirs / ours,
                same ? "same" : "DIFFERENT", ourBytes);
    totals.ours += ours;
    totals.libjpeg += theirs;
    totals.ratios.Add(name, theirs / ours);
    totals.coefficients += photo.coefficients;
}

void BenchPhoto(const char *path, int rounds, Totals &totals) {
    Photo photo;
    if (LoadPhoto(path, photo))
        TimeBothAndReport(photo, rounds, totals);
    else
        std::printf("%-28s skipped (unreadable or layout not encodable)\n", path);
    if (photo.arrays)
        jpeg_destroy_decompress(&photo.source);
}

} // namespace

int main(int argc, char **argv) {
    bench::Arguments arguments;
    if (!bench::ParseArguments(argc, argv, arguments))
        return 2;
    std::printf("%-28s %5s %9s %10s %10s %7s\n", "image", "mode", "Mcoef", "ours Mc/s", "ljt Mc/s",
                "ratio");
    Totals totals;
    for (const char *path : arguments.paths)
        BenchPhoto(path, arguments.rounds, totals);
    double oursTotal = totals.ours;
    double libjpegTotal = totals.libjpeg;
    uint64_t coefficientTotal = totals.coefficients;
    if (coefficientTotal == 0)
        return 1;
    double mcoef = static_cast<double>(coefficientTotal) / 1e6;
    std::printf("%-28s %5s %9.2f %10.1f %10.1f %7.2f\n", "all", "", mcoef, mcoef / oursTotal,
                mcoef / libjpegTotal, libjpegTotal / oursTotal);
    std::printf("ratio = our throughput / libjpeg-turbo throughput (above 1: we are faster)\n");
    totals.ratios.Print();
    return 0;
}
