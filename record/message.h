#pragma once

#include <string>
#include <string_view>

// The pieces of the log writers' Italian messages.
namespace Message {

// Text from a file or a path, safe to show on a terminal or in a window:
// control bytes, bytes above ASCII and backslashes become \xNN and \\.
std::string escaped(std::string_view text);

// The start of a line from a file, escaped, between «»: enough to find it.
std::string quoted(std::string_view text);

// What a system call's error number means, in Italian.
std::string systemError(int error);

} // namespace Message
