// INI files through a handle: the file is parsed into sections and keys
// that remember where their lines lie, edits change only the model, and
// MIniEndS writes a new file that copies the old text around the changed
// lines, so comments, blank and unknown lines and the order of everything
// survive.
#include "ini_rewrite.h"
#include "ini_text.h"
#include "qvbase.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t kSectionsPerBlock = 8;
constexpr uint32_t kKeysPerBlock = 128;

enum State : uint32_t {
    kAsRead = 0,
    kChanged = 1,       // a key from the file with a new value
    kAdded = 2,
    kRemoved = 3,       // was in the file
    kRemovedAdded = 4,  // removed after being added
};

bool isRemoved(uint32_t state) { return state == kRemoved || state == kRemovedAdded; }

// A key's name and value share one buffer: name, NUL, value, NUL. The line
// offsets of an added key are those of the section header it goes before
// (both 0 when it goes at the end of the file).
struct IniKey {
    char *name;
    int32_t lineStart;
    int32_t lineEnd;
    uint32_t state;
    IniKey *next;

    char *value() const { return name + MSCsLen(name) + 1; }
};

// lineEnd 0 tells a section that is not in the file: the first section of
// a file may start at offset 0, but its line always ends after it.
struct IniSection {
    char *name;
    int32_t lineStart;
    int32_t lineEnd;
    uint32_t state;
    IniKey *firstKey;
    IniSection *next;

    bool inFile() const { return lineEnd != 0; }
};

struct SectionBlock {
    IniSection records[kSectionsPerBlock];
    SectionBlock *next;
};

struct KeyBlock {
    IniKey records[kKeysPerBlock];
    KeyBlock *next;
};

} // namespace

struct MIni {
    MStream *source;
    char *workBuffer;  // MINI_LINE_WINDOW bytes and a NUL
    char *tmpPath;
    IniSection *firstSection;
    IniSection *cursor;
    SectionBlock firstSectionBlock;
    KeyBlock firstKeyBlock;
    SectionBlock *sectionBlock;
    KeyBlock *keyBlock;
    uint32_t sectionsUsed;
    uint32_t keysUsed;
    uint32_t dirty;
    char *path;
    int32_t sourceSize;
};

