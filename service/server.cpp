#include "service/server.h"
#include "log/protocol.h"
#include "service/request.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <systemd/sd-login.h>
#include <unistd.h>

namespace {

// Taken in one turn before the open connections are served again.
constexpr int AcceptsPerTurn = 64;
// Only root reaches the login door; this bounds it within the descriptors
// the users' door leaves.
constexpr std::size_t MaxLoginConnections = 256;
// Peers that left before they were accepted can no longer be told apart:
// they all share this one person's share.
constexpr uid_t Gone = uid_t(-1);

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

// The owner of the session or user slice the peer runs in, whatever uid it
// took in a user namespace; outside every user's slice, its own uid.
uid_t personOf(int fd, uid_t uid)
{
    uid_t owner = 0;
    const int found = sd_peer_get_owner_uid(fd, &owner);
    if (found >= 0)
        return owner;
    return found == -ESRCH ? Gone : uid;
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

// Why a person's access over the share is refused, whichever way it came.
std::string tooManyAccesses()
{
    return "più di " + std::to_string(Protocol::MaxAccessesPerMinute) + " accessi in un minuto dallo stesso utente";
}

} // namespace

Server::Server(Doors doors, std::string logPath, std::string marksFolder, uid_t loginCaller)
    : m_loginCaller(loginCaller), m_logPath(logPath),
      m_update(std::move(logPath), LogUpdate::Reading::Changes), m_marks(std::move(marksFolder))
{
    m_login.listener = doors.login;
    m_login.login = true;
    m_access.listener = doors.access;
    // systemd hands the sockets over blocking; one accept too many must not
    // stop the service.
    for (const int listener : {doors.access, doors.login}) {
        if (listener >= 0)
            ::fcntl(listener, F_SETFL, ::fcntl(listener, F_GETFL) | O_NONBLOCK);
    }
}

void Server::follow(Logind &logind)
{
    m_logind = &logind;
}

int Server::run()
{
    while (turn(std::chrono::milliseconds(-1))) { }
    return 1;
}

bool Server::turn(std::chrono::milliseconds wait)
{
    std::vector<pollfd> watched;
    auto next = Clock::time_point::max();
    for (const Door *door : {&m_login, &m_access}) {
        watched.push_back({door->listener, POLLIN, 0});
        for (const Connection &connection : door->connections) {
            watched.push_back({connection.fd, short(connection.answered ? POLLOUT : POLLIN), 0});
            next = std::min(next, connection.deadline);
        }
    }
    if (m_logind) {
        watched.push_back({m_logind->fd(), m_logind->events(), 0});
        next = std::min(next, m_logind->deadline().value_or(Clock::time_point::max()));
    }
    int timeout = int(wait.count());
    if (next != Clock::time_point::max()) {
        const auto left = std::max<std::int64_t>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count() + 1);
        timeout = int(timeout < 0 ? left : std::min<std::int64_t>(timeout, left));
    }
    if (::poll(watched.data(), watched.size(), timeout) < 0 && errno != EINTR) {
        std::perror("tallix-record: poll");
        return false;
    }
    const auto now = Clock::now();
    const pollfd *state = watched.data();
    // Root's door first: a turn busy with users never delays a login.
    for (Door *door : {&m_login, &m_access}) {
        const pollfd listener = *state++;
        const std::size_t polled = door->connections.size();
        serve(*door, state, now);
        state += polled;
        if (door->listener >= 0
            && ((listener.revents & (POLLERR | POLLNVAL))
                || ((listener.revents & POLLIN) && !acceptWaiting(*door))))
            return false;
    }
    if (m_logind) {
        for (const Logind::Return &found : m_logind->process(Clock::now()))
            cameBack(found);
    }
    return true;
}

void Server::serve(Door &door, const pollfd *states, Clock::time_point now)
{
    for (auto connection = door.connections.begin(); connection != door.connections.end(); ++states) {
        if (states->revents && !connection->answered)
            receive(door, *connection);
        else if (states->revents)
            send(*connection);
        if (connection->fd >= 0 && connection->deadline <= now)
            close(*connection);
        if (connection->fd < 0) {
            if (!door.login)
                m_admission.closed(connection->person);
            connection = door.connections.erase(connection);
        } else {
            ++connection;
        }
    }
}

