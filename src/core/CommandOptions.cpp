// Reading "--name VALUE" options.
#include "core/CommandOptions.h"

#include <ostream>

namespace options {

bool ParseOptions(const Args& args, size_t first, const std::vector<std::string>& allowed,
                  std::vector<OptionValue>& values, Args& positional, std::ostream& err) {
    values.assign(allowed.size(), OptionValue{});
    for (size_t i = first; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (word.size() < 3 || word.compare(0, 2, "--") != 0) {
            positional.push_back(word);
            continue;
        }
        const size_t equals = word.find('=');
        const std::string name =
            word.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        size_t index = 0;
        while (index < allowed.size() && allowed[index] != name)
            ++index;
        if (index == allowed.size()) {
            err << "orvane: unknown option --" << name << "\n";
            return false;
        }
        if (equals != std::string::npos) {
            values[index] = {true, word.substr(equals + 1)};
        } else if (i + 1 < args.size()) {
            values[index] = {true, args[++i]};
        } else {
            err << "orvane: option --" << name << " needs a value\n";
            return false;
        }
    }
    return true;
}

bool TakePrefixedOptions(Args& args, const std::string& prefix,
                         const std::vector<std::pair<std::string, OptionValue*>>& names,
                         std::ostream& err) {
    Args rest;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (word.rfind(prefix, 0) != 0) {
            rest.push_back(word);
            continue;
        }
        const size_t equals = word.find('=');
        const std::string name =
            word.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        OptionValue* value = nullptr;
        for (const auto& [known, field] : names) {
            if (name == known)
                value = field;
        }
        if (!value) {
            err << "orvane: unknown option --" << name << "\n";
            return false;
        }
        if (equals != std::string::npos) {
            *value = {true, word.substr(equals + 1)};
        } else if (i + 1 < args.size()) {
            *value = {true, args[++i]};
        } else {
            err << "orvane: option --" << name << " needs a value\n";
            return false;
        }
    }
    args = std::move(rest);
    return true;
}

} // namespace options
