// Decoding a JPEG file in memory to YCbCr planes: whole, a region of MCUs
// found through the random-access index, or in stripes on several threads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jpeg_structure.h"
#include "ycc_planes.h"

namespace tool {

struct DecodeRequest {
    std::string name;               // the file, for messages
    const std::vector<uint8_t> *bytes = nullptr;
    int scale = 1;                  // 1, 2, 4 or 8
    int threads = 1;
    bool progress = false;          // a progress bar on standard error
    std::string indexPath;          // loaded when it exists, else written
    bool hasRegion = false;
    int region[4] = {0, 0, 0, 0};   // x, y, width, height at the output scale
};

struct DecodeResult {
    YccPlanes planes;               // the MCUs decoded
    int x = 0, y = 0;               // the requested area inside the planes
    int width = 0, height = 0;
    JpegStructure structure;
};

// Throws a Failure naming the file for refused or damaged input; a file
// cut short decodes (its missing part grey) with structure.endFound false.
DecodeResult decodeJpeg(const DecodeRequest &request);

// Says where a file that ends inside its image data was cut: "cut short
// after 40 % of the image" (single-scan images), else just "cut short".
std::string describeCut(const std::vector<uint8_t> &bytes);

}  // namespace tool
