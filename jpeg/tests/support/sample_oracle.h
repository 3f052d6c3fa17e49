// Sample input for encoder tests and benchmarks: component planes of an
// image in any sampling mode, our encoder driven band by band from any
// pixel format, and libjpeg-turbo's compression of the same samples (raw
// planes or RGB) as the reference.
#ifndef QVJPEG_TESTS_SAMPLE_ORACLE_H
#define QVJPEG_TESTS_SAMPLE_ORACLE_H

#include "enc_oracle.h"
#include "jpeg_oracle.h"
#include "qvjpeg.h"

#include <cstdint>
#include <vector>

#include <jpeglib.h>

namespace sample_test {

struct Size {
    int width;
    int height;
};
// Sizes with partial MCUs and blocks at the right and bottom edges.
constexpr Size kOddSizes[] = {{1, 1}, {17, 17}, {33, 9}, {4095, 3}};

// Y, Cb, Cr planes (one for grey) of an image in a sampling mode 0..4;
// chroma planes ceil(width * h / max h) x ceil(height * v / max v).
struct Planes {
    uint32_t samplingMode = 0;
    int width = 0;
    int height = 0;
    std::vector<oracle::Plane> planes;
};
// Full-resolution component samples (three per pixel) averaged down to
// the sampling mode's chroma.
Planes Downsample(const std::vector<uint8_t> &ycc, int width, int height, uint32_t samplingMode);
// A smooth photo-like image with a few edges.
Planes PhotoPlanes(int width, int height, uint32_t samplingMode, unsigned seed);

// A host buffer for one pixel format: planes and pitches as the encoder's
// entry points take them.
struct HostImage {
    std::vector<std::vector<uint8_t>> storage;
    uint8_t *planes[3] = {nullptr, nullptr, nullptr};
    int32_t pitches[3] = {0, 0, 0};
};
// Planar formats 0..4 (and 21, 22 as semi-planar) from planes of their
// sampling; every plane gets `extraPitch` bytes beyond its row.
HostImage PlanarImage(const Planes &planes, uint32_t format, int extraPitch = 0);

// Creation record for sample input of `format` onto `sink`.
vltJpgEncCreateInfo SampleInfo(enc_test::ByteSink *sink, int width, int height, uint32_t format,
                               uint32_t samplingMode = 0);

struct EncodeSettings {
    uint32_t pixelFormat = VLTJPG_PIXEL_YUV420;
    uint32_t samplingMode = 0; // where the format does not fix it
    uint32_t quality = 85;
    uint32_t qualityMode = 0;
    uint32_t qualityStamp = 1;
    uint32_t bandLines = 0;        // 0: the whole image in one band
    uint32_t thumbReduction = 0;   // 0: no thumbnail
    vltJpgPlaneSet *thumbnail = nullptr;
};
// Encodes a width x height image from the host's planes; the file, or an
// empty one when any call failed.
std::vector<uint8_t> Encode(const EncodeSettings &settings, int width, int height,
                            uint8_t *const *planes, const int32_t *pitches);

// Planes padded to whole MCUs with their last column and row repeated,
// as libjpeg-turbo's raw-data compression takes them.
struct PaddedPlanes {
    const Planes *source = nullptr;
    std::vector<std::vector<uint8_t>> planes;
    std::vector<int> widths;
};
PaddedPlanes Pad(const Planes &planes);

// libjpeg-turbo compression of the planes (raw data) and of packed RGB,
// standard tables, at `quality`.
std::vector<uint8_t> CompressPadded(const PaddedPlanes &padded, int quality, J_DCT_METHOD method);
std::vector<uint8_t> CompressPlanes(const Planes &planes, int quality, J_DCT_METHOD method);
std::vector<uint8_t> CompressRgb(const std::vector<uint8_t> &rgb, int width, int height,
                                 uint32_t samplingMode, int quality, J_DCT_METHOD method);
// The file re-coded by libjpeg-turbo with `qualityClass` in the lowest bit
// of every DC, as our encoder stamps it.
std::vector<uint8_t> StampDcs(const std::vector<uint8_t> &jpeg, int qualityClass);

// PSNR over all samples of all components of a file decoded by
// libjpeg-turbo against the planes it was made from.
double FilePsnr(const std::vector<uint8_t> &jpeg, const Planes &source);

} // namespace sample_test

#endif
