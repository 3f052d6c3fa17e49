// Shared by the benchmarks: JPEG bytes in memory behind the codec's stream
// callback, whole files read into memory, and repeated timing.
#ifndef QVJPEG_BENCH_SUPPORT_H
#define QVJPEG_BENCH_SUPPORT_H

#include "decoder_harness.h"
#include "qvjpeg.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace bench {

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

// Runs `run` once to warm up, then repeatedly for about `seconds`; returns
// the runs per second.
template <typename Run>
double Rate(double seconds, Run run) {
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

inline bool ReadFile(const char *path, std::vector<uint8_t> *data) {
    FILE *file = std::fopen(path, "rb");
    if (!file)
        return false;
    std::fseek(file, 0, SEEK_END);
    long size = std::ftell(file);
    std::fseek(file, 0, SEEK_SET);
    data->resize(size > 0 ? static_cast<size_t>(size) : 0);
    size_t got = std::fread(data->data(), 1, data->size(), file);
    std::fclose(file);
    return got == data->size();
}

} // namespace bench

#endif
