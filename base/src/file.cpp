// File status, directory creation and removal, and path comparison.
#include "file_status.h"
#include "qvbase.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

static_assert(sizeof(MFileInfo) == 20, "file info is five words");

extern "C" {

uint32_t MGetFileInfoS(MFileInfo *info, const char *path) {
    struct stat status;
    if (!info || !path || stat(path, &status) != 0)
        return 0;
    FillFileInfo(status, info);
    return 1;
}

uint32_t MIsDirectoryS(const char *path) {
    DIR *directory = path ? opendir(path) : nullptr;
    if (!directory)
        return 0;
    closedir(directory);
    return 1;
}

uint32_t MDirectoryCreateS(const char *path) { return path && mkdir(path, 0775) == 0 ? 1 : 0; }

uint32_t MDirectoryRemoveS(const char *path) { return path && rmdir(path) == 0 ? 1 : 0; }

uint32_t MIsSameFileS(const char *a, const char *b) { return a && b && MSCsICmp(a, b) == 0 ? 1 : 0; }

uint32_t MIsSameFileW(const wchar_t *a, const wchar_t *b) {
    return a && b && MWCsICmp(a, b) == 0 ? 1 : 0;
}

} // extern "C"
