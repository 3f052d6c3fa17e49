// How the qvjpeg command reports failure: a Failure (exit code 1) names the
// file and says what went wrong; a UsageError (exit code 2) is a mistake in
// the command line.
#pragma once

#include <stdexcept>
#include <string>

#include "qvjpeg.hpp"

namespace tool {

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] inline void fail(const std::string &file, const std::string &what) {
    throw Failure(file + ": " + what);
}

// Throws a Failure naming `file` when the codec reported an error while
// doing `action` ("decoding", "writing the index", ...).
inline void check(qvjpeg::Error error, const std::string &file, const std::string &action) {
    if (error) fail(file, action + " failed: " + error.message());
}

}  // namespace tool
