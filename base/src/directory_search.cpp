// Directory enumeration with wildcard patterns over opendir/readdir.
#include "file_status.h"
#include "path_parts.h"
#include "qvbase.h"
#include "wildcard.h"

#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(MDirFind) == 20, "find handle record is five words");
#endif

namespace {

bool holdsWildcard(const char *text) { return std::strpbrk(text, "*?") != nullptr; }

bool meansEveryEntry(const char *pattern) {
    return std::strcmp(pattern, "*") == 0 || std::strcmp(pattern, "*.*") == 0;
}

// A heap copy of the first `length` bytes of `text` with room for `extra`
// more bytes before the terminator.
char *copyText(const char *text, size_t length, size_t extra) {
    char *copy = static_cast<char *>(std::malloc(length + extra + 1));
    if (copy) {
        std::memcpy(copy, text, length);
        copy[length] = 0;
    }
    return copy;
}

// A pattern whose last component holds a wildcard is a directory and
// a pattern; anything else names the directory alone, which gets its
// trailing separator here so that entry paths can be formed by appending
// the entry name.
bool splitPattern(const char *pattern, MDirFind *find) {
    const char *component = QvLastPathComponent(pattern);
    if (holdsWildcard(component)) {
        find->directory = copyText(pattern, size_t(component - pattern), 0);
        if (!meansEveryEntry(component)) {
            find->pattern = copyText(component, std::strlen(component), 0);
            if (!find->pattern)
                return false;
            MSCsMakeLower(find->pattern);
        }
        return find->directory != nullptr;
    }
    const size_t length = std::strlen(pattern);
    find->directory = copyText(pattern, length, 1);
    if (find->directory && length > 0 && !QvIsPathSeparator(pattern[length - 1])) {
        find->directory[length] = '/';
        find->directory[length + 1] = 0;
    }
    return find->directory != nullptr;
}

void releaseFind(MDirFind *find) {
    if (find->dirStream)
        closedir(static_cast<DIR *>(find->dirStream));
    std::free(find->directory);
    std::free(find->pattern);
    std::free(find);
}

bool modeWants(uint32_t mode, bool isDirectory) {
    switch (mode) {
    case MDIR_FIND_FILES:
        return !isDirectory;
    case MDIR_FIND_DIRECTORIES:
        return isDirectory;
    case MDIR_FIND_ALL:
        return true;
    default:
        return false;
    }
}

// Reads entries until one passes the pattern and the mode; `path` receives
// directory + name and `status` its status. Entries that cannot be read
// (removed meanwhile, links that lead nowhere) are passed over like devices
// and sockets, so one bad entry never hides the rest of the directory.
uint32_t findNext(MDirFind *find, char *path, struct stat *status) {
    if (!path)
        return 0;
    if (find && find->mode <= MDIR_FIND_ALL) {
        const size_t directoryLength = std::strlen(find->directory);
        dirent *entry;
        while ((entry = readdir(static_cast<DIR *>(find->dirStream))) != nullptr) {
            find->entry = entry;
            if (find->pattern && !WildcardMatches(find->pattern, entry->d_name))
                continue;
            std::memcpy(path, find->directory, directoryLength);
            std::strcpy(path + directoryLength, entry->d_name);
            if (stat(path, status) == 0 && FileAttributesOf(status->st_mode) != 0 &&
                modeWants(find->mode, S_ISDIR(status->st_mode)))
                return 1;
        }
        find->entry = nullptr;
    }
    path[0] = 0;
    return 0;
}

} // namespace

extern "C" {

MDirFind *MDirStartFindS(const char *pattern, const uint32_t *mode) {
    if (!pattern || !mode)
        return nullptr;
    auto *find = static_cast<MDirFind *>(std::calloc(1, sizeof(MDirFind)));
    if (!find)
        return nullptr;
    if (!splitPattern(pattern, find) || !(find->dirStream = opendir(find->directory))) {
        releaseFind(find);
        return nullptr;
    }
    find->mode = *mode;
    return find;
}

MDirFind *MDirStartFindExS(const char *pattern, const uint32_t *mode) { return MDirStartFindS(pattern, mode); }

uint32_t MDirFindNextS(MDirFind *find, char *name, uint32_t *isDirectory) {
    struct stat status;
    const uint32_t found = findNext(find, name, &status);
    if (found && isDirectory)
        *isDirectory = S_ISDIR(status.st_mode) ? 1 : 0;
    return found;
}

uint32_t MDirFindNextExS(MDirFind *find, char *name, MFileInfo *info) {
    struct stat status;
    const uint32_t found = findNext(find, name, &status);
    if (found && info)
        FillFileInfo(status, info);
    return found;
}

void MDirEndFind(MDirFind *find) {
    if (find)
        releaseFind(find);
}

void MDirEndFindEx(MDirFind *find) { MDirEndFind(find); }

} // extern "C"
