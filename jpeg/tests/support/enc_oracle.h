// Encoder test support: a byte sink behind the stream callback, quantized
// coefficient images in the encoder's MCU layout, and libjpeg-turbo as the
// oracle that reads our files back (warnings counted, coefficients and
// tables returned).
#ifndef QVJPEG_TESTS_ENC_ORACLE_H
#define QVJPEG_TESTS_ENC_ORACLE_H

#include "qvjpeg.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace enc_test {

using Block = std::array<int16_t, 64>; // natural order

// A growing byte array behind the encoder's stream callback. Failures can
// be switched on to check how the encoder reports them.
struct ByteSink {
    std::vector<uint8_t> bytes;
    uint32_t position = 0;
    bool failWrites = false;
    bool failSeeks = false;
    bool failFlushes = false;
    uint32_t writeCalls = 0;
    uint32_t flushCalls = 0;
};
uint32_t SinkCallback(uint32_t operation, void *stream, void *argument);

// Creation record for coefficient input onto `sink`.
vltJpgEncCreateInfo CoefficientInfo(ByteSink *sink, uint32_t width, uint32_t height,
                                    uint32_t samplingMode);

// Sampling layout of modes 0..4 and the MCU grid of an image.
struct Geometry {
    int components;
    int h[3];
    int v[3];
    int maxH;
    int maxV;
    int mcuColumns;
    int mcuRows;
    int BlocksPerMcu() const;
    int BlockColumns(int component) const { return mcuColumns * h[component]; }
    int BlockRows(int component) const { return mcuRows * v[component]; }
};
Geometry GeometryFor(uint32_t samplingMode, uint32_t width, uint32_t height);

// Quantized coefficients of every block of every component (block grids
// padded to whole MCUs), row-major per component.
struct CoefImage {
    Geometry geometry;
    std::vector<std::vector<Block>> planes;
    const Block &At(int component, int row, int column) const;
};
// Random sparse blocks whose values every baseline table can code.
CoefImage RandomCoefficients(uint32_t samplingMode, uint32_t width, uint32_t height, uint32_t seed);

// The MCUs of rows [firstRow, firstRow + rows) in the encoder's layout: one
// MCU's blocks after another, MCU rows one after another.
std::vector<int16_t> McuLayout(const CoefImage &image, int firstRow, int rows);
// MCUs [first, first + count) in raster order laid out as a run buffer:
// the first at (0, 0), the next to its right, after the end of an image
// row at column 0 one row further down. `pitchValues` is the MCU row pitch.
std::vector<int16_t> RunLayout(const CoefImage &image, int first, int count, int pitchValues);
int McuRowValues(const Geometry &geometry);

// MCU rows of an image as the planes and pitches of band input (format 6:
// planes[0] the MCUs, pitches[0] the bytes from one MCU row to the next).
struct CoefBand {
    CoefBand(const CoefImage &image, int firstRow, int rows);
    explicit CoefBand(const CoefImage &image) : CoefBand(image, 0, image.geometry.mcuRows) {}
    CoefBand(const CoefBand &) = delete;
    CoefBand &operator=(const CoefBand &) = delete;
    std::vector<int16_t> values;
    uint8_t *planes[3];
    int32_t pitches[3];
};

// What libjpeg-turbo finds in a file.
struct Decoded {
    bool ok = false;
    int warnings = 0;
    int width = 0;
    int height = 0;
    int components = 0;
    int h[3] = {0, 0, 0};
    int v[3] = {0, 0, 0};
    int quantSelector[3] = {0, 0, 0};
    unsigned restartInterval = 0;
    bool progressive = false;
    bool arithmetic = false;
    std::vector<std::array<uint16_t, 64>> quantTables; // natural order, by number
    std::vector<std::vector<Block>> planes;            // padded block grids
    int blockColumns[3] = {0, 0, 0};
};
Decoded DecodeCoefficients(const std::vector<uint8_t> &file);

// True when the decoded coefficients equal the image's, block for block.
bool SameCoefficients(const CoefImage &image, const Decoded &decoded);

// The segments of a header (from SOI up to and including SOS) without SOF
// and SOS: the table part, to be put before a frame-and-scan stream.
std::vector<uint8_t> TablesOnly(const std::vector<uint8_t> &header);

// Encodes the whole image through vltJpgEncoderScanlines (format 6) and
// destroys the encoder; returns the file, or an empty one on failure.
struct EncodeOptions {
    uint32_t quality = 85;
    uint32_t restartInterval = 0;
    uint32_t bufferSize = 0;
    uint32_t qualityMode = 0;
};
// Creates an encoder from `info`, applies the options, encodes the whole
// image in one band and destroys the encoder; the first failure or 0.
vltJpgResult EncodeOnce(const vltJpgEncCreateInfo &info, const CoefImage &image,
                        const EncodeOptions &options);
std::vector<uint8_t> EncodeWhole(const CoefImage &image, uint32_t width, uint32_t height,
                                 uint32_t samplingMode, const EncodeOptions &options);

// An encoder of coefficients onto a byte sink, destroyed with the object
// unless Destroy() ran.
struct TestEncoder {
    ByteSink sink;
    vltJpgEncoder handle = nullptr;

    TestEncoder(uint32_t width, uint32_t height, uint32_t mode, bool headerOnCreate);
    ~TestEncoder();
    TestEncoder(const TestEncoder &) = delete;
    TestEncoder &operator=(const TestEncoder &) = delete;
    vltJpgResult Destroy();
    vltJpgResult Set(uint32_t id, uint32_t value);
    // MCU rows [firstRow, firstRow + rows) of `image` as one band of
    // `lines` lines through vltJpgEncoderScanlines.
    vltJpgResult Band(const CoefImage &image, uint32_t lines, int firstRow, int rows);
    // MCUs [first, first + count) as one run through vltJpgEncoderWriteMCUs,
    // starting at (column, row); `count` comes back as the descriptor left it.
    vltJpgResult Run(const CoefImage &image, int first, int &count, uint32_t column, uint32_t row);
};

// Offset of the first occurrence of `marker` (FF xx) at or after `from`,
// or -1.
long FindMarker(const std::vector<uint8_t> &bytes, uint8_t marker, size_t from = 0);
// The RSTn numbers in the entropy-coded data, in order.
std::vector<int> RestartNumbers(const std::vector<uint8_t> &bytes);

} // namespace enc_test

#endif
