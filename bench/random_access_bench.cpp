// Random access and transcoding against libjpeg-turbo in the same run.
//
//   random_access_bench [--seconds S] [--size N] photo.jpg
//
// The photo (for instance the first of `dpkg -L mate-backgrounds | grep
// jpg`) is tiled into an N x N image (default 8192) that libjpeg-turbo
// encodes as baseline 4:2:0 JPEG at quality 90. Then:
//  1. the 256 x 256 region at its bottom right: this codec opens a decoder,
//     imports an index built once beforehand and reads the region's MCUs;
//     libjpeg-turbo opens a decompressor and uses jpeg_crop_scanline and
//     jpeg_skip_scanlines to reach the region and read it;
//  2. lossless transcoding of the whole file: this codec in copy mode
//     (request mode 0, write mode 0), libjpeg-turbo with
//     jpeg_read_coefficients and jpeg_write_coefficients.
#include "bench_support.h"
#include "memory_stream.h"
#include "qvjpeg.h"

#include <jpeglib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using bench::MemoryCallback;
using bench::MemorySource;
using Clock = std::chrono::steady_clock;
constexpr int kRegion = 256;

// Host allocator that keeps the codec's live and peak heap use.
struct Heap {
    size_t live = 0;
    size_t peak = 0;
    static constexpr size_t kHeader = 16; // keeps the blocks 16-byte aligned

    static void *Alloc(uint32_t size, void *context) {
        auto *heap = static_cast<Heap *>(context);
        auto *block = static_cast<uint8_t *>(std::malloc(size + kHeader));
        if (!block)
            return nullptr;
        std::memcpy(block, &size, sizeof size);
        heap->live += size;
        heap->peak = heap->live > heap->peak ? heap->live : heap->peak;
        return block + kHeader;
    }
    static void Free(void *pointer, void *context) {
        if (!pointer)
            return;
        uint8_t *block = static_cast<uint8_t *>(pointer) - kHeader;
        uint32_t size;
        std::memcpy(&size, block, sizeof size);
        static_cast<Heap *>(context)->live -= size;
        std::free(block);
    }
};

vltJpgDecoder OpenDecoder(MemorySource *source, uint32_t indexInterval, Heap *heap = nullptr) {
    vltJpgDecoderParams params{};
    params.stream = source;
    params.streamCallback = MemoryCallback;
    params.indexInterval = indexInterval;
    if (heap) {
        params.memContext = heap;
        params.alloc = Heap::Alloc;
        params.release = Heap::Free;
    }
    vltJpgDecoder handle = nullptr;
    return vltJpgDecoderCreate(&handle, &params) == 0 ? handle : nullptr;
}

// A libjpeg-turbo decompressor over `jpeg`, header read.
void OpenLibjpeg(jpeg_decompress_struct *cinfo, jpeg_error_mgr *jerr,
                 const std::vector<uint8_t> &jpeg) {
    cinfo->err = jpeg_std_error(jerr);
    jpeg_create_decompress(cinfo);
    jpeg_mem_src(cinfo, jpeg.data(), jpeg.size());
    jpeg_read_header(cinfo, TRUE);
}

