// String services: byte-string and libc wide-string wrappers, number
// parsing and formatting, and in-place ASCII case mapping.
#include "qvbase.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <strings.h>

namespace {

// Numbers are 32-bit on the target libc; on a wider one, results are
// brought into 32 bits the way the 32-bit libc would produce them.
#if ULONG_MAX > 0xFFFFFFFFu
bool isSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
bool isSpace(wchar_t c) { return std::iswspace(static_cast<wint_t>(c)) != 0; }

template <typename Char> bool startsWithMinus(const Char *s) {
    while (isSpace(*s))
        ++s;
    return *s == '-';
}

// strtoul semantics: a magnitude beyond 32 bits saturates (ERANGE); a minus
// sign negates the magnitude modulo 2^32.
template <typename Char> uint32_t unsignedAs32(unsigned long value, const Char *text) {
    unsigned long magnitude = startsWithMinus(text) ? 0ul - value : value;
    if (magnitude > UINT32_MAX) {
        errno = ERANGE;
        return UINT32_MAX;
    }
    return static_cast<uint32_t>(value);
}
#else
template <typename Char> uint32_t unsignedAs32(unsigned long value, const Char *) { return value; }
#endif

int32_t signedAs32(long value) {
#if LONG_MAX > INT32_MAX
    if (value > INT32_MAX || value < INT32_MIN) {
        errno = ERANGE;
        return value > 0 ? INT32_MAX : INT32_MIN;
    }
#endif
    return static_cast<int32_t>(value);
}

template <typename Char> uint32_t changeCase(Char *s, Char from, Char to) {
    if (!s)
        return MSTRING_NULL_ARGUMENT;
    for (; *s; ++s) {
        if (*s >= from && *s < from + 26)
            *s = static_cast<Char>(*s - from + to);
    }
    return MSTRING_OK;
}

} // namespace

extern "C" {

uint32_t MSCsMakeLower(char *s) { return changeCase<char>(s, 'A', 'a'); }
uint32_t MSCsMakeUpper(char *s) { return changeCase<char>(s, 'a', 'A'); }
uint32_t MWCsMakeLower(MWChar *s) { return changeCase<MWChar>(s, u'A', u'a'); }
uint32_t MWCsMakeUpper(MWChar *s) { return changeCase<MWChar>(s, u'a', u'A'); }

uint32_t MSCsLen(const char *s) { return static_cast<uint32_t>(std::strlen(s)); }
char *MSCsCpy(char *dst, const char *src) { return std::strcpy(dst, src); }
char *MSCsNCpy(char *dst, const char *src, uint32_t n) { return std::strncpy(dst, src, n); }
char *MSCsCat(char *dst, const char *src) { return std::strcat(dst, src); }
int32_t MSCsCmp(const char *a, const char *b) { return std::strcmp(a, b); }
int32_t MSCsNCmp(const char *a, const char *b, uint32_t n) { return std::strncmp(a, b, n); }
int32_t MSCsICmp(const char *a, const char *b) { return strcasecmp(a, b); }
int32_t MSCsNICmp(const char *a, const char *b, uint32_t n) { return strncasecmp(a, b, n); }
char *MSCsChr(const char *s, int32_t c) { return const_cast<char *>(std::strchr(s, c)); }
char *MSCsRChr(const char *s, int32_t c) { return const_cast<char *>(std::strrchr(s, c)); }
char *MSCsStr(const char *s, const char *t) { return const_cast<char *>(std::strstr(s, t)); }

uint32_t MSCsToUL(const char *s, char **end, int32_t base) {
    return unsignedAs32(std::strtoul(s, end, base), s);
}

int32_t MStol(const char *s) { return signedAs32(std::strtol(s, nullptr, 10)); }
int32_t MStoi(const char *s) { return MStol(s); }

int32_t MSSprintf(char *dst, const char *format, ...) {
    va_list args;
    va_start(args, format);
    int length = std::vsprintf(dst, format, args);
    va_end(args);
    return length;
}

uint32_t MWCsLen(const wchar_t *s) { return static_cast<uint32_t>(std::wcslen(s)); }
wchar_t *MWCsCpy(wchar_t *dst, const wchar_t *src) { return std::wcscpy(dst, src); }
wchar_t *MWCsNCpy(wchar_t *dst, const wchar_t *src, uint32_t n) { return std::wcsncpy(dst, src, n); }
wchar_t *MWCsCat(wchar_t *dst, const wchar_t *src) { return std::wcscat(dst, src); }
int32_t MWCsCmp(const wchar_t *a, const wchar_t *b) { return std::wcscmp(a, b); }
int32_t MWCsNCmp(const wchar_t *a, const wchar_t *b, uint32_t n) { return std::wcsncmp(a, b, n); }
int32_t MWCsICmp(const wchar_t *a, const wchar_t *b) { return wcscasecmp(a, b); }
int32_t MWCsNICmp(const wchar_t *a, const wchar_t *b, uint32_t n) { return wcsncasecmp(a, b, n); }
wchar_t *MWCsChr(const wchar_t *s, wchar_t c) { return const_cast<wchar_t *>(std::wcschr(s, c)); }
wchar_t *MWCsRChr(const wchar_t *s, wchar_t c) { return const_cast<wchar_t *>(std::wcsrchr(s, c)); }
wchar_t *MWCsStr(const wchar_t *s, const wchar_t *t) { return const_cast<wchar_t *>(std::wcsstr(s, t)); }

uint32_t MWCsToUL(const wchar_t *s, wchar_t **end, int32_t base) {
    return unsignedAs32(std::wcstoul(s, end, base), s);
}

int32_t MWtol(const wchar_t *s) { return signedAs32(std::wcstol(s, nullptr, 0)); }

int32_t MWtoi(const wchar_t *s) { return MWtol(s); }

int32_t MWSprintf(wchar_t *dst, const wchar_t *format, ...) {
    va_list args;
    va_start(args, format);
    int length = std::vswprintf(dst, MWSPRINTF_MAX, format, args);
    va_end(args);
    return length;
}

} // extern "C"
