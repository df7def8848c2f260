#pragma once

#include <cstddef>
#include <string_view>

namespace Io {

// Opens /dev/null on whichever of standard input, output and error is
// closed, so that no file opened later takes their number and receives
// what is meant for them.
void occupyClosedStandardStreams();

// Asks the kernel for the pages of a large buffer just allocated, large
// ones where it has them, in one call: a fault for each small page costs
// several times more than filling it (a listing of a million records: 140
// ms against 30). Kernels before 5.14 say no, and the pages fault in as
// before.
void prefault(void *data, std::size_t size);

// Writes every byte, going on after interruptions and partial writes; false
// with errno set on failure (ENOSPC where the device took nothing).
bool writeAll(int fd, std::string_view bytes);

} // namespace Io
