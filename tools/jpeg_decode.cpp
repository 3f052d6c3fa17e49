#include "jpeg_decode.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <cstdio>

#include "image_file.h"
#include "parallel.h"
#include "progress_bar.h"
#include "tool_error.h"

namespace tool {
namespace {

int ceilDiv(int a, int b) { return (a + b - 1) / b; }

// The sizes of the image at the output scale, in pixels, planes and MCUs.
struct Geometry {
    int width = 0, height = 0;     // at the output scale
    int columns = 0, rows = 0;     // MCU grid
    int mcuWidth = 0, mcuHeight = 0;  // luma samples per MCU at the output scale
    int count = 0;
    int blockWidth[3] = {}, blockHeight[3] = {};  // samples per MCU and component
    int planeWidth[3] = {}, planeHeight[3] = {};
    int ratioH[3] = {1, 1, 1}, ratioV[3] = {1, 1, 1};
};

Geometry geometryOf(const qvjpeg::Decoder &decoder, const JpegStructure &structure, int scale) {
    Geometry g;
    int scaled[2], grid[2], mcu[2];
    qvjpeg::Error error = decoder.get(VLTJPG_DECPROP_SCALED_SIZE, scaled);
    if (!error) error = decoder.get(VLTJPG_DECPROP_MCU_GRID, grid);
    if (!error) error = decoder.get(VLTJPG_DECPROP_MCU_SIZE, mcu);
    if (error) throw Failure(std::string("reading the image layout failed: ") + error.message());
    g.width = scaled[0];
    g.height = scaled[1];
    g.columns = grid[0];
    g.rows = grid[1];
    g.mcuWidth = mcu[0] / scale;
    g.mcuHeight = mcu[1] / scale;
    g.count = static_cast<int>(structure.components.size());
    const int maxH = structure.maxH(), maxV = structure.maxV();
    for (int i = 0; i < g.count; ++i) {
        const FrameComponent &c = structure.components[static_cast<size_t>(i)];
        g.blockWidth[i] = 8 * c.h / scale;
        g.blockHeight[i] = 8 * c.v / scale;
        g.planeWidth[i] = ceilDiv(ceilDiv(structure.width * c.h, maxH), scale);
        g.planeHeight[i] = ceilDiv(ceilDiv(structure.height * c.v, maxV), scale);
        g.ratioH[i] = maxH / c.h;
        g.ratioV[i] = maxV / c.v;
    }
    return g;
}

// A rectangle of MCUs: columns [left, right), rows [top, bottom).
struct McuWindow {
    int left, top, right, bottom;
};

// Planes for the samples of `window`, with room for its whole blocks.
void allocateWindow(const Geometry &g, const McuWindow &window, YccPlanes &planes) {
    int widths[3], heights[3], pitches[3], rows[3];
    for (int i = 0; i < g.count; ++i) {
        pitches[i] = (window.right - window.left) * g.blockWidth[i];
        rows[i] = (window.bottom - window.top) * g.blockHeight[i];
        widths[i] = std::min(window.right * g.blockWidth[i], g.planeWidth[i]) -
                    window.left * g.blockWidth[i];
        heights[i] = std::min(window.bottom * g.blockHeight[i], g.planeHeight[i]) -
                     window.top * g.blockHeight[i];
        planes.ratioH[i] = g.ratioH[i];
        planes.ratioV[i] = g.ratioV[i];
    }
    planes.allocate(g.count, widths, heights, pitches, rows);
}

// Decodes the MCUs of `window` into `planes`, whose first row holds MCU row
// `planeTop` of the image, one MCU run per row (one run when whole rows).
qvjpeg::Error decodeWindow(const qvjpeg::Decoder &decoder, const Geometry &g,
                           const McuWindow &window, int planeTop, const YccPlanes &planes) {
    const bool wholeRows = window.left == 0 && window.right == g.columns;
    for (int row = window.top; row < window.bottom; row = wholeRows ? window.bottom : row + 1) {
        int offsets[3];
        for (int i = 0; i < 3; ++i) offsets[i] = (row - planeTop) * g.blockHeight[i];
        qvjpeg::PlaneSet set = planes.planeSet().advanced(offsets);
        const int runRows = wholeRows ? window.bottom - row : 1;
        vltJpgDecoderRequest request{VLTJPG_REQUEST_SAMPLES,
                                     (window.right - window.left) * runRows, window.left, row,
                                     set.record()};
        if (const qvjpeg::Error error = decoder.readMcus(request)) return error;
    }
    return VLTJPG_OK;
}

qvjpeg::Error createDecoder(const qvjpeg::Stream &stream, int scale, uint32_t indexInterval,
                            qvjpeg::Decoder &decoder) {
    if (!stream) return VLTJPG_ERR_MEMORY;
    qvjpeg::Error error = qvjpeg::Decoder::create(decoder, stream, indexInterval);
    if (!error) error = decoder.set(VLTJPG_DECPROP_SCALE, static_cast<uint32_t>(scale));
    return error;
}

// Explains in words why a file the structure check let through could not be
// opened.
[[noreturn]] void failCreation(const std::string &name, const JpegStructure &structure,
                               qvjpeg::Error error) {
    if (error.code() == VLTJPG_ERR_DATA)
        fail(name, structure.endFound ? "damaged JPEG header" : "JPEG file cut short before its image data");
    fail(name, std::string("cannot decode this JPEG: ") + error.message());
}

// The index of a single-scan image: loaded from `path` when it exists,
// else built (and written to `path` when given). Kept in `storage`.
void attachIndex(const DecodeRequest &request, const qvjpeg::Decoder &decoder,
                 std::vector<uint8_t> &storage) {
    if (!request.indexPath.empty() && access(request.indexPath.c_str(), F_OK) == 0) {
        storage = readFileBytes(request.indexPath);
        qvjpeg::Span<const uint8_t> block(storage.data(), storage.size());
        if (decoder.importIndex(block))
            fail(request.indexPath, "not an index of " + request.name);
        return;
    }
    check(decoder.buildIndex(), request.name, "building the index");
    qvjpeg::Span<const uint8_t> block;
    check(decoder.index(block), request.name, "reading the index");
    storage.assign(block.begin(), block.end());
    if (!request.indexPath.empty()) writeFileBytes(request.indexPath, storage.data(), storage.size());
}

// A window of MCUs around the region, one MCU wider on every side where the
// image goes on, so that chroma is upsampled from its true neighbours.
McuWindow windowAround(const Geometry &g, const int region[4]) {
    McuWindow w;
    w.left = std::max(0, region[0] / g.mcuWidth - 1);
    w.top = std::max(0, region[1] / g.mcuHeight - 1);
    w.right = std::min(g.columns, ceilDiv(region[0] + region[2], g.mcuWidth) + 1);
    w.bottom = std::min(g.rows, ceilDiv(region[1] + region[3], g.mcuHeight) + 1);
    return w;
}

// Stripes of MCU rows decoded in parallel, each by a decoder of its own
// that imports the index (multi-scan images have none and need none).
void decodeStripes(const DecodeRequest &request, const Geometry &g, const qvjpeg::Span<const uint8_t> index,
                   const YccPlanes &planes) {
    std::vector<qvjpeg::Error> errors(static_cast<size_t>(g.rows));  // by a stripe's first row
    auto decodeRows = [&](int begin, int end) {
        qvjpeg::Stream stream = qvjpeg::Stream::overMemory(
            qvjpeg::Span<const uint8_t>(request.bytes->data(), request.bytes->size()));
        qvjpeg::Decoder decoder;
        qvjpeg::Error error = createDecoder(stream, request.scale, 0, decoder);
        if (!error && index.size()) error = decoder.importIndex(index);
        if (!error) error = decodeWindow(decoder, g, {0, begin, g.columns, end}, 0, planes);
        errors[static_cast<size_t>(begin)] = error;
    };
    parallelFor(request.threads, g.rows, decodeRows);
    for (const qvjpeg::Error error : errors) check(error, request.name, "decoding");
}

// The whole image in bands through the decoder's scanline call.
void decodeWhole(const DecodeRequest &request, const Geometry &g, const qvjpeg::Decoder &decoder,
                 const YccPlanes &planes) {
    ProgressBar bar(request.progress);
    if (request.progress) {
        vltJpgDecProgress progress{ProgressBar::callback, &bar};
        decoder.set(VLTJPG_DECPROP_PROGRESS, progress);
    }
    qvjpeg::PlaneSet set = planes.planeSet();
    int lines = g.rows * g.mcuHeight * request.scale;
    check(decoder.scanlines(set, lines), request.name, "decoding");
}

// The share of MCUs whose data lies inside `bytes`, in percent, or -1 for an
// image without an index. The index records the MCUs beyond the end of the
// data at the data's end.
int percentPresent(const std::vector<uint8_t> &bytes) {
    const qvjpeg::Stream stream = qvjpeg::Stream::overMemory(qvjpeg::Span<const uint8_t>(bytes.data(), bytes.size()));
    qvjpeg::Decoder decoder;
    qvjpeg::Span<const uint8_t> block;
    if (createDecoder(stream, 1, 1, decoder) || decoder.buildIndex() || decoder.index(block) ||
        block.size() < sizeof(vltJpgIndexHeader))
        return -1;
    vltJpgIndexHeader header;
    std::memcpy(&header, block.data(), sizeof header);
    if (header.entryCount == 0 || block.size() < sizeof header + 4 * size_t{header.entryCount}) return -1;
    uint32_t present = 0;
    for (uint32_t e = 0; e < header.entryCount; ++e) {
        uint32_t bitOffset;
        std::memcpy(&bitOffset, block.data() + sizeof header + 4 * size_t{e}, 4);
        present += bitOffset / 8 < bytes.size();
    }
    return static_cast<int>(uint64_t{present} * 100 / header.entryCount);
}

}  // namespace

std::string describeCut(const std::vector<uint8_t> &bytes) {
    const int percent = percentPresent(bytes);
    if (percent < 0) return "cut short: the file ends inside its scan data";
    return "cut short after " + std::to_string(percent) + " % of the image";
}

DecodeResult decodeJpeg(const DecodeRequest &request) {
    DecodeResult result;
    result.structure = readJpegStructure(*request.bytes);
    const std::string refusal = result.structure.refusal();
    if (!refusal.empty()) fail(request.name, refusal);

    qvjpeg::Stream stream = qvjpeg::Stream::overMemory(
        qvjpeg::Span<const uint8_t>(request.bytes->data(), request.bytes->size()));
    const bool needsIndex = request.hasRegion || request.threads > 1;
    qvjpeg::Decoder decoder;
    if (const qvjpeg::Error error = createDecoder(stream, request.scale, needsIndex ? 1 : 0, decoder))
        failCreation(request.name, result.structure, error);
    uint32_t multiScan = 0;
    decoder.get(VLTJPG_DECPROP_MULTISCAN, multiScan);
    const Geometry g = geometryOf(decoder, result.structure, request.scale);

    McuWindow window{0, 0, g.columns, g.rows};
    result.width = g.width;
    result.height = g.height;
    if (request.hasRegion) {
        const int *r = request.region;
        if (r[2] < 1 || r[3] < 1 || r[0] + r[2] > g.width || r[1] + r[3] > g.height)
            throw UsageError("--region lies outside the " + std::to_string(g.width) + "x" +
                             std::to_string(g.height) + " image");
        window = windowAround(g, r);
        result.x = r[0] - window.left * g.mcuWidth;
        result.y = r[1] - window.top * g.mcuHeight;
        result.width = r[2];
        result.height = r[3];
    }
    std::vector<uint8_t> index;
    if (needsIndex && multiScan == 0) attachIndex(request, decoder, index);
    allocateWindow(g, window, result.planes);
    if (request.hasRegion)
        check(decodeWindow(decoder, g, window, window.top, result.planes), request.name, "decoding");
    else if (request.threads > 1)
        decodeStripes(request, g, qvjpeg::Span<const uint8_t>(index.data(), index.size()), result.planes);
    else
        decodeWhole(request, g, decoder, result.planes);
    return result;
}

}  // namespace tool
