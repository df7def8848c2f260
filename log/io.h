#pragma once

#include <string_view>

namespace Io {

// Writes every byte, going on after interruptions and partial writes; false
// with errno set on failure (ENOSPC where the device took nothing).
bool writeAll(int fd, std::string_view bytes);

} // namespace Io
