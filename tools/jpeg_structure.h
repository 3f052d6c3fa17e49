// The marker structure of a JPEG file, read by the tool itself: what `info`
// prints, and what lets a refusal or a damaged file be described in words.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tool {

struct FrameComponent {
    int id = 0, h = 1, v = 1, quantTable = 0;
};

struct QuantTable {
    int id = 0, precision = 8;
    std::array<uint16_t, 64> values{};  // in the file's (zigzag) order
};

struct ScanHeader {
    std::vector<int> componentIds;
    int spectralStart = 0, spectralEnd = 63, approxHigh = 0, approxLow = 0;
};

struct JpegStructure {
    bool startFound = false;  // begins with SOI
    bool endFound = false;    // EOI reached after complete scans
    int frameMarker = -1;     // 0xC0.. of the SOF, -1 when none
    int precision = 0, width = 0, height = 0;
    int restartInterval = 0;
    std::vector<FrameComponent> components;
    std::vector<QuantTable> quantTables;
    std::vector<ScanHeader> scans;

    // "baseline", "extended", "progressive", "multi-scan", "lossless", ...
    std::string process() const;
    // Why the codec cannot decode the file, in words; empty when it can.
    std::string refusal() const;
    int maxH() const;
    int maxV() const;
};

JpegStructure readJpegStructure(const std::vector<uint8_t> &bytes);

}  // namespace tool
