// Preloaded into the logger to make its writes to the log fail the way a
// full disk and a failing device together would. Chosen by TALLIX_FAULT:
//   torn-write: the first write to a file named Date.txt stores half of its
//   bytes, the next one fails, and so does cutting the file back. Other
//   files, pipes and terminals are left alone: the toolkit writes its own.

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include <dlfcn.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

bool tornWrite = false;
int writes = 0;

__attribute__((constructor)) void chooseFault()
{
    const char *fault = std::getenv("TALLIX_FAULT");
    tornWrite = fault && std::strcmp(fault, "torn-write") == 0;
}

bool isLog(int fd)
{
    char path[PATH_MAX];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t size = ::readlink(link.c_str(), path, sizeof path);
    return size > 0 && std::string_view(path, std::size_t(size)).ends_with("/Date.txt");
}

} // namespace

extern "C" ssize_t write(int fd, const void *buffer, size_t count)
{
    using Write = ssize_t (*)(int, const void *, size_t);
    static const auto real = reinterpret_cast<Write>(::dlsym(RTLD_NEXT, "write"));
    if (!tornWrite || !isLog(fd))
        return real(fd, buffer, count);
    if (++writes == 1)
        return real(fd, buffer, count / 2);
    errno = ENOSPC;
    return -1;
}

extern "C" int ftruncate(int fd, off_t length)
{
    using Ftruncate = int (*)(int, off_t);
    static const auto real = reinterpret_cast<Ftruncate>(::dlsym(RTLD_NEXT, "ftruncate"));
    if (tornWrite && isLog(fd)) {
        errno = EIO;
        return -1;
    }
    return real(fd, length);
}
