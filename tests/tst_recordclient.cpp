#include "record/io.h"
#include "record/recordclient.h"
#include "service/request.h"

#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// A listening socket at 'path' whose one client gets the reply line
// 'header', with 'log' written first to the log at 'logPath', or nothing at
// all when the header is null.
class FakeService
{
public:
    FakeService(const std::string &path, const char *header, const std::string &log = {},
                const std::string &logPath = {})
        : m_fd(::socket(AF_UNIX, SOCK_STREAM, 0))
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        ::bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
        ::listen(m_fd, 4);
        if (!logPath.empty()) {
            const int file = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            Io::writeAll(file, log);
            ::close(file);
        }
        if (header)
            m_thread = std::thread([this, header = std::string(header)] { serve(header); });
    }
    ~FakeService()
    {
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_fd);
    }

private:
    void serve(const std::string &header)
    {
        const int client = ::accept(m_fd, nullptr, nullptr);
        char request[Protocol::MaxRequest];
        [[maybe_unused]] const ssize_t got = ::recv(client, request, sizeof request, 0);
        Io::writeAll(client, header);
        ::close(client);
    }

    int m_fd;
    std::thread m_thread;
};

const std::string Record = "#2002-02-02 17:41:51#\r\n";

} // namespace

class tst_RecordClient : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }
    void requestLinesAreCheckedField_data();
    void requestLinesAreCheckedField();
    void takesTheRecordsAndWhatWasLeftOut();
    void refusesRecordsTheLogDoesNotHold();
    void passesOnTheServicesRefusal();
    void givesUpAtItsDeadline();
    void tellsAConnectionBrokenOffBeforeTheAnswer();
    void listsNothingFromALogItCannotRead();
    void namesTheSocketToStartWhenNoServiceListens();

private:
    std::string socketPath() const { return m_dir->filePath(QStringLiteral("s")).toStdString(); }
    std::string logPath() const { return m_dir->filePath(QStringLiteral("Date.txt")).toStdString(); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_RecordClient::requestLinesAreCheckedField_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("source");

    QTest::newRow("the logger's") << QByteArray("access") << true << "logger";
    QTest::newRow("console login") << QByteArray("login\tbob\tlogin\ttty1\t3") << true << "console";
    QTest::newRow("ssh login") << QByteArray("login\tbob\tsshd\tssh\t4") << true << "ssh";
    QTest::newRow("display manager") << QByteArray("login\tbob\tgdm-password\t/dev/tty2\tc1") << true
                                     << "graphical gdm-password";
    QTest::newRow("no tty, no session") << QByteArray("login\tbob\tsshd\t\t") << true << "ssh";
    QTest::newRow("a field short") << QByteArray("login\tbob\tsshd\ttty") << false << "";
    QTest::newRow("a field over") << QByteArray("login\tbob\tsshd\ttty\t3\tx") << false << "";
    QTest::newRow("no user") << QByteArray("login\t\tsshd\ttty\t3") << false << "";
    QTest::newRow("escape in a name") << QByteArray("login\tbob\x1b[2J\tsshd\ttty\t3") << false << "";
    QTest::newRow("name too long") << "login\t" + QByteArray(200, 'a') + "\tsshd\ttty\t3" << false << "";
    QTest::newRow("unknown") << QByteArray("record") << false << "";
    QTest::newRow("access with more") << QByteArray("access\tbob") << false << "";
    QTest::newRow("a locker's unlock") << QByteArray("unlock\tbob\tmate-screensaver") << true << "unlock";
    QTest::newRow("an unlock with a login's fields") << QByteArray("unlock\tbob\tkde\ttty\t3") << false << "";
    QTest::newRow("an unlock naming no service") << QByteArray("unlock\tbob\t") << false << "";
}

void tst_RecordClient::requestLinesAreCheckedField()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, valid);
    QFETCH(QString, source);

    const std::optional<Request> request = Request::parse(line.toStdString());
    QCOMPARE(request.has_value(), valid);
    if (request)
        QCOMPARE(QString::fromStdString(request->source()), source);
}

