#include "enc_oracle.h"

#include "fault_injection.h"
#include "jpeg_oracle.h"

#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <random>

#include <jpeglib.h>

namespace enc_test {

uint32_t SinkCallback(uint32_t operation, void *stream, void *argument) {
    auto *sink = static_cast<ByteSink *>(stream);
    bool injected = fault::FailsStream(operation);
    switch (operation) {
    case VLTJPG_STREAM_WRITE: {
        auto *buffer = static_cast<vltJpgStreamBuffer *>(argument);
        ++sink->writeCalls;
        if (sink->failWrites)
            return buffer->count / 2;
        uint32_t count = injected ? fault::FailedStreamResult(operation, buffer->count)
                                  : buffer->count;
        if (sink->bytes.size() < sink->position + count)
            sink->bytes.resize(sink->position + count);
        std::memcpy(sink->bytes.data() + sink->position, buffer->buffer, count);
        sink->position += count;
        return count;
    }
    case VLTJPG_STREAM_SEEK: {
        auto *seek = static_cast<vltJpgStreamSeekArgs *>(argument);
        if (sink->failSeeks || injected)
            return 1;
        int64_t base = seek->origin == VLTJPG_SEEK_SET   ? 0
                       : seek->origin == VLTJPG_SEEK_END ? static_cast<int64_t>(sink->bytes.size())
                                                         : sink->position;
        sink->position = static_cast<uint32_t>(base + seek->offset);
        return 0;
    }
    case VLTJPG_STREAM_TELL:
        return sink->position;
    case VLTJPG_STREAM_FLUSH:
        ++sink->flushCalls;
        return sink->failFlushes || injected ? 0 : 1;
    default:
        return 0;
    }
}

vltJpgEncCreateInfo CoefficientInfo(ByteSink *sink, uint32_t width, uint32_t height,
                                    uint32_t samplingMode) {
    vltJpgEncCreateInfo info{};
    info.stream = sink;
    info.width = width;
    info.height = height;
    info.pixelFormat = VLTJPG_PIXEL_COEFFICIENTS;
    info.samplingMode = samplingMode;
    info.streamCallback = SinkCallback;
    return info;
}

int Geometry::BlocksPerMcu() const {
    int count = 0;
    for (int i = 0; i < components; ++i)
        count += h[i] * v[i];
    return count;
}

Geometry GeometryFor(uint32_t samplingMode, uint32_t width, uint32_t height) {
    static const int kLuma[5][2] = {{2, 2}, {2, 1}, {1, 2}, {1, 1}, {1, 1}};
    Geometry g{};
    g.components = samplingMode == 4 ? 1 : 3;
    for (int i = 0; i < 3; ++i) {
        g.h[i] = i == 0 ? kLuma[samplingMode][0] : 1;
        g.v[i] = i == 0 ? kLuma[samplingMode][1] : 1;
    }
    g.maxH = g.h[0];
    g.maxV = g.v[0];
    g.mcuColumns = static_cast<int>((width + 8 * g.maxH - 1) / (8 * g.maxH));
    g.mcuRows = static_cast<int>((height + 8 * g.maxV - 1) / (8 * g.maxV));
    return g;
}

const Block &CoefImage::At(int component, int row, int column) const {
    return planes[component][row * geometry.BlockColumns(component) + column];
}

namespace {

Block RandomBlock(std::mt19937 &random) {
    Block block{};
    std::uniform_int_distribution<int> dc(-1023, 1023);
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<int> small(-15, 15);
    std::uniform_int_distribution<int> large(-1023, 1023);
    block[0] = static_cast<int16_t>(dc(random));
    int density = percent(random); // some blocks dense, some almost empty
    for (int k = 1; k < 64; ++k) {
        if (percent(random) >= density / 2)
            continue;
        block[k] = static_cast<int16_t>(percent(random) < 5 ? large(random) : small(random));
    }
    return block;
}

int McuValues(const Geometry &g) { return g.BlocksPerMcu() * 64; }

void AppendMcu(const CoefImage &image, int mcuRow, int mcuColumn, int16_t *out) {
    const Geometry &g = image.geometry;
    for (int i = 0; i < g.components; ++i) {
        for (int r = 0; r < g.v[i]; ++r) {
            for (int c = 0; c < g.h[i]; ++c) {
                const Block &block = image.At(i, mcuRow * g.v[i] + r, mcuColumn * g.h[i] + c);
                std::memcpy(out, block.data(), sizeof(block));
                out += 64;
            }
        }
    }
}

struct OracleError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    int warnings;
};

void OracleErrorExit(j_common_ptr info) {
    std::longjmp(reinterpret_cast<OracleError *>(info->err)->jump, 1);
}

void OracleEmitMessage(j_common_ptr info, int level) {
    if (level < 0)
        ++reinterpret_cast<OracleError *>(info->err)->warnings;
}

void OracleOutputMessage(j_common_ptr) {}

int RoundUp(int value, int multiple) { return (value + multiple - 1) / multiple * multiple; }

// Reads the frame, the tables and every coefficient block; false on a
// fatal libjpeg error.
bool ReadAll(jpeg_decompress_struct &info, Decoded &out) {
    jpeg_read_header(&info, TRUE);
    jvirt_barray_ptr *arrays = jpeg_read_coefficients(&info);
    out.width = static_cast<int>(info.image_width);
    out.height = static_cast<int>(info.image_height);
    out.components = info.num_components;
    out.restartInterval = info.restart_interval;
    out.progressive = info.progressive_mode;
    out.arithmetic = info.arith_code;
    for (int t = 0; t < NUM_QUANT_TBLS; ++t) {
        std::array<uint16_t, 64> values{};
        if (info.quant_tbl_ptrs[t])
            std::memcpy(values.data(), info.quant_tbl_ptrs[t]->quantval, sizeof(values));
        out.quantTables.push_back(values);
    }
    for (int i = 0; i < info.num_components && i < 3; ++i) {
        jpeg_component_info &component = info.comp_info[i];
        out.h[i] = component.h_samp_factor;
        out.v[i] = component.v_samp_factor;
        out.quantSelector[i] = component.quant_tbl_no;
        bool single = info.num_components == 1;
        int columns = single ? static_cast<int>(component.width_in_blocks)
                             : RoundUp(static_cast<int>(component.width_in_blocks), out.h[i]);
        int rows = single ? static_cast<int>(component.height_in_blocks)
                          : RoundUp(static_cast<int>(component.height_in_blocks), out.v[i]);
        out.blockColumns[i] = columns;
        std::vector<Block> plane;
        for (int r = 0; r < rows; ++r) {
            JBLOCKARRAY row = info.mem->access_virt_barray(reinterpret_cast<j_common_ptr>(&info),
                                                           arrays[i], r, 1, FALSE);
            for (int c = 0; c < columns; ++c) {
                Block block;
                std::memcpy(block.data(), row[0][c], sizeof(block));
                plane.push_back(block);
            }
        }
        out.planes.push_back(std::move(plane));
    }
    jpeg_finish_decompress(&info);
    return true;
}

} // namespace

