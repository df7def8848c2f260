#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
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

// What a C library (libsystemd's sd-login and sd-bus) hands over for its
// caller to free.
struct Free
{
    void operator()(void *memory) const { std::free(memory); }
};
using CString = std::unique_ptr<char, Free>;
// Where such a call puts its string, for the length of the call's full
// expression: Io::CString type; if (sd_session_get_type(id, Io::out(type)) >= 0) ...
// The string is in 'type' only after that expression.
class StringOut
{
public:
    explicit StringOut(CString &owner) : m_owner(owner) { }
    StringOut(const StringOut &) = delete;
    StringOut &operator=(const StringOut &) = delete;
    ~StringOut() { m_owner.reset(m_taken); }
    operator char **() { return &m_taken; }

private:
    CString &m_owner;
    char *m_taken = nullptr;
};
inline StringOut out(CString &owner)
{
    return StringOut(owner);
}
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
