#include "service/server.h"
#include "record/lockers.h"
#include "record/message.h"
#include "record/people.h"
#include "record/protocol.h"
#include "service/layout.h"
#include "service/request.h"
#include "service/rules.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <syslog.h>
#include <systemd/sd-login.h>
#include <unistd.h>

namespace {

// Taken in one turn before the open connections are served again.
constexpr int AcceptsPerTurn = 64;
// Only root reaches the login door; this bounds it within the descriptors
// the users' door leaves.
constexpr std::size_t MaxLoginConnections = 256;
// Whose subordinate uids are whose.
constexpr char SubordinateUids[] = "/etc/subuid";

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

Server::Server(Doors doors, std::string logPath, std::string marksFolder, uid_t loginCaller,
               const Sessions &sessions)
    : m_loginCaller(loginCaller), m_logPath(logPath), m_update(logPath, LogUpdate::Reading::Changes),
      m_check(logPath), m_owners(SubordinateUids, People::uidOf, People::hasAccount),
      m_marks(marksFolder, sessions), m_inFlight(marksFolder + "/in-flight")
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
    finishLeftOver();
    // Damage is looked for at once, not at the first access: it may be a
    // long while away.
    m_check.start();
}

void Server::follow(Logind &logind)
{
    m_logind = &logind;
}

void Server::mendThrough(std::function<bool()> mend)
{
    m_mend = std::move(mend);
}

void Server::finishLeftOver()
{
    const std::optional<InFlight::Access> left = m_inFlight.left();
    if (left && InFlight::written(m_logPath, *left)) {
        if (left->login)
            m_marks.mark(left->who.session, left->who.uid, left->offset);
        Journal::recorded(left->who, left->record);
    }
    m_inFlight.done();
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
            watched.push_back({connection.fd.get(), short(connection.answered ? POLLOUT : POLLIN), 0});
            next = std::min(next, connection.deadline);
        }
    }
    if (m_logind) {
        watched.push_back({m_logind->fd(), m_logind->events(), 0});
        next = std::min(next, m_logind->deadline().value_or(Clock::time_point::max()));
    }
    // A search under way waits for nothing but what is ready now.
    int timeout = m_check.pending() ? 0 : int(wait.count());
    if (next != Clock::time_point::max()) {
        const auto left = std::max<std::int64_t>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count() + 1);
        timeout = int(timeout < 0 ? left : std::min<std::int64_t>(timeout, left));
    }
    if (::poll(watched.data(), watched.size(), timeout) < 0 && errno != EINTR) {
        Journal::note("Il servizio si ferma: attendere le richieste è fallito (" + Message::systemError(errno)
                          + ")",
                      LOG_ERR);
        return false;
    }
    const auto now = Clock::now();
    const pollfd *state = watched.data();
    // Root's door first; and before each user's append it is looked at again.
    for (Door *door : {&m_login, &m_access}) {
        const pollfd listener = *state++;
        const std::size_t polled = door->connections.size();
        // An access asked at root's door is served as any other, and must
        // not have root's door served again from within.
        m_servingLogins = door->login;
        serve(*door, state, now);
        state += polled;
        const bool failed = door->listener >= 0
            && ((listener.revents & (POLLERR | POLLNVAL))
                || ((listener.revents & POLLIN) && !acceptWaiting(*door)));
        m_servingLogins = false;
        if (failed)
            return false;
    }
    if (m_logind) {
        for (const Logind::Return &found : m_logind->process(Clock::now()))
            cameBack(found);
    }
    checkSome();
    return true;
}

void Server::serveLogins()
{
    if (m_servingLogins || m_login.listener < 0)
        return;
    m_servingLogins = true;
    // A second look serves what the first accepted: its request is there.
    for (int look = 0; look < 2; ++look) {
        std::vector<pollfd> watched{{m_login.listener, POLLIN, 0}};
        for (const Connection &connection : m_login.connections)
            watched.push_back({connection.fd.get(), short(connection.answered ? POLLOUT : POLLIN), 0});
        if (::poll(watched.data(), watched.size(), 0) <= 0)
            break;
        serve(m_login, watched.data() + 1, Clock::now());
        // A listener that failed is the next turn's to find.
        if (watched.front().revents & POLLIN)
            acceptWaiting(m_login);
    }
    m_servingLogins = false;
}

