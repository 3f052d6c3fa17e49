// Fuzz target: INI files. The input is a file and a list of edits. The
// edits go through a handle first and then as single-shot writes; every
// write that succeeds is read back at once, and every item written is read
// back again from the rewritten file, through both ways of reading.
#include "qvbase.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// Few names, so that edits meet each other and the names in the file.
const char *const kNames[] = {"a", "b", "default", "key", "x y", "k.1", "_", "z9"};

// (section, key), both lower case, to the value a reader must find.
using Expected = std::map<std::pair<std::string, std::string>, std::string>;

void check(bool condition) {
    if (!condition)
        std::abort();
}

std::string g_directory;
std::string g_path;

void removeFiles() {
    std::remove(g_path.c_str());
    std::remove((g_path + "_tmp").c_str());
    rmdir(g_directory.c_str());
}

const std::string &filePath() {
    if (g_path.empty()) {
        // Every input rewrites the file a few times: in memory where the
        // system has a memory file system, so that the disk does not set
        // the pace.
        std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        pattern += "/qvbase_ini_fuzz_XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end() + 1);
        check(mkdtemp(name.data()) != nullptr);
        g_directory = name.data();
        g_path = g_directory + "/fuzz.ini";
        std::atexit(removeFiles);
    }
    return g_path;
}

std::string lower(std::string text) {
    for (char &c : text)
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return text;
}

// A name from the list, sometimes in upper case or with blanks around it
// (names match without regard to case or the blanks around them).
std::string pickName(FuzzedDataProvider &input) {
    std::string name = kNames[input.ConsumeIntegralInRange<size_t>(0, sizeof kNames / sizeof *kNames - 1)];
    const uint8_t style = input.ConsumeIntegral<uint8_t>();
    if (style & 1)
        for (char &c : name)
            c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    if (style & 2)
        name = " \t" + name + " ";
    return name;
}

std::string trimmedName(const std::string &name) {
    const size_t first = name.find_first_not_of(" \t");
    return lower(name.substr(first, name.find_last_not_of(" \t") - first + 1));
}

// What a reader finds for a written value: blanks and '=' at either end of
// the line's value are not part of it (the handle's model keeps the value
// as written until the file is read again).
std::string readableValue(const std::string &value) {
    const std::string text = value.c_str();
    const size_t first = text.find_first_not_of(" \t\r=");
    return first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(" \t\r=") - first + 1);
}

struct Write {
    std::string section;
    std::string key;
    std::string value;    // a string, or the integer's bytes
    bool integer;
    std::string stored;   // what the handle's model holds
    std::string expected; // what a reader of the file finds
};

Write makeWrite(FuzzedDataProvider &input) {
    Write write = {pickName(input), pickName(input), {}, input.ConsumeBool(), {}, {}};
    if (write.integer) {
        const int32_t number = input.ConsumeIntegral<int32_t>();
        write.value.assign(reinterpret_cast<const char *>(&number), sizeof number);
        write.stored = write.expected = std::to_string(number);
    } else {
        write.value = input.ConsumeRandomLengthString(64);
        write.stored = write.value.c_str();
        write.expected = readableValue(write.value);
    }
    return write;
}

MIniItem itemOf(const Write &write, const char *section) {
    return {section, write.key.c_str(), const_cast<char *>(write.value.c_str()),
            write.integer ? MINI_TYPE_INTEGER : MINI_TYPE_STRING, static_cast<uint32_t>(write.value.size() + 1)};
}

using Reader = uint32_t (*)(void *source, MIniItem *item);

uint32_t readThroughHandle(void *ini, MIniItem *item) { return MIniReadS(static_cast<MIni *>(ini), item); }
uint32_t readSingle(void *path, MIniItem *item) { return MIniReadSingleS(static_cast<const char *>(path), item); }

void expectValue(Reader read, void *source, const std::string &section, const std::string &key,
                 const std::string &value) {
    char buffer[128];
    MIniItem item = {section.c_str(), key.c_str(), buffer, MINI_TYPE_STRING, sizeof buffer};
    check(read(source, &item) == 1);
    check(value == buffer);
}

void expectAll(Reader read, void *source, const Expected &expected) {
    for (const auto &entry : expected)
        expectValue(read, source, entry.first.first, entry.first.second, entry.second);
}

void forgetSection(Expected *expected, const std::string &section) {
    for (auto entry = expected->begin(); entry != expected->end();)
        entry = entry->first.first == section ? expected->erase(entry) : std::next(entry);
}

// Edits through a handle, each read back from the model at once. Returns
// whether the file could be opened.
bool editThroughHandle(FuzzedDataProvider &input, const char *path, Expected *expected) {
    MIni *ini = MIniStartS(path);
    if (!ini)
        return false;
    for (int edits = input.ConsumeIntegralInRange(0, 12); edits > 0; --edits) {
        const int operation = input.ConsumeIntegralInRange(0, 2);
        if (operation == 0) {
            const Write write = makeWrite(input);
            const bool defaultSection = trimmedName(write.section) == "default" && input.ConsumeBool();
            MIniItem item = itemOf(write, defaultSection ? nullptr : write.section.c_str());
            if (MIniWriteS(ini, &item)) {
                (*expected)[{trimmedName(write.section), trimmedName(write.key)}] = write.expected;
                expectValue(readThroughHandle, ini, write.section, write.key, write.stored);
            }
            continue;
        }
        const std::string section = pickName(input);
        const std::string key = operation == 1 ? pickName(input) : std::string();
        MIniItem item = {section.c_str(), operation == 1 ? key.c_str() : nullptr, nullptr, 0, 0};
        if (MIniRemoveS(ini, &item)) {
            if (operation == 1)
                expected->erase({trimmedName(section), trimmedName(key)});
            else
                forgetSection(expected, trimmedName(section));
        }
    }
    MIniEndS(ini);
    return true;
}

void editSingleShot(FuzzedDataProvider &input, const char *path, Expected *expected) {
    for (int edits = input.ConsumeIntegralInRange(0, 4); edits > 0; --edits) {
        const Write write = makeWrite(input);
        MIniItem item = itemOf(write, write.section.c_str());
        if (MIniWriteSingleS(path, &item)) {
            (*expected)[{trimmedName(write.section), trimmedName(write.key)}] = write.expected;
            expectValue(readSingle, const_cast<char *>(path), write.section, write.key, write.expected);
        }
    }
}

// The whole file read again both ways.
void expectFile(const char *path, const Expected &expected, bool mustOpen) {
    expectAll(readSingle, const_cast<char *>(path), expected);
    MIni *ini = MIniStartS(path);
    check(ini || !mustOpen);
    if (ini)
        expectAll(readThroughHandle, ini, expected);
    MIniEndS(ini);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string &path = filePath();
    const std::string content = input.ConsumeRandomLengthString(4096);
    FILE *file = std::fopen(path.c_str(), "wb");
    check(file != nullptr);
    std::fwrite(content.data(), 1, content.size(), file);
    std::fclose(file);

    Expected expected;
    const bool opened = editThroughHandle(input, path.c_str(), &expected);
    expectFile(path.c_str(), expected, opened);
    editSingleShot(input, path.c_str(), &expected);
    expectFile(path.c_str(), expected, opened);
    return 0;
}
