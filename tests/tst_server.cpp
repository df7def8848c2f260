#include "record/accesslog.h"
#include "record/io.h"
#include "record/protocol.h"
#include "service/inflight.h"
#include "service/layout.h"
#include "service/mender.h"
#include "service/server.h"

#include <QTemporaryDir>
#include <QTest>

#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

sockaddr_un addressOf(const std::string &path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    return address;
}

int listenAt(const std::string &path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = addressOf(path);
    ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    ::listen(fd, 16);
    return fd;
}

// The tests' sessions are no logind's: none has ended, and none is
// another of the user's.
class StillOpen final : public Sessions
{
public:
    std::optional<uid_t> uid(const std::string &) const override { return std::nullopt; }
    std::optional<std::string> sessionClass(const std::string &) const override { return std::nullopt; }
    std::optional<std::string> state(const std::string &) const override { return "active"; }
    std::optional<std::string> type(const std::string &) const override { return std::nullopt; }
    std::vector<std::string> all() const override { return {}; }
    std::vector<std::string> ofUser(uid_t) const override { return {}; }
    std::optional<std::string> activeOn(const std::string &) const override { return std::nullopt; }
    std::optional<std::string> seat(const std::string &) const override { return std::nullopt; }
    bool isActive(const std::string &) const override { return true; }
};
const StillOpen stillOpen;

std::string myName()
{
    const passwd *entry = ::getpwuid(::getuid());
    return entry ? entry->pw_name : std::string();
}

} // namespace

// The service's decisions, driven turn by turn over real sockets in a
// temporary folder, as its own user and as the uid it takes for root.
class tst_Server : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void aClientThatNeverReadsFailsNoOneElse();
    void rootsDoorOpensWhenTheUsersShareIsTaken();
    void loginsComeOnlyThroughRootsDoor_data();
    void loginsComeOnlyThroughRootsDoor();
    void aLoginAskedAgainIsRecordedOnce_data();
    void aLoginAskedAgainIsRecordedOnce();
    void aMarkLeavesTheNoteOfAnAccessAlone();
    void anAccessAtRootsDoorThatClosesItsEnd();
    void aLoginLeftHalfDoneIsFinishedOnce_data();
    void aLoginLeftHalfDoneIsFinishedOnce();
    void aLoginWaitsForOneUsersAppendAtMost();
    void whatIsWrongWithThePlace_data();
    void whatIsWrongWithThePlace();
    void thePlaceIsPutRightBeforeTheAppend();
    void rootsSideMendsOnlyWhatItSaysItMended_data();
    void rootsSideMendsOnlyWhatItSaysItMended();

private:
    int connectTo(const std::string &door, std::string_view request);
    // The reply to a client, serving turns until it closes.
    std::string replyTo(int client);
    std::string ask(const std::string &door, std::string_view request)
    {
        return replyTo(connectTo(door, request));
    }
    off_t logSize() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::string m_accessDoor;
    std::string m_loginDoor;
    std::string m_log;
    int m_listeners[2] = {-1, -1};
    std::optional<Server> m_server;
};

void tst_Server::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    const std::string folder = m_dir->path().toStdString();
    m_accessDoor = folder + "/access";
    m_loginDoor = folder + "/login";
    m_log = folder + "/Date.txt";
    ::close(::open(m_log.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    ::mkdir((folder + "/marks").c_str(), 0700);
    m_listeners[0] = listenAt(m_accessDoor);
    m_listeners[1] = listenAt(m_loginDoor);
    m_server.emplace(Server::Doors{m_listeners[0], m_listeners[1]}, m_log, folder + "/marks", ::getuid(),
                     stillOpen);
}

void tst_Server::cleanup()
{
    m_server.reset();
    for (const int listener : m_listeners)
        ::close(listener);
}

int tst_Server::connectTo(const std::string &door, std::string_view request)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = addressOf(door);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
        qFatal("cannot connect to %s", door.c_str());
    [[maybe_unused]] const ssize_t sent = ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    return fd;
}