CoefImage RandomCoefficients(uint32_t samplingMode, uint32_t width, uint32_t height,
                             uint32_t seed) {
    CoefImage image;
    image.geometry = GeometryFor(samplingMode, width, height);
    std::mt19937 random(seed);
    for (int i = 0; i < image.geometry.components; ++i) {
        std::vector<Block> plane;
        int count = image.geometry.BlockColumns(i) * image.geometry.BlockRows(i);
        for (int n = 0; n < count; ++n)
            plane.push_back(RandomBlock(random));
        image.planes.push_back(std::move(plane));
    }
    return image;
}

int McuRowValues(const Geometry &geometry) { return geometry.mcuColumns * McuValues(geometry); }

std::vector<int16_t> McuLayout(const CoefImage &image, int firstRow, int rows) {
    const Geometry &g = image.geometry;
    std::vector<int16_t> values(static_cast<size_t>(rows) * McuRowValues(g));
    int16_t *out = values.data();
    for (int r = firstRow; r < firstRow + rows; ++r) {
        for (int c = 0; c < g.mcuColumns; ++c, out += McuValues(g))
            AppendMcu(image, r, c, out);
    }
    return values;
}

CoefBand::CoefBand(const CoefImage &image, int firstRow, int rows)
    : values(McuLayout(image, firstRow, rows)), planes{reinterpret_cast<uint8_t *>(values.data()),
                                                       nullptr, nullptr},
      pitches{McuRowValues(image.geometry) * 2, 0, 0} {}

