#include "log/protocol.h"
#include "service/server.h"

#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>
#include <string>
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
    m_server.emplace(Server::Doors{m_listeners[0], m_listeners[1]}, m_log, folder + "/marks", ::getuid());
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
    struct stat status
    { };
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

    QTest::newRow("in a logind session") << "c7" << 1;
    QTest::newRow("with no session to tell it by") << "" << 2;
}

void tst_Server::aLoginAskedAgainIsRecordedOnce()
{
    QFETCH(QString, session);
    QFETCH(int, records);
    if (myName().empty())
        QSKIP("the tests' user has no name");

    const std::string request = "login\t" + myName() + "\tsshd\tssh\t" + session.toStdString() + '\n';
    for (int i = 0; i < 2; ++i)
        QCOMPARE(ask(m_loginDoor, request), std::string("ok 0 0 \n"));
    QCOMPARE(logSize(), off_t(records * std::string_view("#2002-02-02 17:41:51#\r\n").size()));
}

QTEST_GUILESS_MAIN(tst_Server)
#include "tst_server.moc"
