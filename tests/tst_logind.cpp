#include "record/io.h"
#include "record/sessions.h"
#include "service/logind.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

using namespace std::chrono_literals;
using Clock = Logind::Clock;

namespace {

constexpr char Login1[] = "org.freedesktop.login1";
constexpr char Manager[] = "org.freedesktop.login1.Manager";
constexpr char SessionInterface[] = "org.freedesktop.login1.Session";
constexpr char SessionPaths[] = "/org/freedesktop/login1/session";
constexpr char Bus[] = "org.freedesktop.DBus";
// What any awaited step may take on a busy machine under the sanitizers.
constexpr auto Patience = 20s;
// The session whose unlock tells that logind's signals before it were heard.
constexpr char Marker[] = "z";

struct BusCloser
{
    void operator()(sd_bus *bus) const { sd_bus_flush_close_unref(bus); }
};
using BusPtr = std::unique_ptr<sd_bus, BusCloser>;

struct MessageUnref
{
    void operator()(sd_bus_message *message) const { sd_bus_message_unref(message); }
};
using MessagePtr = std::unique_ptr<sd_bus_message, MessageUnref>;

// A client of the bus at 'address', as logind and other programs are.
BusPtr connectTo(const std::string &address)
{
    sd_bus *bus = nullptr;
    if (sd_bus_new(&bus) < 0)
        return nullptr;
    BusPtr connection(bus);
    if (sd_bus_set_address(bus, address.c_str()) < 0 || sd_bus_set_bus_client(bus, 1) < 0
        || sd_bus_start(bus) < 0)
        return nullptr;
    return connection;
}

std::string uniqueName(sd_bus *bus)
{
    const char *name = nullptr;
    return sd_bus_get_unique_name(bus, &name) >= 0 ? name : "";
}

std::string sessionPath(const std::string &session)
{
    if (session.starts_with('/'))
        return session;
    Io::CString path;
    sd_bus_path_encode(SessionPaths, session.c_str(), path.out());
    return path.get() ? path.get() : "";
}

// The signal for 'event', sent by 'bus': "lock 1", "unlock 1", "hint 1 on"
// (the LockedHint changed, beside another property), "idle 1" (another
// property alone), "removed 1", "sleep", "wake", and "owner": the bus's word
// that 'bus' owns logind's name now.
MessagePtr signalFor(sd_bus *bus, const QString &event)
{
    const QStringList words = event.split(u' ');
    const QString verb = words.first();
    const std::string session = words.value(1).toStdString();
    const std::string path = sessionPath(session);
    sd_bus_message *message = nullptr;
    int result = -EINVAL;
    if (verb == u"sleep" || verb == u"wake") {
        result =
            sd_bus_message_new_signal(bus, &message, "/org/freedesktop/login1", Manager, "PrepareForSleep");
        if (result >= 0)
            result = sd_bus_message_append(message, "b", int(verb == u"sleep"));
    } else if (verb == u"removed") {
        result =
            sd_bus_message_new_signal(bus, &message, "/org/freedesktop/login1", Manager, "SessionRemoved");
        if (result >= 0)
            result = sd_bus_message_append(message, "so", session.c_str(), path.c_str());
    } else if (verb == u"owner") {
        result = sd_bus_message_new_signal(bus, &message, "/org/freedesktop/DBus", Bus, "NameOwnerChanged");
        if (result >= 0)
            result = sd_bus_message_append(message, "sss", Login1, "", uniqueName(bus).c_str());
    } else if (verb == u"lock" || verb == u"unlock") {
        result = sd_bus_message_new_signal(bus, &message, path.c_str(), SessionInterface,
                                           verb == u"lock" ? "Lock" : "Unlock");
    } else if (verb == u"hint" || verb == u"idle") {
        result = sd_bus_message_new_signal(bus, &message, path.c_str(), "org.freedesktop.DBus.Properties",
                                           "PropertiesChanged");
        if (result >= 0 && verb == u"hint")
            result = sd_bus_message_append(message, "sa{sv}as", SessionInterface, 2, "IdleHint", "b", 0,
                                           "LockedHint", "b", int(words.value(2) == u"on"), 0);
        else if (result >= 0)
            result = sd_bus_message_append(message, "sa{sv}as", SessionInterface, 1, "IdleHint", "b", 1, 0);
    }
    MessagePtr built(message);
    return result >= 0 ? std::move(built) : nullptr;
}

// What sd-login would say of the sessions, as each test sets it.
class FakeSessions final : public Sessions
{
public:
    struct Session
    {
        uid_t uid;
        std::string sessionClass;
    };

