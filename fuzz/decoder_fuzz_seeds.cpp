// Writes the seed corpus of the decoder fuzzer into the directory given as
// the only argument (made if missing): small baseline, progressive and multi-scan files of
// several layouts, each behind the fuzzer's option byte.
#include "jpeg_oracle.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace {

std::vector<oracle::EncodeOptions> SeedImages() {
    std::vector<oracle::EncodeOptions> seeds(6);
    seeds[0].restartInterval = 3;
    seeds[1].progressive = true;
    seeds[1].restartInterval = 2;
    seeds[2].progressive = true;
    seeds[2].components = 1;
    seeds[2].width = 23;
    seeds[3].progressive = true;
    seeds[3].sampling = oracle::Sampling422();
    seeds[3].width = 37;
    seeds[3].height = 29;
    seeds[4].separateScans = true;
    seeds[5].scans = {{{0, 1, 2}, 0, 0, 0, 2}, {{0}, 1, 63, 0, 1}, {{0, 1, 2}, 0, 0, 2, 1},
                      {{2}, 1, 63, 0, 0},      {{0}, 1, 63, 1, 0}, {{1}, 1, 63, 0, 0}};
    return seeds;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2)
        return 2;
    if (mkdir(argv[1], 0755) != 0 && errno != EEXIST)
        return 1;
    std::vector<oracle::EncodeOptions> seeds = SeedImages();
    for (size_t i = 0; i < seeds.size(); ++i) {
        std::vector<uint8_t> jpeg = oracle::Encode(seeds[i]);
        std::string path = std::string(argv[1]) + "/seed" + std::to_string(i) + ".jpg";
        std::FILE *file = std::fopen(path.c_str(), "wb");
        if (!file)
            return 1;
        const uint8_t options = static_cast<uint8_t>(i);
        bool written = std::fwrite(&options, 1, 1, file) == 1 &&
                       std::fwrite(jpeg.data(), 1, jpeg.size(), file) == jpeg.size();
        if (std::fclose(file) != 0 || !written)
            return 1;
    }
    return 0;
}
