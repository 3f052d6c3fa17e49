// Shared by the benchmarks: the command line (rounds and photo paths), JPEG
// bytes in memory behind the codec's stream callback, and the timing loops.
#ifndef QVJPEG_BENCH_BENCH_SUPPORT_H
#define QVJPEG_BENCH_BENCH_SUPPORT_H

#include "decoder_harness.h"
#include "qvjpeg.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace bench {

constexpr double kMinSeconds = 0.3; // per side, per round

// `[--rounds N] file.jpg...`; false (after printing the usage) without
// files.
struct Arguments {
    int rounds = 3;
    std::vector<const char *> paths;
};
inline bool ParseArguments(int argc, char **argv, Arguments &arguments) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc)
            arguments.rounds = std::atoi(argv[++i]);
        else
            arguments.paths.push_back(argv[i]);
    }
    if (arguments.paths.empty())
        std::fprintf(stderr, "usage: %s [--rounds N] file.jpg...\n", argv[0]);
    return !arguments.paths.empty();
}

// Runs `work` until kMinSeconds have passed; seconds per run. The last
// run's result is left in `result`.
template <typename Work, typename Result> double TimePerRun(Work work, Result &result) {
    using Clock = std::chrono::steady_clock;
    int runs = 0;
    auto start = Clock::now();
    double elapsed = 0;
    do {
        result = work();
        ++runs;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < kMinSeconds);
    return elapsed / runs;
}

// Runs `run` once to warm up, then repeatedly for about `seconds`; returns
// the runs per second.
template <typename Run> double Rate(double seconds, Run run) {
    using Clock = std::chrono::steady_clock;
    run();
    int runs = 0;
    Clock::time_point start = Clock::now();
    double elapsed = 0;
    do {
        run();
        ++runs;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < seconds);
    return runs / elapsed;
}

struct MemorySource {
    const std::vector<uint8_t> *data;
    size_t position;
};

// Reads, seeks (from the start, the end or the position) and tells.
inline uint32_t MemoryCallback(uint32_t operation, void *stream, void *argument) {
    auto *source = static_cast<MemorySource *>(stream);
    if (operation == VLTJPG_STREAM_READ)
        return harness::ReadFromBytes(*source->data, &source->position,
                                      static_cast<vltJpgStreamBuffer *>(argument));
    if (operation == VLTJPG_STREAM_SEEK)
        return harness::SeekInBytes(source->data->size(), &source->position,
                                    static_cast<vltJpgStreamSeekArgs *>(argument));
    return operation == VLTJPG_STREAM_TELL ? static_cast<uint32_t>(source->position) : 0;
}

// One aim's ratios (ours / libjpeg-turbo throughput) over the photos: their
// geometric mean and the worst photo, printed as the aim's summary line.
class RatioSummary {
  public:
    explicit RatioSummary(const char *aim) : aim_(aim) {}
    void Add(const std::string &photo, double ratio) {
        logSum_ += std::log(ratio);
        ++count_;
        if (count_ == 1 || ratio < worst_) {
            worst_ = ratio;
            worstPhoto_ = photo;
        }
    }
    void Print() const {
        if (count_ > 0)
            std::printf("summary %-20s geometric mean %.2f, worst %.2f (%s), %d photos\n", aim_,
                        std::exp(logSum_ / count_), worst_, worstPhoto_.c_str(), count_);
    }

  private:
    const char *aim_;
    double logSum_ = 0;
    double worst_ = 0;
    std::string worstPhoto_;
    int count_ = 0;
};

} // namespace bench

#endif