    std::optional<uid_t> uid(const std::string &session) const override
    {
        const auto found = table.find(session);
        return found == table.end() ? std::nullopt : std::optional<uid_t>(found->second.uid);
    }
    std::optional<std::string> sessionClass(const std::string &session) const override
    {
        const auto found = table.find(session);
        return found == table.end() ? std::nullopt : std::optional<std::string>(found->second.sessionClass);
    }
    std::optional<std::string> state(const std::string &session) const override
    {
        return table.count(session) ? std::optional<std::string>("active") : std::nullopt;
    }
    std::optional<std::string> type(const std::string &session) const override
    {
        return table.count(session) ? std::optional<std::string>("wayland") : std::nullopt;
    }
    std::vector<std::string> all() const override
    {
        std::vector<std::string> sessions;
        for (const auto &[session, _] : table)
            sessions.push_back(session);
        return sessions;
    }
    std::vector<std::string> ofUser(uid_t uid) const override
    {
        std::vector<std::string> sessions;
        for (const auto &[session, entry] : table) {
            if (entry.uid == uid)
                sessions.push_back(session);
        }
        return sessions;
    }
    std::optional<std::string> activeOn(const std::string &seat) const override
    {
        return seat == "seat0" ? active : std::nullopt;
    }
    std::optional<std::string> seat(const std::string &) const override { return std::nullopt; }
    bool isActive(const std::string &) const override { return false; }

    // Persons 1000 and 1001, a background session of 1000's, a greeter, a
    // system account's own session, and the marker's; sd-login does not
    // know "x".
    std::map<std::string, Session> table{
        {"1", {1000, "user"}},   {"2", {1001, "user"}}, {"b", {1000, "background"}},
        {"g", {110, "greeter"}}, {"s", {110, "user"}},  {Marker, {1002, "user"}},
    };
    std::optional<std::string> active;
};

// logind's side: its own connection, which owns its name, answers what its
// sessions' LockedHint is, and sends its signals. It serves on a thread of
// its own, since the service waits for its answers.
class FakeLogind
{
public:
    explicit FakeLogind(const std::string &address)
        : m_bus(connectTo(address)), m_wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    {
        if (!m_bus || sd_bus_add_fallback(m_bus.get(), nullptr, SessionPaths, onCall, this) < 0)
            m_bus.reset();
        if (m_bus)
            m_name = uniqueName(m_bus.get());
        m_thread = std::thread([this] { serve(); });
    }
    ~FakeLogind()
    {
        run([this](sd_bus *) {
            m_stop = true;
            return 0;
        });
        m_thread.join();
    }

    bool connected() const { return m_bus && !m_name.empty(); }
    const std::string &name() const { return m_name; }

