// qvjpeg decode: a JPEG file to PPM/PGM/PNG pixels or raw YCbCr planes.
#include <cstdio>
#include <memory>

#include "arguments.h"
#include "commands.h"
#include "image_file.h"
#include "jpeg_decode.h"
#include "tool_error.h"

namespace tool {
namespace {

// The visible rows of every plane, one plane after another.
void writePlanes(const std::string &path, const YccPlanes &planes) {
    std::vector<uint8_t> bytes;
    for (int i = 0; i < planes.count; ++i)
        for (int y = 0; y < planes.plane[i].height; ++y)
            bytes.insert(bytes.end(), planes.plane[i].row(y), planes.plane[i].row(y) + planes.plane[i].width);
    writeFileBytes(path, bytes.data(), bytes.size());
}

}  // namespace

int runDecode(const Args &args) {
    const Arguments arguments(
        args, {{"scale", 1}, {"region", 1}, {"index", 1}, {"threads", 1}});
    const std::vector<std::string> &files = arguments.positional(2);
    DecodeRequest request;
    request.name = files[0];
    request.scale = arguments.integer("scale", 1, 1, 8);
    if (request.scale & (request.scale - 1)) throw UsageError("--scale must be 1, 2, 4 or 8");
    request.threads = arguments.integer("threads", 1, 1, 64);
    request.progress = true;
    if (arguments.has("index")) request.indexPath = arguments.value("index");
    const std::string extension = extensionOf(files[1]);
    if (extension != "ppm" && extension != "pgm" && extension != "png" && extension != "yuv")
        throw UsageError(files[1] + ": unknown output type (use .ppm, .pgm, .png or .yuv)");
    if (arguments.has("region")) {
        if (extension == "yuv") throw UsageError("--region needs picture output, not .yuv");
        const std::vector<int> region = parseIntegerList(arguments.value("region"), ',', 4, "--region");
        request.hasRegion = true;
        std::copy(region.begin(), region.end(), request.region);
    }
    const std::vector<uint8_t> bytes = readFileBytes(request.name);
    request.bytes = &bytes;
    const DecodeResult result = decodeJpeg(request);
    if (extension == "yuv")
        writePlanes(files[1], result.planes);
    else
        writeImage(files[1], convertToImage(result.planes, result.x, result.y, result.width,
                                            result.height, request.threads));
    if (!result.structure.endFound)
        fail(request.name, describeCut(bytes) + " (the picture is written as far as the data goes)");
    return 0;
}

}  // namespace tool
