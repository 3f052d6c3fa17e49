// Fuzz target: the encoder fed with samples. The input's first bytes pick
// the image size, pixel format, sampling, quality settings, restart
// interval, band height, pitch errors, thumbnail and whether MCU runs are
// used; the rest fills the planes. Every plane is an allocation of exactly
// the size the layout needs at the chosen pitch, so any read outside the
// caller's samples is caught.
#include "qvjpeg.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

// Reads the parameter bytes; zeros once they run out.
struct Reader {
    const uint8_t *data;
    size_t size;
    size_t position = 0;
    uint32_t Byte() { return position < size ? data[position++] : 0; }
    uint32_t Word() { return Byte() | Byte() << 8; }
};

uint32_t DiscardingStream(uint32_t operation, void *, void *argument) {
    if (operation == VLTJPG_STREAM_WRITE)
        return static_cast<vltJpgStreamBuffer *>(argument)->count;
    return operation == VLTJPG_STREAM_FLUSH ? 1 : 0;
}

uint32_t Half(uint32_t value) { return (value + 1) / 2; }

// Bytes of a row and number of rows of plane `p` of a format, as the
// format's layout defines them; 0 rows for a plane the format does not use.
struct PlaneShape {
    uint32_t rowBytes;
    uint32_t rows;
};
PlaneShape ShapeOf(uint32_t format, int p, uint32_t width, uint32_t height) {
    bool halfRows = format == 1 || format == 3 || format == 21 || format == 22;
    switch (format) {
        case 0: return {width, p == 0 ? height : 0};
        case 1:
        case 2: return {p == 0 ? width : Half(width), p == 0 || !halfRows ? height : Half(height)};
        case 3:
        case 4:
        case 5: return {width, p == 0 || !halfRows ? height : Half(height)};
        case 7:
        case 8:
        case 9:
        case 10: return {4 * Half(width), p == 0 ? height : 0};
        case 11:
        case 12:
        case 13:
        case 14: return {2 * width, p == 0 ? height : 0};
        case 15:
        case 16: return {3 * width, p == 0 ? height : 0};
        case 21:
        case 22:
            return {p == 0 ? width : 2 * Half(width),
                    p == 2 ? 0 : (p == 0 ? height : Half(height))};
        default: return {width, 0};
    }
}

struct HostPlanes {
    std::vector<uint8_t> storage[3];
    uint8_t *planes[3] = {nullptr, nullptr, nullptr};
    int32_t pitches[3] = {0, 0, 0};
};

// Planes of `format` with every pitch off its row by `pitchError` (which
// may make it too short), filled from `fill`.
void MakePlanes(HostPlanes &host, uint32_t format, uint32_t width, uint32_t height,
                int32_t pitchError, Reader &fill) {
    for (int p = 0; p < 3; ++p) {
        PlaneShape shape = ShapeOf(format, p, width, height);
        int32_t pitch = static_cast<int32_t>(shape.rowBytes) + pitchError;
        if (shape.rows == 0 || pitch <= 0)
            continue;
        // The interleaved chroma plane of 21 and 22 is also read from its
        // second byte on.
        bool semiPlanarChroma = (format == 21 || format == 22) && p == 1;
        host.storage[p].resize(static_cast<size_t>(pitch) * shape.rows + semiPlanarChroma);
        for (uint8_t &sample : host.storage[p])
            sample = static_cast<uint8_t>(fill.Byte() ^ (&sample - host.storage[p].data()));
        host.planes[p] = host.storage[p].data();
        host.pitches[p] = pitch;
    }
    if (format == 21 || format == 22) {
        // One interleaved chroma plane; the pointers give the order.
        host.planes[2] = host.planes[1] ? host.planes[1] + 1 : nullptr;
        host.pitches[2] = host.pitches[1];
    }
    if (format == 5) {
        for (int p = 1; p < 3; ++p) {
            host.storage[p] = host.storage[0];
            host.planes[p] = host.storage[p].empty() ? nullptr : host.storage[p].data();
            host.pitches[p] = host.pitches[0];
        }
    }
}

void SetWord(vltJpgEncoder encoder, uint32_t id, uint32_t value) {
    vltJpgEncoderSetProp(encoder, id, &value, sizeof(value));
}

