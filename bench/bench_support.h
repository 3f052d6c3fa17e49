// What the encoder benchmarks share: the command line (rounds and photo
// paths) and the timing loop.
#ifndef QVJPEG_BENCH_BENCH_SUPPORT_H
#define QVJPEG_BENCH_BENCH_SUPPORT_H

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

} // namespace bench

#endif
