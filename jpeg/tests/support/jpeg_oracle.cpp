#include "jpeg_oracle.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

#include "enc_oracle.h"
#include "libjpeg_decompressor.h"

namespace oracle {

Sampling Sampling420() { return {{2, 1, 1}, {2, 1, 1}}; }
Sampling Sampling422() { return {{2, 1, 1}, {1, 1, 1}}; }
Sampling Sampling440() { return {{1, 1, 1}, {2, 1, 1}}; }
Sampling Sampling444() { return {{1, 1, 1}, {1, 1, 1}}; }
Sampling Sampling411() { return {{4, 1, 1}, {1, 1, 1}}; }
Sampling Sampling22_12_12() { return {{2, 1, 1}, {2, 2, 2}}; }
Sampling Sampling12_11_11() { return {{1, 1, 1}, {2, 1, 1}}; }

namespace {

uint8_t Clamp(double value) {
    return static_cast<uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : std::lround(value)));
}

// A smooth scene: diagonal gradients per channel, a soft disc, a sharp
// rectangle edge and mild noise, so that most blocks are smooth and some
// have strong edges.
uint8_t PhotoSample(int x, int y, int c, int width, int height, std::mt19937 &rng) {
    double u = width > 1 ? static_cast<double>(x) / (width - 1) : 0.5;
    double w = height > 1 ? static_cast<double>(y) / (height - 1) : 0.5;
    double value = 40 + 150 * (c == 0 ? u : (c == 1 ? w : 1 - 0.5 * (u + w)));
    double dx = u - 0.6, dy = w - 0.4;
    value += 50 * std::exp(-(dx * dx + dy * dy) * 20) * (c == 2 ? -1 : 1);
    if (u > 0.15 && u < 0.35 && w > 0.55 && w < 0.8)
        value = 230 - 60 * c;
    std::normal_distribution<double> noise(0.0, 2.0);
    return Clamp(value + noise(rng));
}

// A libjpeg compressor writing into memory.
struct Compressor {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    Compressor() {
        cinfo.err = jpeg_std_error(&jerr);
        jpeg_create_compress(&cinfo);
        jpeg_mem_dest(&cinfo, &buffer, &size);
    }
    ~Compressor() {
        jpeg_destroy_compress(&cinfo);
        free(buffer);
    }
    Compressor(const Compressor &) = delete;
    Compressor &operator=(const Compressor &) = delete;
    // Ends the compression and returns the file.
    std::vector<uint8_t> Finish() {
        jpeg_finish_compress(&cinfo);
        return std::vector<uint8_t>(buffer, buffer + size);
    }
};

void SetSampling(jpeg_compress_struct &cinfo, const EncodeOptions &o) {
    if (o.components != 3)
        return;
    for (int i = 0; i < 3; ++i) {
        cinfo.comp_info[i].h_samp_factor = o.sampling.h[i];
        cinfo.comp_info[i].v_samp_factor = o.sampling.v[i];
    }
}

void SetSeparateScans(jpeg_compress_struct &cinfo, std::vector<jpeg_scan_info> &script) {
    script.resize(cinfo.num_components);
    for (int i = 0; i < cinfo.num_components; ++i) {
        script[i] = jpeg_scan_info{};
        script[i].comps_in_scan = 1;
        script[i].component_index[0] = i;
        script[i].Ss = 0;
        script[i].Se = 63;
    }
    cinfo.scan_info = script.data();
    cinfo.num_scans = cinfo.num_components;
}

void SetScanScript(jpeg_compress_struct &cinfo, const std::vector<ScanSpec> &scans,
                   std::vector<jpeg_scan_info> &script) {
    script.resize(scans.size());
    for (size_t i = 0; i < scans.size(); ++i) {
        jpeg_scan_info &info = script[i];
        info = jpeg_scan_info{};
        info.comps_in_scan = static_cast<int>(scans[i].components.size());
        for (size_t k = 0; k < scans[i].components.size(); ++k)
            info.component_index[k] = scans[i].components[k];
        info.Ss = scans[i].ss;
        info.Se = scans[i].se;
        info.Ah = scans[i].ah;
        info.Al = scans[i].al;
    }
    cinfo.scan_info = script.data();
    cinfo.num_scans = static_cast<int>(script.size());
}

void WriteExtraSegments(jpeg_compress_struct &cinfo) {
    // An APP1 holding what looks like an embedded thumbnail JPEG: its SOI,
    // SOF and EOI must be skipped with the segment.
    const unsigned char thumb[] = {'E', 'x', 'i', 'f', 0, 0, 0xFF, 0xD8, 0xFF, 0xC0, 0, 11,
                                   8, 0, 8, 0, 8, 1, 1, 0x11, 0, 0xFF, 0xD9};
    jpeg_write_marker(&cinfo, JPEG_APP0 + 1, thumb, sizeof(thumb));
    const unsigned char adobe[] = {'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0, 1};
    jpeg_write_marker(&cinfo, JPEG_APP0 + 14, adobe, sizeof(adobe));
    const char comment[] = "qvjpeg test image \xFF\xD9 with marker-like bytes";
    jpeg_write_marker(&cinfo, JPEG_COM, reinterpret_cast<const JOCTET *>(comment),
                      sizeof(comment));
}

J_COLOR_SPACE InputSpace(int components) {
    return components == 1 ? JCS_GRAYSCALE : (components == 3 ? JCS_RGB : JCS_CMYK);
}

} // namespace