// A thumbnail buffer for the planar formats, sized by the encoder.
void BindThumbnail(vltJpgEncoder encoder, uint32_t format, uint32_t reduction, HostPlanes &thumb) {
    SetWord(encoder, VLTJPG_ENCPROP_THUMB_SCALE, reduction);
    uint32_t size[2] = {0, 0};
    if (vltJpgEncoderGetProp(encoder, VLTJPG_ENCPROP_THUMB_SIZE, size, sizeof(size)) != 0 ||
        format < 1 || format > 4)
        return;
    for (int p = 0; p < 3; ++p) {
        PlaneShape shape = ShapeOf(format, p, size[0], size[1]);
        thumb.storage[p].resize(static_cast<size_t>(shape.rowBytes) * shape.rows + 1);
        thumb.planes[p] = thumb.storage[p].data();
        thumb.pitches[p] = static_cast<int32_t>(shape.rowBytes);
    }
    vltJpgPlaneSet planeSet = {thumb.planes, thumb.pitches};
    vltJpgEncoderSetProp(encoder, VLTJPG_ENCPROP_THUMB_BUFFER, &planeSet, sizeof(planeSet));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Reader input{data, size};
    // Up to 80 x 64: a few MCUs each way in every layout, and thousands of
    // inputs a second.
    uint32_t width = 1 + input.Word() % 80;
    uint32_t height = 1 + input.Word() % 64;
    uint32_t format = input.Byte() % 23;
    uint32_t samplingMode = input.Byte() % 6;
    uint32_t quality = input.Byte() % 102;
    uint32_t settings = input.Byte();
    uint32_t bandLines = 1 + input.Byte() % 48;
    int32_t pitchError = static_cast<int32_t>(input.Byte() % 8) - 1;
    uint32_t reduction = (settings >> 4) & 15;
    if (format == 6 || format == 17)
        format = 1; // coefficient and transcoding input have their own targets

    vltJpgEncCreateInfo info{};
    info.width = width;
    info.height = (settings & 8) ? 0 : height;
    info.pixelFormat = format;
    info.samplingMode = samplingMode;
    info.streamCallback = DiscardingStream;
    info.stream = &input;
    vltJpgEncoder encoder = nullptr;
    if (vltJpgEncoderCreate(&encoder, &info) != 0)
        return 0;
    SetWord(encoder, VLTJPG_ENCPROP_QUALITY, quality);
    SetWord(encoder, VLTJPG_ENCPROP_QUALITY_MODE, settings & 1);
    SetWord(encoder, VLTJPG_ENCPROP_QUALITY_STAMP, (settings >> 1) & 1);
    SetWord(encoder, VLTJPG_ENCPROP_RESTART, (settings >> 2) & 1 ? 3 : 0);
    if (input.Byte() % 8 == 0)
        SetWord(encoder, VLTJPG_ENCPROP_SAMPLING, samplingMode);
    HostPlanes thumb;
    BindThumbnail(encoder, format, reduction, thumb);

    HostPlanes host;
    bool runs = reduction & 1;
    if (runs && info.height == 0) {
        // With the height unknown a run's buffer holds whole MCU rows: at
        // most as many as 16-line rows of the image, as the count below.
        uint32_t rows = (height + 15) / 16;
        MakePlanes(host, format, width, rows * 16, pitchError, input);
        uint32_t mcus = (width + 15) / 16 * rows;
        vltJpgPlaneSet planeSet = {host.planes, host.pitches};
        vltJpgEncWriteDesc run = {2, static_cast<int32_t>(input.Byte() % (mcus + 1)), 0, 0,
                                  &planeSet};
        vltJpgEncoderWriteMCUs(encoder, &run);
    } else if (runs) {
        // One run of MCUs from the top left, the planes as its buffer.
        MakePlanes(host, format, width, height, pitchError, input);
        vltJpgPlaneSet planeSet = {host.planes, host.pitches};
        vltJpgEncWriteDesc run = {2, static_cast<int32_t>(input.Byte()), 0, 0, &planeSet};
        vltJpgEncoderWriteMCUs(encoder, &run);
    } else {
        MakePlanes(host, format, width, height, pitchError, input);
        for (uint32_t start = 0; start < height; start += bandLines) {
            uint32_t lines = height - start < bandLines ? height - start : bandLines;
            if (vltJpgEncoderScanlines(encoder, host.planes, host.pitches, start, &lines) != 0)
                break;
        }
    }
    vltJpgEncoderDestroy(encoder);
    return 0;
}