    // Runs 'job' on logind's thread, with its connection, once it is free.
    int run(std::function<int(sd_bus *)> job)
    {
        std::packaged_task<int(sd_bus *)> task(std::move(job));
        std::future<int> done = task.get_future();
        {
            const std::lock_guard lock(m_mutex);
            m_jobs.push_back(std::move(task));
        }
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_wake.get(), &one, sizeof one);
        return done.get();
    }
    bool takeName()
    {
        return run([](sd_bus *bus) { return bus ? sd_bus_request_name(bus, Login1, 0) : -ENOTCONN; }) >= 0;
    }
    bool send(const QString &event)
    {
        return run([event](sd_bus *bus) {
                   MessagePtr message = bus ? signalFor(bus, event) : nullptr;
                   const int sent = message ? sd_bus_send(bus, message.get(), nullptr) : -EINVAL;
                   return sent < 0 ? sent : sd_bus_flush(bus);
               })
            >= 0;
    }
    // The LockedHint that logind answers for 'session' from now on.
    void hold(const std::string &session, bool locked)
    {
        const std::lock_guard lock(m_mutex);
        m_hints[session] = locked;
    }

private:
    static int onCall(sd_bus_message *call, void *self, sd_bus_error *)
    {
        auto *logind = static_cast<FakeLogind *>(self);
        const char *interface = nullptr, *property = nullptr;
        Io::CString session;
        if (!sd_bus_message_is_method_call(call, "org.freedesktop.DBus.Properties", "Get")
            || sd_bus_message_read(call, "ss", &interface, &property) < 0
            || std::string_view(interface) != SessionInterface || std::string_view(property) != "LockedHint"
            || sd_bus_path_decode(sd_bus_message_get_path(call), SessionPaths, session.out()) <= 0)
            return 0;
        bool locked = false;
        {
            const std::lock_guard lock(logind->m_mutex);
            const auto found = logind->m_hints.find(session.get());
            locked = found != logind->m_hints.end() && found->second;
        }
        return sd_bus_reply_method_return(call, "v", "b", int(locked));
    }

    void serve()
    {
        bool open = m_bus != nullptr;
        while (!m_stop) {
            std::deque<std::packaged_task<int(sd_bus *)>> jobs;
            {
                const std::lock_guard lock(m_mutex);
                jobs.swap(m_jobs);
            }
            for (auto &job : jobs)
                job(open ? m_bus.get() : nullptr);
            int result = 0;
            while (open && (result = sd_bus_process(m_bus.get(), nullptr)) > 0) { }
            // The bus went away: only jobs are left to do.
            open = open && result >= 0;
            pollfd fds[2] = {{m_wake.get(), POLLIN, 0}, {-1, 0, 0}};
            int timeout = -1;
            std::uint64_t usec = 0;
            if (open) {
                fds[1] = {sd_bus_get_fd(m_bus.get()), short(sd_bus_get_events(m_bus.get())), 0};
                if (sd_bus_get_timeout(m_bus.get(), &usec) >= 0 && usec != UINT64_MAX) {
                    timespec now{};
                    ::clock_gettime(CLOCK_MONOTONIC, &now);
                    const std::uint64_t nowUsec = std::uint64_t(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000;
                    timeout = usec <= nowUsec ? 0 : int((usec - nowUsec + 999) / 1000);
                }
            }
            if (!m_stop && ::poll(fds, open ? 2 : 1, timeout) > 0 && (fds[0].revents & POLLIN)) {
                std::uint64_t count = 0;
                [[maybe_unused]] const ssize_t got = ::read(m_wake.get(), &count, sizeof count);
            }
        }
    }

    BusPtr m_bus;
    std::string m_name;
    Io::Fd m_wake;
    std::mutex m_mutex;
    std::deque<std::packaged_task<int(sd_bus *)>> m_jobs;
    std::map<std::string, bool> m_hints;
    bool m_stop = false; // set and read on logind's thread only
    std::thread m_thread;
};

} // namespace

// The service's side of logind, against a private dbus-daemon that stands
// for the system bus: a fake logind in this process owns logind's name and
// sends its signals, another connection forges them, and what sd-login
// would say of the sessions is the test's own.
class tst_Logind : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void whatLogindSaysCounts_data();
    void whatLogindSaysCounts();
    void theBusIsFollowedAgainAfterItsLoss();

