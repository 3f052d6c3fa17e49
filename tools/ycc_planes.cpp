#include "ycc_planes.h"

#include <algorithm>

#include "parallel.h"

namespace tool {
namespace {

// One output row of a chroma plane at luma size, scaled by 16: each sample
// is a weighted sum of four chroma samples (or of fewer, repeated ones, where
// a direction is not subsampled by two) with weights adding up to 16.
// `columns` is scratch space for a chroma row and one repeated sample on
// either side, so that the edges need no tests.
void upsampleRow(const qvjpeg::Plane &chroma, int ratioH, int ratioV, int y, int x0, int width,
                 int *columns, int *out) {
    const int cy = std::min(y / ratioV, chroma.height - 1);
    int near = cy;
    if (ratioV == 2) near = std::clamp(y % 2 ? cy + 1 : cy - 1, 0, chroma.height - 1);
    const uint8_t *rowA = chroma.row(cy);
    const uint8_t *rowB = chroma.row(near);
    int *column = columns + 1;
    for (int cx = 0; cx < chroma.width; ++cx) column[cx] = 3 * rowA[cx] + rowB[cx];  // scaled by 4
    column[-1] = column[0];
    column[chroma.width] = column[chroma.width - 1];
    if (ratioH != 2) {
        for (int i = 0; i < width; ++i) out[i] = 4 * column[std::min((x0 + i) / ratioH, chroma.width - 1)];
        return;
    }
    // Luma columns 2c and 2c + 1 lie at chroma column c; the even one leans
    // left, the odd one right. An odd start takes its first column alone.
    int i = 0;
    if (x0 & 1) {
        out[0] = 3 * column[x0 >> 1] + column[(x0 >> 1) + 1];
        i = 1;
    }
    for (int cx = (x0 + i) >> 1; i + 1 < width; i += 2, ++cx) {
        out[i] = 3 * column[cx] + column[cx - 1];
        out[i + 1] = 3 * column[cx] + column[cx + 1];
    }
    if (i < width) out[i] = 3 * column[(x0 + i) >> 1] + column[((x0 + i) >> 1) - 1];
}

uint8_t clampToByte(int value) { return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value); }

// JFIF YCbCr to RGB with 16-bit fixed-point factors; chroma is scaled by 16,
// so every sum stays within 31 bits.
void convertRow(const uint8_t *luma, const int *cb16, const int *cr16, int width, uint8_t *rgb) {
    constexpr int kCrToR = 91881, kCbToG = 22554, kCrToG = 46802, kCbToB = 116130;
    constexpr int kShift = 20, kHalf = 1 << (kShift - 1);
    for (int i = 0; i < width; ++i) {
        const int cb = cb16[i] - 128 * 16, cr = cr16[i] - 128 * 16;
        const int y = (luma[i] << kShift) + kHalf;
        rgb[3 * i + 0] = clampToByte((y + kCrToR * cr) >> kShift);
        rgb[3 * i + 1] = clampToByte((y - kCbToG * cb - kCrToG * cr) >> kShift);
        rgb[3 * i + 2] = clampToByte((y + kCbToB * cb) >> kShift);
    }
}

}  // namespace

void YccPlanes::allocate(int planes, const int widths[3], const int heights[3],
                         const int pitches[3], const int rows[3]) {
    count = planes;
    for (int i = 0; i < count; ++i) {
        storage[i].assign(static_cast<size_t>(pitches[i]) * rows[i], 128);
        plane[i].bytes = qvjpeg::Span<uint8_t>(storage[i].data(), storage[i].size());
        plane[i].pitch = pitches[i];
        plane[i].width = widths[i];
        plane[i].height = heights[i];
    }
}

qvjpeg::PlaneSet YccPlanes::planeSet() const {
    return qvjpeg::PlaneSet(qvjpeg::Span<const qvjpeg::Plane>(plane, static_cast<size_t>(count)));
}

Image convertToImage(const YccPlanes &planes, int x, int y, int width, int height, int threads) {
    Image image(width, height, planes.count == 1 ? 1 : 3);
    auto convertRows = [&](int begin, int end) {
        std::vector<int> cb(static_cast<size_t>(width)), cr(static_cast<size_t>(width));
        std::vector<int> columns(static_cast<size_t>(std::max(planes.plane[1].width, planes.plane[2].width)) + 2);
        for (int row = begin; row < end; ++row) {
            const uint8_t *luma = planes.plane[0].row(y + row) + x;
            if (planes.count == 1) {
                std::copy(luma, luma + width, image.row(row));
                continue;
            }
            upsampleRow(planes.plane[1], planes.ratioH[1], planes.ratioV[1], y + row, x, width, columns.data(),
                        cb.data());
            upsampleRow(planes.plane[2], planes.ratioH[2], planes.ratioV[2], y + row, x, width, columns.data(),
                        cr.data());
            convertRow(luma, cb.data(), cr.data(), width, image.row(row));
        }
    };
    parallelFor(threads, height, convertRows);
    return image;
}

}  // namespace tool
