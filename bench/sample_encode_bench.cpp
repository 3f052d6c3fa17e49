// Sample encoding throughput and quality: our encoder from YCbCr 4:2:0
// planes (both quality modes) against libjpeg-turbo's raw-data compression
// of the same planes (JDCT_ISLOW and JDCT_IFAST), and from packed RGB
// against libjpeg-turbo's RGB compression, all at quality 85 with the
// standard tables, in the same run.
//
// The images are the JPEG photos named on the command line (for instance
// Debian's mate-backgrounds) decoded at half size, so that their blocks do
// not fall on the original block grid. For each photo the quality report
// gives PSNR against the planes and file size: our default output (mode 0,
// quality stamp on) and mode 1 with the stamp against libjpeg-turbo's
// islow output with the same stamp applied to its DCs, and mode 1 without
// the stamp against libjpeg-turbo's own file.
//
//   sample_encode_bench [--rounds N] file.jpg...
#include "bench_support.h"
#include "sample_oracle.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace {

constexpr int kQuality = 85;
constexpr int kQualityClass85 = 1;

struct Photo {
    std::string name;
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
    std::vector<uint8_t> ycc;
};

// The photo at half size, as RGB and as YCbCr (three bytes per pixel).
bool LoadPhoto(const char *path, Photo &photo) {
    FILE *file = std::fopen(path, "rb");
    if (!file)
        return false;
    for (J_COLOR_SPACE space : {JCS_RGB, JCS_YCbCr}) {
        std::rewind(file);
        jpeg_decompress_struct info;
        jpeg_error_mgr error;
        info.err = jpeg_std_error(&error);
        jpeg_create_decompress(&info);
        jpeg_stdio_src(&info, file);
        jpeg_read_header(&info, TRUE);
        info.out_color_space = space;
        info.scale_num = 1;
        info.scale_denom = 2;
        jpeg_start_decompress(&info);
        photo.width = static_cast<int>(info.output_width);
        photo.height = static_cast<int>(info.output_height);
        std::vector<uint8_t> &out = space == JCS_RGB ? photo.rgb : photo.ycc;
        out.resize(static_cast<size_t>(photo.width) * photo.height * 3);
        while (info.output_scanline < info.output_height) {
            JSAMPROW row = &out[static_cast<size_t>(info.output_scanline) * photo.width * 3];
            jpeg_read_scanlines(&info, &row, 1);
        }
        jpeg_finish_decompress(&info);
        jpeg_destroy_decompress(&info);
    }
    std::fclose(file);
    std::string full = path;
    photo.name = full.substr(full.find_last_of('/') + 1);
    return true;
}

// The best of `rounds` timings of one side; its last file in `file`.
template <typename Encode>
double BestTime(int rounds, Encode encode, std::vector<uint8_t> &file) {
    double best = 1e30;
    for (int round = 0; round < rounds; ++round)
        best = std::min(best, bench::TimePerRun(encode, file));
    return best;
}

enum Side { kOursFast, kOursExact, kLibjpegIslow, kLibjpegIfast, kOursRgb, kLibjpegRgb, kSides };
const char *const kSideNames[kSides] = {"ours m0", "ours m1", "ljt islow", "ljt ifast",
                                        "ours rgb", "ljt rgb"};

// The ratios summarized per photo: ours over libjpeg-turbo's side.
struct Comparison {
    Side ours;
    Side theirs;
    const char *aim;
};
constexpr Comparison kComparisons[] = {{kOursExact, kLibjpegIslow, "m1 / islow"},
                                       {kOursExact, kLibjpegIfast, "m1 / ifast"},
                                       {kOursFast, kLibjpegIslow, "m0 / islow"},
                                       {kOursRgb, kLibjpegRgb, "rgb / rgb islow"}};
constexpr int kComparisonCount = sizeof kComparisons / sizeof kComparisons[0];

struct Totals {
    double seconds[kSides] = {};
    double megapixels = 0;
    bench::RatioSummary ratios[kComparisonCount] = {
        bench::RatioSummary(kComparisons[0].aim), bench::RatioSummary(kComparisons[1].aim),
        bench::RatioSummary(kComparisons[2].aim), bench::RatioSummary(kComparisons[3].aim)};
};

std::vector<uint8_t> EncodeOurs(const sample_test::HostImage &host, const Photo &photo,
                                uint32_t format, uint32_t qualityMode, uint32_t stamp) {
    sample_test::EncodeSettings settings;
    settings.pixelFormat = format;
    settings.samplingMode = VLTJPG_SAMPLING_420;
    settings.quality = kQuality;
    settings.qualityMode = qualityMode;
    settings.qualityStamp = stamp;
    return sample_test::Encode(settings, photo.width, photo.height, host.planes, host.pitches);
}

