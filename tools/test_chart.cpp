#include "test_chart.h"

#include <cmath>
#include <cstdint>

namespace tool {
namespace {

// Colour bars of the classic order: white, yellow, cyan, green, magenta,
// red, blue, black.
constexpr uint8_t kBars[8][3] = {{235, 235, 235}, {235, 235, 16}, {16, 235, 235}, {16, 235, 16},
                                 {235, 16, 235},  {235, 16, 16},  {16, 16, 235},  {16, 16, 16}};

// Thin strokes on a 6x8 cell grid, like small print.
bool glyphStroke(int x, int y) {
    const int cell = (x / 6) * 7 + (y / 8) * 13;
    const int cx = x % 6, cy = y % 8;
    if (cx == 5 || cy == 7) return false;
    return (cell % 3 == 0 && cx == 0) || (cell % 5 < 2 && cy == 3) || (cell % 4 == 1 && cx == cy);
}

}  // namespace

Image makeTestChart(int width, int height) {
    Image image(width, height, 3);
    uint32_t noise = 2024;
    for (int y = 0; y < height; ++y) {
        const int band = y * 4 / height;  // four horizontal bands
        for (int x = 0; x < width; ++x) {
            uint8_t *p = image.row(y) + 3 * x;
            noise = noise * 1103515245u + 12345u;
            const int grain = static_cast<int>((noise >> 24) % 33) - 16;
            switch (band) {
            case 0:  // horizontal and vertical gradients
                p[0] = static_cast<uint8_t>(x * 255 / width);
                p[1] = static_cast<uint8_t>(y * 4 * 255 / height);
                p[2] = static_cast<uint8_t>(255 - x * 255 / width);
                break;
            case 1:  // colour bars with hard edges
                for (int c = 0; c < 3; ++c) p[c] = kBars[x * 8 / width][c];
                break;
            case 2:  // dark print on light paper
                for (int c = 0; c < 3; ++c) p[c] = glyphStroke(x, y) ? 30 : 225;
                break;
            default:  // a smooth ramp under noise
                for (int c = 0; c < 3; ++c) {
                    const int value = 60 + c * 40 + x * 100 / width + grain;
                    p[c] = static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
                }
            }
        }
    }
    return image;
}

Image greyOf(const Image &rgb) {
    Image grey(rgb.width, rgb.height, 1);
    for (size_t i = 0; i < grey.pixels.size(); ++i) {
        const uint8_t *p = &rgb.pixels[3 * i];
        grey.pixels[i] = static_cast<uint8_t>((19595 * p[0] + 38470 * p[1] + 7471 * p[2] + 32768) >> 16);
    }
    return grey;
}

double psnr(const Image &a, const Image &b) {
    if (a.pixels.size() != b.pixels.size() || a.pixels.empty()) return 0;
    double sum = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) {
        const double d = double(a.pixels[i]) - b.pixels[i];
        sum += d * d;
    }
    return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * double(a.pixels.size()) / sum);
}

}  // namespace tool
