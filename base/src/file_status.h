// File status in the platform's file info record.
#ifndef QVBASE_FILE_STATUS_H
#define QVBASE_FILE_STATUS_H

#include "qvbase.h"

#include <sys/stat.h>

// The build selects 64-bit file offsets, so sizes of 2 GiB and more and
// directory entries on 32-bit targets are read correctly.
static_assert(sizeof(off_t) == 8, "file offsets are 64-bit");

static inline uint32_t FileAttributesOf(mode_t mode) {
    if (S_ISDIR(mode))
        return MFILE_ATTR_DIRECTORY;
    if (S_ISREG(mode))
        return MFILE_ATTR_REGULAR;
    return 0;
}

// The size word saturates: a file of 4 GiB or more must not pass for a
// small one.
static inline void FillFileInfo(const struct stat &status, MFileInfo *info) {
    info->attributes = FileAttributesOf(status.st_mode);
    info->fileSize = static_cast<uint64_t>(status.st_size) > 0xFFFFFFFFu ? 0xFFFFFFFFu
                                                                 : static_cast<uint32_t>(status.st_size);
    info->changeTime = static_cast<uint32_t>(status.st_ctime);
    info->accessTime = static_cast<uint32_t>(status.st_atime);
    info->writeTime = static_cast<uint32_t>(status.st_mtime);
}

#endif // QVBASE_FILE_STATUS_H
