#include "tests/programrun.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <ctime>

#include <sys/stat.h>

class tst_Recorder : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void handsOverTheRecordsItRead_data();
    void handsOverTheRecordsItRead();
    void refusesArguments();
    void ignoresTheCallersEnvironment();
    void closedStandardStreamsNeverReachTheLog();
    void doubleFaultIsRepairedByTheNextAccess();
    void escapeBytesNeverReachTheTerminal();
    void killedWriterLeavesOldOrUpdatedLog_data();
    void killedWriterLeavesOldOrUpdatedLog();
    void linksNoToolkit();

private:
    Run record(const QStringList &arguments = {},
               const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment()) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_recorder;
    QString m_log;
};

namespace {

const QByteArray Earlier = "#2002-02-02 17:41:51#\r\n#2002-02-03#\r\n";

bool changed(const QByteArray &path, const struct stat &before)
{
    struct stat now;
    return ::stat(path.constData(), &now) != 0 || now.st_ino != before.st_ino || now.st_size != before.st_size
        || now.st_mtim.tv_sec != before.st_mtim.tv_sec || now.st_mtim.tv_nsec != before.st_mtim.tv_nsec;
}

} // namespace

void tst_Recorder::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_recorder = m_dir->filePath(QStringLiteral("tallix-record"));
    m_log = m_dir->filePath(QStringLiteral("Date.txt"));
    QVERIFY(QFile::copy(QStringLiteral(TALLIX_RECORDER), m_recorder));
    QVERIFY(writeFile(m_log, Earlier));
}

Run tst_Recorder::record(const QStringList &arguments, const QProcessEnvironment &environment) const
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(m_recorder, arguments);
    return finish(process);
}

void tst_Recorder::handsOverTheRecordsItRead_data()
{
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<QByteArray>("handed");

    QTest::newRow("canonical") << Earlier << Earlier;
    QTest::newRow("empty") << QByteArray("") << QByteArray("");
    // Handed over as the log holds them, to be read by the logger.
    const QByteArray untidy = "\n#2002-02-02 17:41:51#\n#2002-02-03 00:00:00#\n";
    QTest::newRow("LF line ends, a blank line, a long form") << untidy << untidy;
}

void tst_Recorder::handsOverTheRecordsItRead()
{
    QFETCH(QByteArray, log);
    QFETCH(QByteArray, handed);

    QVERIFY(writeFile(m_log, log));
    const Run run = record();
    QVERIFY2(run.exitCode == 0, run.errors.constData());
    QCOMPARE(run.output, handed);
    QVERIFY(addedRecords(contentsOf(m_log), handed));
}

void tst_Recorder::refusesArguments()
{
    const Run run = record({QStringLiteral("/etc/passwd")});
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.errors.contains("argomenti"), run.errors.constData());
    QCOMPARE(contentsOf(m_log), Earlier);
}

// Nothing the caller sets changes what is written: the record is the
// system's local time, and a toolkit's variables mean nothing here.
void tst_Recorder::ignoresTheCallersEnvironment()
{
    QProcessEnvironment hostile;
    for (const auto &[name, value] :
         {std::pair("TZ", "UTC-14"), std::pair("TZDIR", "/tmp"), std::pair("LANG", "en_US.UTF-8"),
          std::pair("LC_ALL", "ja_JP.UTF-8"), std::pair("QT_QPA_PLATFORM", "bogus"),
          std::pair("QT_PLUGIN_PATH", "/tmp"), std::pair("HOME", "/nonexistent"),
          std::pair("PATH", "/nonexistent")})
        hostile.insert(QString::fromLatin1(name), QString::fromLatin1(value));
    for (const char *zone : {"UTC-14", "XYZ+12"}) {
        hostile.insert(QStringLiteral("TZ"), QString::fromLatin1(zone));
        const QByteArray before = contentsOf(m_log);
        const AccessTime start = systemNow();
        const Run run = record({}, hostile);
        QVERIFY2(run.exitCode == 0, run.errors.constData());
        const std::optional<std::vector<AccessTime>> added = addedRecords(contentsOf(m_log), before);
        QVERIFY(added);
        QCOMPARE(added->size(), std::size_t(1));
        QVERIFY2(recordedSince(added->front(), start), zone);
        QVERIFY(run.errors.isEmpty());
    }
}