std::vector<uint8_t> MakeImage(int width, int height, int components, Content content,
                               unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<uint8_t> image(static_cast<size_t>(width) * height * components);
    size_t i = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < components; ++c) {
                image[i++] = content == Content::kNoise
                                 ? static_cast<uint8_t>(byte(rng))
                                 : PhotoSample(x, y, c, width, height, rng);
            }
        }
    }
    return image;
}

std::vector<uint8_t> Encode(const EncodeOptions &o) {
    std::vector<uint8_t> image = MakeImage(o.width, o.height, o.components, o.content, o.seed);
    Compressor compressor;
    jpeg_compress_struct &cinfo = compressor.cinfo;
    cinfo.image_width = o.width;
    cinfo.image_height = o.height;
    cinfo.input_components = o.components;
    cinfo.in_color_space = InputSpace(o.components);
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, o.quality, o.forceBaseline ? TRUE : FALSE);
    SetSampling(cinfo, o);
    cinfo.optimize_coding = o.optimize ? TRUE : FALSE;
    cinfo.restart_interval = o.restartInterval;
    cinfo.restart_in_rows = o.restartInterval ? 0 : o.restartRows;
    cinfo.dct_method = JDCT_ISLOW;
    std::vector<jpeg_scan_info> script;
    if (!o.scans.empty())
        SetScanScript(cinfo, o.scans, script);
    else if (o.progressive)
        jpeg_simple_progression(&cinfo);
    else if (o.separateScans)
        SetSeparateScans(cinfo, script);
    jpeg_start_compress(&cinfo, TRUE);
    if (o.extraSegments)
        WriteExtraSegments(cinfo);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = &image[static_cast<size_t>(cinfo.next_scanline) * o.width * o.components];
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    return compressor.Finish();
}

std::vector<uint8_t> TranscodeToBaseline(const std::vector<uint8_t> &jpeg) {
    Decompressor decompressor(jpeg);
    jpeg_decompress_struct &source = decompressor.cinfo;
    jvirt_barray_ptr *arrays = jpeg_read_coefficients(&source);
    Compressor compressor;
    jpeg_copy_critical_parameters(&source, &compressor.cinfo);
    compressor.cinfo.optimize_coding = TRUE;
    jpeg_write_coefficients(&compressor.cinfo, arrays);
    std::vector<uint8_t> baseline = compressor.Finish();
    jpeg_finish_decompress(&source);
    return baseline;
}

FrameInfo ReadFrameInfo(const std::vector<uint8_t> &jpeg) {
    Decompressor decompressor(jpeg);
    jpeg_decompress_struct &cinfo = decompressor.cinfo;
    FrameInfo info;
    info.width = static_cast<int>(cinfo.image_width);
    info.height = static_cast<int>(cinfo.image_height);
    info.components = cinfo.num_components;
    info.maxH = cinfo.max_h_samp_factor;
    info.maxV = cinfo.max_v_samp_factor;
    for (int i = 0; i < cinfo.num_components && i < 4; ++i) {
        info.h[i] = cinfo.comp_info[i].h_samp_factor;
        info.v[i] = cinfo.comp_info[i].v_samp_factor;
    }
    return info;
}

int ComponentExtent(int extent, int factor, int maxFactor, int denominator) {
    int full = (extent * factor + maxFactor - 1) / maxFactor;
    return (full + denominator - 1) / denominator;
}

namespace {

// Box-averages a plane by `factor` in both directions (partial boxes at the
// right and bottom edges average the samples they have).
Plane Shrink(const Plane &in, int factor) {
    if (factor == 1)
        return in;
    Plane out;
    out.width = (in.width + factor - 1) / factor;
    out.height = (in.height + factor - 1) / factor;
    out.samples.resize(static_cast<size_t>(out.width) * out.height);
    for (int y = 0; y < out.height; ++y) {
        for (int x = 0; x < out.width; ++x) {
            int sum = 0, count = 0;
            for (int dy = 0; dy < factor && y * factor + dy < in.height; ++dy) {
                for (int dx = 0; dx < factor && x * factor + dx < in.width; ++dx, ++count)
                    sum += in.at(x * factor + dx, y * factor + dy);
            }
            out.samples[static_cast<size_t>(y) * out.width + x] =
                static_cast<uint8_t>((sum + count / 2) / count);
        }
    }
    return out;
}

} // namespace

