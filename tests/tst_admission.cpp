#include "log/protocol.h"
#include "service/admission.h"

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
    void reportsARefusalOnceAMinutePerPersonAndKind();

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

void tst_Admission::reportsARefusalOnceAMinutePerPersonAndKind()
{
    QVERIFY(m_admission->refused(1000, Refusal::Accesses) == 1);
    for (int i = 0; i < 5; ++i)
        QVERIFY(m_admission->refused(1000, Refusal::Accesses) == std::nullopt);
    QVERIFY(m_admission->refused(1000, Refusal::NotRoot) == 1);
    QVERIFY(m_admission->refused(1001, Refusal::Accesses) == 1);
    m_now += Admission::Window;
    QVERIFY(m_admission->refused(1000, Refusal::Accesses) == 6);
    QVERIFY(m_admission->refused(1000, Refusal::Accesses) == std::nullopt);
}

QTEST_GUILESS_MAIN(tst_Admission)
#include "tst_admission.moc"