namespace {

// Takes the next record of the current block, linking a new block when it
// is full. Records are only released all at once.
template <typename Block, uint32_t kPerBlock>
auto takeRecord(Block **current, uint32_t *used) -> decltype(&(*current)->records[0]) {
    if (*used == kPerBlock) {
        auto *block = static_cast<Block *>(std::calloc(1, sizeof(Block)));
        if (!block)
            return nullptr;
        (*current)->next = block;
        *current = block;
        *used = 0;
    }
    return &(*current)->records[(*used)++];
}

char *copyName(IniText name) {
    auto *copy = static_cast<char *>(std::malloc(name.length + 1));
    if (copy) {
        std::memcpy(copy, name.text, name.length);
        copy[name.length] = '\0';
    }
    return copy;
}

char *makePair(IniText name, IniText value) {
    auto *pair = static_cast<char *>(std::malloc(name.length + value.length + 2));
    if (pair) {
        std::memcpy(pair, name.text, name.length);
        pair[name.length] = '\0';
        std::memcpy(pair + name.length + 1, value.text, value.length);
        pair[name.length + 1 + value.length] = '\0';
    }
    return pair;
}

// The last record of a list of sections or keys, null for an empty one.
template <typename Record> Record *lastOf(Record *record) {
    while (record && record->next)
        record = record->next;
    return record;
}

IniSection *addSection(MIni *ini, IniText name, int32_t lineStart, int32_t lineEnd, uint32_t state,
                       IniSection *after) {
    char *copy = copyName(name);
    IniSection *section =
        copy ? takeRecord<SectionBlock, kSectionsPerBlock>(&ini->sectionBlock, &ini->sectionsUsed) : nullptr;
    if (!section) {
        std::free(copy);
        return nullptr;
    }
    *section = {copy, lineStart, lineEnd, state, nullptr, nullptr};
    (after ? after->next : ini->firstSection) = section;
    return section;
}

IniKey *addKey(MIni *ini, IniSection *section, IniKey *after, IniText name, IniText value,
               int32_t lineStart, int32_t lineEnd, uint32_t state) {
    char *pair = makePair(name, value);
    IniKey *key = pair ? takeRecord<KeyBlock, kKeysPerBlock>(&ini->keyBlock, &ini->keysUsed) : nullptr;
    if (!key) {
        std::free(pair);
        return nullptr;
    }
    *key = {pair, lineStart, lineEnd, state, nullptr};
    (after ? after->next : section->firstKey) = key;
    return key;
}

IniSection *findSection(MIni *ini, IniText name, bool removedToo) {
    for (IniSection *section = ini->firstSection; section; section = section->next) {
        if ((removedToo || !isRemoved(section->state)) && IniSameName(IniTextOf(section->name), name))
            return section;
    }
    return nullptr;
}

IniKey *findKey(IniSection *section, IniText name, bool removedToo) {
    for (IniKey *key = section->firstKey; key; key = key->next) {
        if ((removedToo || !isRemoved(key->state)) && IniSameName(IniTextOf(key->name), name))
            return key;
    }
    return nullptr;
}

bool parse(MIni *ini) {
    IniLineReader reader(ini->source, ini->sourceSize, ini->workBuffer);
    IniSection *section = nullptr;
    IniKey *key = nullptr;
    IniLine line;
    IniLineStatus status;
    while ((status = reader.next(&line)) == IniLineStatus::kLine) {
        const IniParsedLine parsed = IniClassifyLine(line.text, line.length);
        if (parsed.kind == IniLineKind::kSection) {
            section = addSection(ini, parsed.name, line.start, line.end, kAsRead, section);
            key = nullptr;
            if (!section)
                return false;
        } else if (parsed.kind == IniLineKind::kKey) {
            if (!section)
                return false;
            key = addKey(ini, section, key, parsed.name, parsed.value, line.start, line.end, kAsRead);
            if (!key)
                return false;
        }
    }
    return status == IniLineStatus::kEnd;
}

void release(MIni *ini) {
    for (IniSection *section = ini->firstSection; section; section = section->next) {
        for (IniKey *key = section->firstKey; key; key = key->next)
            std::free(key->name);
        std::free(section->name);
    }
    for (SectionBlock *block = ini->firstSectionBlock.next; block;) {
        SectionBlock *next = block->next;
        std::free(block);
        block = next;
    }
    for (KeyBlock *block = ini->firstKeyBlock.next; block;) {
        KeyBlock *next = block->next;
        std::free(block);
        block = next;
    }
    if (ini->source)
        MStreamClose(ini->source);
    std::free(ini->workBuffer);
    std::free(ini->tmpPath);
    std::free(ini->path);
    std::free(ini);
}

// An existing file is read; only a missing one is created (never one that
// exists but cannot be read, which "wb" would empty).
MStream *openSource(const char *path) {
    MStream *source = MStreamOpenFromFileS(path, MSTREAM_MODE_READ);
    MFileInfo info;
    if (!source && !MGetFileInfoS(&info, path))
        source = MStreamOpenFromFileS(path, MSTREAM_MODE_WRITE);
    return source;
}

void markRemoved(uint32_t *state) {
    if (*state == kAdded)
        *state = kRemovedAdded;
    else if (*state == kAsRead || *state == kChanged)
        *state = kRemoved;
}

// A write to a removed section brings it back.
void reviveSection(uint32_t *state) {
    if (*state == kRemoved)
        *state = kAsRead;
    else if (*state == kRemovedAdded)
        *state = kAdded;
}

bool setValue(IniKey *key, IniText value) {
    char *old = key->value();
    if (value.length > MSCsLen(old)) {
        char *pair = makePair(IniTextOf(key->name), value);
        if (!pair)
            return false;
        std::free(key->name);
        key->name = pair;
    } else {
        std::memcpy(old, value.text, value.length);
        old[value.length] = '\0';
    }
    if (key->state == kAsRead || key->state == kRemoved)
        key->state = kChanged;
    else if (key->state == kRemovedAdded)
        key->state = kAdded;
    return true;
}

// Writes the lines of one section that differ from the file.
void rewriteSection(const IniSection *section, IniCopier *copier) {
    if (!section->inFile() && section->state != kRemovedAdded) {
        copier->copyRest(IniStretchEnd::kCrLf);
        copier->writeSection(IniTextOf(section->name));
    } else if (section->state == kRemoved) {
        copier->copyUpTo(section->lineStart, IniStretchEnd::kCrLf);
        copier->skipTo(section->lineEnd);
    }
    for (const IniKey *key = section->firstKey; key && !copier->failed(); key = key->next) {
        if (key->state == kAsRead)
            continue;
        if (key->lineEnd == 0)
            copier->copyRest(IniStretchEnd::kCrLf);
        copier->copyUpTo(key->lineStart, IniStretchEnd::kCrLf);
        if (key->state == kChanged || key->state == kAdded)
            copier->writeKey(IniTextOf(key->name), IniTextOf(key->value()));
        if ((key->state == kChanged || key->state == kRemoved) && key->lineEnd != 0)
            copier->skipTo(key->lineEnd);
    }
}

void rewrite(MIni *ini) {
    if (MStreamSeek(ini->source, MSTREAM_SEEK_BEGIN, 0) != 0)
        return;
    MStream *temporary = MStreamOpenFromFileS(ini->tmpPath, MSTREAM_MODE_WRITE);
    if (!temporary)
        return;
    IniCopier copier(ini->source, ini->sourceSize, temporary, ini->workBuffer);
    for (const IniSection *section = ini->firstSection; section; section = section->next)
        rewriteSection(section, &copier);
    copier.copyRest(IniStretchEnd::kCrLf);
    if (copier.failed())
        IniDiscardFile(temporary, ini->tmpPath);
    else
        IniReplaceFile(temporary, ini->tmpPath, ini->path);
}

bool usable(const MIni *ini, const MIniItem *item) { return ini && ini->source && IniItemUsable(item); }

uint32_t findCategory(MIni *ini, char *buffer, uint32_t *size) {
    while (ini->cursor && (isRemoved(ini->cursor->state) || ini->cursor->name[0] == '\0'))
        ini->cursor = ini->cursor->next;
    if (!ini->cursor) {
        if (*size > 0)
            buffer[0] = '\0';
        return 0;
    }
    const uint32_t needed = MSCsLen(ini->cursor->name) + 1;
    if (needed > *size) {
        *size = needed;
        return 0;
    }
    std::memcpy(buffer, ini->cursor->name, needed);
    *size = needed;
    ini->cursor = ini->cursor->next;
    return 1;
}

} // namespace

