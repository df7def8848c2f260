#include "service/returns.h"
#include "service/settings.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>
#include <map>

using namespace std::chrono_literals;

class tst_Returns : public QObject
{
    Q_OBJECT

private slots:
    void oneReturnIsOneAccess_data();
    void oneReturnIsOneAccess();
    void settingsFromTheAdministratorsFile_data();
    void settingsFromTheAdministratorsFile();
};

void tst_Returns::oneReturnIsOneAccess_data()
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
    QTest::newRow("the two signals of one unlock") << true << true << "lock a, lock a, unlock a, unlock a" << 1;
    QTest::newRow("an unlock of a session never locked") << true << true << "unlock a" << 0;
    QTest::newRow("each lock's own unlock") << true << true << "lock a, unlock a, lock a, unlock a" << 2;
    QTest::newRow("a session ended while locked") << true << true << "lock a, end a, unlock a" << 0;
    QTest::newRow("sessions apart") << true << true << "lock a, lock b, unlock b, unlock a" << 2;
    QTest::newRow("a wake into an unlocked session") << true << true << "sleep, wake, look a" << 1;
    QTest::newRow("nothing before the desktop has had its time") << true << true << "sleep, wake, early a" << 0;
    QTest::newRow("locked before the sleep, unlocked after")
        << true << true << "lock a, sleep, wake, look a locked, unlock a" << 1;
    QTest::newRow("locked after the wake") << true << true << "sleep, wake, lock a, look a locked, unlock a" << 1;
    QTest::newRow("unlocked before the look") << true << true << "lock a, sleep, wake, unlock a, look a" << 1;
    QTest::newRow("logged in anew after the wake") << true << true << "sleep, wake, login a, look a" << 1;
    QTest::newRow("someone else's access after the wake") << true << true << "sleep, wake, login b, look a" << 2;
    QTest::newRow("asleep again before the look") << true << true << "sleep, wake, sleep, look a, wake, look a"
                                                   << 1;
    QTest::newRow("each wake its own return") << true << true << "sleep, wake, look a, sleep, wake, look a" << 2;
    QTest::newRow("unlocks not counted") << false << true << "lock a, unlock a" << 0;
    QTest::newRow("unlocks not counted: the wake is the return") << false << true
                                                                 << "lock a, sleep, wake, look a locked" << 1;
    QTest::newRow("wakes not counted") << true << false << "sleep, wake, look a" << 0;
    QTest::newRow("wakes not counted, its unlock still is") << true << false
                                                            << "lock a, sleep, wake, look a locked, unlock a" << 1;
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
}

void tst_Returns::oneReturnIsOneAccess()
{
    QFETCH(bool, unlocks);
    QFETCH(bool, wakes);
    QFETCH(QString, events);
    QFETCH(int, accesses);

    const std::map<QString, uid_t> people{{"a", 1000}, {"b", 1001}};
    Returns returns({unlocks, wakes});
    Returns::Clock::time_point woke{};
    int counted = 0;
    const auto access = [&](uid_t person) {
        ++counted;
        returns.recorded(person);
    };
    for (const QString &event : events.split(", ")) {
        const QStringList words = event.split(' ');
        const std::string session = words.value(1).toStdString();
        const uid_t person = people.count(words.value(1)) ? people.at(words.value(1)) : 0;
        if (words[0] == "lock") {
            returns.locked(session);
        } else if (words[0] == "unlock") {
            if (returns.unlocked(session))
                access(person);
        } else if (words[0] == "end") {
            returns.ended(session);
        } else if (words[0] == "sleep") {
            returns.sleeping();
        } else if (words[0] == "wake") {
            woke += 1h;
            returns.woke(woke);
        } else if (words[0] == "login") {
            access(person);
        } else if (words[0] == "early") {
            QVERIFY(!returns.takeWake(woke + Returns::WakeDelay - 1s));
        } else {
            QCOMPARE(words[0], "look");
            const QString said = words.value(2);
            QVERIFY(said.isEmpty() || said == "locked" || said == "unanswered");
            const std::optional<bool> lockedNow =
                said == "unanswered" ? std::nullopt : std::optional<bool>(said == "locked");
            if (returns.takeWake(woke + Returns::WakeDelay) && returns.wakeCounts(session, person, lockedNow))
                access(person);
            QVERIFY(!returns.takeWake(woke + Returns::WakeDelay));
        }
    }
    QCOMPARE(counted, accesses);
}

void tst_Returns::settingsFromTheAdministratorsFile_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<bool>("unlocks");
    QTest::addColumn<bool>("wakes");
    QTest::addColumn<QStringList>("problems");

    QTest::newRow("no file at all") << QByteArray() << true << true << QStringList();
    QFile shipped(TALLIX_SHIPPED_SETTINGS);
    QVERIFY(shipped.open(QIODevice::ReadOnly));
    QTest::newRow("the shipped file") << shipped.readAll() << true << true << QStringList();
    QTest::newRow("both off, spaced and in any case") << QByteArray("Unlock = No\n  Wake=off  \r\n") << false
                                                      << false << QStringList();
    QTest::newRow("a typo leaves its count on")
        << QByteArray("Unlock=nope\nWake=no\nColour=blue\n; Unlock=no\nWake\n") << true << false
        << QStringList{":1: riga ignorata: Unlock=nope", ":3: riga ignorata: Colour=blue", ":5: riga ignorata: Wake"};
    QTest::newRow("the last line holds") << QByteArray("Wake=no\nWake=yes") << true << true << QStringList();
}

void tst_Returns::settingsFromTheAdministratorsFile()
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

QTEST_GUILESS_MAIN(tst_Returns)
#include "tst_returns.moc"
