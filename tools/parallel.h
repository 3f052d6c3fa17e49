// Runs a job over a range split into contiguous parts, one libqvbase thread
// per part (the calling thread takes the first part).
#pragma once

#include <vector>

#include "qvbase.h"

namespace tool {

// Calls work(begin, end) for `parts` slices of [0, count). `work` must not
// throw: it runs on threads that cannot carry an exception back.
template <typename Work>
void parallelFor(int parts, int count, Work &work) {
    struct Slice {
        Work *work;
        int begin, end;
        static void *run(void *argument) {
            auto *slice = static_cast<Slice *>(argument);
            (*slice->work)(slice->begin, slice->end);
            return nullptr;
        }
    };
    if (parts > count) parts = count;
    if (parts < 1) parts = 1;
    std::vector<Slice> slices;
    for (int i = 0; i < parts; ++i)
        slices.push_back({&work, count * i / parts, count * (i + 1) / parts});
    std::vector<MThread> threads(slices.size(), nullptr);
    for (size_t i = 1; i < slices.size(); ++i) threads[i] = MThreadCreate(Slice::run, &slices[i]);
    Slice::run(&slices[0]);
    for (size_t i = 1; i < slices.size(); ++i) {
        if (threads[i])
            MThreadExit(threads[i]);
        else
            Slice::run(&slices[i]);  // no thread could be started: do it here
    }
}

}  // namespace tool
