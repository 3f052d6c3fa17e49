// qvjpeg encode: PPM/PGM/PNG pixels or raw YCbCr planes to a baseline JPEG,
// with an optional thumbnail and random-access index made on the way.
#include <cstdio>

#include "arguments.h"
#include "commands.h"
#include "image_file.h"
#include "progress_bar.h"
#include "tool_error.h"
#include "ycc_planes.h"

namespace tool {
namespace {

struct SamplingName {
    const char *name;
    uint32_t mode, planarFormat;
    int ratioH, ratioV;  // luma samples per chroma sample
};

const SamplingName kSamplings[] = {
    {"420", VLTJPG_SAMPLING_420, VLTJPG_PIXEL_YUV420, 2, 2},
    {"422", VLTJPG_SAMPLING_422, VLTJPG_PIXEL_YUV422, 2, 1},
    {"440", VLTJPG_SAMPLING_440, VLTJPG_PIXEL_YUV440, 1, 2},
    {"444", VLTJPG_SAMPLING_444, VLTJPG_PIXEL_YUV444, 1, 1},
    {"gray", VLTJPG_SAMPLING_GREY, VLTJPG_PIXEL_GREY, 1, 1},
};

const SamplingName &samplingNamed(const std::string &name) {
    for (const SamplingName &sampling : kSamplings)
        if (name == sampling.name) return sampling;
    throw UsageError("--sampling must be 420, 422, 440, 444 or gray, not '" + name + "'");
}

// Planes of a picture in one of the planar layouts.
void shapePlanes(YccPlanes &planes, const SamplingName &s, int width, int height) {
    const int count = s.mode == VLTJPG_SAMPLING_GREY ? 1 : 3;
    int widths[3] = {width}, heights[3] = {height};
    for (int i = 1; i < count; ++i) {
        widths[i] = (width + s.ratioH - 1) / s.ratioH;
        heights[i] = (height + s.ratioV - 1) / s.ratioV;
        planes.ratioH[i] = s.ratioH;
        planes.ratioV[i] = s.ratioV;
    }
    planes.allocate(count, widths, heights, widths, heights);
}

void readPlanes(const std::string &path, YccPlanes &planes) {
    const std::vector<uint8_t> bytes = readFileBytes(path);
    size_t expected = 0;
    for (int i = 0; i < planes.count; ++i) expected += planes.storage[i].size();
    if (bytes.size() != expected)
        fail(path, "holds " + std::to_string(bytes.size()) + " bytes; planes of that size and "
                   "sampling need " + std::to_string(expected));
    size_t offset = 0;
    for (int i = 0; i < planes.count; ++i) {
        std::copy(bytes.begin() + static_cast<long>(offset),
                  bytes.begin() + static_cast<long>(offset + planes.storage[i].size()),
                  planes.storage[i].begin());
        offset += planes.storage[i].size();
    }
}

// The picture to encode, as the codec reads it.
struct Source {
    int width = 0, height = 0;
    uint32_t pixelFormat = 0, sampling = 0;
    Image image;        // packed RGB or grey pictures
    YccPlanes planes;   // raw planes, and the thumbnail of those
    qvjpeg::PlaneSet planeSet() const {
        if (image.channels == 0) return planes.planeSet();
        qvjpeg::Plane plane;
        plane.bytes = qvjpeg::Span<uint8_t>(const_cast<uint8_t *>(image.pixels.data()), image.pixels.size());
        plane.pitch = image.width * image.channels;
        return qvjpeg::PlaneSet(qvjpeg::Span<const qvjpeg::Plane>(&plane, 1));
    }
};

Source readSource(const std::string &path, const Arguments &arguments, const SamplingName &sampling) {
    Source source;
    if (extensionOf(path) == "yuv") {
        if (!arguments.has("size")) throw UsageError(".yuv input needs --size WxH");
        const std::vector<int> size = parseIntegerList(arguments.value("size"), 'x', 2, "--size");
        if (size[0] < 1 || size[1] < 1) throw UsageError("--size must be at least 1x1");
        source.width = size[0];
        source.height = size[1];
        source.pixelFormat = sampling.planarFormat;
        shapePlanes(source.planes, sampling, source.width, source.height);
        readPlanes(path, source.planes);
    } else {
        source.image = readImage(path);
        source.width = source.image.width;
        source.height = source.image.height;
        source.pixelFormat = source.image.channels == 3 ? VLTJPG_PIXEL_RGB_PACKED : VLTJPG_PIXEL_GREY;
    }
    source.sampling = source.pixelFormat == VLTJPG_PIXEL_GREY ? VLTJPG_SAMPLING_GREY : sampling.mode;
    return source;
}

// Binds a thumbnail buffer in the input's planar layout; encoding fills it.
Source bindThumbnail(const qvjpeg::Encoder &encoder, int reduction,
                     const SamplingName &sampling, const std::string &name) {
    check(encoder.set(VLTJPG_ENCPROP_THUMB_SCALE, static_cast<uint32_t>(reduction)), name,
          "setting the thumbnail");
    uint32_t size[2] = {0, 0};
    check(encoder.get(VLTJPG_ENCPROP_THUMB_SIZE, size), name, "sizing the thumbnail");
    Source thumb;
    thumb.width = static_cast<int>(size[0]);
    thumb.height = static_cast<int>(size[1]);
    shapePlanes(thumb.planes, sampling, thumb.width, thumb.height);
    qvjpeg::PlaneSet set = thumb.planeSet();
    vltJpgPlaneSet *record = set.record();
    check(encoder.set(VLTJPG_ENCPROP_THUMB_BUFFER, *record), name, "binding the thumbnail");
    // The encoder keeps the plane pointers, which point into `thumb`'s
    // buffers; moving `thumb` keeps those buffers where they are.
    return thumb;
}

void configure(const qvjpeg::Encoder &encoder, const Arguments &arguments, const std::string &name) {
    check(encoder.set(VLTJPG_ENCPROP_QUALITY, static_cast<uint32_t>(arguments.integer("quality", 85, 1, 100))),
          name, "setting the quality");
    check(encoder.set(VLTJPG_ENCPROP_RESTART, static_cast<uint32_t>(arguments.integer("restart", 0, 0, 65535))),
          name, "setting the restart interval");
    check(encoder.set(VLTJPG_ENCPROP_QUALITY_MODE, static_cast<uint32_t>(arguments.has("hq"))), name,
          "setting the quantizer");
    check(encoder.set(VLTJPG_ENCPROP_QUALITY_STAMP, static_cast<uint32_t>(!arguments.has("no-stamp"))),
          name, "setting the quality stamp");
    if (arguments.has("index"))
        check(encoder.set(VLTJPG_ENCPROP_INDEX_INTERVAL, uint32_t{1}), name, "setting the index");
}

void writeIndex(const qvjpeg::Encoder &encoder, const std::string &path, const std::string &name) {
    vltJpgEncIndexBlock block{};
    check(encoder.get(VLTJPG_ENCPROP_INDEX, block), name, "reading the index");
    writeFileBytes(path, block.address, block.size);
}

}  // namespace

int runEncode(const Args &args) {
    const Arguments arguments(args, {{"quality", 1}, {"sampling", 1}, {"restart", 1}, {"hq", 0},
                                     {"no-stamp", 0}, {"thumbnail", 2}, {"index", 1}, {"size", 1}});
    const std::vector<std::string> &files = arguments.positional(2);
    const SamplingName &sampling = samplingNamed(arguments.has("sampling") ? arguments.value("sampling") : "420");
    int reduction = 0;
    if (arguments.has("thumbnail")) {
        reduction = parseInteger(arguments.value("thumbnail"), 2, 8, "--thumbnail");
        if (reduction != 2 && reduction != 4 && reduction != 8) throw UsageError("--thumbnail must be 2, 4 or 8");
    }
    const Source source = readSource(files[0], arguments, sampling);
    if (reduction && (source.image.channels || sampling.mode == VLTJPG_SAMPLING_GREY))
        throw UsageError("--thumbnail needs colour .yuv input (the codec makes thumbnails of YCbCr planes)");
    if (source.pixelFormat == VLTJPG_PIXEL_RGB_PACKED && sampling.mode == VLTJPG_SAMPLING_GREY)
        throw UsageError("--sampling gray needs a grey picture (.pgm, grey .png or .yuv)");

    OutputGuard guard(files[1]);  // declared first: removes the file after it is closed
    qvjpeg::Stream output = qvjpeg::Stream::openFile(files[1].c_str(), MSTREAM_MODE_WRITE);
    if (!output) fail(files[1], "cannot open for writing");
    vltJpgEncCreateInfo info{};
    info.stream = output.get();
    info.width = static_cast<uint32_t>(source.width);
    info.height = static_cast<uint32_t>(source.height);
    info.pixelFormat = source.pixelFormat;
    info.samplingMode = source.sampling;
    qvjpeg::Encoder encoder;
    check(qvjpeg::Encoder::create(encoder, info), files[1], "starting the encoder");
    configure(encoder, arguments, files[1]);
    Source thumb;
    if (reduction) thumb = bindThumbnail(encoder, reduction, sampling, files[1]);

    ProgressBar bar(true);
    vltJpgEncProgress progress{ProgressBar::callback, &bar};
    encoder.set(VLTJPG_ENCPROP_PROGRESS, progress);
    qvjpeg::PlaneSet planes = source.planeSet();
    check(encoder.scanlines(planes, 0, static_cast<uint32_t>(source.height)), files[1], "encoding");
    if (arguments.has("index")) writeIndex(encoder, arguments.value("index"), files[1]);
    check(encoder.finish(), files[1], "finishing the file");
    if (!output.flush()) fail(files[1], "writing failed");
    guard.keep();
    if (reduction) {
        writeImage(arguments.value("thumbnail", 1),
                   convertToImage(thumb.planes, 0, 0, thumb.width, thumb.height, 1));
    }
    return 0;
}

}  // namespace tool
