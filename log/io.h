#pragma once

#include <string_view>

namespace Io {

// Opens /dev/null on whichever of standard input, output and error is
// closed, so that no file opened later takes their number and receives
// what is meant for them.
void occupyClosedStandardStreams();

// Writes every byte, going on after interruptions and partial writes; false
// with errno set on failure (ENOSPC where the device took nothing).
bool writeAll(int fd, std::string_view bytes);

// Sends what of 'bytes' the socket takes now, with 'descriptor' attached;
// what send() returns.
long sendWithDescriptor(int socket, std::string_view bytes, int descriptor);

} // namespace Io
