#include "service/mender.h"
#include "record/io.h"

#include <cerrno>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

Mender::Mender(std::string socketPath) : m_socketPath(std::move(socketPath)) { }

bool Mender::mend() const
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (m_socketPath.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, m_socketPath.c_str(), m_socketPath.size() + 1);
    const Io::Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid())
        return false;
    bool connected = ::connect(fd.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    // Root's side says "mended" once tmpfiles has succeeded, then closes: a
    // connection closed with nothing said mended nothing.
    std::string said;
    const auto deadline = std::chrono::steady_clock::now() + Patience;
    while (connected) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd watched{fd.get(), POLLIN, 0};
        const int ready = left.count() > 0 ? ::poll(&watched, 1, int(left.count())) : 0;
        if (ready < 0 && errno == EINTR)
            continue;
        char buffer[64];
        const ssize_t got = ready > 0 ? ::recv(fd.get(), buffer, sizeof buffer, 0) : -1;
        if (got <= 0 || said.size() > sizeof buffer)
            break;
        said.append(buffer, std::size_t(got));
    }
    return said.starts_with(Mended);
}