std::vector<int16_t> RunLayout(const CoefImage &image, int first, int count, int pitchValues) {
    const Geometry &g = image.geometry;
    int lastRowOffset = (first + count - 1) / g.mcuColumns - first / g.mcuColumns;
    std::vector<int16_t> values(static_cast<size_t>(lastRowOffset + 1) * pitchValues);
    int c = 0;
    int r = 0;
    for (int n = first; n < first + count; ++n) {
        AppendMcu(image, n / g.mcuColumns, n % g.mcuColumns,
                  values.data() + r * pitchValues + c * McuValues(g));
        ++c;
        if ((n + 1) % g.mcuColumns == 0) {
            c = 0;
            ++r;
        }
    }
    return values;
}

Decoded DecodeCoefficients(const std::vector<uint8_t> &file) {
    Decoded out;
    jpeg_decompress_struct info;
    OracleError error;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = OracleErrorExit;
    error.manager.emit_message = OracleEmitMessage;
    error.manager.output_message = OracleOutputMessage;
    error.warnings = 0;
    jpeg_create_decompress(&info);
    if (setjmp(error.jump) == 0) {
        jpeg_mem_src(&info, file.data(), static_cast<unsigned long>(file.size()));
        out.ok = ReadAll(info, out);
    }
    out.warnings = error.warnings;
    jpeg_destroy_decompress(&info);
    return out;
}

bool SameCoefficients(const CoefImage &image, const Decoded &decoded) {
    const Geometry &g = image.geometry;
    if (!decoded.ok || decoded.components != g.components)
        return false;
    for (int i = 0; i < g.components; ++i) {
        if (decoded.h[i] != g.h[i] || decoded.v[i] != g.v[i])
            return false;
        // The decoder's grid may be narrower than whole MCUs only for a
        // single component, where the scan holds no padding blocks.
        int columns = decoded.blockColumns[i];
        int rows = static_cast<int>(decoded.planes[i].size()) / (columns ? columns : 1);
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < columns; ++c) {
                if (decoded.planes[i][r * columns + c] != image.At(i, r, c))
                    return false;
            }
        }
    }
    return true;
}

std::vector<uint8_t> TablesOnly(const std::vector<uint8_t> &header) {
    std::vector<uint8_t> tables(header.begin(), header.begin() + 2); // SOI
    size_t at = 2;
    while (at + 4 <= header.size() && header[at] == 0xFF) {
        uint8_t marker = header[at + 1];
        size_t length = (static_cast<size_t>(header[at + 2]) << 8) | header[at + 3];
        size_t end = at + 2 + length;
        if (end > header.size())
            break;
        bool frameOrScan = marker == 0xC0 || marker == 0xC1 || marker == 0xDA;
        if (!frameOrScan)
            tables.insert(tables.end(), header.begin() + at, header.begin() + end);
        if (marker == 0xDA)
            break;
        at = end;
    }
    return tables;
}

