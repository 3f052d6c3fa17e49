// Command-line options of one subcommand: `--name` flags, `--name VALUE`
// options (some take two values) and positional arguments.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace tool {

struct OptionRule {
    const char *name;  // without the leading dashes
    int valueCount;    // 0 for a flag
};

class Arguments {
public:
    Arguments(const std::vector<std::string> &args, const std::vector<OptionRule> &rules);

    bool has(const std::string &name) const { return options_.count(name) != 0; }
    const std::string &value(const std::string &name, int i = 0) const;
    const std::vector<std::string> &positional() const { return positional_; }
    // The positional arguments, which must number exactly `count`.
    const std::vector<std::string> &positional(size_t count) const;

    // An option's integer value within [low, high], or `fallback` without it.
    int integer(const std::string &name, int fallback, int low, int high) const;

private:
    std::map<std::string, std::vector<std::string>> options_;
    std::vector<std::string> positional_;
};

// The integer a whole string spells, within [low, high]; `what` names it
// in the usage error otherwise.
int parseInteger(const std::string &text, int low, int high, const std::string &what);
// Integers separated by `separator` ("1,2,3,4" or "640x480").
std::vector<int> parseIntegerList(const std::string &text, char separator, size_t count,
                                  const std::string &what);

}  // namespace tool
