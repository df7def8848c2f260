#include "service/server.h"
#include "log/protocol.h"
#include "service/request.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <systemd/sd-login.h>
#include <unistd.h>

namespace {

constexpr std::chrono::minutes RateWindow{1};
// Far above the users of one machine at once; each holds at most
// MaxConnectionsPerUser, so one user alone never reaches it.
constexpr std::size_t MaxConnections = 512;
// Taken in one turn before the open connections are served again.
constexpr int AcceptsPerTurn = 64;

std::string nameOf(uid_t uid)
{
    passwd entry;
    passwd *found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return found->pw_name;
    return std::to_string(uid);
}

std::optional<uid_t> uidOf(const std::string &user)
{
    passwd entry;
    passwd *found = nullptr;
    char buffer[4096];
    if (::getpwnam_r(user.c_str(), &entry, buffer, sizeof buffer, &found) == 0 && found)
        return found->pw_uid;
    return std::nullopt;
}

std::string header(std::string_view status, std::size_t bytes, std::size_t omitted, std::string_view text)
{
    return std::string(status) + ' ' + std::to_string(bytes) + ' ' + std::to_string(omitted) + ' '
        + std::string(text) + '\n';
}

// The bytes of whole records a listing takes of the first 'bytes' of the log.
std::size_t listedBytes(int fd, std::size_t bytes)
{
    if (bytes <= Protocol::MaxListing)
        return bytes;
    char tail[64];
    const ssize_t got = ::pread(fd, tail, sizeof tail, off_t(Protocol::MaxListing - sizeof tail));
    for (ssize_t i = got - 1; i >= 0; --i) {
        if (tail[i] == '\n')
            return Protocol::MaxListing - sizeof tail + std::size_t(i) + 1;
    }
    return 0;
}

} // namespace

Server::Server(int listener, std::string logPath, std::string marksFolder)
    : m_listener(listener), m_logPath(logPath), m_update(std::move(logPath), LogUpdate::Reading::Changes),
      m_marks(std::move(marksFolder))
{
    // systemd hands the socket over blocking; one accept too many must not
    // stop the service.
    ::fcntl(m_listener, F_SETFL, ::fcntl(m_listener, F_GETFL) | O_NONBLOCK);
}

int Server::run()
{
    std::vector<pollfd> watched;
    for (;;) {
        watched.assign(1, {m_listener, POLLIN, 0});
        auto next = Clock::time_point::max();
        for (const Connection &connection : m_connections) {
            watched.push_back({connection.fd, short(connection.answered ? POLLOUT : POLLIN), 0});
            next = std::min(next, connection.deadline);
        }
        int timeout = -1;
        if (next != Clock::time_point::max())
            timeout = int(std::max<std::int64_t>(
                0, std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count() + 1));
        if (::poll(watched.data(), watched.size(), timeout) < 0 && errno != EINTR) {
            std::perror("tallix-record: poll");
            return 1;
        }
        const auto now = Clock::now();
        auto state = watched.begin() + 1;
        for (auto connection = m_connections.begin(); connection != m_connections.end(); ++state) {
            if (state->revents && !connection->answered)
                receive(*connection);
            else if (state->revents)
                send(*connection);
            if (connection->fd >= 0 && connection->deadline <= now)
                close(*connection);
            if (connection->fd < 0) {
                --m_users[connection->uid].open;
                connection = m_connections.erase(connection);
            } else {
                ++connection;
            }
        }
        if ((watched.front().revents & (POLLERR | POLLNVAL)) || !acceptWaiting())
            return 1;
    }
}

bool Server::acceptWaiting()
{
    for (int accepted = 0; accepted < AcceptsPerTurn; ++accepted) {
        const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return errno == EAGAIN || errno == EINTR || errno == ECONNABORTED || errno == EMFILE
                || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM;
        ucred peer{};
        socklen_t size = sizeof peer;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) {
            ::close(fd);
            continue;
        }
        User &user = m_users[peer.uid];
        if (m_connections.size() >= MaxConnections) {
            refuseFlood(peer.uid, fd, "il servizio ha troppe connessioni aperte");
            continue;
        }
        if (peer.uid != 0 && user.open >= Protocol::MaxConnectionsPerUser) {
            refuseFlood(peer.uid, fd, "troppe connessioni aperte insieme dallo stesso utente");
            continue;
        }
        ++user.open;
        Connection connection;
        connection.fd = fd;
        connection.uid = peer.uid;
        char *session = nullptr;
        if (sd_peer_get_session(fd, &session) >= 0) {
            connection.session = session;
            std::free(session);
        }
        connection.deadline = Clock::now() + Protocol::RequestTimeout;
        m_connections.push_back(std::move(connection));
    }
    return true;
}

