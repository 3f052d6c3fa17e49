// Constant tables and table records shared by the decoder and the encoder.
#ifndef QVJPEG_COMMON_JPG_TABLES_H
#define QVJPEG_COMMON_JPG_TABLES_H

#include <cstdint>

extern "C" {

constexpr int kJpgPixelFormatCount = 23;

// Pixel format -> layer kind (0 decoder blocks, 1 coefficients, 2 YCbCr,
// 3 RGB, 4/5 reserved).
extern const int32_t jpg_layer_tbl[kJpgPixelFormatCount];
// Pixel format -> sampling mode (0 4:2:0, 1 4:2:2, 2 4:4:0, 3 4:4:4,
// 4 grey, 5 the frame's own sampling, 6 not YCbCr).
extern const int32_t jpg_yuv_tbl[kJpgPixelFormatCount];
// [3 * format + component]: byte step between neighbouring samples of a
// component along a row.
extern const uint8_t jpg_yccrun_tbl[3 * kJpgPixelFormatCount];
// [3 * vertical edge class + horizontal edge class] -> edge transfer mode.
extern const int32_t jpg_mcumode_tbl[9];
// Sampling mode 0..4 -> chroma reduction of the RGB converter: bit 0
// averages vertical pairs, bit 1 horizontal pairs, 4 means no chroma.
extern const int32_t jpg_yccsubsample_tbl[5];
// [3 * max V + max H] -> sampling mode.
extern const int32_t jpg_yuvsample_tbl[9];
// Number of significant bits of 0..31.
extern const uint8_t jpg_valbits_tbl[32];
// Zigzag index -> natural (row-major) position; entries 64..79 hold 63 so a
// run overshooting the block end stays inside the block.
extern const uint8_t jpg_natural_order[80];

} // extern "C"

// Edge transfer modes of jpg_mcumode_tbl.
enum JpgEdgeMode : int32_t {
    kJpgEdgeWhole = 0,
    kJpgEdgeClipColumns = 1,
    kJpgEdgeClipRows = 2,
    kJpgEdgeClipBoth = 3,
    kJpgEdgeNothing = 4,
};

// Decoder output pixel format for a frame's sampling mode 0..5, -1 for none.
constexpr int32_t JpgOutputFormatForSampling(int32_t samplingMode) {
    constexpr int32_t kFormats[6] = {1, 2, 3, 4, 0, 18};
    return (samplingMode >= 0 && samplingMode < 6) ? kFormats[samplingMode] : -1;
}

// Quantization table record: one form for decoder and encoder, so that a
// transcoding encoder copies a decoder's records as they are.
struct JpgQuantTable {
    uint16_t values[64];   // natural order
    uint32_t toBeWritten;  // encoder: table goes into the header
};

// Huffman table record as found in a DHT segment.
struct JpgHuffTable {
    uint8_t bits[17];      // bits[1..16]: number of codes of each length
    uint8_t values[256];   // symbols in code order
    uint32_t built;        // encoder: derived code table is up to date
};

#endif