void tst_RecordClient::takesTheRecordsAndWhatWasLeftOut()
{
    FakeService service(socketPath(), "ok 23 46 tolta una riga incompleta\n",
                        Record + Record + Record + Record, logPath());
    RecordClient client(socketPath(), logPath());
    QVERIFY2(client.request(Protocol::AccessRequest, std::chrono::seconds(30)), client.errorString().c_str());
    QCOMPARE(client.records(), std::string_view(Record));
    QCOMPARE(client.omitted(), std::size_t(46));
    QCOMPARE(client.notice(), std::string("tolta una riga incompleta"));
    QVERIFY(client.outcome() == RecordClient::Outcome::Recorded);
}

void tst_RecordClient::refusesRecordsTheLogDoesNotHold()
{
    FakeService service(socketPath(), "ok 46 0 \n", Record, logPath());
    RecordClient client(socketPath(), logPath());
    QVERIFY(!client.request(Protocol::AccessRequest, std::chrono::seconds(30)));
    QVERIFY2(client.errorString().find("non valida") != std::string::npos, client.errorString().c_str());
}

void tst_RecordClient::passesOnTheServicesRefusal()
{
    FakeService service(socketPath(), "error 0 0 Impossibile scrivere nel file: spazio esaurito\n");
    RecordClient client(socketPath());
    QVERIFY(!client.request(Protocol::AccessRequest, std::chrono::seconds(30)));
    QCOMPARE(client.errorString(), std::string("Impossibile scrivere nel file: spazio esaurito"));
    QVERIFY(client.outcome() == RecordClient::Outcome::Refused);
}

// A service that never answers must not hold up a login past the deadline.
void tst_RecordClient::givesUpAtItsDeadline()
{
    FakeService service(socketPath(), nullptr);
    RecordClient client(socketPath());
    QVERIFY(!client.request(Protocol::AccessRequest, std::chrono::milliseconds(200)));
    QVERIFY2(client.errorString().find("in tempo") != std::string::npos, client.errorString().c_str());
    QVERIFY(!client.brokenOff());
    QVERIFY(client.outcome() == RecordClient::Outcome::Unknown);
}

// A service killed while it served: the PAM step asks again, and cannot
// say whether the access was recorded until it has an answer.
void tst_RecordClient::tellsAConnectionBrokenOffBeforeTheAnswer()
{
    {
        FakeService service(socketPath(), "");
        RecordClient client(socketPath());
        QVERIFY(!client.request(Protocol::AccessRequest, std::chrono::seconds(30)));
        QVERIFY(client.brokenOff());
        QVERIFY(client.outcome() == RecordClient::Outcome::Unknown);
    }
    FakeService service(socketPath() + '2', "error 0 0 no\n");
    RecordClient client(socketPath() + '2');
    QVERIFY(!client.request(Protocol::AccessRequest, std::chrono::seconds(30)));
    QVERIFY(!client.brokenOff());
}

// The access is recorded: asking again would record it twice.
void tst_RecordClient::listsNothingFromALogItCannotRead()
{
    FakeService service(socketPath(), "ok 23 0 \n");
    RecordClient client(socketPath(), logPath());
    QVERIFY2(client.request(Protocol::AccessRequest, std::chrono::seconds(30)), client.errorString().c_str());
    QVERIFY(client.records().empty());
    QVERIFY2(client.notice().find(logPath()) != std::string::npos, client.notice().c_str());
}

void tst_RecordClient::namesTheSocketToStartWhenNoServiceListens()
{
    RecordClient client(socketPath());
    QVERIFY(!client.request(Protocol::AccessRequest, std::chrono::seconds(1)));
    QVERIFY2(client.errorString().find(socketPath()) != std::string::npos, client.errorString().c_str());
    QVERIFY2(client.errorString().find("systemctl start tallix-record.socket tallix-login.socket")
                 != std::string::npos,
             client.errorString().c_str());
    QVERIFY(client.outcome() == RecordClient::Outcome::Unreachable);
}

QTEST_GUILESS_MAIN(tst_RecordClient)
#include "tst_recordclient.moc"
