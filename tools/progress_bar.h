// A progress bar on standard error, drawn only when it is a terminal; fed
// by the codec's progress callbacks.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>

namespace tool {

class ProgressBar {
public:
    explicit ProgressBar(bool wanted) : active_(wanted && isatty(STDERR_FILENO)) {}
    ~ProgressBar() {
        if (active_ && drawn_) std::fputs("\r\033[K", stderr);
    }
    ProgressBar(const ProgressBar &) = delete;
    ProgressBar &operator=(const ProgressBar &) = delete;

    void show(uint32_t percent) {
        if (!active_ || percent == last_) return;
        constexpr int kWidth = 40;
        const int filled = static_cast<int>(percent > 100 ? 100 : percent) * kWidth / 100;
        std::fprintf(stderr, "\r[%.*s%*s] %3u %%", filled, "########################################",
                     kWidth - filled, "", percent);
        std::fflush(stderr);
        last_ = percent;
        drawn_ = true;
    }
    // The codec's progress callback; never asks to stop.
    static uint32_t callback(uint32_t percent, void *context) {
        static_cast<ProgressBar *>(context)->show(percent);
        return 0;
    }

private:
    bool active_;
    bool drawn_ = false;
    uint32_t last_ = 101;
};

}  // namespace tool
