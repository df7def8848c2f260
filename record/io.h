#pragma once

#include <cstddef>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Io {

// A descriptor with one owner, which closes it: moved, never copied.
class Fd
{
public:
    Fd() = default;
    explicit Fd(int fd) : m_fd(fd) { }
    Fd(Fd &&other) noexcept : m_fd(other.release()) { }
    Fd &operator=(Fd &&other) noexcept
    {
        reset(other.release());
        return *this;
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd() { reset(); }

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release() { return std::exchange(m_fd, -1); }
    // Closes what it held and takes 'fd'; false where the close failed,
    // which for a file written means its data may not have reached it.
    bool reset(int fd = -1);

private:
    int m_fd = -1;
};

// A string that a C library (libsystemd's sd-login and sd-bus) hands over
// for its caller to free: sd_session_get_type(id, type.out()).
class CString
{
public:
    CString() = default;
    CString(const CString &) = delete;
    CString &operator=(const CString &) = delete;
    ~CString() { std::free(m_text); }

    // Where the call puts it; what was held before is freed.
    char **out()
    {
        std::free(std::exchange(m_text, nullptr));
        return &m_text;
    }
    const char *get() const { return m_text; }

private:
    char *m_text = nullptr;
};

// The 'count' strings of such a list, taken into strings, the list freed;
// none where 'count' says the call failed.
std::vector<std::string> takeStrings(char **list, int count);

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
