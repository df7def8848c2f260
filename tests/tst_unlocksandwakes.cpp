#include "record/lockers.h"
#include "service/settings.h"
#include "service/unlocksandwakes.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>
#include <map>

using namespace std::chrono_literals;

class tst_UnlocksAndWakes : public QObject
{
    Q_OBJECT

private slots:
    void oneReturnIsOneAccess_data();
    void oneReturnIsOneAccess();
    void aLockersWordIsBelievedOnlyFromItsOwnSession_data();
    void aLockersWordIsBelievedOnlyFromItsOwnSession();
    void settingsFromTheAdministratorsFile_data();
    void settingsFromTheAdministratorsFile();
};

void tst_UnlocksAndWakes::oneReturnIsOneAccess_data()
{
    QTest::addColumn<bool>("unlocks");
    QTest::addColumn<bool>("wakes");
    QTest::addColumn<QString>("events");
    QTest::addColumn<int>("accesses");

    // Sessions a and b are persons 1000 and 1001. "look" comes when the
    // wake's delay is over, "early" before it; at the look logind says the
    // session is unlocked, or "locked", or leaves the question "unanswered".
    // "login" is any other access.
    QTest::newRow("an unlock of a locked session") << true << true << "lock a, unlock a" << 1;
    QTest::newRow("the two signals of one unlock")
        << true << true << "lock a, lock a, unlock a, unlock a" << 1;
    QTest::newRow("an unlock of a session never locked") << true << true << "unlock a" << 0;
    QTest::newRow("each lock's own unlock") << true << true << "lock a, unlock a, lock a, unlock a" << 2;
    QTest::newRow("a session ended while locked") << true << true << "lock a, end a, unlock a" << 0;
    QTest::newRow("sessions apart") << true << true << "lock a, lock b, unlock b, unlock a" << 2;
    QTest::newRow("a wake into an unlocked session") << true << true << "sleep, wake, look a" << 1;
    QTest::newRow("nothing before the desktop has had its time")
        << true << true << "sleep, wake, early a" << 0;
    QTest::newRow("locked before the sleep, unlocked after")
        << true << true << "lock a, sleep, wake, look a locked, unlock a" << 1;
    QTest::newRow("locked after the wake")
        << true << true << "sleep, wake, lock a, look a locked, unlock a" << 1;
    QTest::newRow("unlocked before the look") << true << true << "lock a, sleep, wake, unlock a, look a" << 1;
    QTest::newRow("logged in anew after the wake") << true << true << "sleep, wake, login a, look a" << 1;
    QTest::newRow("someone else's access after the wake")
        << true << true << "sleep, wake, login b, look a" << 2;
    QTest::newRow("asleep again before the look")
        << true << true << "sleep, wake, sleep, look a, wake, look a" << 1;
    QTest::newRow("each wake its own return")
        << true << true << "sleep, wake, look a, sleep, wake, look a" << 2;
    QTest::newRow("unlocks not counted") << false << true << "lock a, unlock a" << 0;
    QTest::newRow("unlocks not counted: the wake is the return")
        << false << true << "lock a, sleep, wake, look a locked" << 1;
    QTest::newRow("wakes not counted") << true << false << "sleep, wake, look a" << 0;
    QTest::newRow("wakes not counted, its unlock still is")
        << true << false << "lock a, sleep, wake, look a locked, unlock a" << 1;
    // Screen lockers that have logind lock the session and never say it is
    // unlocked: what logind says at the look decides.
    QTest::newRow("a Lock never undone: a later wake into a session logind says is unlocked counts")
        << true << true << "lock a, sleep, wake, look a" << 1;
    QTest::newRow("a late Unlock of a Lock logind no longer holds: the wake was the return")
        << true << true << "lock a, sleep, wake, look a, unlock a" << 1;
    QTest::newRow("locked now per logind: the wake waits for the unlock")
        << true << true << "sleep, wake, look a locked, unlock a" << 1;
    QTest::newRow("logind unanswered: the Lock heard holds the wake back")
        << true << true << "lock a, sleep, wake, look a unanswered, unlock a" << 1;
    QTest::newRow("logind unanswered, no Lock heard: the wake counts")
        << true << true << "sleep, wake, look a unanswered" << 1;
    // "locker" is a screen locker's own word that it took the password; each
    // event comes a second after the one before, "pause" ten minutes.
    QTest::newRow("a locker that logind does not know") << true << true << "locker a, pause, locker a" << 2;
    QTest::newRow("each password it takes") << true << true << "locker a, locker a" << 2;
    QTest::newRow("the locker first, logind's LockedHint after")
        << true << true << "lock a, locker a, unlock a" << 1;
    QTest::newRow("logind first, the locker's word after")
        << true << true << "lock a, unlock a, locker a" << 1;
    QTest::newRow("logind's next lock is a return of its own")
        << true << true << "lock a, locker a, unlock a, lock a, unlock a" << 2;
    QTest::newRow("sessions apart, each its own locker") << true << true << "locker a, locker b" << 2;
    QTest::newRow("a wake into a session whose locker logind does not know: its unlock is the same return")
        << true << true << "sleep, wake, look a, locker a" << 1;
    QTest::newRow("and only the first: the next unlock is a return of its own")
        << true << true << "sleep, wake, look a, locker a, pause, locker a" << 2;
    QTest::newRow("an unlock long after the wake is a return of its own")
        << true << true << "sleep, wake, look a, pause, locker a" << 2;
    QTest::newRow("unlocked before the look: the wake adds nothing")
        << true << true << "sleep, wake, locker a, look a" << 1;
    QTest::newRow("a wake into another's session leaves this one's unlock alone")
        << true << true << "sleep, wake, look b, locker a" << 2;
    QTest::newRow("unlocks not counted, a locker's neither") << false << true << "locker a" << 0;
    QTest::newRow("unlocks not counted: the wake still is")
        << false << true << "sleep, wake, look a, locker a" << 1;
    QTest::newRow("a session ended forgets its return")
        << true << true << "sleep, wake, look a, end a, locker a" << 2;
    // The desktop's lock at the wake may come after the look, on a busy
    // machine: the wake has counted, the unlock ends the same return.
    QTest::newRow("locked after the look: logind's unlock is the same return")
        << true << true << "sleep, wake, look a, lock a, unlock a, locker a" << 1;
    QTest::newRow("locked after the look: the locker's unlock is the same return")
        << true << true << "sleep, wake, look a, lock a, locker a, unlock a" << 1;
    QTest::newRow("locked after the look, asleep again: the next wake's unlock is its own return")
        << true << true << "sleep, wake, look a, lock a, sleep, wake soon, look a locked, unlock a" << 2;
    // "wait N" lets N seconds go by.
    QTest::newRow("the locker's word soon after logind's")
        << true << true << "lock a, unlock a, wait 3, locker a" << 1;
    QTest::newRow("the locker's unlock a while after logind's")
        << true << true << "lock a, unlock a, wait 5, locker a" << 2;
    QTest::newRow("an unlock a minute and a half after the wake")
        << true << true << "sleep, wake, look a, wait 90, locker a" << 1;
    QTest::newRow("an unlock two minutes and a half after the wake")
        << true << true << "sleep, wake, look a, wait 150, locker a" << 2;
    QTest::newRow("locked anew a while after the wake: its unlock is a return of its own")
        << true << true << "sleep, wake, look a, wait 150, lock a, unlock a, locker a" << 2;
}

