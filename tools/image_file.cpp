#include "image_file.h"

#include <png.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>

#include "tool_error.h"

namespace tool {
namespace {

using File = std::unique_ptr<FILE, int (*)(FILE *)>;

File openFile(const std::string &path, const char *mode) {
    File file(std::fopen(path.c_str(), mode), std::fclose);
    if (!file)
        fail(path, std::string("cannot open for ") + (mode[0] == 'r' ? "reading" : "writing"));
    return file;
}

// One header number of a PNM file, past white space and comments.
int readPnmNumber(FILE *file, const std::string &path) {
    int c = std::fgetc(file);
    while (c == '#' || std::isspace(c)) {
        if (c == '#')
            while (c != '\n' && c != EOF) c = std::fgetc(file);
        c = std::fgetc(file);
    }
    int number = 0, digits = 0;
    for (; std::isdigit(c) && digits < 6; ++digits, c = std::fgetc(file)) number = number * 10 + (c - '0');
    if (digits == 0 || digits == 6) fail(path, "damaged PNM header");
    return number;
}

Image readPnm(const std::string &path, int channels) {
    File file = openFile(path, "rb");
    const char expected = channels == 3 ? '6' : '5';
    if (std::fgetc(file.get()) != 'P' || std::fgetc(file.get()) != expected)
        fail(path, channels == 3 ? "not a binary PPM (P6) file" : "not a binary PGM (P5) file");
    const int width = readPnmNumber(file.get(), path);
    const int height = readPnmNumber(file.get(), path);
    const int maxValue = readPnmNumber(file.get(), path);
    if (width < 1 || height < 1 || width > 65535 || height > 65535) fail(path, "bad image size");
    if (maxValue != 255) fail(path, "only 8-bit PNM (maximum value 255) is supported");
    Image image(width, height, channels);
    if (std::fread(image.pixels.data(), 1, image.pixels.size(), file.get()) != image.pixels.size())
        fail(path, "the image data is cut short");
    return image;
}

void writePnm(const std::string &path, const Image &image) {
    File file = openFile(path, "wb");
    std::fprintf(file.get(), "P%c\n%d %d\n255\n", image.channels == 3 ? '6' : '5', image.width,
                 image.height);
    if (std::fwrite(image.pixels.data(), 1, image.pixels.size(), file.get()) !=
            image.pixels.size() ||
        std::fflush(file.get()) != 0)
        fail(path, "writing failed");
}

// libpng reports errors through a jump; the message is kept for the Failure.
struct PngErrorState {
    char message[200] = "damaged PNG data";
};

void onPngError(png_structp png, png_const_charp message) {
    auto *state = static_cast<PngErrorState *>(png_get_error_ptr(png));
    std::snprintf(state->message, sizeof state->message, "%s", message);
    png_longjmp(png, 1);
}

void onPngWarning(png_structp, png_const_charp) {}

Image readPng(const std::string &path) {
    File file = openFile(path, "rb");
    PngErrorState state;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, onPngError, onPngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        fail(path, "out of memory");
    }
    Image image;
    std::vector<png_bytep> rows;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        fail(path, state.message);
    }
    png_init_io(png, file.get());
    png_read_info(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_strip_alpha(png);
    png_set_packing(png);
    png_read_update_info(png, info);
    const int channels = png_get_channels(png, info);
    const png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
    if (width > 65535 || height > 65535) png_error(png, "image larger than 65535 pixels");
    image = Image(static_cast<int>(width), static_cast<int>(height), channels == 1 ? 1 : 3);
    if (channels != image.channels) png_error(png, "unexpected PNG channel layout");
    for (int y = 0; y < image.height; ++y) rows.push_back(image.row(y));
    png_read_image(png, rows.data());
    png_destroy_read_struct(&png, &info, nullptr);
    return image;
}

void writePng(const std::string &path, const Image &image) {
    File file = openFile(path, "wb");
    PngErrorState state;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, onPngError, onPngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        fail(path, "out of memory");
    }
    std::vector<png_bytep> rows;
    for (int y = 0; y < image.height; ++y) rows.push_back(const_cast<png_bytep>(image.row(y)));
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        fail(path, state.message);
    }
    png_init_io(png, file.get());
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 8,
                 image.channels == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_rows(png, info, rows.data());
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
    if (std::fflush(file.get()) != 0) fail(path, "writing failed");
}

// A grey picture as RGB, each sample repeated.
Image colourOf(const Image &grey) {
    Image rgb(grey.width, grey.height, 3);
    for (size_t i = 0; i < grey.pixels.size(); ++i)
        rgb.pixels[3 * i] = rgb.pixels[3 * i + 1] = rgb.pixels[3 * i + 2] = grey.pixels[i];
    return rgb;
}

}  // namespace

std::string extensionOf(const std::string &path) {
    const size_t dot = path.rfind('.');
    const size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string extension = path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

Image readImage(const std::string &path) {
    const std::string extension = extensionOf(path);
    if (extension == "ppm") return readPnm(path, 3);
    if (extension == "pgm") return readPnm(path, 1);
    if (extension == "png") return readPng(path);
    throw UsageError(path + ": unknown picture type (use .ppm, .pgm, .png or .yuv)");
}

void writeImage(const std::string &path, const Image &image) {
    const std::string extension = extensionOf(path);
    if (extension == "png") return writePng(path, image);
    if (extension == (image.channels == 3 ? "ppm" : "pgm")) return writePnm(path, image);
    if (extension == "ppm") return writePnm(path, colourOf(image));
    throw UsageError(path + ": cannot write a colour picture as ." + extension +
                     " (use .ppm, .png or .yuv)");
}

// Only a regular file is removed: an output such as /dev/null stays.
OutputGuard::~OutputGuard() {
    struct stat status {};
    if (!keep_ && stat(path_.c_str(), &status) == 0 && S_ISREG(status.st_mode)) std::remove(path_.c_str());
}

std::vector<uint8_t> readFileBytes(const std::string &path) {
    File file = openFile(path, "rb");
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    if (std::ferror(file.get())) fail(path, "reading failed");
    return bytes;
}

void writeFileBytes(const std::string &path, const void *bytes, size_t size) {
    File file = openFile(path, "wb");
    if (std::fwrite(bytes, 1, size, file.get()) != size || std::fflush(file.get()) != 0)
        fail(path, "writing failed");
}

}  // namespace tool
