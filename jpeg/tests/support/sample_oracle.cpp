#include "sample_oracle.h"

#include "enc_oracle.h"
#include "libjpeg_decompressor.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace sample_test {

namespace {

struct Factors {
    int maxH;
    int maxV;
    int components;
};
Factors FactorsOf(uint32_t samplingMode) {
    constexpr Factors kFactors[5] = {{2, 2, 3}, {2, 1, 3}, {1, 2, 3}, {1, 1, 3}, {1, 1, 1}};
    return kFactors[samplingMode];
}

int Ceil(int value, int divisor) { return (value + divisor - 1) / divisor; }

struct MemoryDestination {
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    ~MemoryDestination() { free(buffer); }
    std::vector<uint8_t> Bytes() const { return std::vector<uint8_t>(buffer, buffer + size); }
};

// A compressor writing to memory with the standard tables at `quality`.
struct Compressor {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    MemoryDestination dest;
    Compressor() {
        cinfo.err = jpeg_std_error(&jerr);
        jpeg_create_compress(&cinfo);
        jpeg_mem_dest(&cinfo, &dest.buffer, &dest.size);
    }
    ~Compressor() { jpeg_destroy_compress(&cinfo); }
    void Configure(int width, int height, J_COLOR_SPACE input, uint32_t samplingMode,
                   int quality, J_DCT_METHOD method) {
        Factors f = FactorsOf(samplingMode);
        cinfo.image_width = static_cast<JDIMENSION>(width);
        cinfo.image_height = static_cast<JDIMENSION>(height);
        cinfo.input_components = f.components;
        cinfo.in_color_space = f.components == 1 ? JCS_GRAYSCALE : input;
        jpeg_set_defaults(&cinfo);
        jpeg_set_colorspace(&cinfo, f.components == 1 ? JCS_GRAYSCALE : JCS_YCbCr);
        jpeg_set_quality(&cinfo, quality, TRUE);
        cinfo.comp_info[0].h_samp_factor = f.maxH;
        cinfo.comp_info[0].v_samp_factor = f.maxV;
        cinfo.dct_method = method;
    }
};

// A plane padded to `width` x `height` with its last column and row
// repeated.
std::vector<uint8_t> Padded(const oracle::Plane &plane, int width, int height) {
    std::vector<uint8_t> out(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            out[static_cast<size_t>(y) * width + x] =
                plane.at(std::min(x, plane.width - 1), std::min(y, plane.height - 1));
    }
    return out;
}

} // namespace

Planes Downsample(const std::vector<uint8_t> &ycc, int width, int height, uint32_t samplingMode) {
    Factors f = FactorsOf(samplingMode);
    Planes out;
    out.samplingMode = samplingMode;
    out.width = width;
    out.height = height;
    out.planes.resize(f.components);
    for (int c = 0; c < f.components; ++c) {
        int spanX = c == 0 ? 1 : f.maxH;
        int spanY = c == 0 ? 1 : f.maxV;
        oracle::Plane &p = out.planes[c];
        p.width = Ceil(width, spanX);
        p.height = Ceil(height, spanY);
        p.samples.resize(static_cast<size_t>(p.width) * p.height);
        for (int y = 0; y < p.height; ++y) {
            for (int x = 0; x < p.width; ++x) {
                int sum = 0, count = 0;
                for (int yy = y * spanY; yy < std::min(height, (y + 1) * spanY); ++yy) {
                    for (int xx = x * spanX; xx < std::min(width, (x + 1) * spanX); ++xx, ++count)
                        sum += ycc[(static_cast<size_t>(yy) * width + xx) * 3 + c];
                }
                p.samples[static_cast<size_t>(y) * p.width + x] =
                    static_cast<uint8_t>((sum + count / 2) / count);
            }
        }
    }
    return out;
}

Planes PhotoPlanes(int width, int height, uint32_t samplingMode, unsigned seed) {
    return Downsample(oracle::MakeImage(width, height, 3, oracle::Content::kPhoto, seed), width,
                      height, samplingMode);
}

