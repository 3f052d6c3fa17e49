#include "libjpeg_decompressor.h"

namespace oracle {

Decompressor::Decompressor(const std::vector<uint8_t> &jpeg) {
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, jpeg.data(), jpeg.size());
    jpeg_read_header(&cinfo, TRUE);
}

Decompressor::~Decompressor() { jpeg_destroy_decompress(&cinfo); }

void StartRawOutput(jpeg_decompress_struct &cinfo, int denominator) {
    cinfo.raw_data_out = TRUE;
    cinfo.dct_method = JDCT_ISLOW;
    // Progressive files decode to their coefficients as they stand, with no
    // guessed AC terms for the blocks of a file cut short.
    cinfo.do_block_smoothing = FALSE;
    cinfo.scale_num = 1;
    cinfo.scale_denom = denominator;
    jpeg_start_decompress(&cinfo);
}

int RawRowsPerCall(const jpeg_decompress_struct &cinfo, int component) {
    return cinfo.comp_info[component].v_samp_factor * cinfo.comp_info[component].DCT_scaled_size;
}

void ReadRawRows(jpeg_decompress_struct &cinfo, uint8_t *const *planes, const int32_t *pitches) {
    int n = cinfo.num_components;
    int unitRows = cinfo.max_v_samp_factor * cinfo.min_DCT_scaled_size;
    std::vector<std::vector<JSAMPROW>> rows(n);
    std::vector<JSAMPARRAY> arrays(n);
    for (int c = 0; c < n; ++c) {
        rows[c].resize(RawRowsPerCall(cinfo, c));
        arrays[c] = rows[c].data();
    }
    for (int call = 0; cinfo.output_scanline < cinfo.output_height; ++call) {
        for (int c = 0; c < n; ++c) {
            for (size_t r = 0; r < rows[c].size(); ++r) {
                size_t row = static_cast<size_t>(call) * rows[c].size() + r;
                rows[c][r] = planes[c] + row * pitches[c];
            }
        }
        jpeg_read_raw_data(&cinfo, arrays.data(), unitRows);
    }
}

} // namespace oracle
