#include "pam/pamstep.h"
#include "record/io.h"
#include "record/journal.h"
#include "record/protocol.h"

#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using PamStep::Outcome;
using PamStep::Step;

Q_DECLARE_METATYPE(PamStep::Outcome)

namespace {

constexpr const char *OutcomeNames[] = {"NotAsked", "Recorded", "Refused", "Uncertain"};

} // namespace

namespace PamStep {

// How QCOMPARE names them.
char *toString(Outcome outcome)
{
    return qstrdup(OutcomeNames[int(outcome)]);
}
char *toString(Step step)
{
    constexpr const char *names[] = {"Nothing", "Login", "Unlock"};
    return qstrdup(names[int(step)]);
}

} // namespace PamStep

namespace {

// A recording service at 'path' that answers its clients in turn, each with
// the next of 'answers': "ok" or "error" for the service's reply, "-" to
// break off (close without a word), "gone" to break off and stop listening,
// as a service killed for good. The last answer stands for all after it.
class FakeService
{
public:
    FakeService(const std::string &path, QStringList answers)
        : m_listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)), m_answers(std::move(answers))
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        if (::bind(m_listener.get(), reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
            || ::listen(m_listener.get(), 4) != 0 || ::pipe2(m_stop, O_CLOEXEC) != 0)
            qFatal("cannot listen at %s", path.c_str());
        m_thread = std::thread([this] { serve(); });
    }
    ~FakeService()
    {
        [[maybe_unused]] const ssize_t written = ::write(m_stop[1], "", 1);
        m_thread.join();
        ::close(m_stop[0]);
        ::close(m_stop[1]);
    }

    // The request lines it heard, without their '\n'.
    std::vector<std::string> heard() const
    {
        const std::lock_guard lock(m_mutex);
        return m_heard;
    }

private:
    // Whether 'fd' has something to read before the test ends.
    bool awaits(int fd) const
    {
        pollfd watched[2] = {{fd, POLLIN, 0}, {m_stop[0], POLLIN, 0}};
        while (::poll(watched, 2, -1) < 0) { }
        return !(watched[1].revents & POLLIN);
    }

    void serve()
    {
        for (int turn = 0; m_listener.valid() && awaits(m_listener.get()); ++turn) {
            const Io::Fd client(::accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
            std::string line;
            char buffer[Protocol::MaxRequest];
            ssize_t got = 1;
            while (!line.ends_with('\n') && got > 0 && awaits(client.get())) {
                got = ::recv(client.get(), buffer, sizeof buffer, 0);
                line.append(buffer, std::size_t(std::max<ssize_t>(got, 0)));
            }
            if (line.ends_with('\n'))
                line.pop_back();
            {
                const std::lock_guard lock(m_mutex);
                m_heard.push_back(line);
            }
            const QString answer = m_answers.value(std::min<qsizetype>(turn, m_answers.size() - 1));
            std::string reply;
            if (answer == QLatin1String("ok"))
                reply = Protocol::replyLine(Protocol::Ok, 0, 0, {});
            else if (answer == QLatin1String("error"))
                reply = Protocol::replyLine(Protocol::Error, 0, 0, "il registro è pieno");
            // A client that gave up already is no failure of the test's.
            [[maybe_unused]] const ssize_t sent =
                ::send(client.get(), reply.data(), reply.size(), MSG_NOSIGNAL);
            if (answer == QLatin1String("gone"))
                m_listener.reset(); // before the client hears of it
        }
    }

    Io::Fd m_listener;
    const QStringList m_answers;
    int m_stop[2] = {-1, -1};
    mutable std::mutex m_mutex;
    std::vector<std::string> m_heard;
    std::thread m_thread;
};

} // namespace