private:
    bool startBus();
    void stopBus();
    bool startLogind();
    bool await(const std::function<bool()> &done);
    // Until logind's signals sent so far have all been heard.
    bool heardAll();
    bool perform(const QString &step);
    bool forge(const QString &event);
    QStringList counted();

    QTemporaryDir m_dir;
    QString m_daemon;
    std::string m_address;
    QProcess m_bus;
    FakeSessions m_sessions;
    std::unique_ptr<FakeLogind> m_fake;
    BusPtr m_forger;
    std::optional<Logind> m_logind;
    std::vector<Logind::Return> m_returns;
};

void tst_Logind::initTestCase()
{
    m_daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (m_daemon.isEmpty())
        QSKIP("dbus-daemon is not installed (Debian's package dbus-daemon)");
    QVERIFY(m_dir.isValid());
    const QString socket = m_dir.filePath(QStringLiteral("bus"));
    m_address = "unix:path=" + socket.toStdString();
    // Anyone may own any name and send anything: the service's own checks
    // are what is tested, not the bus's policy.
    QByteArray config = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <listen>unix:path=SOCKET</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
  </policy>
</busconfig>
)";
    config.replace("SOCKET", QFile::encodeName(socket));
    QFile file(m_dir.filePath(QStringLiteral("bus.conf")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(config) == config.size());
    file.close();
    // sd-bus takes the system bus from here.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", QByteArray::fromStdString(m_address));
}

void tst_Logind::init()
{
    m_sessions.active.reset();
    QVERIFY(startBus());
    m_fake = std::make_unique<FakeLogind>(m_address);
    QVERIFY(m_fake->connected());
    m_forger = connectTo(m_address);
    QVERIFY(m_forger);
}

void tst_Logind::cleanup()
{
    m_logind.reset();
    m_returns.clear();
    m_forger.reset();
    m_fake.reset();
    stopBus();
}

bool tst_Logind::startBus()
{
    m_bus.start(m_daemon,
                {QStringLiteral("--config-file=") + m_dir.filePath(QStringLiteral("bus.conf")),
                 QStringLiteral("--nofork"), QStringLiteral("--nopidfile"), QStringLiteral("--nosyslog"),
                 QStringLiteral("--print-address")});
    // It prints its address once it listens.
    const auto end = Clock::now() + Patience;
    while (!m_bus.canReadLine() && m_bus.state() != QProcess::NotRunning && Clock::now() < end)
        m_bus.waitForReadyRead(100);
    if (!m_bus.canReadLine()) {
        qWarning() << "dbus-daemon:" << m_bus.readAllStandardError();
        return false;
    }
    m_bus.readAllStandardOutput();
    return true;
}

void tst_Logind::stopBus()
{
    m_bus.kill();
    m_bus.waitForFinished();
}

bool tst_Logind::startLogind()
{
    m_logind.emplace(UnlocksAndWakes::Counted{}, m_sessions);
    // Connected, its matches in place, logind's owner asked for and known.
    return await([this] { return m_logind->fd() >= 0 && !m_logind->deadline(); });
}

// Serves the service's side of the bus as the service does, until 'done'.
bool tst_Logind::await(const std::function<bool()> &done)
{
    const auto end = Clock::now() + Patience;
    for (;;) {
        for (Logind::Return &found : m_logind->process(Clock::now()))
            m_returns.push_back(std::move(found));
        if (done())
            return true;
        const Clock::time_point now = Clock::now();
        if (now >= end)
            return false;
        Clock::time_point until = end;
        if (const std::optional<Clock::time_point> due = m_logind->deadline())
            until = std::clamp(*due, now, end);
        pollfd bus{m_logind->fd(), m_logind->events(), 0};
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(until - now);
        ::poll(&bus, bus.fd >= 0 ? 1 : 0, int(wait.count()));
    }
}