void tst_UnlocksAndWakes::oneReturnIsOneAccess()
{
    QFETCH(bool, unlocks);
    QFETCH(bool, wakes);
    QFETCH(QString, events);
    QFETCH(int, accesses);

    const std::map<QString, uid_t> people{{"a", 1000}, {"b", 1001}};
    UnlocksAndWakes returns({unlocks, wakes});
    UnlocksAndWakes::Clock::time_point woke{};
    UnlocksAndWakes::Clock::time_point now{};
    int counted = 0;
    const auto access = [&](uid_t person) {
        ++counted;
        returns.recorded(person);
    };
    for (const QString &event : events.split(", ")) {
        const QStringList words = event.split(' ');
        const std::string session = words.value(1).toStdString();
        const uid_t person = people.count(words.value(1)) ? people.at(words.value(1)) : 0;
        now += 1s;
        if (words[0] == "lock") {
            returns.locked(session);
        } else if (words[0] == "unlock") {
            if (returns.unlocked(session, now))
                access(person);
        } else if (words[0] == "locker") {
            if (returns.lockerUnlocked(session, now))
                access(person);
        } else if (words[0] == "pause") {
            now += 10min;
        } else if (words[0] == "wait") {
            now += std::chrono::seconds(words.value(1).toInt()) - 1s;
        } else if (words[0] == "end") {
            returns.ended(session);
        } else if (words[0] == "sleep") {
            returns.sleeping();
        } else if (words[0] == "wake") {
            // A sleep lasts an hour, "wake soon" a second.
            woke = now += words.value(1) == "soon" ? 0s : 1h;
            returns.woke(woke);
        } else if (words[0] == "login") {
            access(person);
        } else if (words[0] == "early") {
            QVERIFY(!returns.takeWake(woke + UnlocksAndWakes::WakeDelay - 1s));
        } else {
            QCOMPARE(words[0], "look");
            const QString said = words.value(2);
            QVERIFY(said.isEmpty() || said == "locked" || said == "unanswered");
            const std::optional<bool> lockedNow =
                said == "unanswered" ? std::nullopt : std::optional<bool>(said == "locked");
            now = std::max(now, woke + UnlocksAndWakes::WakeDelay);
            if (returns.takeWake(now) && returns.wakeCounts(session, person, lockedNow, now))
                access(person);
            QVERIFY(!returns.takeWake(now));
        }
    }
    QCOMPARE(counted, accesses);
}

