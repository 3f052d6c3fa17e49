// Pictures the tool reads and writes: PPM (P6), PGM (P5) and PNG (through
// libpng), 8-bit grey or RGB, kept as interleaved rows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tool {

struct Image {
    int width = 0, height = 0, channels = 0;  // channels: 1 grey, 3 RGB
    std::vector<uint8_t> pixels;              // rows of width * channels bytes

    Image() = default;
    Image(int w, int h, int c)
        : width(w), height(h), channels(c), pixels(static_cast<size_t>(w) * h * c) {}
    uint8_t *row(int y) { return pixels.data() + static_cast<size_t>(y) * width * channels; }
    const uint8_t *row(int y) const {
        return pixels.data() + static_cast<size_t>(y) * width * channels;
    }
};

// The lower-case extension of a path without the dot ("" when none).
std::string extensionOf(const std::string &path);

// By the extension: .ppm, .pgm, .png (PNG is turned into 8-bit grey or RGB).
Image readImage(const std::string &path);
// .png takes either channel count, .pgm grey, .ppm colour (grey repeated).
void writeImage(const std::string &path, const Image &image);

// Removes a file that is being written unless the writing completes: a
// failed command leaves no half-written output behind.
class OutputGuard {
public:
    explicit OutputGuard(std::string path) : path_(std::move(path)) {}
    ~OutputGuard();
    OutputGuard(const OutputGuard &) = delete;
    OutputGuard &operator=(const OutputGuard &) = delete;
    void keep() { keep_ = true; }

private:
    std::string path_;
    bool keep_ = false;
};

std::vector<uint8_t> readFileBytes(const std::string &path);
void writeFileBytes(const std::string &path, const void *bytes, size_t size);

}  // namespace tool
