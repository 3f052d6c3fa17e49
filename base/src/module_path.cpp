// Location of the running executable, from the /proc/self/exe link.
//
// Every copy into a caller's buffer is bounded by the size the caller
// passes, and a path that does not fit is a failure, never a truncation.
#include "path_parts.h"
#include "qvbase.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

// Room for any path the kernel reports, terminator included.
constexpr uint32_t kPathRoom = PATH_MAX;

// The executable's directory in a heap buffer of kPathRoom bytes. Null
// when out of memory; an empty string when there is no directory to report.
char *moduleDirectory() {
    char *path = static_cast<char *>(std::malloc(kPathRoom));
    if (path) {
        MGetModuleFileName(nullptr, path, kPathRoom);
        // Keep the directory part, through the last separator.
        path[QvLastPathComponent(path) - path] = 0;
    }
    return path;
}

} // namespace

extern "C" {

uint32_t MGetModuleFileName(void *module, char *buffer, uint32_t size) {
    if (module || !buffer || size == 0)
        return 0;
    // readlink does not terminate and silently truncates at `size`: a
    // result that fills the buffer may be cut short, so it counts as too long.
    const ssize_t length = readlink("/proc/self/exe", buffer, size);
    if (length < 0 || size_t(length) >= size) {
        buffer[0] = 0;
        return 0;
    }
    buffer[length] = 0;
    return uint32_t(length);
}

uint32_t MGetModulePathS(char *buffer, uint32_t size) {
    if (!buffer)
        return MMODULE_PATH_FAILED;
    char *directory = moduleDirectory();
    if (!directory)
        return MMODULE_PATH_NO_MEMORY;
    const size_t length = std::strlen(directory);
    const bool fits = length > 0 && length + 1 <= size;
    if (fits)
        std::memcpy(buffer, directory, length + 1);
    std::free(directory);
    return fits ? MMODULE_PATH_OK : MMODULE_PATH_FAILED;
}

// The conversion may produce fewer wide characters than there are bytes, so
// the directory is taken whole and only the wide result is held to `size`.
uint32_t MGetModulePathW(wchar_t *buffer, uint32_t size) {
    if (!buffer || size == 0)
        return MMODULE_PATH_FAILED;
    char *directory = moduleDirectory();
    if (!directory)
        return MMODULE_PATH_NO_MEMORY;
    uint32_t result = MMODULE_PATH_FAILED;
    if (directory[0]) {
        // mbstowcs writes the terminator only when the text leaves room.
        const uint32_t converted = MMultiByteToWideChar(0, directory, -1, buffer, size);
        if (converted < size)
            result = MMODULE_PATH_OK;
        else
            buffer[0] = 0;
    }
    std::free(directory);
    return result;
}

} // extern "C"