void tst_UnlocksAndWakes::aLockersWordIsBelievedOnlyFromItsOwnSession_data()
{
    QTest::addColumn<QString>("service");
    QTest::addColumn<int>("caller");
    QTest::addColumn<int>("user");
    QTest::addColumn<int>("owner");
    QTest::addColumn<QString>("sessionClass");
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("seated");
    QTest::addColumn<bool>("active");
    QTest::addColumn<bool>("believed");

    // The caller, the user PAM checked and the session's owner are person
    // 1000, in a graphical session of class user, in front on its seat,
    // unless a row says otherwise; -1 is no such account, or no session.
    struct Row
    {
        const char *service;
        int caller = 1000, user = 1000, owner = 1000;
        const char *sessionClass = "user", *type = "x11";
        bool seated = true, active = true;
    };
    const auto row = [](const char *name, Row r, bool believed) {
        QTest::newRow(name) << r.service << r.caller << r.user << r.owner << r.sessionClass << r.type
                            << r.seated << r.active << believed;
    };
    for (const char *locker : {"mate-screensaver", "cinnamon-screensaver", "xscreensaver", "kde",
                               "xfce4-screensaver", "swaylock", "i3lock", "common-auth"})
        row(locker, {locker}, true);
    row("on Wayland", {"swaylock", 1000, 1000, 1000, "user", "wayland"}, true);
    row("a remote desktop, on no seat", {"xscreensaver", 1000, 1000, 1000, "user", "x11", false}, true);
    row("a console on a seat: sway started from it, or vlock", {"vlock", 1000, 1000, 1000, "user", "tty"},
        true);
    row("a console on no seat: ssh", {"vlock", 1000, 1000, 1000, "user", "tty", false}, false);
    for (const char *notLocker : {"login", "sshd", "su", "sudo", "polkit-1", "lightdm", "gdm-password",
                                  "runuser", "kde-fingerprint", ""})
        row(notLocker, {notLocker}, false);
    row("the display manager's check, as root", {"kde", 0}, false);
    row("another user's password", {"xscreensaver", 1000, 1001}, false);
    row("no such user", {"xscreensaver", 1000, -1}, false);
    row("in no session", {"xscreensaver", 1000, 1000, -1}, false);
    row("in someone else's session", {"xscreensaver", 1000, 1000, 1001}, false);
    row("root's early session", {"vlock", 0, 0, 0, "user-early", "tty"}, true);
    row("an incomplete user's session", {"xscreensaver", 1000, 1000, 1000, "user-incomplete"}, true);
    row("in a greeter's session", {"xscreensaver", 1000, 1000, 1000, "greeter"}, false);
    row("in the user's service manager's session", {"xscreensaver", 1000, 1000, 1000, "manager"}, false);
    row("in a background session", {"xscreensaver", 1000, 1000, 1000, "background"}, false);
    row("in a session of no known type", {"xscreensaver", 1000, 1000, 1000, "user", "unspecified"}, false);
    row("behind another session on its seat", {"xscreensaver", 1000, 1000, 1000, "user", "x11", true, false},
        false);
    row("a system account", {"xscreensaver", 100, 100, 100}, false);
}