std::string tst_Server::replyTo(int client)
{
    std::string reply;
    for (int turn = 0; turn < 100; ++turn) {
        m_server->turn(std::chrono::milliseconds(20));
        char buffer[Protocol::MaxHeader];
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
        iovec piece{buffer, sizeof buffer};
        msghdr message{};
        message.msg_iov = &piece;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t got = ::recvmsg(client, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
        if (got > 0 && message.msg_controllen != 0)
            reply += "[with a descriptor]";
        if (got == 0)
            break;
        if (got > 0)
            reply.append(buffer, std::size_t(got));
    }
    ::close(client);
    return reply;
}

off_t tst_Server::logSize() const
{
    struct stat status = {};
    ::stat(m_log.c_str(), &status);
    return status.st_size;
}

void tst_Server::aClientThatNeverReadsFailsNoOneElse()
{
    const int silent = connectTo(m_accessDoor, "access\n");
    m_server->turn(std::chrono::milliseconds(20));
    m_server->turn(std::chrono::milliseconds(20));
    const off_t before = logSize();
    QVERIFY(before > 0);
    QCOMPARE(ask(m_accessDoor, "access\n"), "ok " + std::to_string(before) + " 0 \n");
    ::close(silent);
}

void tst_Server::rootsDoorOpensWhenTheUsersShareIsTaken()
{
    if (myName().empty())
        QSKIP("the tests' user has no name");
    std::vector<int> silent;
    for (int i = 0; i < Protocol::MaxConnectionsPerPerson; ++i)
        silent.push_back(connectTo(m_accessDoor, ""));
    QVERIFY(ask(m_accessDoor, "access\n").starts_with("error 0 0 "));
    QCOMPARE(ask(m_loginDoor, "login\t" + myName() + "\tlogin\ttty1\t\n"), std::string("ok 0 0 \n"));
    for (const int fd : silent)
        ::close(fd);
}

void tst_Server::loginsComeOnlyThroughRootsDoor_data()
{
    QTest::addColumn<bool>("atRootsDoor");
    QTest::addColumn<bool>("asRoot");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("status");

    QTest::newRow("a login at root's door")
        << true << true << QByteArray("login\t%1\tsshd\tssh\t7\n") << QByteArray("ok");
    QTest::newRow("a login at the users' door")
        << false << true << QByteArray("login\t%1\tsshd\tssh\t7\n") << QByteArray("error");
    QTest::newRow("a login of a user at root's door")
        << true << false << QByteArray("login\t%1\tsshd\tssh\t7\n") << QByteArray("error");
    QTest::newRow("an access at root's door") << true << true << QByteArray("access\n") << QByteArray("ok");
    QTest::newRow("an access of a user at root's door")
        << true << false << QByteArray("access\n") << QByteArray("error");
    QTest::newRow("not a request") << true << true << QByteArray("login\t%1\n") << QByteArray("error");
}

void tst_Server::loginsComeOnlyThroughRootsDoor()
{
    QFETCH(bool, atRootsDoor);
    QFETCH(bool, asRoot);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, status);
    if (myName().empty())
        QSKIP("the tests' user has no name");
    if (!asRoot)
        m_server.emplace(Server::Doors{m_listeners[0], m_listeners[1]}, m_log,
                         m_dir->filePath(QStringLiteral("marks")).toStdString(), ::getuid() + 1);

    const std::string reply = ask(atRootsDoor ? m_loginDoor : m_accessDoor,
                                  request.replace("%1", QByteArray::fromStdString(myName())).toStdString());
    QVERIFY2(reply.starts_with(status.toStdString() + ' '), reply.c_str());
    QCOMPARE(logSize() > 0, status == "ok");
}

void tst_Server::aLoginAskedAgainIsRecordedOnce_data()
{
    QTest::addColumn<QString>("session");
    QTest::addColumn<int>("records");

    QTest::addColumn<bool>("claimedBetween");

    QTest::newRow("in a logind session") << "c7" << 1 << false;
    QTest::newRow("after the session's first logger took it") << "c7" << 1 << true;
    QTest::newRow("with no session to tell it by") << "" << 2 << false;
}

// PAM asks again when the service broke off its answer.
void tst_Server::aLoginAskedAgainIsRecordedOnce()
{
    QFETCH(QString, session);
    QFETCH(int, records);
    QFETCH(bool, claimedBetween);
    if (myName().empty())
        QSKIP("the tests' user has no name");

    const std::string request = "login\t" + myName() + "\tsshd\tssh\t" + session.toStdString() + '\n';
    QCOMPARE(ask(m_loginDoor, request), std::string("ok 0 0 \n"));
    if (claimedBetween)
        QVERIFY(SessionMarks(m_dir->filePath(QStringLiteral("marks")).toStdString(), stillOpen)
                    .claim(::getuid(), session.toStdString()));
    QCOMPARE(ask(m_loginDoor, request), std::string("ok 0 0 \n"));
    QCOMPARE(logSize(), off_t(records * AccessLog::FullLine));
}

