// Conversion of a wall-clock reading to the platform's millisecond stamp.
#ifndef QVBASE_TIMESTAMP_H
#define QVBASE_TIMESTAMP_H

#include <stdint.h>

// Seconds * 1000 plus the microseconds rounded to the nearest millisecond,
// kept modulo 2^32 (the stamp wraps about every 49.7 days).
static inline uint32_t MillisecondStamp(int64_t seconds, int64_t microseconds) {
    return static_cast<uint32_t>(seconds * 1000 + (microseconds + 500) / 1000);
}

#endif // QVBASE_TIMESTAMP_H