bool Server::acceptWaiting(Door &door)
{
    for (int accepted = 0; accepted < AcceptsPerTurn; ++accepted) {
        const int fd = ::accept4(door.listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return errno == EAGAIN || errno == EINTR || errno == ECONNABORTED || errno == EMFILE
                || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM;
        ucred peer{};
        socklen_t size = sizeof peer;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) {
            ::close(fd);
            continue;
        }
        Connection connection;
        connection.fd = fd;
        connection.uid = peer.uid;
        connection.person = door.login ? peer.uid : personOf(fd, peer.uid);
        std::optional<Admission::Refusal> refusal;
        if (!door.login)
            refusal = m_admission.open(connection.person);
        else if (door.connections.size() >= MaxLoginConnections)
            refusal = Admission::Refusal::Full;
        if (refusal) {
            const std::string reason = *refusal == Admission::Refusal::Full
                ? "il servizio ha troppe connessioni aperte"
                : "troppe connessioni aperte insieme dallo stesso utente";
            const std::string said = header(Protocol::Error, 0, 0, "Accesso non registrato: " + reason);
            [[maybe_unused]] const ssize_t sent =
                ::send(fd, said.data(), said.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            ::close(fd);
            report(*refusal, {connection.person, nameOf(connection.person), "unknown", {}, {}}, connection.person,
                   reason);
            continue;
        }
        char *session = nullptr;
        if (sd_peer_get_session(fd, &session) >= 0) {
            connection.session = session;
            std::free(session);
        }
        connection.deadline = Clock::now() + Protocol::RequestTimeout;
        door.connections.push_back(std::move(connection));
    }
    return true;
}

// Every refusal is told at most once a minute for each person and kind,
// with the count since the last, so that no one can flood the journal.
void Server::report(Admission::Refusal kind, const Journal::Access &access, uid_t person,
                    const std::string &reason)
{
    if (const std::optional<int> count = m_admission.refused(person, kind))
        Journal::refused(access, reason + " (" + std::to_string(*count) + " richieste rifiutate)");
}

void Server::refuse(Connection &connection, Admission::Refusal kind, const Journal::Access &access,
                    const std::string &reason)
{
    report(kind, access, connection.person, reason);
    reply(connection, Protocol::Error, "Accesso non registrato: " + reason);
}

void Server::receive(Door &door, Connection &connection)
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
        answer(door, connection, std::string_view(connection.request).substr(0, end));
    else if (connection.request.size() >= Protocol::MaxRequest)
        refuse(connection, Admission::Refusal::Invalid,
               {connection.person, nameOf(connection.person), "unknown", {}, connection.session},
               "richiesta non valida, troppo lunga");
}

void Server::answer(Door &door, Connection &connection, std::string_view line)
{
    const std::optional<Request> request = Request::parse(line);
    Journal::Access access{connection.uid, nameOf(connection.uid), "unknown", {}, connection.session};
    if (!request) {
        refuse(connection, Admission::Refusal::Invalid, access, "richiesta non valida");
        return;
    }
    access.source = request->source();
    access.tty = request->tty;
    // Root's door is PAM's, and only PAM, which runs as root, may name the
    // user who logged in: no user can reach or fill that door.
    if (door.login ? connection.uid != m_loginCaller : request->kind == Request::Kind::Login) {
        refuse(connection, Admission::Refusal::NotRoot, access,
               "solo root, dal socket degli accessi di login, può registrare l'accesso di un altro utente");
        return;
    }
    if (request->kind == Request::Kind::Login && !admitLogin(connection, *request, access))
        return;
    if (request->kind == Request::Kind::Access && answerAsLogin(connection))
        return;
    // Root's door is PAM's: logins are never capped by what users do.
    if (!door.login && !m_admission.mayRecord(connection.person)) {
        refuse(connection, Admission::Refusal::Accesses, access, tooManyAccesses());
        return;
    }
    record(connection, *request, access);
}

// Names the login's user; false when answered already: the user is
// unknown, or PAM asks again for a login recorded before the service broke
// off its answer.
bool Server::admitLogin(Connection &connection, const Request &request, Journal::Access &access)
{
    const std::optional<uid_t> uid = uidOf(request.user);
    access.user = request.user;
    access.session = request.session;
    access.uid = uid.value_or(uid_t(-1));
    if (!uid) {
        refuse(connection, Admission::Refusal::UnknownUser, access, "utente sconosciuto");
        return false;
    }
    if (!m_marks.recorded(request.session, *uid))
        return true;
    reply(connection, Protocol::Ok, {});
    return false;
}

void Server::record(Connection &connection, const Request &request, const Journal::Access &access)
{
    if (!write(access, request.kind == Request::Kind::Login ? access.uid : connection.person)) {
        reply(connection, Protocol::Error, m_update.errorString());
        return;
    }
    // PAM lists nothing: the login's own step has no use for the records.
    if (request.kind == Request::Kind::Login)
        m_marks.mark(request.session, access.uid, m_update.recordOffset());
    sendRecords(connection, request.kind == Request::Kind::Login ? 0 : m_update.recordOffset(),
                m_update.notice());
}

// Appends the access to the log and tells the journal; false when the log
// could not take it, which the journal tells as an error: it then holds the
// only trace of that access.
bool Server::write(const Journal::Access &access, uid_t person)
{
    const bool recorded = m_update.run();
    // Told once, at the access that found it: the update reads the log again
    // only where someone else changed it.
    for (const std::string &found : {m_update.notice(), m_update.damage()}) {
        if (!found.empty())
            Journal::warning(access, found);
    }
    if (!recorded) {
        Journal::lost(access, m_update.errorString());
        return false;
    }
    Journal::recorded(access, m_update.record());
    if (m_logind)
        m_logind->recorded(person);
    return true;
}

// An unlock or a wake: an access of the session's owner, within the same
// share of accesses as a logger start.
void Server::cameBack(const Logind::Return &found)
{
    const Journal::Access access{found.uid, nameOf(found.uid), found.source, {}, found.session};
    if (!m_admission.mayRecord(found.uid)) {
        report(Admission::Refusal::Accesses, access, found.uid, tooManyAccesses());
        return;
    }
    write(access, found.uid);
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
