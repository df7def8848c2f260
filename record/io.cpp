#include "record/io.h"

#include <cerrno>
#include <cstdint>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace Io {

bool Fd::reset(int fd)
{
    const int held = std::exchange(m_fd, fd);
    return held < 0 || ::close(held) == 0;
}

std::vector<std::string> takeStrings(char **list, int count)
{
    std::vector<std::string> taken;
    for (int i = 0; list && i < count; ++i)
        taken.emplace_back(list[i]);
    for (int i = 0; list && i < count; ++i)
        std::free(list[i]);
    std::free(list);
    return taken;
}

void occupyClosedStandardStreams()
{
    // Each open takes the lowest free number, where it stays.
    int fd;
    do
        fd = ::open("/dev/null", O_RDWR);
    while (fd >= 0 && fd <= STDERR_FILENO);
    Fd spare(fd);
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
