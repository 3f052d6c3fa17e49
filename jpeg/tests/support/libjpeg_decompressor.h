// libjpeg-turbo decompression of a JPEG in memory to raw component rows
// (islow IDCT), shared by the decoder oracle and the decode benchmark.
#ifndef QVJPEG_TESTS_LIBJPEG_DECOMPRESSOR_H
#define QVJPEG_TESTS_LIBJPEG_DECOMPRESSOR_H

#include <cstdint>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

namespace oracle {

// A libjpeg decompressor over a JPEG in memory, header read.
struct Decompressor {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr jerr;
    explicit Decompressor(const std::vector<uint8_t> &jpeg);
    ~Decompressor();
    Decompressor(const Decompressor &) = delete;
    Decompressor &operator=(const Decompressor &) = delete;
};

// Starts raw component output with the islow IDCT at 1/denominator.
void StartRawOutput(jpeg_decompress_struct &cinfo, int denominator);

// Rows of `component` that one jpeg_read_raw_data call delivers. When
// scaling, libjpeg-turbo may give a subsampled component a larger IDCT size
// than the luma, so the count differs between components.
int RawRowsPerCall(const jpeg_decompress_struct &cinfo, int component);

// Reads every raw row of a started raw-output decompression: row r of
// component c goes to planes[c] + r * pitches[c], whole calls at a time
// (so past the component's own height up to the end of the last call).
void ReadRawRows(jpeg_decompress_struct &cinfo, uint8_t *const *planes, const int32_t *pitches);

} // namespace oracle

#endif