// The PAM step's decisions, over real sockets in a temporary folder, with
// the PAM environment, the caller's uids and logind's answers made up by
// each test. The accounts are those every Debian has: root (a person) and
// daemon (a system account).
class tst_PamStep : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void aLoginOfAPersonIsAsked_data();
    void aLoginOfAPersonIsAsked();
    void anAnswerThatMayNotCome_data();
    void anAnswerThatMayNotCome();
    void aServiceThatKeepsBreakingOffHoldsUpNoLogin();
    void anUnlockIsToldOnlyWhereBelieved_data();
    void anUnlockIsToldOnlyWhereBelieved();

private:
    // A context of the tests' own: root's sockets in the temporary folder,
    // logind knowing session 'session' only, of class 'sessionClass', root's
    // own in front on its seat, and the caller in it as long as it is root.
    PamStep::Context context(const std::map<std::string, std::string> &variables, uid_t uid, uid_t euid,
                             const std::string &session = "2", const std::string &sessionClass = "user",
                             bool active = true);
    // What the step told of the accesses not surely recorded, one line each.
    QStringList told() const { return m_told; }
    std::string loginSocket() const { return m_dir->filePath(QStringLiteral("login")).toStdString(); }
    std::string accessSocket() const { return m_dir->filePath(QStringLiteral("access")).toStdString(); }

    std::unique_ptr<QTemporaryDir> m_dir;
    QStringList m_told;
};

void tst_PamStep::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_told.clear();
}

PamStep::Context tst_PamStep::context(const std::map<std::string, std::string> &variables, uid_t uid,
                                      uid_t euid, const std::string &session, const std::string &sessionClass,
                                      bool active)
{
    PamStep::Context context;
    context.variable = [variables](const char *name) {
        const auto found = variables.find(name);
        return found == variables.end() ? std::string() : found->second;
    };
    context.uid = uid;
    context.euid = euid;
    context.loginSocket = loginSocket();
    context.accessSocket = accessSocket();
    context.sessionFacts = [=](const std::string &id) -> std::optional<Lockers::Session> {
        if (id != session || sessionClass.empty())
            return std::nullopt;
        return Lockers::Session{0, sessionClass, "wayland", true, active};
    };
    context.callerSession = [=](pid_t pid, uid_t caller) {
        return pid == 0 && caller == 0 ? session : std::string();
    };
    context.tell = [this](Outcome outcome, const Journal::Access &access, std::string_view) {
        m_told << QString::fromStdString(OutcomeNames[int(outcome)] + (" " + access.user) + ' '
                                         + std::to_string(access.uid) + ' ' + access.source + ' ' + access.tty
                                         + ' ' + access.session);
    };
    return context;
}

void tst_PamStep::aLoginOfAPersonIsAsked_data()
{
    QTest::addColumn<QString>("service");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("session");
    QTest::addColumn<QString>("sessionClass");
    QTest::addColumn<QString>("askedClass");
    QTest::addColumn<uint>("uid");
    QTest::addColumn<uint>("euid");
    QTest::addColumn<QString>("request"); // empty: nothing asked

    // Root logs in on a console, in logind's session 2 of class user,
    // unless a row says otherwise.
    struct Row
    {
        const char *service = "login", *user = "root", *session = "2";
        // logind's, none where it knows no such session; and the one the
        // display manager asked for.
        const char *sessionClass = "user", *askedClass = "";
        uint uid = 0, euid = 0;
    };
    const auto row = [](const char *name, Row r, const char *request) {
        QTest::newRow(name) << r.service << r.user << r.session << r.sessionClass << r.askedClass << r.uid
                            << r.euid << request;
    };
    row("on a console", {}, "login\troot\tlogin\tpts/3\t2");
    row("over ssh", {.service = "sshd"}, "login\troot\tsshd\tpts/3\t2");
    row("before logind knows the session", {.service = "lightdm", .session = "7"},
        "login\troot\tlightdm\tpts/3\t7");
    row("in no session of logind's", {.service = "sshd", .session = ""}, "login\troot\tsshd\tpts/3\t");
    row("logind's class over the one asked for", {.service = "lightdm", .askedClass = "greeter"},
        "login\troot\tlightdm\tpts/3\t2");
    row("root's early session", {.sessionClass = "user-early"}, "login\troot\tlogin\tpts/3\t2");
    for (const char *never : {"su", "sudo", "cron", "systemd-user", "polkit-1"})
        row(never, {.service = never}, "");
    row("a greeter's session", {.service = "lightdm", .sessionClass = "greeter"}, "");
    row("a greeter asked for, not known yet", {.service = "lightdm", .session = "7", .askedClass = "greeter"},
        "");
    row("a background session", {.service = "sshd", .sessionClass = "background"}, "");
    row("a system account", {.user = "daemon"}, "");
    row("no such account", {.user = "tallix-nobody-at-all"}, "");
    row("run by a user", {.uid = 1000, .euid = 1000}, "");
    row("run with root's rights only", {.uid = 1000}, "");
    row("run as root on a user's behalf", {.euid = 1000}, "");
}

