#include "arguments.h"

#include <cerrno>
#include <cstdlib>

#include "tool_error.h"

namespace tool {

Arguments::Arguments(const std::vector<std::string> &args, const std::vector<OptionRule> &rules) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
            positional_.push_back(arg);
            continue;
        }
        const std::string name = arg.substr(2);
        const OptionRule *rule = nullptr;
        for (const OptionRule &candidate : rules)
            if (name == candidate.name) rule = &candidate;
        if (!rule) throw UsageError("unknown option " + arg);
        if (options_.count(name)) throw UsageError(arg + " given twice");
        std::vector<std::string> &values = options_[name];
        for (int v = 0; v < rule->valueCount; ++v) {
            if (++i == args.size()) throw UsageError(arg + " needs a value");
            values.push_back(args[i]);
        }
    }
}

const std::string &Arguments::value(const std::string &name, int i) const {
    return options_.at(name).at(static_cast<size_t>(i));
}

const std::vector<std::string> &Arguments::positional(size_t count) const {
    if (positional_.size() != count)
        throw UsageError("expected " + std::to_string(count) + " file names, got " +
                         std::to_string(positional_.size()));
    return positional_;
}

int Arguments::integer(const std::string &name, int fallback, int low, int high) const {
    return has(name) ? parseInteger(value(name), low, high, "--" + name) : fallback;
}

int parseInteger(const std::string &text, int low, int high, const std::string &what) {
    char *end = nullptr;
    errno = 0;
    const long number = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || number < low || number > high)
        throw UsageError(what + " must be a whole number from " + std::to_string(low) + " to " +
                         std::to_string(high) + ", not '" + text + "'");
    return static_cast<int>(number);
}

std::vector<int> parseIntegerList(const std::string &text, char separator, size_t count,
                                  const std::string &what) {
    std::vector<int> numbers;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        numbers.push_back(parseInteger(text.substr(start, end - start), 0, 65535, what));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    if (numbers.size() != count)
        throw UsageError(what + " takes " + std::to_string(count) + " numbers separated by '" +
                         separator + "', not '" + text + "'");
    return numbers;
}

}  // namespace tool
