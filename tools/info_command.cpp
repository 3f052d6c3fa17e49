// qvjpeg info: the layout of a JPEG file, as text or JSON.
#include <cstdio>
#include <sstream>

#include "arguments.h"
#include "commands.h"
#include "image_file.h"
#include "jpeg_structure.h"
#include "tool_error.h"

namespace tool {
namespace {

template <typename Item, typename Print>
std::string joined(const std::vector<Item> &items, const char *separator, Print print) {
    std::ostringstream out;
    for (size_t i = 0; i < items.size(); ++i) out << (i ? separator : "") << print(items[i]);
    return out.str();
}

std::string samplingText(const JpegStructure &s) {
    return joined(s.components, " ", [](const FrameComponent &c) {
        return std::to_string(c.h) + "x" + std::to_string(c.v);
    });
}

std::string tableValues(const QuantTable &t) {
    return joined(std::vector<uint16_t>(t.values.begin(), t.values.end()), ",",
                  [](uint16_t v) { return std::to_string(v); });
}

std::string scanComponents(const ScanHeader &scan) {
    return joined(scan.componentIds, ",", [](int id) { return std::to_string(id); });
}

void printText(const std::string &name, const JpegStructure &s) {
    std::printf("%s: %dx%d, %zu component%s, sampling %s, %s, restart interval %d\n",
                name.c_str(), s.width, s.height, s.components.size(),
                s.components.size() == 1 ? "" : "s", samplingText(s).c_str(), s.process().c_str(),
                s.restartInterval);
    for (const QuantTable &t : s.quantTables)
        std::printf("  quantization table %d (%d-bit): %s\n", t.id, t.precision, tableValues(t).c_str());
    for (size_t i = 0; i < s.scans.size(); ++i) {
        const ScanHeader &scan = s.scans[i];
        std::printf("  scan %zu: components %s, coefficients %d-%d, bits %d/%d\n", i + 1,
                    scanComponents(scan).c_str(), scan.spectralStart, scan.spectralEnd,
                    scan.approxHigh, scan.approxLow);
    }
}

// `text` as a JSON string's contents.
std::string jsonEscaped(const std::string &text) {
    std::string out;
    for (const char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (static_cast<unsigned char>(c) < 0x20) {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x", c);
            out += code;
        } else {
            out += c;
        }
    }
    return out;
}

void printJson(const std::string &name, const JpegStructure &s) {
    std::printf("{\"file\":\"%s\",\"width\":%d,\"height\":%d,\"process\":\"%s\","
                "\"restartInterval\":%d,\"complete\":%s,\n \"components\":[%s],\n",
                jsonEscaped(name).c_str(), s.width, s.height, s.process().c_str(), s.restartInterval,
                s.endFound ? "true" : "false",
                joined(s.components, ",", [](const FrameComponent &c) {
                    return "{\"id\":" + std::to_string(c.id) + ",\"h\":" + std::to_string(c.h) +
                           ",\"v\":" + std::to_string(c.v) + ",\"table\":" + std::to_string(c.quantTable) + "}";
                }).c_str());
    std::printf(" \"quantizationTables\":[%s],\n",
                joined(s.quantTables, ",", [](const QuantTable &t) {
                    return "{\"id\":" + std::to_string(t.id) + ",\"precision\":" +
                           std::to_string(t.precision) + ",\"values\":[" + tableValues(t) + "]}";
                }).c_str());
    std::printf(" \"scans\":[%s]}\n", joined(s.scans, ",", [](const ScanHeader &scan) {
                    return "{\"components\":[" + scanComponents(scan) + "],\"ss\":" +
                           std::to_string(scan.spectralStart) + ",\"se\":" + std::to_string(scan.spectralEnd) +
                           ",\"ah\":" + std::to_string(scan.approxHigh) + ",\"al\":" +
                           std::to_string(scan.approxLow) + "}";
                }).c_str());
}

}  // namespace

int runInfo(const Args &args) {
    const Arguments arguments(args, {{"json", 0}});
    const std::string &path = arguments.positional(1)[0];
    const JpegStructure structure = readJpegStructure(readFileBytes(path));
    if (!structure.startFound) fail(path, "not a JPEG file");
    if (structure.frameMarker < 0) fail(path, "no image frame in the file");
    if (arguments.has("json"))
        printJson(path, structure);
    else
        printText(path, structure);
    return 0;
}

}  // namespace tool