extern "C" {

MIni *MIniStartS(const char *path) {
    if (!path)
        return nullptr;
    auto *ini = static_cast<MIni *>(std::calloc(1, sizeof(MIni)));
    if (!ini)
        return nullptr;
    ini->sectionBlock = &ini->firstSectionBlock;
    ini->keyBlock = &ini->firstKeyBlock;
    ini->workBuffer = static_cast<char *>(std::malloc(MINI_LINE_WINDOW + 1));
    ini->tmpPath = IniTemporaryPath(path);
    ini->path = copyName(IniTextOf(path));
    if (ini->workBuffer && ini->tmpPath && ini->path)
        ini->source = openSource(path);
    if (ini->source)
        ini->sourceSize = MStreamGetSize(ini->source);
    if (!ini->source || ini->sourceSize < 0 || !parse(ini)) {
        release(ini);
        return nullptr;
    }
    return ini;
}

void MIniEndS(MIni *ini) {
    if (!ini)
        return;
    if (ini->dirty && ini->source)
        rewrite(ini);
    release(ini);
}

uint32_t MIniReadS(MIni *ini, MIniItem *item) {
    if (!usable(ini, item))
        return 0;
    IniSection *section = findSection(ini, IniSectionOf(item), false);
    IniKey *key = section ? findKey(section, IniKeyOf(item), false) : nullptr;
    return key ? IniStoreValue(item, key->value(), false) : 0;
}

uint32_t MIniWriteS(MIni *ini, MIniItem *item) {
    if (!usable(ini, item))
        return 0;
    IniWrite write;
    if (!IniPrepareWrite(item, &write))
        return 0;
    IniSection *section = findSection(ini, write.section, true);
    if (section)
        reviveSection(&section->state);
    else if (!(section = addSection(ini, write.section, 0, 0, kAdded, lastOf(ini->firstSection))))
        return 0;
    IniKey *key = findKey(section, write.key, true);
    if (key) {
        if (!setValue(key, write.value))
            return 0;
    } else {
        const IniSection *following = section->next;
        if (!addKey(ini, section, lastOf(section->firstKey), write.key, write.value,
                    following ? following->lineStart : 0, following ? following->lineEnd : 0, kAdded))
            return 0;
    }
    ini->dirty = 1;
    return 1;
}

uint32_t MIniRemoveS(MIni *ini, MIniItem *item) {
    if (!ini || !ini->source || !ini->firstSection || !item || !item->section)
        return 0;
    IniSection *section = findSection(ini, IniSectionOf(item), true);
    if (!section)
        return 0;
    const bool wholeSection = item->key == nullptr;
    const IniText keyName = wholeSection ? IniText{} : IniKeyOf(item);
    for (IniKey *key = section->firstKey; key; key = key->next) {
        if (wholeSection || IniSameName(IniTextOf(key->name), keyName))
            markRemoved(&key->state);
    }
    if (wholeSection)
        markRemoved(&section->state);
    ini->dirty = 1;
    return 1;
}

uint32_t MIniFindFirstCategoryS(MIni *ini, char *buffer, uint32_t *size) {
    if (!ini || !buffer || !size || !ini->firstSection)
        return 0;
    ini->cursor = ini->firstSection;
    return findCategory(ini, buffer, size);
}

uint32_t MIniFindNextCategoryS(MIni *ini, char *buffer, uint32_t *size) {
    if (!ini || !buffer || !size)
        return 0;
    return findCategory(ini, buffer, size);
}

} // extern "C"