void Server::checkSome()
{
    if (const std::optional<std::string> damage = m_check.step()) {
        if (m_checkFor)
            Journal::warning(*m_checkFor, *damage);
        else
            Journal::note(*damage, LOG_WARNING);
    }
    if (!m_check.pending())
        m_checkFor.reset();
}

void Server::serve(Door &door, const pollfd *states, Clock::time_point now)
{
    for (auto connection = door.connections.begin(); connection != door.connections.end(); ++states) {
        if (states->revents && !connection->answered)
            receive(door, *connection);
        else if (states->revents)
            sendAnswer(*connection);
        if (connection->fd.valid() && connection->deadline <= now)
            close(*connection);
        if (!connection->fd.valid()) {
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
        Io::Fd fd(::accept4(door.listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!fd.valid())
            return errno == EAGAIN || errno == EINTR || errno == ECONNABORTED || errno == EMFILE
                || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM;
        ucred peer{};
        socklen_t size = sizeof peer;
        if (::getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
            continue;
        Connection connection;
        connection.fd = std::move(fd);
        connection.uid = peer.uid;
        connection.pid = peer.pid;
        // The owner of the session or user slice the peer runs in; outside
        // every user's slice, the owner of its uid, which may be another
        // account's subordinate.
        uid_t sliceOwner = 0;
        const bool inSlice = !door.login && sd_peer_get_owner_uid(connection.fd.get(), &sliceOwner) >= 0;
        connection.person =
            Rules::personOf(door.rule(), peer.uid, inSlice ? std::optional(sliceOwner) : std::nullopt,
                            door.login ? peer.uid : m_owners.of(peer.uid));
        std::optional<Admission::Refusal> refusal;
        if (!door.login)
            refusal = m_admission.open(connection.person);
        else if (door.connections.size() >= MaxLoginConnections)
            refusal = Admission::Refusal::Full;
        if (refusal) {
            const std::string reason = Rules::refusedConnection(*refusal);
            const std::string said = Protocol::replyLine(Protocol::Error, 0, 0, Rules::notRecorded(reason));
            [[maybe_unused]] const ssize_t sent =
                ::send(connection.fd.get(), said.data(), said.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            report(accessOf(connection, "unknown"), connection.person, reason);
            continue;
        }
        Io::CString session;
        if (sd_peer_get_session(connection.fd.get(), session.out()) >= 0)
            connection.session = session.get();
        connection.deadline = Clock::now() + Protocol::RequestTimeout;
        door.connections.push_back(std::move(connection));
    }
    return true;
}

// Every refusal is told at most once a minute for each person and kind,
// with the count since the last, so that no one can flood the journal.
void Server::report(const Journal::Access &access, uid_t person, const std::string &reason)
{
    if (const std::optional<int> count = m_admission.refused(person))
        Journal::refused(access, reason + " (" + std::to_string(*count) + " richieste rifiutate)");
}

void Server::refuse(Connection &connection, const Journal::Access &access, const std::string &reason)
{
    report(access, connection.person, reason);
    answer(connection, Protocol::Error, Rules::notRecorded(reason));
}

void Server::receive(Door &door, Connection &connection)
{
    char buffer[Protocol::MaxRequest];
    const ssize_t got = ::recv(connection.fd.get(), buffer, sizeof buffer, 0);
    if (got < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (got <= 0) {
        close(connection);
        return;
    }
    connection.request.append(buffer, std::size_t(got));
    const std::size_t end = connection.request.find('\n');
    if (end != std::string::npos)
        serveRequest(door, connection, std::string_view(connection.request).substr(0, end));
    else if (connection.request.size() >= Protocol::MaxRequest)
        refuse(connection, accessOf(connection, "unknown"), "richiesta non valida, troppo lunga");
}

// The server's answers to what the rules ask of one request, each looked up
// only when asked.
class Server::Moment final : public Rules::Moment
{
public:
    Moment(Server &server, Connection &connection, const Request &request, Journal::Access &access)
        : m_server(server), m_connection(connection), m_request(request), m_access(access)
    { }

    // The login's user, named by PAM.
    bool userKnown() override
    {
        m_user = People::uidOf(m_request.user);
        m_access.user = m_request.user;
        m_access.session = m_request.session;
        m_access.uid = m_user.value_or(uid_t(-1));
        return m_user.has_value();
    }
    bool loginRecorded() override { return m_server.m_marks.recorded(m_request.session, *m_user); }
    std::optional<std::string> unlockDoubt() override
    {
        return m_server.unlockDoubt(m_connection, m_request, m_access);
    }
    bool countsAsReturn() override
    {
        return m_server.m_logind && m_server.m_logind->lockerUnlocked(m_access.session);
    }
    bool claimedAsLogin() override
    {
        loginOffset = m_server.m_marks.claim(m_connection.uid, m_connection.session);
        return loginOffset.has_value();
    }
    bool withinShare() override { return m_server.m_admission.mayRecord(m_connection.person); }

    std::optional<std::size_t> loginOffset;

private:
    Server &m_server;
    Connection &m_connection;
    const Request &m_request;
    Journal::Access &m_access;
    std::optional<uid_t> m_user;
};

void Server::serveRequest(Door &door, Connection &connection, std::string_view line)
{
    const std::optional<Request> request = Request::parse(line);
    Journal::Access access = accessOf(connection, "unknown");
    if (request) {
        access.source = request->source();
        access.tty = request->tty;
    }
    // A line that is not a request is refused before anything is asked.
    const Request none;
    Moment moment(*this, connection, request ? *request : none, access);
    const Rules::Decision decision =
        Rules::decide(door.rule(), connection.uid == m_loginCaller, request, moment);
    switch (decision.verdict) {
    case Rules::Verdict::Refuse:
        refuse(connection, access, decision.reason);
        break;
    case Rules::Verdict::Nothing:
        answer(connection, Protocol::Ok, {});
        break;
    case Rules::Verdict::AsLogin:
        // It records nothing and lists what the log held before the login.
        answerListing(connection, *moment.loginOffset, {});
        break;
    case Rules::Verdict::Record:
        recordAndAnswer(connection, Rules::of(request->kind), access);
        break;
    }
}

// Why the caller of an unlock is not believed; nothing where it is. Names
// the session the unlock is of.
std::optional<std::string> Server::unlockDoubt(const Connection &connection, const Request &request,
                                               Journal::Access &access)
{
    if (access.session.empty())
        access.session = Lockers::callerSession(connection.pid, connection.uid);
    // The user is named by the caller, and its account looked up by the
    // caller's uid, never by a name a client chose.
    const std::optional<uid_t> user =
        People::nameOf(connection.uid) == request.user ? std::optional<uid_t>(connection.uid) : std::nullopt;
    const Lockers::Caller caller{connection.uid, user, Lockers::sessionFacts(access.session)};
    return Lockers::doubt(request.service, caller);
}

void Server::recordAndAnswer(Connection &connection, const Rules::Kind &kind, const Journal::Access &access)
{
    const bool login = kind.namesUser;
    if (!record(access, login ? access.uid : connection.person, login)) {
        answer(connection, Protocol::Error, m_update.errorString());
        return;
    }
    answerListing(connection, kind.lists ? m_update.recordOffset() : 0, m_update.notice());
}

// Appends the access to the log and tells the journal; false when the log
// could not take it, which the journal tells as an error: it then holds the
// only trace of that access.
bool Server::record(const Journal::Access &access, uid_t person, bool login)
{
    if (!login)
        serveLogins();
    mendPlace(access);
    bool recorded = appendOnce(access, login);
    // The place changed between the look and the append.
    if (!recorded && mendPlace(access))
        recorded = appendOnce(access, login);
    if (!m_update.notice().empty())
        Journal::warning(access, m_update.notice());
    if (!recorded) {
        Journal::lost(access, m_update.errorString());
        return false;
    }
    if (m_update.changedByOthers()) {
        m_check.start();
        m_checkFor = access;
    }
    if (m_logind)
        m_logind->recorded(person);
    return true;
}

// The record, then the session's mark, then the journal's entry: a service
// that dies between them finishes the access at its next start.
bool Server::appendOnce(const Journal::Access &access, bool login)
{
    const auto noteFirst = [&](std::size_t offset, const std::string &record) {
        m_inFlight.note({offset, record, login, access});
    };
    const bool recorded = m_update.run(&AccessTime::now, noteFirst);
    if (recorded && login)
        m_marks.mark(access.session, access.uid, m_update.recordOffset());
    if (recorded)
        Journal::recorded(access, m_update.record());
    m_inFlight.done();
    return recorded;
}

bool Server::mendPlace(const Journal::Access &access)
{
    if (!m_mend)
        return false;
    const std::vector<std::string> problems = Layout::problemsAt(m_logPath, ::geteuid());
    if (problems.empty())
        return false;
    std::string found;
    for (const std::string &problem : problems)
        found += (found.empty() ? "" : "; ") + problem;
    const bool mended = m_mend();
    Journal::warning(access,
                     "Il posto del registro " + m_logPath + " non era in ordine (" + found
                         + "): " + (mended ? "rimesso in ordine" : "impossibile rimetterlo in ordine"));
    return mended;
}

Journal::Access Server::accessOf(const Connection &connection, std::string source)
{
    // The account the uid belongs to (root's sudo in someone's session is
    // root); uids that no account owns are told by their number.
    const uid_t owner = m_owners.of(connection.uid);
    const uid_t who = owner == Owners::Nobody ? connection.uid : owner;
    return {who, People::nameOf(who), std::move(source), {}, connection.session};
}

// An unlock or a wake: an access of the session's owner, within the same
// share of accesses as a logger start.
void Server::cameBack(const Logind::Return &found)
{
    const Journal::Access access{found.uid, People::nameOf(found.uid), found.source, {}, found.session};
    if (!m_admission.mayRecord(found.uid)) {
        report(access, found.uid, Rules::tooManyAccesses());
        return;
    }
    record(access, found.uid, false);
}

// The access is recorded by now: whatever goes wrong with the listing, the
// answer is ok, or the caller would record it again. The client reads the
// records from the log itself: a descriptor passed and never taken would
// count against this service's user, and so against everyone.
void Server::answerListing(Connection &connection, std::size_t bytes, std::string_view notice)
{
    std::string said(notice);
    std::size_t listed = 0;
    if (bytes > 0) {
        const Io::Fd log(::open(m_logPath.c_str(), O_RDONLY | O_CLOEXEC));
        struct stat status;
        if (log.valid() && ::fstat(log.get(), &status) == 0 && std::uint64_t(status.st_size) >= bytes) {
            listed = listedBytes(log.get(), bytes);
        } else {
            said = "L'accesso è stato registrato, ma i record precedenti non possono essere elencati";
            bytes = 0;
        }
    }
    answerWith(connection, Protocol::replyLine(Protocol::Ok, listed, bytes - listed, said));
}

void Server::answer(Connection &connection, std::string_view status, std::string_view text)
{
    answerWith(connection, Protocol::replyLine(status, 0, 0, text));
}

void Server::answerWith(Connection &connection, std::string headerLine)
{
    connection.header = std::move(headerLine);
    connection.answered = true;
    connection.deadline = Clock::now() + Protocol::ReplyTimeout;
    sendAnswer(connection);
}

void Server::close(Connection &connection)
{
    connection.fd.reset();
}

void Server::sendAnswer(Connection &connection)
{
    while (connection.sent < connection.header.size()) {
        const std::string_view unsent = std::string_view(connection.header).substr(connection.sent);
        const ssize_t sent =
            ::send(connection.fd.get(), unsent.data(), unsent.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
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