void tst_PamStep::aLoginOfAPersonIsAsked()
{
    QFETCH(QString, service);
    QFETCH(QString, user);
    QFETCH(QString, session);
    QFETCH(QString, sessionClass);
    QFETCH(QString, askedClass);
    QFETCH(uint, uid);
    QFETCH(uint, euid);
    QFETCH(QString, request);

    std::map<std::string, std::string> variables = {{"PAM_TYPE", "open_session"},
                                                    {"PAM_SERVICE", service.toStdString()},
                                                    {"PAM_USER", user.toStdString()},
                                                    {"PAM_TTY", "pts/3"},
                                                    {"XDG_SESSION_ID", session.toStdString()}};
    if (!askedClass.isEmpty())
        variables["XDG_SESSION_CLASS"] = askedClass.toStdString();
    const PamStep::Context login = context(variables, uid, euid, "2", sessionClass.toStdString());
    FakeService fake(loginSocket(), {QStringLiteral("ok")});
    QCOMPARE(PamStep::step(login), Step::Login);
    QCOMPARE(PamStep::login(login), request.isEmpty() ? Outcome::NotAsked : Outcome::Recorded);
    QCOMPARE(told(), QStringList());
    const std::vector<std::string> heard = fake.heard();
    QCOMPARE(heard.size(), std::size_t(request.isEmpty() ? 0 : 1));
    if (!request.isEmpty())
        QCOMPARE(QString::fromStdString(heard[0]), request);
}

void tst_PamStep::anAnswerThatMayNotCome_data()
{
    QTest::addColumn<bool>("unlock");
    QTest::addColumn<QString>("session");
    QTest::addColumn<QStringList>("answers"); // empty: no service at all
    QTest::addColumn<int>("asked");
    QTest::addColumn<Outcome>("outcome");

    const QStringList brokenOffOnce = {QStringLiteral("-"), QStringLiteral("ok")};
    QTest::newRow("no service") << false << "2" << QStringList() << 0 << Outcome::Refused;
    QTest::newRow("the service's no") << false << "2" << QStringList{"error"} << 1 << Outcome::Refused;
    QTest::newRow("broken off, then answered") << false << "2" << brokenOffOnce << 2 << Outcome::Recorded;
    QTest::newRow("broken off, with no session to tell it by")
        << false << "" << brokenOffOnce << 1 << Outcome::Uncertain;
    QTest::newRow("broken off, then no service")
        << false << "2" << QStringList{"gone"} << 1 << Outcome::Uncertain;
    QTest::newRow("an unlock's no") << true << "2" << QStringList{"error"} << 1 << Outcome::Refused;
    QTest::newRow("an unlock broken off") << true << "2" << brokenOffOnce << 1 << Outcome::Uncertain;
}

