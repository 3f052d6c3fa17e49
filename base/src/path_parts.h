// Splitting a path at its last separator.
#ifndef QVBASE_PATH_PARTS_H
#define QVBASE_PATH_PARTS_H

// Both separators are accepted, as paths may come from either convention.
static inline bool QvIsPathSeparator(char c) { return c == '/' || c == '\\'; }

// The part of `path` after its last separator (all of it when there is none).
static inline const char *QvLastPathComponent(const char *path) {
    const char *component = path;
    for (const char *c = path; *c; ++c) {
        if (QvIsPathSeparator(*c))
            component = c + 1;
    }
    return component;
}

#endif // QVBASE_PATH_PARTS_H
