#include "record/recordclient.h"
#include "record/io.h"
#include "record/message.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view NotRecorded = "l'accesso non è stato registrato";
constexpr std::string_view MaybeNotRecorded = "l'accesso potrebbe non essere stato registrato";

// Waits for 'events' on fd until the deadline; false with errno set.
bool waitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            errno = ETIMEDOUT;
            return false;
        }
        pollfd watched{fd, events, 0};
        const int ready = ::poll(&watched, 1, int(left.count()) + 1);
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
}

} // namespace

RecordClient::RecordClient(std::string socketPath, std::string logPath)
    : m_socketPath(std::move(socketPath)), m_logPath(std::move(logPath))
{ }

std::string RecordClient::systemLog()
{
    return TALLIX_STATE_DIR "/Date.txt";
}

bool RecordClient::fail(std::string message, Outcome outcome)
{
    m_error = std::move(message);
    m_outcome = outcome;
    return false;
}

bool RecordClient::request(std::string_view line, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    m_brokenOff = false;
    m_records.unmap();
    m_omitted = 0;
    m_notice.clear();
    m_outcome = Outcome::Unknown;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (m_socketPath.size() >= sizeof address.sun_path)
        return fail("Percorso del servizio di registrazione troppo lungo: " + Message::escaped(m_socketPath),
                    Outcome::Unreachable);
    std::memcpy(address.sun_path, m_socketPath.c_str(), m_socketPath.size() + 1);

    const Io::Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid())
        return fail("Impossibile contattare il servizio di registrazione degli accessi: "
                        + Message::systemError(errno) + "; " + std::string(NotRecorded),
                    Outcome::Unreachable);
    int connected = ::connect(fd.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address);
    // A listener whose queue is full answers EAGAIN: try again until the deadline.
    while (connected != 0 && errno == EAGAIN && Clock::now() < deadline) {
        ::usleep(10000);
        connected = ::connect(fd.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address);
    }
    if (connected != 0) {
        const int error = errno;
        m_brokenOff = error == ECONNREFUSED;
        return fail("Il servizio di registrazione degli accessi non è in funzione ("
                        + Message::escaped(m_socketPath) + ": " + Message::systemError(error) + "): "
                        + std::string(NotRecorded) + ". L'amministratore può avviarlo con «systemctl start "
                        + Protocol::SocketUnits + "».",
                    Outcome::Unreachable);
    }
    return exchange(fd.get(), line, deadline);
}

bool RecordClient::exchange(int fd, std::string_view line, Clock::time_point deadline)
{
    std::string request(line);
    request += '\n';
    std::string_view unsent = request;
    std::string reply;
    int error = 0;
    while (!unsent.empty() && !error) {
        const ssize_t sent = ::send(fd, unsent.data(), unsent.size(), MSG_NOSIGNAL);
        if (sent > 0)
            unsent.remove_prefix(std::size_t(sent));
        else if (errno != EAGAIN && errno != EINTR)
            error = errno;
        else if (!waitFor(fd, POLLOUT, deadline))
            error = errno;
    }
    while (!error) {
        char buffer[Protocol::MaxHeader];
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got == 0 && !reply.empty())
            return takeReply(reply);
        if (got == 0)
            error = ECONNRESET;
        else if (got > 0 && reply.size() + std::size_t(got) > Protocol::MaxHeader)
            return fail("Risposta non valida dal servizio di registrazione degli accessi; "
                            + std::string(MaybeNotRecorded),
                        Outcome::Unknown);
        else if (got > 0)
            reply.append(buffer, std::size_t(got));
        else if (errno != EAGAIN && errno != EINTR)
            error = errno;
        else if (!waitFor(fd, POLLIN, deadline))
            error = errno;
    }
    m_brokenOff = error == ECONNRESET || error == ECONNREFUSED || error == EPIPE;
    if (error == ETIMEDOUT)
        return fail("Il servizio di registrazione degli accessi non ha risposto in tempo; "
                        + std::string(MaybeNotRecorded),
                    Outcome::Unknown);
    return fail("Comunicazione interrotta con il servizio di registrazione degli accessi: "
                    + Message::systemError(error) + "; " + std::string(MaybeNotRecorded),
                Outcome::Unknown);
}

bool RecordClient::takeReply(const std::string &reply)
{
    const auto malformed = [this] {
        return fail("Risposta non valida dal servizio di registrazione degli accessi; "
                        + std::string(MaybeNotRecorded),
                    Outcome::Unknown);
    };
    const std::optional<Protocol::Reply> parsed = Protocol::parseReply(reply);
    if (!parsed)
        return malformed();
    m_omitted = parsed->omitted;
    if (!parsed->recorded)
        return fail(std::string(parsed->text), Outcome::Refused);
    m_notice = parsed->text;
    m_outcome = Outcome::Recorded;
    return parsed->bytes == 0 || mapRecords(parsed->bytes) || malformed();
}

// The access is recorded: a log it cannot read loses only the listing.
bool RecordClient::mapRecords(std::size_t bytes)
{
    const Io::Fd fd(::open(m_logPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!fd.valid()) {
        m_notice = "L'accesso è stato registrato, ma i record precedenti non possono essere letti da "
            + Message::escaped(m_logPath) + ": " + Message::systemError(errno);
        m_omitted = 0;
        return true;
    }
    struct stat status;
    return ::fstat(fd.get(), &status) == 0 && std::uint64_t(status.st_size) >= bytes
        && m_records.map(fd.get(), bytes);
}