// A login is asked again while the service broke off, where its session id
// keeps it from being recorded twice; an unlock never is.
void tst_PamStep::anAnswerThatMayNotCome()
{
    QFETCH(bool, unlock);
    QFETCH(QString, session);
    QFETCH(QStringList, answers);
    QFETCH(int, asked);
    QFETCH(Outcome, outcome);

    const PamStep::Context caller = context({{"PAM_SERVICE", unlock ? "swaylock" : "sshd"},
                                             {"PAM_USER", "root"},
                                             {"PAM_TTY", "pts/3"},
                                             {"XDG_SESSION_ID", session.toStdString()}},
                                            0, 0, session.isEmpty() ? "2" : session.toStdString());
    std::optional<FakeService> service;
    if (!answers.isEmpty())
        service.emplace(unlock ? accessSocket() : loginSocket(), answers);
    QCOMPARE(unlock ? PamStep::unlock(caller) : PamStep::login(caller), outcome);
    QCOMPARE(service ? int(service->heard().size()) : 0, asked);
    // With the fields the service gives its own entries.
    QStringList expected;
    if (outcome != Outcome::Recorded)
        expected << QLatin1String(OutcomeNames[int(outcome)])
                + (unlock ? QStringLiteral(" root 0 unlock  2") : " root 0 ssh pts/3 " + session);
    QCOMPARE(told(), expected);
}

// Asked again and again, until the login's time-out.
void tst_PamStep::aServiceThatKeepsBreakingOffHoldsUpNoLogin()
{
    const PamStep::Context login =
        context({{"PAM_SERVICE", "sshd"}, {"PAM_USER", "root"}, {"XDG_SESSION_ID", "2"}}, 0, 0);
    FakeService service(loginSocket(), {QStringLiteral("-")});
    QCOMPARE(PamStep::login(login), Outcome::Uncertain);
    QCOMPARE(told(), QStringList{"Uncertain root 0 ssh  2"});
    QVERIFY(service.heard().size() > 2);
}

void tst_PamStep::anUnlockIsToldOnlyWhereBelieved_data()
{
    QTest::addColumn<QString>("service");
    QTest::addColumn<QString>("user");
    QTest::addColumn<uint>("uid");
    QTest::addColumn<uint>("euid");
    QTest::addColumn<bool>("active");
    QTest::addColumn<bool>("forks");      // the step runs the unlock at all
    QTest::addColumn<QString>("request"); // empty: nothing told

    // Root's swaylock checked root's password, in root's session, in front
    // on its seat, unless a row says otherwise.
    struct Row
    {
        const char *service = "swaylock", *user = "root";
        uint uid = 0, euid = 0;
        bool active = true;
    };
    const auto row = [](const char *name, Row r, bool forks, const char *request) {
        QTest::newRow(name) << r.service << r.user << r.uid << r.euid << r.active << forks << request;
    };
    row("a locker in its user's session", {}, true, "unlock\troot\tswaylock");
    row("a login's service", {.service = "login"}, false, "");
    row("another user's password", {.user = "daemon"}, true, "");
    row("a caller whose uids differ", {.euid = 1000}, true, "");
    row("a session behind another", {.active = false}, true, "");
}

void tst_PamStep::anUnlockIsToldOnlyWhereBelieved()
{
    QFETCH(QString, service);
    QFETCH(QString, user);
    QFETCH(uint, uid);
    QFETCH(uint, euid);
    QFETCH(bool, active);
    QFETCH(bool, forks);
    QFETCH(QString, request);

    const PamStep::Context caller = context(
        {{"PAM_TYPE", "auth"}, {"PAM_SERVICE", service.toStdString()}, {"PAM_USER", user.toStdString()}}, uid,
        euid, "2", "user", active);
    FakeService fake(accessSocket(), {QStringLiteral("ok")});
    QCOMPARE(PamStep::step(caller), forks ? Step::Unlock : Step::Nothing);
    QCOMPARE(PamStep::unlock(caller), request.isEmpty() ? Outcome::NotAsked : Outcome::Recorded);
    QCOMPARE(told(), QStringList());
    const std::vector<std::string> heard = fake.heard();
    QCOMPARE(heard.size(), std::size_t(request.isEmpty() ? 0 : 1));
    if (!request.isEmpty())
        QCOMPARE(QString::fromStdString(heard[0]), request);
}

QTEST_GUILESS_MAIN(tst_PamStep)
#include "tst_pamstep.moc"