void tst_UnlocksAndWakes::aLockersWordIsBelievedOnlyFromItsOwnSession()
{
    QFETCH(QString, service);
    QFETCH(int, caller);
    QFETCH(int, user);
    QFETCH(int, owner);
    QFETCH(QString, sessionClass);
    QFETCH(QString, type);
    QFETCH(bool, seated);
    QFETCH(bool, active);
    QFETCH(bool, believed);

    Lockers::Caller facts{uid_t(caller), user < 0 ? std::nullopt : std::optional<uid_t>(user), std::nullopt};
    if (owner >= 0)
        facts.session =
            Lockers::Session{uid_t(owner), sessionClass.toStdString(), type.toStdString(), seated, active};
    const std::optional<std::string> doubt = Lockers::doubt(service.toStdString(), facts);
    QVERIFY2(doubt.has_value() != believed, doubt.value_or("believed").c_str());
}

void tst_UnlocksAndWakes::settingsFromTheAdministratorsFile_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<bool>("unlocks");
    QTest::addColumn<bool>("wakes");
    QTest::addColumn<QStringList>("problems");

    QTest::newRow("no file at all") << QByteArray() << true << true << QStringList();
    QFile shipped(TALLIX_SHIPPED_SETTINGS);
    QVERIFY(shipped.open(QIODevice::ReadOnly));
    QTest::newRow("the shipped file") << shipped.readAll() << true << true << QStringList();
    QTest::newRow("both off, spaced and in any case")
        << QByteArray("Unlock = No\n  Wake=off  \r\n") << false << false << QStringList();
    QTest::newRow("a typo leaves its count on")
        << QByteArray("Unlock=nope\nWake=no\nColour=blue\n; Unlock=no\nWake\n") << true << false
        << QStringList{":1: riga ignorata: Unlock=nope", ":3: riga ignorata: Colour=blue",
                       ":5: riga ignorata: Wake"};
    QTest::newRow("the last line holds") << QByteArray("Wake=no\nWake=yes") << true << true << QStringList();
}

void tst_UnlocksAndWakes::settingsFromTheAdministratorsFile()
{
    QFETCH(QByteArray, contents);
    QFETCH(bool, unlocks);
    QFETCH(bool, wakes);
    QFETCH(QStringList, problems);

    QTemporaryDir dir;
    const std::string path = dir.filePath("record.conf").toStdString();
    if (!contents.isNull())
        std::ofstream(path, std::ios::binary) << contents.toStdString();
    const Settings settings = Settings::read(path);
    QCOMPARE(settings.counted.unlocks, unlocks);
    QCOMPARE(settings.counted.wakes, wakes);
    QStringList told;
    for (const std::string &problem : settings.problems)
        told << QString::fromStdString(problem).remove(QString::fromStdString(path));
    QCOMPARE(told, problems);
}

QTEST_GUILESS_MAIN(tst_UnlocksAndWakes)
#include "tst_unlocksandwakes.moc"
