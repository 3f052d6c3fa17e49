// Wildcard matching of directory entry names.
#ifndef QVBASE_WILDCARD_H
#define QVBASE_WILDCARD_H

static inline char WildcardLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// '*' matches any run of characters (also none), '?' any one character;
// letters match without regard to ASCII case. When a later part fails, the
// latest '*' takes one more character and matching resumes after it, so
// every way of splitting the name among the stars is covered while the work
// stays within name length times pattern length.
static inline bool WildcardMatches(const char *pattern, const char *name) {
    const char *afterStar = nullptr;   // pattern just after the latest '*'
    const char *starTakesUpTo = nullptr;  // name position that '*' reaches
    while (*name) {
        if (*pattern == '*') {
            afterStar = ++pattern;
            starTakesUpTo = name;
        } else if (*pattern && (*pattern == '?' || WildcardLower(*pattern) == WildcardLower(*name))) {
            ++pattern;
            ++name;
        } else if (afterStar) {
            pattern = afterStar;
            name = ++starTakesUpTo;
        } else {
            return false;
        }
    }
    while (*pattern == '*')
        ++pattern;
    return *pattern == 0;
}

#endif // QVBASE_WILDCARD_H
