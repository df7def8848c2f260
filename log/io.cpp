#include "log/io.h"

#include <cerrno>

#include <unistd.h>

namespace Io {

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t put = ::write(fd, bytes.data(), bytes.size());
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            if (put == 0)
                errno = ENOSPC;
            return false;
        }
        bytes.remove_prefix(std::size_t(put));
    }
    return true;
}

} // namespace Io