// With its output closed, a careless program would open the log as its
// standard output and copy the whole history into it.
void tst_Recorder::closedStandardStreamsNeverReachTheLog()
{
    QProcess process;
    process.start(QStringLiteral("sh"),
                  {QStringLiteral("-c"), QStringLiteral("exec \"$0\" <&- >&- 2>&-"), m_recorder});
    const Run run = finish(process);
    QCOMPARE(run.exitCode, 0);
    const std::optional<std::vector<AccessTime>> added = addedRecords(contentsOf(m_log), Earlier);
    QVERIFY(added);
    QCOMPARE(added->size(), std::size_t(1));
}

// A short write whose cut-back fails too leaves part of a record behind;
// it must cost the next access nothing.
void tst_Recorder::doubleFaultIsRepairedByTheNextAccess()
{
    QProcessEnvironment faulty = QProcessEnvironment::systemEnvironment();
    faulty.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(TALLIX_FAULTS));
    faulty.insert(QStringLiteral("TALLIX_FAULT"), QStringLiteral("torn-write"));
    const Run failed = record({}, faulty);
    QCOMPARE(failed.exitCode, 1);
    QVERIFY2(failed.errors.contains("incompleta"), failed.errors.constData());
    const QByteArray torn = contentsOf(m_log);
    QVERIFY2(torn.size() > Earlier.size() && !torn.endsWith('\n'), torn.constData());

    const Run repaired = record();
    QVERIFY2(repaired.exitCode == 0, repaired.errors.constData());
    const std::optional<std::vector<AccessTime>> added = addedRecords(contentsOf(m_log), Earlier);
    QVERIFY(added);
    QCOMPARE(added->size(), std::size_t(1));
}

// A damaged line is told, and the access recorded all the same.
void tst_Recorder::escapeBytesNeverReachTheTerminal()
{
    const QByteArray log = Earlier
        + "\x1b]2;pwned\x07\x1b[2J\x9b"
          "31m\r\n";
    QVERIFY(writeFile(m_log, log));
    const Run run = record();
    QVERIFY2(run.exitCode == 0, run.errors.constData());
    QVERIFY2(run.errors.contains("riga 3"), run.errors.constData());
    QVERIFY2(run.errors.contains("\\x1b]2;pwned\\x07\\x1b[2J\\x9b31m"), run.errors.constData());
    for (const char c : run.errors)
        QVERIFY2(c == '\n' || static_cast<unsigned char>(c) >= 0x20,
                 run.errors.toPercentEncoding().constData());
    const std::optional<std::vector<AccessTime>> added = addedRecords(contentsOf(m_log), log);
    QVERIFY(added);
    QCOMPARE(added->size(), std::size_t(1));
}

void tst_Recorder::killedWriterLeavesOldOrUpdatedLog_data()
{
    QTest::addColumn<QByteArray>("log");

    // Large enough that reading it takes a good part of a run.
    const QByteArray canonical = QByteArray("#2002-02-02 17:41:51#\r\n").repeated(200'000);
    QTest::newRow("canonical") << canonical;
    QTest::newRow("LF line ends") << QByteArray(canonical).replace("\r\n", "\n");
}

void tst_Recorder::killedWriterLeavesOldOrUpdatedLog()
{
    QFETCH(QByteArray, log);

    const QByteArray name = QFile::encodeName(m_log);
    for (int attempt = 0; attempt < 40; ++attempt) {
        QVERIFY(writeFile(m_log, log));
        struct stat written;
        QCOMPARE(::stat(name.constData(), &written), 0);
        QProcess process;
        startProgram(process, m_recorder);
        QVERIFY(process.waitForStarted());
        // Killed at a random moment, or at once when the log is seen to
        // change, which is when an update that is not atomic would be torn.
        const QDeadlineTimer deadline(QRandomGenerator::global()->bounded(40));
        while (!deadline.hasExpired() && !changed(name, written)) { }
        process.kill();
        QVERIFY(process.waitForFinished());

        const QByteArray after = contentsOf(m_log);
        if (after != log) {
            const std::optional<std::vector<AccessTime>> added = addedRecords(after, log);
            QVERIFY2(added && added->size() == 1,
                     qPrintable(QStringLiteral("attempt %1: %2 bytes").arg(attempt).arg(after.size())));
        }
    }
}

void tst_Recorder::linksNoToolkit()
{
    QProcess ldd;
    ldd.start(QStringLiteral("ldd"), {m_recorder});
    const Run run = finish(ldd);
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(!run.output.contains("libQt"), run.output.constData());
    QVERIFY2(run.output.contains("libc.so"), run.output.constData());
}

QTEST_GUILESS_MAIN(tst_Recorder)
#include "tst_recorder.moc"