HostImage PlanarImage(const Planes &source, uint32_t format, int extraPitch) {
    HostImage image;
    bool semiPlanar =
        format == VLTJPG_PIXEL_SEMI_PLANAR_420 || format == VLTJPG_PIXEL_SEMI_PLANAR_420B;
    // Semi-planar 22 is read with the chroma order given by the plane
    // pointers: here Cr first.
    bool crFirst = format == VLTJPG_PIXEL_SEMI_PLANAR_420B;
    int planeCount = semiPlanar ? 2 : static_cast<int>(source.planes.size());
    image.storage.resize(planeCount);
    for (int p = 0; p < planeCount; ++p) {
        const oracle::Plane &plane = source.planes[p];
        int interleave = semiPlanar && p == 1 ? 2 : 1;
        int32_t pitch = plane.width * interleave + extraPitch;
        std::vector<uint8_t> &bytes = image.storage[p];
        bytes.assign(static_cast<size_t>(pitch) * plane.height, 0xEE);
        for (int y = 0; y < plane.height; ++y) {
            for (int x = 0; x < plane.width; ++x) {
                for (int i = 0; i < interleave; ++i) {
                    int component = p + (crFirst && p == 1 ? 1 - i : i);
                    bytes[static_cast<size_t>(y) * pitch + x * interleave + i] =
                        source.planes[component].at(x, y);
                }
            }
        }
        image.planes[p] = bytes.data();
        image.pitches[p] = pitch;
    }
    if (semiPlanar) {
        image.planes[1] = image.storage[1].data() + (crFirst ? 1 : 0);
        image.planes[2] = image.storage[1].data() + (crFirst ? 0 : 1);
        image.pitches[2] = image.pitches[1];
    }
    return image;
}

vltJpgEncCreateInfo SampleInfo(enc_test::ByteSink *sink, int width, int height, uint32_t format,
                               uint32_t samplingMode) {
    vltJpgEncCreateInfo info{};
    info.stream = sink;
    info.width = static_cast<uint32_t>(width);
    info.height = static_cast<uint32_t>(height);
    info.pixelFormat = format;
    info.samplingMode = samplingMode;
    info.streamCallback = enc_test::SinkCallback;
    return info;
}

std::vector<uint8_t> Encode(const EncodeSettings &settings, int width, int height,
                            uint8_t *const *planes, const int32_t *pitches) {
    enc_test::ByteSink sink;
    vltJpgEncCreateInfo info =
        SampleInfo(&sink, width, height, settings.pixelFormat, settings.samplingMode);
    vltJpgEncoder encoder = nullptr;
    if (vltJpgEncoderCreate(&encoder, &info) != 0)
        return {};
    uint32_t quality = settings.quality, mode = settings.qualityMode;
    uint32_t stamp = settings.qualityStamp, reduction = settings.thumbReduction;
    vltJpgResult result = vltJpgEncoderSetProp(encoder, VLTJPG_ENCPROP_QUALITY, &quality, 4);
    result |= vltJpgEncoderSetProp(encoder, VLTJPG_ENCPROP_QUALITY_MODE, &mode, 4);
    result |= vltJpgEncoderSetProp(encoder, VLTJPG_ENCPROP_QUALITY_STAMP, &stamp, 4);
    result |= vltJpgEncoderSetProp(encoder, VLTJPG_ENCPROP_THUMB_SCALE, &reduction, 4);
    if (settings.thumbnail)
        result |= vltJpgEncoderSetProp(encoder, VLTJPG_ENCPROP_THUMB_BUFFER, settings.thumbnail,
                                       sizeof(vltJpgPlaneSet));
    uint32_t band = settings.bandLines ? settings.bandLines : static_cast<uint32_t>(height);
    for (uint32_t start = 0; result == 0 && start < static_cast<uint32_t>(height); start += band) {
        uint32_t lines = std::min(band, static_cast<uint32_t>(height) - start);
        result = vltJpgEncoderScanlines(encoder, const_cast<uint8_t **>(planes),
                                        const_cast<int32_t *>(pitches), start, &lines);
    }
    result |= vltJpgEncoderDestroy(encoder);
    return result == 0 ? sink.bytes : std::vector<uint8_t>{};
}

PaddedPlanes Pad(const Planes &source) {
    Factors f = FactorsOf(source.samplingMode);
    int mcuRows = Ceil(source.height, 8 * f.maxV);
    int mcuColumns = Ceil(source.width, 8 * f.maxH);
    PaddedPlanes padded;
    padded.source = &source;
    for (int i = 0; i < f.components; ++i) {
        int h = i == 0 ? f.maxH : 1, v = i == 0 ? f.maxV : 1;
        padded.widths.push_back(mcuColumns * 8 * h);
        padded.planes.push_back(Padded(source.planes[i], padded.widths[i], mcuRows * 8 * v));
    }
    return padded;
}