// Refusals of a flood are told once a minute for each user, with their
// count, so that the flood does not flood the journal too.
void Server::refuseFlood(uid_t uid, int fd, std::string_view reason)
{
    const std::string said = header(Protocol::Error, 0, 0, "Accesso non registrato: " + std::string(reason));
    [[maybe_unused]] const ssize_t sent = ::send(fd, said.data(), said.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    ::close(fd);
    User &user = m_users[uid];
    ++user.unreported;
    const auto now = Clock::now();
    if (user.lastWarning != Clock::time_point() && now - user.lastWarning < RateWindow)
        return;
    Journal::refused({uid, nameOf(uid), "unknown", {}},
                     std::string(reason) + " (" + std::to_string(user.unreported) + " richieste rifiutate)");
    user.lastWarning = now;
    user.unreported = 0;
}

bool Server::withinRate(uid_t uid)
{
    if (uid == 0)
        return true;
    std::deque<Clock::time_point> &accesses = m_users[uid].accesses;
    const auto now = Clock::now();
    while (!accesses.empty() && now - accesses.front() >= RateWindow)
        accesses.pop_front();
    if (accesses.size() >= std::size_t(Protocol::MaxAccessesPerMinute))
        return false;
    accesses.push_back(now);
    return true;
}

void Server::receive(Connection &connection)
{
    char buffer[Protocol::MaxRequest];
    const ssize_t got = ::recv(connection.fd, buffer, sizeof buffer, 0);
    if (got < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (got <= 0) {
        close(connection);
        return;
    }
    connection.request.append(buffer, std::size_t(got));
    const std::size_t end = connection.request.find('\n');
    if (end != std::string::npos)
        answer(connection, std::string_view(connection.request).substr(0, end));
    else if (connection.request.size() >= Protocol::MaxRequest)
        reply(connection, Protocol::Error, "Richiesta non valida: troppo lunga; accesso non registrato");
}

void Server::answer(Connection &connection, std::string_view line)
{
    const std::optional<Request> request = Request::parse(line);
    Journal::Access access{connection.uid, nameOf(connection.uid), "unknown", {}};
    if (!request) {
        refuseFlood(connection.uid, connection.fd, "richiesta non valida");
        connection.fd = -1;
        return;
    }
    access.source = request->source();
    access.tty = request->tty;
    if (request->kind == Request::Kind::Login) {
        // Only PAM, which runs as root, may name the user who logged in.
        if (connection.uid != 0) {
            Journal::refused(access, "solo root può registrare l'accesso di un altro utente");
            reply(connection, Protocol::Error, "Solo root può registrare l'accesso di un altro utente");
            return;
        }
        const std::optional<uid_t> uid = uidOf(request->user);
        access.user = request->user;
        access.uid = uid.value_or(uid_t(-1));
        if (!uid) {
            Journal::refused(access, "utente sconosciuto");
            reply(connection, Protocol::Error, "Utente sconosciuto; accesso non registrato");
            return;
        }
    }
    if (request->kind == Request::Kind::Access && answerAsLogin(connection))
        return;
    if (!withinRate(connection.uid)) {
        refuseFlood(connection.uid, connection.fd,
                    "più di " + std::to_string(Protocol::MaxAccessesPerMinute)
                        + " accessi in un minuto dallo stesso utente");
        connection.fd = -1;
        return;
    }
    record(connection, *request, access);
}

void Server::record(Connection &connection, const Request &request, const Journal::Access &access)
{
    const bool recorded = m_update.run();
    // Told once, at the access that found it: the update reads the log again
    // only where someone else changed it.
    for (const std::string &found : {m_update.notice(), m_update.damage()}) {
        if (!found.empty())
            Journal::warning(access, found);
    }
    if (!recorded) {
        Journal::refused(access, m_update.errorString());
        reply(connection, Protocol::Error, m_update.errorString());
        return;
    }
    Journal::recorded(access, m_update.record());
    // PAM lists nothing: the login's own step has no use for the records.
    if (request.kind == Request::Kind::Login)
        m_marks.mark(request.session, access.uid, m_update.recordOffset());
    sendRecords(connection, request.kind == Request::Kind::Login ? 0 : m_update.recordOffset(),
                m_update.notice());
}

// The first logger of a session whose login PAM recorded is that login:
// it records nothing and lists what the log held before the login.
bool Server::answerAsLogin(Connection &connection)
{
    const std::optional<std::size_t> loginOffset = m_marks.claim(connection.uid, connection.session);
    if (!loginOffset)
        return false;
    sendRecords(connection, *loginOffset, {});
    return true;
}

// The access is recorded by now: whatever goes wrong with the listing, the
// answer is ok, or the caller would record it again. The client reads the
// records from the log itself: a descriptor passed and never taken would
// count against this service's user, and so against everyone.
void Server::sendRecords(Connection &connection, std::size_t bytes, std::string_view notice)
{
    std::string said(notice);
    std::size_t listed = 0;
    if (bytes > 0) {
        const int log = ::open(m_logPath.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat status;
        if (log >= 0 && ::fstat(log, &status) == 0 && std::uint64_t(status.st_size) >= bytes) {
            listed = listedBytes(log, bytes);
        } else {
            said = "L'accesso è stato registrato, ma i record precedenti non possono essere elencati";
            bytes = 0;
        }
        if (log >= 0)
            ::close(log);
    }
    respond(connection, header(Protocol::Ok, listed, bytes - listed, said));
}

void Server::reply(Connection &connection, std::string_view status, std::string_view text)
{
    respond(connection, header(status, 0, 0, text));
}

void Server::respond(Connection &connection, std::string headerLine)
{
    connection.header = std::move(headerLine);
    connection.answered = true;
    connection.deadline = Clock::now() + Protocol::ReplyTimeout;
    send(connection);
}

void Server::close(Connection &connection)
{
    ::close(connection.fd);
    connection.fd = -1;
}

void Server::send(Connection &connection)
{
    while (connection.sent < connection.header.size()) {
        const std::string_view unsent = std::string_view(connection.header).substr(connection.sent);
        const ssize_t sent = ::send(connection.fd, unsent.data(), unsent.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && errno == EAGAIN)
            return;
        if (sent <= 0)
            break;
        connection.sent += std::size_t(sent);
    }
    close(connection);
}
