// Wide (16-bit) path to byte path for the W file functions.
#ifndef QVBASE_SRC_WIDE_PATH_H
#define QVBASE_SRC_WIDE_PATH_H

#include "qvbase.h"

// Converts `path` into `bytes` (MSTREAM_PATH_MAX bytes). Fails for a null
// path, a path with its terminator longer than MSTREAM_PATH_MAX, or a unit
// above 0xFF: the byte conversion keeps only the low 8 bits, so such a unit
// would name another file (or, as 0x100, cut the name short).
static inline bool QvWidePathToBytes(const MWChar *path, char *bytes) {
    if (!path)
        return false;
    for (uint32_t i = 0; i < MSTREAM_PATH_MAX; ++i) {
        if (path[i] > 0xFF)
            return false;
        if (path[i] == 0) {
            MWCharToChar(path, bytes, MSTREAM_PATH_MAX);
            return true;
        }
    }
    return false;
}

#endif
