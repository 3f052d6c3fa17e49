// qvjpeg: one command for decoding, encoding, transcoding and indexing JPEG
// files with libqvjpeg. Exit codes: 0 success, 1 failure, 2 usage error.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "commands.h"
#include "tool_error.h"

namespace {

struct Command {
    const char *name;
    int (*run)(const tool::Args &);
    const char *usage;
};

const Command kCommands[] = {
    {"info", tool::runInfo, "info [--json] FILE.jpg\n  Size, components, sampling, process, "
                            "restart interval, quantization tables and scans."},
    {"decode", tool::runDecode,
     "decode [--scale 1|2|4|8] [--region X,Y,W,H] [--index FILE] [--threads N] IN.jpg "
     "OUT.(ppm|pgm|png|yuv)\n  --region decodes only the MCUs the area (in pixels at the output scale) "
     "needs, through an index\n  (loaded from --index FILE when it exists, else built and written "
     "there). --threads decodes stripes in parallel."},
    {"encode", tool::runEncode,
     "encode [--quality Q] [--sampling 420|422|440|444|gray] [--restart N] [--hq] [--no-stamp]\n"
     "       [--thumbnail 2|4|8 THUMB.png] [--index FILE] [--size WxH] IN.(ppm|pgm|png|yuv) "
     "OUT.jpg\n  Quality 85 and 4:2:0 by default; .yuv input needs --size and holds the planes "
     "of --sampling."},
    {"transcode", tool::runTranscode,
     "transcode [--restart N] [--quality Q] IN.jpg OUT.jpg\n  Re-codes the blocks without "
     "decoding to pixels (lossless unless --quality requantizes)."},
    {"index", tool::runIndex,
     "index [--interval N] IN.jpg OUT.idx\n  Writes the random-access index (an entry every N "
     "MCUs of a row, 1 by default)."},
    {"demo", tool::runDemo,
     "demo [DIR]\n  Makes a test chart and runs every feature on it, writing images into DIR "
     "(demo/ by default) and a table to standard output."},
};

void printUsage(FILE *out) {
    std::fputs("usage: qvjpeg COMMAND [OPTIONS] FILES (qvjpeg COMMAND --help for more)\n", out);
    for (const Command &command : kCommands) std::fprintf(out, "  qvjpeg %s\n", command.usage);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        printUsage(stderr);
        return 2;
    }
    const std::string name = argv[1];
    if (name == "--help" || name == "help") {
        printUsage(stdout);
        return 0;
    }
    for (const Command &command : kCommands) {
        if (name != command.name) continue;
        const tool::Args args(argv + 2, argv + argc);
        for (const std::string &arg : args)
            if (arg == "--help" || arg == "-h") {
                std::printf("usage: qvjpeg %s\n", command.usage);
                return 0;
            }
        try {
            return command.run(args);
        } catch (const tool::UsageError &error) {
            std::fprintf(stderr, "qvjpeg %s: %s\nusage: qvjpeg %s\n", command.name, error.what(),
                         command.usage);
            return 2;
        } catch (const tool::Failure &error) {
            std::fprintf(stderr, "qvjpeg %s: %s\n", command.name, error.what());
            return 1;
        } catch (const std::exception &error) {
            std::fprintf(stderr, "qvjpeg %s: %s\n", command.name, error.what());
            return 1;
        }
    }
    std::fprintf(stderr, "qvjpeg: unknown command '%s'\n", name.c_str());
    printUsage(stderr);
    return 2;
}
