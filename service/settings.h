#pragma once

#include "service/unlocksandwakes.h"

#include <string>
#include <string_view>
#include <vector>

// The administrator's choices, from the service's configuration file:
// whether unlocks and wakes count. Logins and logger starts always do. A
// missing file leaves the defaults; a line that cannot be read is told and
// leaves its setting as it was, so that a typo never stops a count.
struct Settings
{
    UnlocksAndWakes::Counted counted;
    std::vector<std::string> problems;

    static Settings read(const std::string &path);
    // The same of a file's text; 'name' names it in the problems.
    static Settings parse(std::string_view text, const std::string &name);
};
