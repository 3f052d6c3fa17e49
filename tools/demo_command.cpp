// qvjpeg demo: runs the tool's own commands on a built-in test chart and
// prints what they gave: sizes, PSNR and timings.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <functional>

#include "arguments.h"
#include "commands.h"
#include "image_file.h"
#include "test_chart.h"
#include "tool_error.h"

namespace tool {
namespace {

class Demo {
public:
    explicit Demo(std::string dir) : dir_(std::move(dir)) {}

    std::string path(const std::string &name) const { return dir_ + "/" + name; }

    // Runs a command in-process and prints one table row for it; `output`
    // is the file it makes and `original` what its pixels are compared with.
    void step(const std::string &what, int (*command)(const Args &), const Args &args,
              const std::string &output, const Image *original) {
        const auto start = std::chrono::steady_clock::now();
        if (command(args) != 0) throw Failure(what + " failed");
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        struct stat status {};
        stat(output.c_str(), &status);
        std::string quality = "";
        if (original) {
            const Image result = readImage(decodedForm(output));
            char text[32];
            std::snprintf(text, sizeof text, "%.2f dB", psnr(result, *original));
            quality = text;
        }
        std::printf("%-38s %-26s %9lld %10s %9.1f\n", what.c_str(), output.substr(dir_.size() + 1).c_str(),
                    static_cast<long long>(status.st_size), quality.c_str(), ms);
    }

private:
    // A JPEG output is decoded for the comparison; a picture is read as is.
    std::string decodedForm(const std::string &output) const {
        if (extensionOf(output) != "jpg") return output;
        const std::string picture = output.substr(0, output.size() - 4) + ".check.png";
        if (runDecode({output, picture}) != 0) throw Failure(output + " does not decode");
        return picture;
    }

    std::string dir_;
};

}  // namespace

int runDemo(const Args &args) {
    const Arguments arguments(args, {});
    if (arguments.positional().size() > 1) throw UsageError("demo takes at most one folder");
    const std::string dir = arguments.positional().empty() ? "demo" : arguments.positional()[0];
    if (mkdir(dir.c_str(), 0775) != 0 && errno != EEXIST) fail(dir, "cannot create the folder");
    Demo demo(dir);

    const Image chart = makeTestChart(1024, 768);
    const Image grey = greyOf(chart);
    writeImage(demo.path("chart.png"), chart);
    writeImage(demo.path("chart.pgm"), grey);
    std::printf("%-38s %-26s %9s %10s %9s\n", "step", "file", "bytes", "PSNR", "ms");
    for (const char *sampling : {"420", "422", "440", "444"})
        demo.step(std::string("encode, sampling ") + sampling, runEncode,
                  {"--sampling", sampling, demo.path("chart.png"), demo.path("chart_" + std::string(sampling) + ".jpg")},
                  demo.path("chart_" + std::string(sampling) + ".jpg"), &chart);
    demo.step("encode, grey", runEncode, {demo.path("chart.pgm"), demo.path("chart_gray.jpg")},
              demo.path("chart_gray.jpg"), &grey);
    const std::string jpeg = demo.path("chart_420.jpg");
    for (const char *scale : {"1", "2", "4", "8"})
        demo.step(std::string("decode at 1/") + scale, runDecode,
                  {"--scale", scale, jpeg, demo.path("scale_" + std::string(scale) + ".png")},
                  demo.path("scale_" + std::string(scale) + ".png"), nullptr);
    demo.step("decode on 2 threads", runDecode, {"--threads", "2", jpeg, demo.path("threads.png")},
              demo.path("threads.png"), nullptr);
    demo.step("index", runIndex, {jpeg, demo.path("chart_420.idx")}, demo.path("chart_420.idx"), nullptr);
    demo.step("region 300x200 at (400,300)", runDecode,
              {"--index", demo.path("chart_420.idx"), "--region", "400,300,300,200", jpeg, demo.path("region.png")},
              demo.path("region.png"), nullptr);
    demo.step("transcode, restart every 4 MCUs", runTranscode,
              {"--restart", "4", jpeg, demo.path("transcoded.jpg")}, demo.path("transcoded.jpg"), &chart);
    demo.step("transcode, requantized to quality 50", runTranscode,
              {"--quality", "50", jpeg, demo.path("quality50.jpg")}, demo.path("quality50.jpg"), &chart);
    std::printf("images in %s/\n", dir.c_str());
    return 0;
}

}  // namespace tool
