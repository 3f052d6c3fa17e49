// The subcommands of the qvjpeg tool. Each takes the arguments after its
// name, returns the exit code and throws Failure or UsageError.
#pragma once

#include <string>
#include <vector>

namespace tool {

using Args = std::vector<std::string>;

int runInfo(const Args &args);
int runDecode(const Args &args);
int runEncode(const Args &args);
int runTranscode(const Args &args);
int runIndex(const Args &args);
int runDemo(const Args &args);

}  // namespace tool
