// Preloaded into the recorder to make its writes fail the way a full disk
// and a failing device together would. Chosen by TALLIX_FAULT, read before
// main, since the recorder clears its environment first thing:
//   torn-write: the first write to a file stores half of its bytes, the
//   next one fails, and so does cutting the file back.

#include <cerrno>
#include <cstdlib>
#include <cstring>

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

} // namespace

extern "C" ssize_t pwrite(int fd, const void *buffer, size_t count, off_t offset)
{
    using Pwrite = ssize_t (*)(int, const void *, size_t, off_t);
    static const auto real = reinterpret_cast<Pwrite>(::dlsym(RTLD_NEXT, "pwrite"));
    if (tornWrite && ++writes == 1)
        return real(fd, buffer, count / 2, offset);
    if (tornWrite) {
        errno = ENOSPC;
        return -1;
    }
    return real(fd, buffer, count, offset);
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