// Marking a login forgets the marks of sessions that ended, and what a
// mark's interrupted write left, but never the note of the access being
// written: a kill after it would leave a record with no entry.
void tst_Server::aMarkLeavesTheNoteOfAnAccessAlone()
{
    const std::string marks = m_dir->filePath(QStringLiteral("marks")).toStdString();
    InFlight(marks + "/in-flight")
        .note({0, "#2026-12-10 08:00:00#", true, {::getuid(), "someone", "ssh", "", "c4"}});
    ::close(::open((marks + "/c3.new").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
    SessionMarks(marks, stillOpen).mark("c5", ::getuid(), 0);
    QVERIFY(InFlight(marks + "/in-flight").left());
    QVERIFY(::access((marks + "/c3.new").c_str(), F_OK) != 0);
    QVERIFY(::access((marks + "/c5").c_str(), F_OK) == 0);
}

// Served from within the turn that serves root's door: the connection it
// closes must not be served again from within its own answer.
void tst_Server::anAccessAtRootsDoorThatClosesItsEnd()
{
    const int client = connectTo(m_loginDoor, "access\n");
    ::shutdown(client, SHUT_WR);
    QVERIFY(replyTo(client).starts_with("ok 0 0 "));
    QCOMPARE(logSize(), off_t(AccessLog::FullLine));
}

void tst_Server::aLoginLeftHalfDoneIsFinishedOnce_data()
{
    QTest::addColumn<bool>("written");

    QTest::newRow("killed after its record") << true;
    QTest::newRow("killed before its record") << false;
}

// A service killed in the middle of a login: the one started after it
// finds the note, and PAM's retry records the login once either way.
void tst_Server::aLoginLeftHalfDoneIsFinishedOnce()
{
    QFETCH(bool, written);
    if (myName().empty())
        QSKIP("the tests' user has no name");
    const std::string record = "#2026-12-10 08:00:00#";
    if (written) {
        QFile log(QString::fromStdString(m_log));
        QVERIFY(log.open(QIODevice::Append) && log.write(QByteArray::fromStdString(record + "\r\n")) > 0);
    }
    const std::string marks = m_dir->filePath(QStringLiteral("marks")).toStdString();
    InFlight(marks + "/in-flight").note({0, record, true, {::getuid(), myName(), "ssh", "ssh", "c9"}});
    m_server.emplace(Server::Doors{m_listeners[0], m_listeners[1]}, m_log, marks, ::getuid(), stillOpen);

    QVERIFY(!InFlight(marks + "/in-flight").left());
    QCOMPARE(ask(m_loginDoor, "login\t" + myName() + "\tsshd\tssh\tc9\n"), std::string("ok 0 0 \n"));
    QCOMPARE(logSize(), off_t(AccessLog::FullLine));
}

// The login comes while users' requests wait: it is answered after one
// user's append at most, not after the turn's.
void tst_Server::aLoginWaitsForOneUsersAppendAtMost()
{
    if (myName().empty())
        QSKIP("the tests' user has no name");
    std::vector<int> users;
    for (int i = 0; i < Protocol::MaxConnectionsPerPerson; ++i)
        users.push_back(connectTo(m_accessDoor, "access\n"));
    m_server->turn(std::chrono::milliseconds(20)); // all accepted
    // The place looks wrong to the service (the folder is a temporary one's),
    // so this runs before each append: the login comes during the first.
    int login = -1;
    m_server->mendThrough([&] {
        if (login < 0)
            login = connectTo(m_loginDoor, "login\t" + myName() + "\tsshd\tssh\tc8\n");
        return false;
    });
    m_server->turn(std::chrono::milliseconds(20));
    std::ifstream mark(m_dir->filePath(QStringLiteral("marks/c8")).toStdString());
    std::size_t uid = 0, offset = 0;
    QVERIFY(mark >> uid >> offset);
    QCOMPARE(offset, std::size_t(AccessLog::FullLine));
    QCOMPARE(logSize(), off_t(5 * AccessLog::FullLine));
    for (const int fd : users)
        ::close(fd);
    ::close(login);
}

void tst_Server::whatIsWrongWithThePlace_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("found");

    // clang-format off: one row a line, as a table reads
    QTest::newRow("as it should be") << ""
                                     << "";
    QTest::newRow("the log replaced by root's copy") << "log owner 0"
                                                     << "il registro appartiene all'utente 0";
    QTest::newRow("the log made private") << "log mode 600"
                                          << "il registro ha i permessi 600";
    QTest::newRow("the log gone") << "log gone"
                                  << "il registro non c'è";
    QTest::newRow("the log a link") << "log link"
                                    << "il registro non è un file regolare";
    QTest::newRow("the lock gone") << "lock gone"
                                   << "il file di blocco non c'è";
    QTest::newRow("the lock opened to all") << "lock mode 644"
                                            << "il file di blocco ha i permessi 644";
    QTest::newRow("the folder gone, and all in it") << "folder gone"
                                                    << "la cartella del registro non c'è";
    QTest::newRow("the folder root's") << "folder owner 0"
                                       << "la cartella del registro appartiene all'utente 0";
    // clang-format on
}

void tst_Server::whatIsWrongWithThePlace()
{
    QFETCH(QString, change);
    QFETCH(QString, found);
    struct stat folder = {}, log = {}, lock = {};
    folder.st_mode = S_IFDIR | Layout::FolderMode;
    log.st_mode = S_IFREG | Layout::LogMode;
    lock.st_mode = S_IFREG | Layout::LockMode;
    folder.st_uid = log.st_uid = lock.st_uid = 113;
    Layout::Found folderFound = folder, logFound = log, lockFound = lock;
    const QStringList words = change.split(QLatin1Char(' '));
    Layout::Found &changed = words[0] == QLatin1String("folder") ? folderFound
        : words[0] == QLatin1String("log")                       ? logFound
                                                                 : lockFound;
    if (words.value(1) == QLatin1String("gone"))
        changed.reset();
    else if (words.value(1) == QLatin1String("link"))
        changed->st_mode = S_IFLNK | 0777;
    else if (words.value(1) == QLatin1String("owner"))
        changed->st_uid = words[2].toUInt();
    else if (words.value(1) == QLatin1String("mode"))
        changed->st_mode = (changed->st_mode & S_IFMT) | words[2].toUInt(nullptr, 8);
    QStringList problems;
    for (const std::string &problem : Layout::problems(folderFound, logFound, lockFound, 113))
        problems << QString::fromStdString(problem);
    QCOMPARE(problems.join(QLatin1String("; ")), found);
}

// What was wrong is put right first, and the access that found it is
// recorded after the bytes that were there.
void tst_Server::thePlaceIsPutRightBeforeTheAppend()
{
    const QString folder = m_dir->path();
    QVERIFY(QFile::setPermissions(folder, QFileDevice::Permissions(0x7755)));
    const std::string lock = m_log + ".lock";
    ::close(::open(lock.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600));
    ::chmod(lock.c_str(), 0600);
    ::chmod(m_log.c_str(), 0644);
    QVERIFY(ask(m_accessDoor, "access\n").starts_with("ok "));
    ::chmod(m_log.c_str(), 0444); // as root's copy would be, to the service
    int mended = 0;
    m_server->mendThrough([&] {
        ++mended;
        return ::chmod(m_log.c_str(), 0644) == 0;
    });
    QVERIFY(ask(m_accessDoor, "access\n").starts_with("ok " + std::to_string(AccessLog::FullLine) + " "));
    QCOMPARE(mended, 1);
    QCOMPARE(logSize(), off_t(2 * AccessLog::FullLine));
    QVERIFY(ask(m_accessDoor, "access\n").starts_with("ok "));
    QCOMPARE(mended, 1);
}

void tst_Server::rootsSideMendsOnlyWhatItSaysItMended_data()
{
    QTest::addColumn<QString>("side");
    QTest::addColumn<bool>("mended");

    QTest::newRow("it says so") << "mended" << true;
    QTest::newRow("it closes saying nothing") << "closes" << false;
    QTest::newRow("it says nothing for too long") << "silent" << false;
    QTest::newRow("no one listens") << "none" << false;
    QTest::newRow("a path too long for a socket") << "too long" << false;
}

void tst_Server::rootsSideMendsOnlyWhatItSaysItMended()
{
    QFETCH(QString, side);
    QFETCH(bool, mended);
    std::string path = m_dir->filePath(QStringLiteral("mend")).toStdString();
    if (side == QLatin1String("too long"))
        path += '/' + std::string(sizeof(sockaddr_un::sun_path), 'm');
    // Waits for the mender at most this long, so that a mender that never
    // comes, or never leaves, fails the test rather than hangs it.
    constexpr int Bound = 10000;
    const auto waitFor = [](int fd) {
        pollfd watched{fd, POLLIN, 0};
        return ::poll(&watched, 1, Bound) > 0;
    };
    std::thread root;
    const Io::Fd listener(
        side == QLatin1String("none") || side == QLatin1String("too long") ? -1 : listenAt(path));
    if (listener.valid())
        root = std::thread([&] {
            if (!waitFor(listener.get()))
                return;
            const Io::Fd client(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (side == QLatin1String("mended"))
                Io::writeAll(client.get(), Mender::Mended);
            else if (side == QLatin1String("silent"))
                waitFor(client.get()); // until the mender gives up and closes
        });
    const bool said = Mender(path).mend();
    if (root.joinable())
        root.join();
    QCOMPARE(said, mended);
}

QTEST_GUILESS_MAIN(tst_Server)
#include "tst_server.moc"
