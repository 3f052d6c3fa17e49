// Decoded YCbCr planes and their conversion to RGB: chroma is brought to
// full size with the triangle filter (each output sample weighs its nearest
// chroma sample 3 and the next nearest 1, in both directions) and then
// converted with the JFIF equations.
#pragma once

#include <cstdint>
#include <vector>

#include "image_file.h"
#include "qvjpeg.hpp"

namespace tool {

struct YccPlanes {
    int count = 0;                  // 1 grey, 3 YCbCr
    int ratioH[3] = {1, 1, 1};      // luma samples per chroma sample, across
    int ratioV[3] = {1, 1, 1};      // and down
    std::vector<uint8_t> storage[3];
    qvjpeg::Plane plane[3];         // plane[0] gives the picture's size

    // Planes of the given visible sizes, with room for whole blocks.
    void allocate(int planes, const int widths[3], const int heights[3], const int pitches[3],
                  const int rows[3]);
    qvjpeg::PlaneSet planeSet() const;
};

// The pixels of `planes` inside (x, y, width, height), RGB or grey, rows
// converted on `threads` threads.
Image convertToImage(const YccPlanes &planes, int x, int y, int width, int height, int threads);

}  // namespace tool
