// Preloaded into the recorder to make its writes fail the way a full disk
// and a failing device together would. Chosen by TALLIX_FAULT, read before
// main, since the recorder clears its environment first thing:
//   torn-write: the first write to a regular file stores half of its
//   bytes, the next one fails, and so does cutting the file back. Writes to
//   pipes and terminals go through.

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <dlfcn.h>
#include <sys/stat.h>
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

} // namespace

extern "C" ssize_t write(int fd, const void *buffer, size_t count)
{
    using Write = ssize_t (*)(int, const void *, size_t);
    static const auto real = reinterpret_cast<Write>(::dlsym(RTLD_NEXT, "write"));
    struct stat file;
    if (!tornWrite || ::fstat(fd, &file) != 0 || !S_ISREG(file.st_mode))
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
    if (tornWrite) {
        errno = EIO;
        return -1;
    }
    return real(fd, length);
}