// The photo as RGB rows.
std::vector<uint8_t> DecodeRgb(const std::vector<uint8_t> &jpeg, int *width, int *height) {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr jerr;
    OpenLibjpeg(&cinfo, &jerr, jpeg);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    *width = static_cast<int>(cinfo.output_width);
    *height = static_cast<int>(cinfo.output_height);
    std::vector<uint8_t> rgb(static_cast<size_t>(*width) * *height * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = &rgb[static_cast<size_t>(cinfo.output_scanline) * *width * 3];
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return rgb;
}

// The photo tiled (mirrored every other tile, so the seams stay smooth)
// into a size x size baseline 4:2:0 JPEG.
std::vector<uint8_t> TiledJpeg(const std::vector<uint8_t> &photo, int size) {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb = DecodeRgb(photo, &width, &height);
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char *buffer = nullptr;
    unsigned long length = 0;
    jpeg_mem_dest(&cinfo, &buffer, &length);
    cinfo.image_width = static_cast<JDIMENSION>(size);
    cinfo.image_height = static_cast<JDIMENSION>(size);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> line(static_cast<size_t>(size) * 3);
    for (int y = 0; y < size; ++y) {
        int ty = (y / height) % 2 ? height - 1 - y % height : y % height;
        for (int x = 0; x < size; ++x) {
            int tx = (x / width) % 2 ? width - 1 - x % width : x % width;
            std::memcpy(&line[static_cast<size_t>(x) * 3],
                        &rgb[(static_cast<size_t>(ty) * width + tx) * 3], 3);
        }
        JSAMPROW row = line.data();
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<uint8_t> jpeg(buffer, buffer + length);
    std::free(buffer);
    return jpeg;
}

struct RegionPlanes {
    std::vector<uint8_t> y = std::vector<uint8_t>(kRegion * kRegion);
    std::vector<uint8_t> cb = std::vector<uint8_t>(kRegion * kRegion / 4);
    std::vector<uint8_t> cr = std::vector<uint8_t>(kRegion * kRegion / 4);
};

// Opens a decoder, imports the index and reads the bottom-right region,
// one run per MCU row of 16 x 16 MCUs.
bool RegionOurs(const std::vector<uint8_t> &jpeg, std::vector<uint8_t> &index, int size,
                RegionPlanes &out) {
    MemorySource source{&jpeg, 0};
    vltJpgDecoder decoder = OpenDecoder(&source, 0);
    vltJpgDecIndexBlock block{static_cast<uint32_t>(index.size()), index.data()};
    bool ok = decoder &&
              vltJpgDecoderSetProp(decoder, VLTJPG_DECPROP_INDEX, &block, sizeof block) == 0;
    const int mcus = kRegion / 16;
    const int first = size / 16 - mcus;
    for (int r = 0; ok && r < mcus; ++r) {
        uint8_t *planes[3] = {&out.y[r * 16 * kRegion], &out.cb[r * 8 * kRegion / 2],
                              &out.cr[r * 8 * kRegion / 2]};
        int32_t pitches[3] = {kRegion, kRegion / 2, kRegion / 2};
        vltJpgPlaneSet set{planes, pitches};
        vltJpgDecoderRequest request{VLTJPG_REQUEST_SAMPLES, mcus, first, first + r, &set};
        ok = vltJpgDecoderReadMCUs(decoder, &request) == 0;
    }
    vltJpgDecoderDestroy(decoder);
    return ok;
}

void RegionLibjpeg(const std::vector<uint8_t> &jpeg, int size, std::vector<uint8_t> &out) {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr jerr;
    OpenLibjpeg(&cinfo, &jerr, jpeg);
    cinfo.out_color_space = JCS_YCbCr;
    cinfo.dct_method = JDCT_ISLOW;
    cinfo.do_fancy_upsampling = FALSE;
    jpeg_start_decompress(&cinfo);
    JDIMENSION x = static_cast<JDIMENSION>(size - kRegion);
    JDIMENSION width = kRegion;
    jpeg_crop_scanline(&cinfo, &x, &width);
    jpeg_skip_scanlines(&cinfo, static_cast<JDIMENSION>(size - kRegion));
    out.resize(static_cast<size_t>(cinfo.output_width) * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out.data();
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
}

std::vector<uint8_t> BuildIndex(const std::vector<uint8_t> &jpeg, uint32_t interval) {
    MemorySource source{&jpeg, 0};
    vltJpgDecoder decoder = OpenDecoder(&source, interval);
    int32_t unused = 0;
    vltJpgDecIndexBlock block{};
    std::vector<uint8_t> copy;
    if (decoder && vltJpgDecoderGetProp(decoder, VLTJPG_DECPROP_BUILD_INDEX, &unused, 4) == 0 &&
        vltJpgDecoderGetProp(decoder, VLTJPG_DECPROP_INDEX, &block, sizeof block) == 0) {
        const auto *bytes = static_cast<const uint8_t *>(block.address);
        copy.assign(bytes, bytes + block.size);
    }
    vltJpgDecoderDestroy(decoder);
    return copy;
}

// Copy-mode transcoding of the whole file, one run per MCU row; the
// codec's heap use goes to `heap` when one is given.
size_t TranscodeOurs(const std::vector<uint8_t> &jpeg, Heap *heap = nullptr) {
    MemorySource source{&jpeg, 0};
    vltJpgDecoder decoder = OpenDecoder(&source, 0, heap);
    MemoryStream output;
    vltJpgEncoder encoder = nullptr;
    if (!decoder || vltJpgEncoderCreateFromDecoder(&encoder, decoder, output.get(), 1) != 0) {
        vltJpgDecoderDestroy(decoder);
        return 0;
    }
    int32_t grid[2];
    vltJpgDecoderGetProp(decoder, VLTJPG_DECPROP_MCU_GRID, grid, 8);
    bool ok = true;
    for (int32_t row = 0; ok && row < grid[1]; ++row) {
        vltJpgDecoderRequest request{VLTJPG_REQUEST_HANDOVER, 0, 0, row, nullptr};
        ok = vltJpgDecoderReadMCUs(decoder, &request) == 0;
        vltJpgEncWriteDesc write{VLTJPG_WRITE_TRANSCODE, grid[0], 0, static_cast<uint32_t>(row),
                                 request.planeSet};
        ok = ok && vltJpgEncoderWriteMCUs(encoder, &write) == 0;
    }
    ok = vltJpgEncoderDestroy(encoder) == 0 && ok;
    vltJpgDecoderDestroy(decoder);
    return ok ? output.Contents().size() : 0;
}

size_t TranscodeLibjpeg(const std::vector<uint8_t> &jpeg) {
    jpeg_decompress_struct in;
    jpeg_compress_struct out;
    jpeg_error_mgr inErr, outErr;
    OpenLibjpeg(&in, &inErr, jpeg);
    out.err = jpeg_std_error(&outErr);
    jpeg_create_compress(&out);
    jvirt_barray_ptr *coefficients = jpeg_read_coefficients(&in);
    unsigned char *buffer = nullptr;
    unsigned long length = 0;
    jpeg_mem_dest(&out, &buffer, &length);
    jpeg_copy_critical_parameters(&in, &out);
    jpeg_write_coefficients(&out, coefficients);
    jpeg_finish_compress(&out);
    jpeg_destroy_compress(&out);
    jpeg_finish_decompress(&in);
    jpeg_destroy_decompress(&in);
    std::free(buffer);
    return length;
}

} // namespace

int main(int argc, char **argv) {
    double seconds = 1.0;
    int size = 8192;
    int arg = 1;
    for (; arg + 1 < argc && argv[arg][0] == '-'; arg += 2) {
        if (std::strcmp(argv[arg], "--seconds") == 0)
            seconds = std::atof(argv[arg + 1]);
        else if (std::strcmp(argv[arg], "--size") == 0)
            size = std::atoi(argv[arg + 1]) / 16 * 16;
    }
    std::vector<uint8_t> photo;
    if (arg >= argc || !harness::ReadFileBytes(argv[arg], &photo) || size < kRegion) {
        std::fprintf(stderr, "usage: %s [--seconds S] [--size N] photo.jpg\n", argv[0]);
        return 2;
    }
    std::vector<uint8_t> jpeg = TiledJpeg(photo, size);
    std::printf("image %dx%d baseline 4:2:0, %zu bytes\n", size, size, jpeg.size());

    const uint32_t interval = 4;
    Clock::time_point start = Clock::now();
    std::vector<uint8_t> index = BuildIndex(jpeg, interval);
    double build = std::chrono::duration<double>(Clock::now() - start).count();
    if (index.empty()) {
        std::fprintf(stderr, "index build failed\n");
        return 1;
    }
    std::printf("index: interval %u, %zu bytes, built in %.3f s (once)\n", interval, index.size(),
                build);

    RegionPlanes region;
    std::vector<uint8_t> line;
    if (!RegionOurs(jpeg, index, size, region)) {
        std::fprintf(stderr, "region decode failed\n");
        return 1;
    }
    double ours = 1.0 / bench::Rate(seconds, [&] { RegionOurs(jpeg, index, size, region); });
    double theirs = 1.0 / bench::Rate(seconds, [&] { RegionLibjpeg(jpeg, size, line); });
    std::printf("region %dx%d bottom right: qv %.3f ms (open + import + read), turbo crop+skip "
                "%.3f ms, qv %.1fx faster\n",
                kRegion, kRegion, ours * 1e3, theirs * 1e3, theirs / ours);

    Heap heap;
    size_t ourBytes = TranscodeOurs(jpeg, &heap);
    if (ourBytes == 0) {
        std::fprintf(stderr, "transcoding failed\n");
        return 1;
    }
    double megapixels = static_cast<double>(size) * size / 1e6;
    double ourTranscode = 1.0 / bench::Rate(seconds, [&] { TranscodeOurs(jpeg); });
    double theirTranscode = 1.0 / bench::Rate(seconds, [&] { TranscodeLibjpeg(jpeg); });
    std::printf("transcode (copy): qv %.1f Mpx/s (%zu bytes), turbo read/write_coefficients "
                "%.1f Mpx/s (%zu bytes), ratio %.2f\n",
                megapixels / ourTranscode, ourBytes, megapixels / theirTranscode,
                TranscodeLibjpeg(jpeg), theirTranscode / ourTranscode);
    std::printf("transcode codec heap peak: %zu bytes (decoder and encoder, whatever the size)\n",
                heap.peak);
    return 0;
}
