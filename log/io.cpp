#include "log/io.h"

#include <cerrno>
#include <cstdint>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace Io {

void occupyClosedStandardStreams()
{
    // Each open takes the lowest free number, where it stays.
    int fd;
    do
        fd = ::open("/dev/null", O_RDWR);
    while (fd >= 0 && fd <= STDERR_FILENO);
    if (fd >= 0)
        ::close(fd);
}

void prefault(void *data, std::size_t size)
{
    const auto pageSize = std::uintptr_t(::sysconf(_SC_PAGESIZE));
    const std::uintptr_t start = (std::uintptr_t(data) + pageSize - 1) & ~(pageSize - 1);
    const std::uintptr_t end = (std::uintptr_t(data) + size) & ~(pageSize - 1);
    if (end <= start)
        return;
    ::madvise(reinterpret_cast<void *>(start), end - start, MADV_HUGEPAGE);
    ::madvise(reinterpret_cast<void *>(start), end - start, MADV_POPULATE_WRITE);
}

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
