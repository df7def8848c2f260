#include "service/settings.h"
#include "record/message.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fstream>
#include <optional>
#include <sstream>

namespace {

std::string trimmed(const std::string &text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::optional<bool> yesOrNo(std::string value)
{
    std::transform(value.begin(), value.end(), value.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    for (const char *yes : {"yes", "true", "on", "1"}) {
        if (value == yes)
            return true;
    }
    for (const char *no : {"no", "false", "off", "0"}) {
        if (value == no)
            return false;
    }
    return std::nullopt;
}

} // namespace

Settings Settings::read(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        Settings settings;
        if (errno != ENOENT)
            settings.problems.push_back(path + ": " + Message::systemError(errno));
        return settings;
    }
    std::ostringstream text;
    text << file.rdbuf();
    return parse(text.str(), path);
}

Settings Settings::parse(std::string_view text, const std::string &name)
{
    Settings settings;
    std::istringstream lines{std::string(text)};
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        line = trimmed(line);
        if (line.empty() || line[0] == '#' || line[0] == ';')
            continue;
        const auto equals = line.find('=');
        const std::string key = trimmed(line.substr(0, equals));
        const std::optional<bool> value =
            equals == std::string::npos ? std::nullopt : yesOrNo(trimmed(line.substr(equals + 1)));
        bool *setting = key == "Unlock" ? &settings.counted.unlocks
            : key == "Wake"             ? &settings.counted.wakes
                                        : nullptr;
        if (setting && value)
            *setting = *value;
        else
            settings.problems.push_back(name + ":" + std::to_string(number) + ": riga ignorata: " + line);
    }
    return settings;
}