vltJpgResult EncodeOnce(const vltJpgEncCreateInfo &info, const CoefImage &image,
                        const EncodeOptions &options) {
    vltJpgEncoder encoder = nullptr;
    vltJpgResult result = vltJpgEncoderCreate(&encoder, &info);
    if (result != 0)
        return result;
    const uint32_t words[][2] = {{VLTJPG_ENCPROP_QUALITY, options.quality},
                                 {VLTJPG_ENCPROP_RESTART, options.restartInterval},
                                 {VLTJPG_ENCPROP_QUALITY_MODE, options.qualityMode}};
    for (const auto &word : words) {
        uint32_t value = word[1];
        if (result == 0)
            result = vltJpgEncoderSetProp(encoder, word[0], &value, sizeof(value));
    }
    CoefBand band(image);
    uint32_t lines = info.height ? info.height : 1;
    if (result == 0)
        result = vltJpgEncoderScanlines(encoder, band.planes, band.pitches, 0, &lines);
    vltJpgResult destroyed = vltJpgEncoderDestroy(encoder);
    return result != 0 ? result : destroyed;
}

std::vector<uint8_t> EncodeWhole(const CoefImage &image, uint32_t width, uint32_t height,
                                 uint32_t samplingMode, const EncodeOptions &options) {
    ByteSink sink;
    vltJpgEncCreateInfo info = CoefficientInfo(&sink, width, height, samplingMode);
    info.huffBufferSize = options.bufferSize;
    vltJpgResult result = EncodeOnce(info, image, options);
    if (result != 0) {
        ADD_FAILURE() << "encoding failed with " << std::hex << result;
        return {};
    }
    return sink.bytes;
}

TestEncoder::TestEncoder(uint32_t width, uint32_t height, uint32_t mode, bool headerOnCreate) {
    vltJpgEncCreateInfo info = CoefficientInfo(&sink, width, height, mode);
    info.headerOnCreate = headerOnCreate ? 1 : 0;
    EXPECT_EQ(0u, vltJpgEncoderCreate(&handle, &info));
}

TestEncoder::~TestEncoder() {
    if (handle)
        vltJpgEncoderDestroy(handle);
}

vltJpgResult TestEncoder::Destroy() {
    vltJpgResult result = vltJpgEncoderDestroy(handle);
    handle = nullptr;
    return result;
}

vltJpgResult TestEncoder::Set(uint32_t id, uint32_t value) {
    return vltJpgEncoderSetProp(handle, id, &value, sizeof(value));
}

vltJpgResult TestEncoder::Band(const CoefImage &image, uint32_t lines, int firstRow, int rows) {
    CoefBand band(image, firstRow, rows);
    return vltJpgEncoderScanlines(handle, band.planes, band.pitches, 0, &lines);
}

vltJpgResult TestEncoder::Run(const CoefImage &image, int first, int &count, uint32_t column,
                              uint32_t row) {
    int pitch = McuRowValues(image.geometry);
    std::vector<int16_t> values = RunLayout(image, first, count > 0 ? count : 1, pitch);
    uint8_t *planes[3] = {reinterpret_cast<uint8_t *>(values.data()), nullptr, nullptr};
    int32_t pitches[3] = {pitch, 0, 0};
    vltJpgPlaneSet planeSet = {planes, pitches};
    vltJpgEncWriteDesc descriptor = {VLTJPG_WRITE_COEFFICIENTS, count, column, row, &planeSet};
    vltJpgResult result = vltJpgEncoderWriteMCUs(handle, &descriptor);
    count = descriptor.count;
    return result;
}

long FindMarker(const std::vector<uint8_t> &bytes, uint8_t marker, size_t from) {
    for (size_t i = from; i + 1 < bytes.size(); ++i) {
        if (bytes[i] == 0xFF && bytes[i + 1] == marker)
            return static_cast<long>(i);
    }
    return -1;
}

std::vector<int> RestartNumbers(const std::vector<uint8_t> &bytes) {
    std::vector<int> numbers;
    size_t start = oracle::ScanDataOffset(bytes);
    if (start == std::string::npos)
        return numbers;
    for (size_t i = start; i + 1 < bytes.size(); ++i) {
        if (bytes[i] == 0xFF && bytes[i + 1] >= 0xD0 && bytes[i + 1] <= 0xD7)
            numbers.push_back(bytes[i + 1] - 0xD0);
    }
    return numbers;
}

} // namespace enc_test
