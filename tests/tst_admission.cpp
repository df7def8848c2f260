#include "log/protocol.h"
#include "service/admission.h"
#include "service/owners.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using Refusal = Admission::Refusal;

class tst_Admission : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_now = {};
        m_admission.emplace([this] { return m_now; });
    }
    void capsEachPersonsConnections();
    void aFullTableRefusesTheNewcomer();
    void capsEachPersonsAccessesAMinute();
    void reportsRefusalsOnceAMinutePerPerson();
    void forgetsThoseWhoHoldNothing();
    void eachUidCountsAsItsOwner_data();
    void eachUidCountsAsItsOwner();
    void subordinatesReadAgainWhenChanged();

private:
    Admission::Clock::time_point m_now{};
    std::optional<Admission> m_admission;
};

void tst_Admission::capsEachPersonsConnections()
{
    for (int i = 0; i < Protocol::MaxConnectionsPerPerson; ++i)
        QVERIFY(m_admission->open(1000) == std::nullopt);
    QVERIFY(m_admission->open(1000) == Refusal::Connections);
    QVERIFY(m_admission->open(1001) == std::nullopt);
    m_admission->closed(1000);
    QVERIFY(m_admission->open(1000) == std::nullopt);
}

void tst_Admission::aFullTableRefusesTheNewcomer()
{
    uid_t person = 2000;
    for (std::size_t open = 0; open < Admission::MaxConnections; ++person) {
        for (int i = 0; i < Protocol::MaxConnectionsPerPerson && open < Admission::MaxConnections;
             ++i, ++open)
            QVERIFY(m_admission->open(person) == std::nullopt);
    }
    QVERIFY(m_admission->open(person) == Refusal::Full);
    m_admission->closed(2000);
    QVERIFY(m_admission->open(person) == std::nullopt);
}

void tst_Admission::capsEachPersonsAccessesAMinute()
{
    for (int i = 0; i < Protocol::MaxAccessesPerMinute; ++i) {
        QVERIFY(m_admission->mayRecord(1000));
        m_now += std::chrono::seconds(1);
    }
    QVERIFY(!m_admission->mayRecord(1000));
    QVERIFY(m_admission->mayRecord(1001));
    // The first access leaves the window, the second not yet.
    m_now = Admission::Clock::time_point() + Admission::Window;
    QVERIFY(m_admission->mayRecord(1000));
    QVERIFY(!m_admission->mayRecord(1000));
}

// Whatever the kind: one person's refusals are one report a minute.
void tst_Admission::reportsRefusalsOnceAMinutePerPerson()
{
    QVERIFY(m_admission->refused(1000) == 1);
    for (int i = 0; i < 6; ++i)
        QVERIFY(m_admission->refused(1000) == std::nullopt);
    QVERIFY(m_admission->refused(1001) == 1);
    m_now += Admission::Window;
    QVERIFY(m_admission->refused(1000) == 7);
    QVERIFY(m_admission->refused(1000) == std::nullopt);
}

// Thousands who came once leave nothing behind a minute later; those still
// connected or within their minute stay counted.
void tst_Admission::forgetsThoseWhoHoldNothing()
{
    QVERIFY(m_admission->open(1000) == std::nullopt);
    for (uid_t person = 2000; person < 12000; ++person) {
        QVERIFY(m_admission->open(person) == std::nullopt);
        QVERIFY(m_admission->mayRecord(person));
        QVERIFY(m_admission->refused(person).has_value());
        m_admission->closed(person);
    }
    QVERIFY(m_admission->known() >= 10000);
    m_now += Admission::Window;
    for (int i = 0; i < Protocol::MaxAccessesPerMinute; ++i)
        QVERIFY(m_admission->mayRecord(1001));
    QCOMPARE(m_admission->known(), std::size_t(2));
    for (int i = 1; i < Protocol::MaxConnectionsPerPerson; ++i)
        QVERIFY(m_admission->open(1000) == std::nullopt);
    QVERIFY(m_admission->open(1000) == Refusal::Connections);
    QVERIFY(!m_admission->mayRecord(1001));
}

namespace {

std::optional<uid_t> accountUid(const std::string &name)
{
    if (name == "alice")
        return 1000;
    if (name == "bob")
        return 1001;
    return std::nullopt;
}

} // namespace

void tst_Admission::eachUidCountsAsItsOwner_data()
{
    QTest::addColumn<uint>("uid");
    QTest::addColumn<bool>("hasAccount");
    QTest::addColumn<uint>("person");

    // As useradd writes it, and as an administrator may: by number, ranges
    // that name no account, lines that are no range.
    const uint nobody = Owners::Nobody;
    QTest::newRow("an account's own uid") << 1000u << true << 1000u;
    QTest::newRow("root") << 0u << true << 0u;
    QTest::newRow("the first of alice's subordinates") << 100000u << false << 1000u;
    QTest::newRow("the last of alice's subordinates") << 165535u << false << 1000u;
    QTest::newRow("the first of bob's") << 165536u << false << 1001u;
    QTest::newRow("an owner named by number") << 300005u << false << 1002u;
    QTest::newRow("a range of an unknown account") << 400000u << false << nobody;
    QTest::newRow("past every range") << 600000u << false << nobody;
    QTest::newRow("a system account's uid") << 105u << true << 105u;
    QTest::newRow("a uid no account has") << 5000u << false << nobody;
}

void tst_Admission::eachUidCountsAsItsOwner()
{
    QFETCH(uint, uid);
    QFETCH(bool, hasAccount);
    QFETCH(uint, person);
    const std::vector<Owners::Range> ranges = Owners::parse(
        "alice:100000:65536\nbob:165536:65536\n1002:300000:10\nghost:400000:65536\n# comment\nbob:x:1\n"
        "bob:500000:0\n",
        accountUid);
    QCOMPARE(ranges.size(), std::size_t(3));
    QCOMPARE(uint(Owners::ownerOf(uid, ranges, hasAccount)), person);
}

void tst_Admission::subordinatesReadAgainWhenChanged()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("subuid"));
    const auto write = [&path](const QByteArray &text) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
    };
    int lookups = 0;
    Owners owners(path.toStdString(), accountUid, [&lookups](uid_t uid) {
        ++lookups;
        return uid < 2000;
    });
    QCOMPARE(owners.of(100000), Owners::Nobody);
    write("alice:100000:65536\n");
    QCOMPARE(owners.of(100000), uid_t(1000));
    lookups = 0;
    QCOMPARE(owners.of(1001), uid_t(1001));
    QCOMPARE(owners.of(1001), uid_t(1001));
    QCOMPARE(lookups, 1);
    write("bob:100000:65536\n");
    QCOMPARE(owners.of(100000), uid_t(1001));
}

QTEST_GUILESS_MAIN(tst_Admission)
#include "tst_admission.moc"
