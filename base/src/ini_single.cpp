// Single-shot INI access: one item read from or written into a file in one
// pass, without building a model of the file.
#include "ini_rewrite.h"
#include "ini_text.h"
#include "qvbase.h"

#include <cstdlib>

namespace {

// Where the item stands in the file.
struct ItemPlace {
    bool sectionFound;
    bool keyFound;
    int32_t insertion;  // the key's line, or where a new key line goes
    int32_t keyLineEnd;
    char *value;        // NUL-terminated in the window
};

// Scans the file for the item's key line in a section of the item's name.
// A reader searches every section of that name; a writer stops at the header
// after the first, where a missing key is then added. False when a line
// does not fit the window.
bool findItem(MStream *file, int32_t size, char *window, IniText sectionName, IniText keyName,
              bool stopAfterSection, ItemPlace *place) {
    IniLineReader reader(file, size, window);
    bool inSection = false;
    IniLine line;
    IniLineStatus status;
    *place = {false, false, size, 0, nullptr};
    while ((status = reader.next(&line)) == IniLineStatus::kLine) {
        const IniParsedLine parsed = IniClassifyLine(line.text, line.length);
        if (parsed.kind == IniLineKind::kSection) {
            if (inSection && stopAfterSection) {
                *place = {true, false, line.start, 0, nullptr};
                return true;
            }
            inSection = IniSameName(parsed.name, sectionName);
        } else if (parsed.kind == IniLineKind::kKey && inSection && IniSameName(parsed.name, keyName)) {
            char *value = const_cast<char *>(parsed.value.text);
            value[parsed.value.length] = '\0';
            *place = {true, true, line.start, line.end, value};
            return true;
        }
    }
    place->sectionFound = inSection;
    return status == IniLineStatus::kEnd;
}

// Writes the new file: the old text with the key line put in place (the
// line it replaces left out), or with the section and key appended. A last
// line without a line end gets CR LF before anything is written after it.
bool writeWithItem(MStream *source, int32_t size, MStream *target, char *window, const ItemPlace &place,
                   const IniWrite &write) {
    IniCopier copier(source, size, target, window);
    if (!place.sectionFound) {
        copier.copyRest(IniStretchEnd::kLineEnd);
        copier.writeSection(write.section);
        copier.writeKey(write.key, write.value);
        return !copier.failed();
    }
    copier.copyUpTo(place.insertion, IniStretchEnd::kLineEnd);
    copier.writeKey(write.key, write.value);
    if (place.keyFound)
        copier.skipTo(place.keyLineEnd);
    copier.copyRest(IniStretchEnd::kAsIs);
    return !copier.failed();
}

// Produces the temporary file for the item from the file, or from nothing
// when the file does not exist.
bool writeTemporary(const char *path, MStream *temporary, const IniWrite &write) {
    char window[MINI_LINE_WINDOW + 1];
    MStream *source = MStreamOpenFromFileS(path, MSTREAM_MODE_READ);
    if (!source) {
        MFileInfo info;
        if (MGetFileInfoS(&info, path))
            return false;
        IniCopier copier(nullptr, 0, temporary, window);
        copier.writeSection(write.section);
        copier.writeKey(write.key, write.value);
        return !copier.failed();
    }
    const int32_t size = MStreamGetSize(source);
    ItemPlace place;
    const bool written = size >= 0 && findItem(source, size, window, write.section, write.key, true, &place) &&
                         MStreamSeek(source, MSTREAM_SEEK_BEGIN, 0) == 0 &&
                         writeWithItem(source, size, temporary, window, place, write);
    MStreamClose(source);
    return written;
}

} // namespace

extern "C" {

uint32_t MIniReadSingleS(const char *path, MIniItem *item) {
    if (!path || !IniItemUsable(item))
        return 0;
    MStream *file = MStreamOpenFromFileS(path, MSTREAM_MODE_READ);
    if (!file)
        return 0;
    char window[MINI_LINE_WINDOW + 1];
    const int32_t size = MStreamGetSize(file);
    ItemPlace place;
    uint32_t result = 0;
    if (size > 0 && findItem(file, size, window, IniSectionOf(item), IniKeyOf(item), false, &place) &&
        place.keyFound)
        result = IniStoreValue(item, place.value, true);
    MStreamClose(file);
    return result;
}

uint32_t MIniWriteSingleS(const char *path, MIniItem *item) {
    if (!path || !IniItemUsable(item))
        return 0;
    IniWrite write;
    if (!IniPrepareWrite(item, &write))
        return 0;
    char *temporaryPath = IniTemporaryPath(path);
    MStream *temporary = temporaryPath ? MStreamOpenFromFileS(temporaryPath, MSTREAM_MODE_WRITE) : nullptr;
    bool written = false;
    if (temporary) {
        if (writeTemporary(path, temporary, write))
            written = IniReplaceFile(temporary, temporaryPath, path);
        else
            IniDiscardFile(temporary, temporaryPath);
    }
    std::free(temporaryPath);
    return written ? 1 : 0;
}

} // extern "C"