bool tst_Logind::heardAll()
{
    const auto marked = [this] {
        return std::count_if(m_returns.begin(), m_returns.end(),
                             [](const Logind::Return &found) { return found.session == Marker; });
    };
    const auto before = marked();
    const QString marker = QString::fromLatin1(Marker);
    return m_fake->send(QStringLiteral("lock ") + marker) && m_fake->send(QStringLiteral("unlock ") + marker)
        && await([&] { return marked() > before; });
}

// Another connection sends logind's signal, straight to every other client
// of the bus, the service among them, then waits until the bus has passed
// it on: what logind sends after it arrives after it.
bool tst_Logind::forge(const QString &event)
{
    sd_bus *bus = m_forger.get();
    sd_bus_message *reply = nullptr;
    if (sd_bus_call_method(bus, Bus, "/org/freedesktop/DBus", Bus, "ListNames", nullptr, &reply, "") < 0)
        return false;
    const MessagePtr names(reply);
    char **list = nullptr;
    if (sd_bus_message_read_strv(reply, &list) < 0)
        return false;
    int count = 0;
    while (list && list[count])
        ++count;
    const std::string self = uniqueName(bus);
    for (const std::string &name : Io::takeStrings(list, count)) {
        if (!name.starts_with(':') || name == self || name == m_fake->name())
            continue;
        const MessagePtr message = signalFor(bus, event);
        if (!message || sd_bus_message_set_destination(message.get(), name.c_str()) < 0
            || sd_bus_send(bus, message.get(), nullptr) < 0)
            return false;
    }
    sd_bus_message *id = nullptr;
    const int asked = sd_bus_call_method(bus, Bus, "/org/freedesktop/DBus", Bus, "GetId", nullptr, &id, "");
    sd_bus_message_unref(id);
    return asked >= 0;
}

bool tst_Logind::perform(const QString &step)
{
    const QString verb = step.section(u' ', 0, 0);
    const QString what = step.section(u' ', 1);
    if (verb == u"start")
        return startLogind();
    if (verb == u"logind")
        return m_fake->takeName();
    if (verb == u"forged")
        return forge(what);
    if (verb == u"held") {
        m_fake->hold(what.toStdString(), true);
        return true;
    }
    if (verb == u"seat") {
        m_sessions.active = what.toStdString();
        return true;
    }
    if (verb != u"look")
        return m_fake->send(step);
    if (!heardAll())
        return false;
    // The desktop's time after the wake has passed: the service says when.
    const Clock::time_point due = m_logind->deadline().value_or(Clock::now() + UnlocksAndWakes::WakeDelay);
    for (Logind::Return &found : m_logind->process(due))
        m_returns.push_back(std::move(found));
    return true;
}

// What was counted, the marker's unlocks left out: "1 unlock", "2 wake".
QStringList tst_Logind::counted()
{
    QStringList found;
    for (const Logind::Return &each : m_returns) {
        if (each.session == Marker)
            continue;
        found << QString::fromStdString(each.session + ' ' + each.source);
        const std::optional<uid_t> uid = m_sessions.uid(each.session);
        if (uid != each.uid)
            found << QStringLiteral("(of uid %1)").arg(each.uid);
    }
    return found;
}