void ReportQuality(const Photo &photo, const sample_test::Planes &planes,
                   const std::vector<uint8_t> &oursDefault, const std::vector<uint8_t> &islow,
                   const sample_test::HostImage &host) {
    std::vector<uint8_t> stamped = sample_test::StampDcs(islow, kQualityClass85);
    std::vector<uint8_t> oursExact = EncodeOurs(host, photo, VLTJPG_PIXEL_YUV420, 1, 1);
    std::vector<uint8_t> oursUnstamped = EncodeOurs(host, photo, VLTJPG_PIXEL_YUV420, 1, 0);
    auto line = [&](const char *what, const std::vector<uint8_t> &ours,
                    const std::vector<uint8_t> &theirs) {
        double ourPsnr = sample_test::FilePsnr(ours, planes);
        double theirPsnr = sample_test::FilePsnr(theirs, planes);
        std::printf("  %-34s %6.2f dB vs %6.2f dB (%+5.2f)  %8zu vs %8zu bytes (%+5.1f %%)\n", what,
                    ourPsnr, theirPsnr, ourPsnr - theirPsnr, ours.size(), theirs.size(),
                    100.0 * (static_cast<double>(ours.size()) / theirs.size() - 1));
    };
    line("default (m0, stamp) vs ljt islow", oursDefault, islow);
    line("m1 stamp vs ljt islow stamped", oursExact, stamped);
    line("m1 no stamp vs ljt islow", oursUnstamped, islow);
}

void BenchPhoto(const Photo &photo, int rounds, Totals &totals) {
    sample_test::Planes planes =
        sample_test::Downsample(photo.ycc, photo.width, photo.height, VLTJPG_SAMPLING_420);
    sample_test::HostImage host = sample_test::PlanarImage(planes, VLTJPG_PIXEL_YUV420);
    sample_test::PaddedPlanes padded = sample_test::Pad(planes);
    uint8_t *rgbPlanes[3] = {const_cast<uint8_t *>(photo.rgb.data()), nullptr, nullptr};
    int32_t rgbPitches[3] = {3 * photo.width, 0, 0};
    sample_test::HostImage rgbHost;
    std::copy_n(rgbPlanes, 3, rgbHost.planes);
    std::copy_n(rgbPitches, 3, rgbHost.pitches);

    std::vector<uint8_t> files[kSides];
    double seconds[kSides];
    seconds[kOursFast] = BestTime(
        rounds, [&] { return EncodeOurs(host, photo, VLTJPG_PIXEL_YUV420, 0, 1); },
        files[kOursFast]);
    seconds[kOursExact] = BestTime(
        rounds, [&] { return EncodeOurs(host, photo, VLTJPG_PIXEL_YUV420, 1, 1); },
        files[kOursExact]);
    seconds[kLibjpegIslow] = BestTime(
        rounds, [&] { return sample_test::CompressPadded(padded, kQuality, JDCT_ISLOW); },
        files[kLibjpegIslow]);
    seconds[kLibjpegIfast] = BestTime(
        rounds, [&] { return sample_test::CompressPadded(padded, kQuality, JDCT_IFAST); },
        files[kLibjpegIfast]);
    seconds[kOursRgb] = BestTime(
        rounds, [&] { return EncodeOurs(rgbHost, photo, VLTJPG_PIXEL_RGB_PACKED, 0, 1); },
        files[kOursRgb]);
    seconds[kLibjpegRgb] = BestTime(
        rounds,
        [&] {
            return sample_test::CompressRgb(photo.rgb, photo.width, photo.height,
                                            VLTJPG_SAMPLING_420, kQuality, JDCT_ISLOW);
        },
        files[kLibjpegRgb]);
    double megapixels = static_cast<double>(photo.width) * photo.height / 1e6;
    std::printf("%-28s %5dx%-5d", photo.name.c_str(), photo.width, photo.height);
    for (int side = 0; side < kSides; ++side) {
        std::printf(" %9.1f", megapixels / seconds[side]);
        totals.seconds[side] += seconds[side];
    }
    std::printf("\n");
    totals.megapixels += megapixels;
    for (int i = 0; i < kComparisonCount; ++i)
        totals.ratios[i].Add(photo.name,
                             seconds[kComparisons[i].theirs] / seconds[kComparisons[i].ours]);
    ReportQuality(photo, planes, files[kOursFast], files[kLibjpegIslow], host);
}

} // namespace

int main(int argc, char **argv) {
    bench::Arguments arguments;
    if (!bench::ParseArguments(argc, argv, arguments))
        return 2;
    std::printf("%-28s %11s", "image (Mpixel/s)", "size");
    for (const char *name : kSideNames)
        std::printf(" %9s", name);
    std::printf("\n");
    Totals totals;
    for (const char *path : arguments.paths) {
        Photo photo;
        if (LoadPhoto(path, photo))
            BenchPhoto(photo, arguments.rounds, totals);
        else
            std::printf("%-28s skipped (unreadable)\n", path);
    }
    if (totals.megapixels == 0)
        return 1;
    std::printf("%-40s", "all");
    for (double seconds : totals.seconds)
        std::printf(" %9.1f", totals.megapixels / seconds);
    std::printf("\nratios (ours / libjpeg-turbo throughput): m0/islow %.2f, m1/islow %.2f, "
                "m0/ifast %.2f, rgb/rgb islow %.2f\n",
                totals.seconds[kLibjpegIslow] / totals.seconds[kOursFast],
                totals.seconds[kLibjpegIslow] / totals.seconds[kOursExact],
                totals.seconds[kLibjpegIfast] / totals.seconds[kOursFast],
                totals.seconds[kLibjpegRgb] / totals.seconds[kOursRgb]);
    for (const bench::RatioSummary &summary : totals.ratios)
        summary.Print();
    return 0;
}
