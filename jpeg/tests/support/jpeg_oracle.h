// libjpeg-turbo as test oracle for the decoder: writes test JPEGs in memory
// for any sampling layout, quality, table choice and restart interval, and
// decodes them to raw component planes or quantized coefficients.
#ifndef QVJPEG_TESTS_JPEG_ORACLE_H
#define QVJPEG_TESTS_JPEG_ORACLE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace oracle {

// Sampling factors (H, V) of up to three components.
struct Sampling {
    int h[3];
    int v[3];
};

Sampling Sampling420();
Sampling Sampling422();
Sampling Sampling440();
Sampling Sampling444();
Sampling Sampling411();       // 4x1, 1x1, 1x1
Sampling Sampling22_12_12();  // 2x2, 1x2, 1x2
Sampling Sampling12_11_11();  // 1x2, 1x1, 1x1

// One scan of a scan script: its components (frame indices) and its
// spectral band and successive approximation bits.
struct ScanSpec {
    std::vector<int> components;
    int ss = 0;
    int se = 63;
    int ah = 0;
    int al = 0;
};

enum class Content {
    kPhoto, // smooth gradients with mild noise and a few sharp edges
    kNoise, // full-range random samples: long codes, large coefficients
};

struct EncodeOptions {
    int width = 64;
    int height = 48;
    int components = 3; // 1, 3 or 4 (CMYK)
    Sampling sampling = Sampling420();
    int quality = 90;
    bool forceBaseline = true; // false allows 16-bit tables (SOF1)
    bool optimize = false;     // optimized Huffman tables
    bool progressive = false;
    bool separateScans = false; // one scan per component
    std::vector<ScanSpec> scans; // a scan script of the caller's (progressive
                                 // when any scan is not a whole sequential one)
    int restartInterval = 0;    // MCUs
    int restartRows = 0;        // MCU rows (used when restartInterval is 0)
    bool extraSegments = false; // APP1 (with a fake embedded JPEG), APP14, COM
    Content content = Content::kPhoto;
    unsigned seed = 1;
};

// Component samples of a source image (interleaved, `components` bytes
// per pixel) as the encoder sees them.
std::vector<uint8_t> MakeImage(int width, int height, int components, Content content,
                               unsigned seed);

std::vector<uint8_t> Encode(const EncodeOptions &options);

// The same quantized coefficients in one baseline scan, with optimized
// Huffman tables (libjpeg's lossless transcoding).
std::vector<uint8_t> TranscodeToBaseline(const std::vector<uint8_t> &jpeg);

// One decoded component: plane of width x height samples.
struct Plane {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> samples;
    uint8_t at(int x, int y) const { return samples[static_cast<size_t>(y) * width + x]; }
};

struct FrameInfo {
    int width = 0;
    int height = 0;
    int components = 0;
    int maxH = 1;
    int maxV = 1;
    int h[4] = {1, 1, 1, 1};
    int v[4] = {1, 1, 1, 1};
};

FrameInfo ReadFrameInfo(const std::vector<uint8_t> &jpeg);

// Component extent at a scale denominator: ceil(ceil(extent * f / max) / d).
int ComponentExtent(int extent, int factor, int maxFactor, int denominator);

// Raw component planes decoded by libjpeg (islow IDCT) at 1/denominator.
std::vector<Plane> DecodeRaw(const std::vector<uint8_t> &jpeg, int denominator);

// Quantized coefficients per component: blocks in raster order, each 64
// values in natural order; blocksWide x blocksHigh blocks.
struct ComponentCoefficients {
    int blocksWide = 0;
    int blocksHigh = 0;
    std::vector<int16_t> values;
    const int16_t *block(int bx, int by) const {
        return &values[(static_cast<size_t>(by) * blocksWide + bx) * 64];
    }
};

std::vector<ComponentCoefficients> ReadCoefficients(const std::vector<uint8_t> &jpeg);

// Offset of the first 0xFF `code` marker, or npos.
size_t FindMarker(const std::vector<uint8_t> &jpeg, uint8_t code);
// Offset of the first entropy-coded byte of the first scan.
size_t ScanDataOffset(const std::vector<uint8_t> &jpeg);

struct PlaneStats {
    double psnr = 0; // dB; 99 when identical
    int maxDiff = 0;
};

PlaneStats Compare(const Plane &a, const Plane &b);

std::string Describe(const Sampling &s, int components);

} // namespace oracle

#endif