void tst_Logind::whatLogindSaysCounts_data()
{
    QTest::addColumn<QString>("events");
    QTest::addColumn<QStringList>("counted");

    // logind sends each event, or the forger as "forged" sends it straight
    // to the service. Sessions 1 and 2 are persons', b a person's background
    // one, g a greeter's, s a system account's, x one that sd-login does not
    // know. "held 1": logind says from now on that 1 is locked. The service
    // starts first, and logind before it, unless "start" or "logind" say
    // when. "seat 1": 1 is in front on the seat; "look": the desktop's time
    // after a wake has passed.
    QTest::newRow("an Unlock after a Lock") << "lock 1, unlock 1" << QStringList{"1 unlock"};
    QTest::newRow("each session its person")
        << "lock 1, lock 2, unlock 2, unlock 1" << QStringList{"2 unlock", "1 unlock"};
    QTest::newRow("the LockedHint set, then cleared") << "hint 1 on, hint 1 off" << QStringList{"1 unlock"};
    QTest::newRow("another property changed, not the lock") << "lock 1, idle 1" << QStringList();
    QTest::newRow("a forged Unlock") << "lock 1, forged unlock 1" << QStringList();
    QTest::newRow("a forged LockedHint cleared") << "hint 1 on, forged hint 1 off" << QStringList();
    QTest::newRow("a forged change of logind's owner")
        << "lock 1, forged owner, forged unlock 1" << QStringList();
    QTest::newRow("locked before the service started")
        << "held 1, start, unlock 1" << QStringList{"1 unlock"};
    QTest::newRow("locked before logind started") << "held 1, logind, unlock 1" << QStringList{"1 unlock"};
    QTest::newRow("a person's background session") << "lock b, unlock b" << QStringList();
    QTest::newRow("a system account's session") << "lock s, unlock s" << QStringList();
    QTest::newRow("a session sd-login does not know") << "lock x, unlock x" << QStringList();
    QTest::newRow("a session that ended while locked") << "lock 1, removed 1, unlock 1" << QStringList();
    QTest::newRow("a wake into the seat's session") << "seat 2, sleep, wake, look" << QStringList{"2 wake"};
    QTest::newRow("a wake into a session logind says is locked")
        << "seat 1, sleep, wake, held 1, look, unlock 1" << QStringList{"1 unlock"};
    QTest::newRow("a wake with a greeter on the seat") << "seat g, sleep, wake, look" << QStringList();
    QTest::newRow("a wake with no one on the seat") << "sleep, wake, look" << QStringList();
    QTest::newRow("a forged wake") << "seat 1, sleep, forged wake, look" << QStringList();
}

void tst_Logind::whatLogindSaysCounts()
{
    QFETCH(QString, events);
    QFETCH(QStringList, counted);

    const QStringList steps = events.split(QStringLiteral(", "));
    if (!steps.contains(u"logind"))
        QVERIFY(m_fake->takeName());
    if (!steps.contains(u"start"))
        QVERIFY(startLogind());
    for (const QString &step : steps)
        QVERIFY2(perform(step), qPrintable(step));
    QVERIFY(heardAll());
    QCOMPARE(this->counted(), counted);
}

// Without a bus at the start, and when it goes: the service goes on, and
// follows logind again on the bus that comes back at the same address.
void tst_Logind::theBusIsFollowedAgainAfterItsLoss()
{
    m_fake.reset();
    m_forger.reset();
    stopBus();
    m_logind.emplace(UnlocksAndWakes::Counted{}, m_sessions);
    QCOMPARE(m_logind->fd(), -1);
    for (const char *session : {"1", "2"}) {
        const std::optional<Clock::time_point> retry = m_logind->deadline();
        QVERIFY(retry);
        QVERIFY(startBus());
        m_fake = std::make_unique<FakeLogind>(m_address);
        QVERIFY(m_fake->takeName());
        m_logind->process(*retry);
        QVERIFY(await([this] { return m_logind->fd() >= 0 && !m_logind->deadline(); }));
        const QString lock = QStringLiteral("lock ") + QLatin1String(session);
        QVERIFY(m_fake->send(lock));
        QVERIFY(m_fake->send(QStringLiteral("un") + lock));
        QVERIFY(await([this, session] { return !m_returns.empty() && m_returns.back().session == session; }));
        stopBus();
        QVERIFY(await([this] { return m_logind->fd() < 0; }));
        m_fake.reset();
    }
    QCOMPARE(counted(), QStringList({"1 unlock", "2 unlock"}));
}

QTEST_GUILESS_MAIN(tst_Logind)
#include "tst_logind.moc"
