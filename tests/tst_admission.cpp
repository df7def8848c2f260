#include "record/protocol.h"
#include "service/admission.h"
#include "service/owners.h"
#include "service/rules.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using Refusal = Admission::Refusal;

namespace {

// Answers yes to the questions it is given, and notes those asked.
class Moment final : public Rules::Moment
{
public:
    explicit Moment(QStringList yes) : m_yes(std::move(yes)) { }
    QStringList asked;

    bool userKnown() override { return ask("known"); }
    bool loginRecorded() override { return ask("recorded"); }
    std::optional<std::string> unlockDoubt() override
    {
        return ask("doubt") ? std::optional<std::string>("nessuna sessione") : std::nullopt;
    }
    bool countsAsReturn() override { return ask("return"); }
    bool claimedAsLogin() override { return ask("claimed"); }
    bool withinShare() override { return ask("share"); }

private:
    bool ask(const QString &question)
    {
        asked << question;
        return m_yes.contains(question);
    }
    QStringList m_yes;
};

} // namespace

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
    void eachRequestIsDecidedByItsKind_data();
    void eachRequestIsDecidedByItsKind();

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

// What each kind asks, in order: a question that counts (a return, a claim,
// the share) is never asked of a request refused before it.
void tst_Admission::eachRequestIsDecidedByItsKind_data()
{
    QTest::addColumn<bool>("atRootsDoor");
    QTest::addColumn<bool>("fromRoot");
    QTest::addColumn<int>("kind"); // -1: not a request
    QTest::addColumn<QStringList>("yes");
    QTest::addColumn<Rules::Verdict>("verdict");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QStringList>("asked");

    using V = Rules::Verdict;
    const int access = int(Request::Kind::Access), login = int(Request::Kind::Login),
              unlock = int(Request::Kind::Unlock);
    const QStringList all{"known", "return", "claimed", "share"};
    const QString rootOnly = "solo root, dal socket degli accessi di login";
    QTest::newRow("not a request") << false << false << -1 << all << V::Refuse << "richiesta non valida"
                                   << QStringList{};
    QTest::newRow("a logger's start") << false << false << access << QStringList{"share"} << V::Record << ""
                                      << QStringList{"claimed", "share"};
    QTest::newRow("a session's first logger, after its login")
        << false << false << access << all << V::AsLogin << "" << QStringList{"claimed"};
    QTest::newRow("a logger over its share") << false << false << access << QStringList{} << V::Refuse
                                             << "più di" << QStringList{"claimed", "share"};
    QTest::newRow("root's logger at root's door")
        << true << true << access << QStringList{} << V::Record << "" << QStringList{"claimed"};
    QTest::newRow("a login") << true << true << login << QStringList{"known"} << V::Record << ""
                             << QStringList{"known", "recorded"};
    QTest::newRow("a login asked again") << true << true << login << QStringList{"known", "recorded"}
                                         << V::Nothing << "" << QStringList{"known", "recorded"};
    QTest::newRow("a login of no account") << true << true << login << QStringList{"recorded"} << V::Refuse
                                           << "utente sconosciuto" << QStringList{"known"};
    QTest::newRow("a login at the users' door")
        << false << true << login << all << V::Refuse << rootOnly << QStringList{};
    QTest::newRow("a user at root's door")
        << true << false << access << all << V::Refuse << rootOnly << QStringList{};
    QTest::newRow("an unlock") << false << false << unlock << QStringList{"return", "share"} << V::Record
                               << "" << QStringList{"doubt", "return", "share"};
    QTest::newRow("an unlock not believed")
        << false << false << unlock << QStringList{"doubt", "return", "share"} << V::Refuse
        << "sblocco non creduto: nessuna sessione" << QStringList{"doubt"};
    QTest::newRow("an unlock logind told already") << false << false << unlock << QStringList{"share"}
                                                   << V::Nothing << "" << QStringList{"doubt", "return"};
    QTest::newRow("an unlock over the share")
        << false << false << unlock << QStringList{"return"} << V::Refuse << "più di"
        << QStringList{"doubt", "return", "share"};
}

void tst_Admission::eachRequestIsDecidedByItsKind()
{
    QFETCH(bool, atRootsDoor);
    QFETCH(bool, fromRoot);
    QFETCH(int, kind);
    QFETCH(QStringList, yes);
    std::optional<Request> request;
    if (kind >= 0)
        request = Request{Request::Kind(kind), "alice", "login", "tty1", "c1"};
    Moment moment(yes);
    const Rules::Decision decision =
        Rules::decide(atRootsDoor ? Rules::Door::Login : Rules::Door::Users, fromRoot, request, moment);
    QTEST(decision.verdict, "verdict");
    QFETCH(QString, reason);
    QVERIFY2(QString::fromStdString(decision.reason).startsWith(reason)
                 && reason.isEmpty() == decision.reason.empty(),
             decision.reason.c_str());
    QTEST(moment.asked, "asked");
}

QTEST_GUILESS_MAIN(tst_Admission)
#include "tst_admission.moc"