std::vector<uint8_t> CompressPadded(const PaddedPlanes &padded, int quality, J_DCT_METHOD method) {
    const Planes &source = *padded.source;
    Compressor c;
    c.Configure(source.width, source.height, JCS_YCbCr, source.samplingMode, quality, method);
    c.cinfo.raw_data_in = TRUE;
    jpeg_start_compress(&c.cinfo, TRUE);
    Factors f = FactorsOf(source.samplingMode);
    int mcuRows = Ceil(source.height, 8 * f.maxV);
    std::vector<JSAMPROW> rows[3];
    for (int r = 0; r < mcuRows; ++r) {
        JSAMPARRAY arrays[3];
        for (int i = 0; i < f.components; ++i) {
            int v = i == 0 ? f.maxV : 1;
            rows[i].resize(8 * v);
            for (int y = 0; y < 8 * v; ++y)
                rows[i][y] = const_cast<uint8_t *>(
                    &padded.planes[i][static_cast<size_t>(r * 8 * v + y) * padded.widths[i]]);
            arrays[i] = rows[i].data();
        }
        jpeg_write_raw_data(&c.cinfo, arrays, static_cast<JDIMENSION>(8 * f.maxV));
    }
    jpeg_finish_compress(&c.cinfo);
    return c.dest.Bytes();
}

std::vector<uint8_t> CompressPlanes(const Planes &source, int quality, J_DCT_METHOD method) {
    return CompressPadded(Pad(source), quality, method);
}

std::vector<uint8_t> CompressRgb(const std::vector<uint8_t> &rgb, int width, int height,
                                 uint32_t samplingMode, int quality, J_DCT_METHOD method) {
    Compressor c;
    c.Configure(width, height, JCS_RGB, samplingMode, quality, method);
    c.cinfo.input_components = 3;
    c.cinfo.in_color_space = JCS_RGB;
    jpeg_start_compress(&c.cinfo, TRUE);
    while (c.cinfo.next_scanline < c.cinfo.image_height) {
        JSAMPROW row = const_cast<uint8_t *>(&rgb[static_cast<size_t>(c.cinfo.next_scanline) *
                                                  width * 3]);
        jpeg_write_scanlines(&c.cinfo, &row, 1);
    }
    jpeg_finish_compress(&c.cinfo);
    return c.dest.Bytes();
}

std::vector<uint8_t> StampDcs(const std::vector<uint8_t> &jpeg, int qualityClass) {
    oracle::Decompressor decompressor(jpeg);
    jpeg_decompress_struct &in = decompressor.cinfo;
    jvirt_barray_ptr *arrays = jpeg_read_coefficients(&in);
    for (int i = 0; i < in.num_components; ++i) {
        jpeg_component_info &comp = in.comp_info[i];
        for (JDIMENSION row = 0; row < comp.height_in_blocks; ++row) {
            JBLOCKARRAY blocks = in.mem->access_virt_barray(
                reinterpret_cast<j_common_ptr>(&in), arrays[i], row, 1, TRUE);
            for (JDIMENSION b = 0; b < comp.width_in_blocks; ++b) {
                uint16_t dc = static_cast<uint16_t>(blocks[0][b][0]) & 0xFFFEu;
                blocks[0][b][0] = static_cast<JCOEF>(static_cast<int16_t>(dc + qualityClass));
            }
        }
    }
    Compressor out;
    jpeg_copy_critical_parameters(&in, &out.cinfo);
    jpeg_write_coefficients(&out.cinfo, arrays);
    jpeg_finish_compress(&out.cinfo);
    jpeg_finish_decompress(&in);
    return out.dest.Bytes();
}

double FilePsnr(const std::vector<uint8_t> &jpeg, const Planes &source) {
    std::vector<oracle::Plane> decoded = oracle::DecodeRaw(jpeg, 1);
    double squared = 0;
    size_t count = 0;
    for (size_t c = 0; c < source.planes.size() && c < decoded.size(); ++c) {
        const oracle::Plane &a = source.planes[c];
        const oracle::Plane &b = decoded[c];
        for (int y = 0; y < a.height && y < b.height; ++y) {
            for (int x = 0; x < a.width && x < b.width; ++x, ++count) {
                double d = static_cast<double>(a.at(x, y)) - b.at(x, y);
                squared += d * d;
            }
        }
    }
    if (count == 0)
        return 0;
    if (squared == 0)
        return 99;
    return 10 * std::log10(255.0 * 255.0 * count / squared);
}

} // namespace sample_test