// libjpeg-turbo decodes subsampled components at a larger IDCT size when
// scaling (so that they need no upsampling); such planes are box-averaged
// down to the size every component has at a uniform scale.
std::vector<Plane> DecodeRaw(const std::vector<uint8_t> &jpeg, int denominator) {
    Decompressor decompressor(jpeg);
    jpeg_decompress_struct &cinfo = decompressor.cinfo;
    StartRawOutput(cinfo, denominator);
    int n = cinfo.num_components;
    int unitRows = cinfo.max_v_samp_factor * cinfo.min_DCT_scaled_size;
    int units = (static_cast<int>(cinfo.output_height) + unitRows - 1) / unitRows;
    std::vector<Plane> planes(n);
    std::vector<std::vector<uint8_t>> padded(n);
    std::vector<uint8_t *> origins(n);
    std::vector<int32_t> paddedWidth(n);
    for (int c = 0; c < n; ++c) {
        jpeg_component_info &comp = cinfo.comp_info[c];
        planes[c].width = static_cast<int>(comp.downsampled_width);
        planes[c].height = static_cast<int>(comp.downsampled_height);
        paddedWidth[c] = static_cast<int>(comp.width_in_blocks + 8) * comp.DCT_scaled_size;
        padded[c].assign(
            static_cast<size_t>(paddedWidth[c]) * RawRowsPerCall(cinfo, c) * (units + 1), 0);
        origins[c] = padded[c].data();
    }
    ReadRawRows(cinfo, origins.data(), paddedWidth.data());
    for (int c = 0; c < n; ++c) {
        Plane &p = planes[c];
        p.samples.resize(static_cast<size_t>(p.width) * p.height);
        for (int y = 0; y < p.height; ++y) {
            std::memcpy(&p.samples[static_cast<size_t>(y) * p.width],
                        &padded[c][static_cast<size_t>(y) * paddedWidth[c]], p.width);
        }
        p = Shrink(p, cinfo.comp_info[c].DCT_scaled_size / cinfo.min_DCT_scaled_size);
    }
    jpeg_finish_decompress(&cinfo);
    return planes;
}

std::vector<ComponentCoefficients> ReadCoefficients(const std::vector<uint8_t> &jpeg) {
    Decompressor decompressor(jpeg);
    jpeg_decompress_struct &cinfo = decompressor.cinfo;
    jvirt_barray_ptr *arrays = jpeg_read_coefficients(&cinfo);
    std::vector<ComponentCoefficients> result(cinfo.num_components);
    for (int c = 0; c < cinfo.num_components; ++c) {
        jpeg_component_info &comp = cinfo.comp_info[c];
        ComponentCoefficients &out = result[c];
        out.blocksWide = static_cast<int>(comp.width_in_blocks);
        out.blocksHigh = static_cast<int>(comp.height_in_blocks);
        out.values.resize(static_cast<size_t>(out.blocksWide) * out.blocksHigh * 64);
        for (int by = 0; by < out.blocksHigh; ++by) {
            JBLOCKARRAY row = (*cinfo.mem->access_virt_barray)(
                reinterpret_cast<j_common_ptr>(&cinfo), arrays[c], by, 1, FALSE);
            std::memcpy(&out.values[static_cast<size_t>(by) * out.blocksWide * 64], row[0],
                        sizeof(JBLOCK) * out.blocksWide);
        }
    }
    jpeg_finish_decompress(&cinfo);
    return result;
}

size_t FindMarker(const std::vector<uint8_t> &jpeg, uint8_t code) {
    long at = enc_test::FindMarker(jpeg, code);
    return at < 0 ? std::string::npos : static_cast<size_t>(at);
}

size_t ScanDataOffset(const std::vector<uint8_t> &jpeg) {
    size_t sos = FindMarker(jpeg, 0xDA);
    if (sos == std::string::npos)
        return sos;
    size_t length = (static_cast<size_t>(jpeg[sos + 2]) << 8) | jpeg[sos + 3];
    return sos + 2 + length;
}

PlaneStats Compare(const Plane &a, const Plane &b) {
    PlaneStats stats;
    double squared = 0;
    size_t n = a.samples.size() < b.samples.size() ? a.samples.size() : b.samples.size();
    for (size_t i = 0; i < n; ++i) {
        int d = static_cast<int>(a.samples[i]) - static_cast<int>(b.samples[i]);
        squared += static_cast<double>(d) * d;
        stats.maxDiff = std::abs(d) > stats.maxDiff ? std::abs(d) : stats.maxDiff;
    }
    double mse = n ? squared / static_cast<double>(n) : 0;
    stats.psnr = mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
    return stats;
}

std::string Describe(const Sampling &s, int components) {
    if (components == 1)
        return "grey";
    char text[64];
    std::snprintf(text, sizeof(text), "%dx%d,%dx%d,%dx%d", s.h[0], s.v[0], s.h[1], s.v[1],
                  s.h[2], s.v[2]);
    return text;
}

} // namespace oracle
