#include "record/accesslog.h"
#include "tests/programrun.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray Canonical = "#2002-02-02 17:41:51#\r\n#2002-02-03#\r\n#17:41:51#\r\n";
const QByteArray LfOnly = "#2002-02-02 17:41:51#\n#2002-02-03#\n#17:41:51#\n";

const QStringList AsNobody = {QStringLiteral("setpriv"), QStringLiteral("--reuid=nobody"),
                              QStringLiteral("--regid=nogroup"), QStringLiteral("--clear-groups"),
                              QStringLiteral("--")};

// A copy of the logger in a folder of its own, where it records in the
// Date.txt next to it; a null log leaves it missing.
QString install(const QTemporaryDir &dir, const QByteArray &log)
{
    const QString program = dir.filePath(QStringLiteral("tallix"));
    if (!QFile::copy(QStringLiteral(TALLIX_LOGGER), program))
        return {};
    if (!log.isNull() && !writeFile(dir.filePath(QStringLiteral("Date.txt")), log))
        return {};
    return program;
}

QStringList entriesOf(const QTemporaryDir &dir)
{
    return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

bool changed(const QByteArray &path, const struct stat &before)
{
    struct stat now;
    return ::stat(path.constData(), &now) != 0 || now.st_ino != before.st_ino || now.st_size != before.st_size
        || now.st_mtim.tv_sec != before.st_mtim.tv_sec || now.st_mtim.tv_nsec != before.st_mtim.tv_nsec;
}

} // namespace

class tst_LoggerProgram : public QObject
{
    Q_OBJECT

private slots:
    void reportsUnusableLog_data();
    void reportsUnusableLog();
    void recordsOneAccess_data();
    void recordsOneAccess();
    void recordsWithoutDisplay_data();
    void recordsWithoutDisplay();
    void failedWriteLeavesLogUnchanged_data();
    void failedWriteLeavesLogUnchanged();
    void recordsKeepingOwnerAndMode_data();
    void recordsKeepingOwnerAndMode();
    void standardStreamsNobodyReads_data();
    void standardStreamsNobodyReads();
    void doubleFaultIsRepairedByTheNextAccess();
    void killedLoggerLeavesOldOrUpdatedLog_data();
    void killedLoggerLeavesOldOrUpdatedLog();
};

void tst_LoggerProgram::reportsUnusableLog_data()
{
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<int>("badLine");

    QTest::newRow("missing log") << QByteArray() << 0;
    QTest::newRow("no such day") << QByteArray("#2002-02-02 17:41:51#\r\n#2002-02-30#\r\n") << 2;
    QTest::newRow("no such time, after a blank line")
        << QByteArray("#2002-02-02#\r\n\r\n#2002-02-02 25:61:00#\r\n#17:41:51#\r\n") << 3;
    QTest::newRow("garbage, LF line ends") << QByteArray("#17:41:51#\n#2002-02-03#\n\n\ngarbage\n") << 5;
    QTest::newRow("garbage first, unterminated") << QByteArray("garbage") << 1;
    QTest::newRow("escape bytes for the terminal")
        << QByteArray("#2002-02-02 17:41:51#\r\n#2002-02-03#\r\n\x1b]2;pwned\x07\x1b[2J\x9b"
                      "31m\r\n")
        << 3;
}

// A missing log is not made; a damaged one is told, with the line to mend
// and never a byte that drives a terminal, and the access recorded after
// what it holds.
void tst_LoggerProgram::reportsUnusableLog()
{
    QFETCH(QByteArray, log);
    QFETCH(int, badLine);

    QTemporaryDir dir;
    const QString program = install(dir, log);
    QVERIFY(!program.isEmpty());
    const QString logPath = dir.filePath(QStringLiteral("Date.txt"));

    const Run run = runProgram(program);
    QVERIFY2(run.errors.contains(QFile::encodeName(logPath)), run.errors.constData());
    for (const char c : run.errors)
        QVERIFY2(c == '\n' || static_cast<unsigned char>(c) >= 0x20,
                 run.errors.toPercentEncoding().constData());
    if (log.isNull()) {
        QCOMPARE(run.exitCode, 1);
        QVERIFY(!QFileInfo::exists(logPath));
        return;
    }
    QVERIFY2(run.exitCode == 0, run.errors.constData());
    const QString message = QString::fromUtf8(run.errors).remove(logPath);
    QVERIFY2(message.contains(QRegularExpression(QStringLiteral("\\b%1\\b").arg(badLine))),
             run.errors.constData());
    const std::optional<std::vector<AccessTime>> added =
        addedRecords(contentsOf(logPath), log.endsWith('\n') ? log : log + "\r\n");
    QVERIFY(added);
    QCOMPARE(added->size(), std::size_t(1));
}

void tst_LoggerProgram::recordsOneAccess_data()
{
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<QByteArray>("kept");
    QTest::addColumn<bool>("throughLink");

    QTest::newRow("empty") << QByteArray("") << QByteArray("") << false;
    QTest::newRow("canonical") << Canonical << Canonical << false;
    QTest::newRow("last line unterminated") << Canonical.chopped(2) << Canonical << false;
    QTest::newRow("last line ends in CR alone") << Canonical.chopped(1) << Canonical << false;
    // Kept as they are: the log is never tidied.
    QTest::newRow("LF line ends") << LfOnly << LfOnly << false;
    const QByteArray blankLines =
        "\r\n#2002-02-02 17:41:51#\r\n\r\n \t\r\n#2002-02-03#\n#17:41:51#\r\n\r\n\n";
    QTest::newRow("blank lines") << blankLines << blankLines << false;
    const QByteArray longForms =
        "#2002-02-02 17:41:51#\r\n#2002-02-03 00:00:00#\r\n#1899-12-30 17:41:51#\r\n";
    QTest::newRow("long forms") << longForms << longForms << false;
    QTest::newRow("canonical, through a link") << Canonical << Canonical << true;
    QTest::newRow("LF line ends, through a link") << LfOnly << LfOnly << true;
}

void tst_LoggerProgram::recordsOneAccess()
{
    QFETCH(QByteArray, log);
    QFETCH(QByteArray, kept);
    QFETCH(bool, throughLink);

    QTemporaryDir dir;
    const QString program = install(dir, throughLink ? QByteArray() : log);
    QVERIFY(!program.isEmpty());
    const QString logPath = dir.filePath(QStringLiteral("Date.txt"));
    QString recordsPath = logPath;
    const QByteArray linkTarget = "records/access.log";
    if (throughLink) {
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("records")));
        recordsPath = dir.filePath(QString::fromLatin1(linkTarget));
        QVERIFY(writeFile(recordsPath, log));
        QCOMPARE(::symlink(linkTarget.constData(), QFile::encodeName(logPath).constData()), 0);
    }

    const AccessTime start = systemNow();
    const Run run = runProgram(program);
    QVERIFY2(run.exitCode == 0, run.errors.constData());

    const std::optional<std::vector<AccessTime>> added = addedRecords(contentsOf(recordsPath), kept);
    QVERIFY(added);
    QCOMPARE(added->size(), std::size_t(1));
    QVERIFY(recordedSince(added->front(), start));
    if (throughLink) {
        char target[64] = {};
        QCOMPARE(::readlink(QFile::encodeName(logPath).constData(), target, sizeof target - 1),
                 linkTarget.size());
        QCOMPARE(QByteArray(target), linkTarget);
    }
}

void tst_LoggerProgram::recordsWithoutDisplay_data()
{
    QTest::addColumn<QStringList>("settings");

    QTest::newRow("no display") << QStringList();
    // A platform Qt does not have must not stop the access being recorded,
    // nor a time zone far from the system's move it.
    QTest::newRow("unknown platform, far time zone") << QStringList{
        QStringLiteral("QT_QPA_PLATFORM=bogus"), QStringLiteral("TZ=UTC-14"), QStringLiteral("LANG=C")};
    QTest::newRow("zone of the caller's own, foreign language, no home") << QStringList{
        QStringLiteral("TZ=XYZ+12"), QStringLiteral("TZDIR=/tmp"), QStringLiteral("LC_ALL=ja_JP.UTF-8"),
        QStringLiteral("HOME=/nonexistent"), QStringLiteral("QT_PLUGIN_PATH=/tmp")};
}

void tst_LoggerProgram::recordsWithoutDisplay()
{
    QFETCH(QStringList, settings);

    QTemporaryDir dir;
    const QString program = install(dir, Canonical);
    QVERIFY(!program.isEmpty());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &name :
         {QStringLiteral("DISPLAY"), QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("QT_QPA_PLATFORM")})
        environment.remove(name);
    for (const QString &setting : settings)
        environment.insert(setting.section(u'=', 0, 0), setting.section(u'=', 1));

    const AccessTime start = systemNow();
    const Run run = runProgram(program, {}, environment);
    QVERIFY2(run.exitCode == 0, run.errors.constData());
    const std::optional<std::vector<AccessTime>> added =
        addedRecords(contentsOf(dir.filePath(QStringLiteral("Date.txt"))), Canonical);
    QVERIFY(added);
    QCOMPARE(added->size(), std::size_t(1));
    QVERIFY(recordedSince(added->front(), start));
}

void tst_LoggerProgram::failedWriteLeavesLogUnchanged_data()
{
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<bool>("readOnly");

    QTest::newRow("file-size limit, canonical") << Canonical << false;
    QTest::newRow("file-size limit, LF line ends") << LfOnly << false;
    QTest::newRow("read-only, canonical") << Canonical << true;
    QTest::newRow("read-only, LF line ends") << LfOnly << true;
}

void tst_LoggerProgram::failedWriteLeavesLogUnchanged()
{
    QFETCH(QByteArray, log);
    QFETCH(bool, readOnly);

    QTemporaryDir dir;
    const QString program = install(dir, log);
    QVERIFY(!program.isEmpty());
    const QString logPath = dir.filePath(QStringLiteral("Date.txt"));
    const QStringList entries = entriesOf(dir);

    QStringList wrapper;
    if (readOnly) {
        QCOMPARE(::chmod(QFile::encodeName(logPath).constData(), 0444), 0);
        QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
        // Root writes to any file whatever its mode.
        if (isRoot())
            wrapper = AsNobody;
    } else {
        wrapper = {QStringLiteral("prlimit"), QStringLiteral("--fsize=%1").arg(log.size() + 5),
                   QStringLiteral("--")};
    }

    const Run run = runProgram(program, wrapper);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.errors.contains(QFile::encodeName(logPath)), run.errors.constData());
    QCOMPARE(contentsOf(logPath), log);
    // Nothing is left behind but the lock a writer takes.
    QStringList after = entriesOf(dir);
    after.removeOne(QStringLiteral("Date.txt.lock"));
    QCOMPARE(after, entries);
}

void tst_LoggerProgram::recordsKeepingOwnerAndMode_data()
{
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<uint>("folderMode");
    QTest::addColumn<uint>("fileMode");
    QTest::addColumn<bool>("fileOfNobody");
    QTest::addColumn<bool>("runAsNobody");

    QTest::newRow("unusual mode") << LfOnly << 0700u << 0604u << false << false;
    QTest::newRow("file of another user") << LfOnly << 0700u << 0640u << true << false;
    QTest::newRow("folder not writable, file writable by all")
        << Canonical << 0755u << 0666u << false << true;
    QTest::newRow("folder not writable, file of the runner") << LfOnly << 0755u << 0644u << true << true;
    QTest::newRow("folder and file writable by all") << LfOnly << 0777u << 0666u << false << true;
}

void tst_LoggerProgram::recordsKeepingOwnerAndMode()
{
    QFETCH(QByteArray, log);
    QFETCH(uint, folderMode);
    QFETCH(uint, fileMode);
    QFETCH(bool, fileOfNobody);
    QFETCH(bool, runAsNobody);

    if ((fileOfNobody || runAsNobody) && !isRoot())
        QSKIP("Acting for another user needs root");

    QTemporaryDir dir;
    const QString program = install(dir, log);
    QVERIFY(!program.isEmpty());
    const QByteArray logPath = QFile::encodeName(dir.filePath(QStringLiteral("Date.txt")));
    QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), folderMode), 0);
    QCOMPARE(::chmod(logPath.constData(), fileMode), 0);
    if (fileOfNobody) {
        const passwd *user = ::getpwnam("nobody");
        const group *users = ::getgrnam("nogroup");
        QVERIFY(user && users);
        QCOMPARE(::chown(logPath.constData(), user->pw_uid, users->gr_gid), 0);
    }
    // A folder its users cannot write holds the lock its owner made for them.
    if (folderMode == 0755u)
        QVERIFY(writeFile(dir.filePath(QStringLiteral("Date.txt.lock")), {}));
    struct stat before;
    QCOMPARE(::stat(logPath.constData(), &before), 0);

    const Run run = runProgram(program, runAsNobody ? AsNobody : QStringList());
    QVERIFY2(run.exitCode == 0, run.errors.constData());

    const std::optional<std::vector<AccessTime>> added =
        addedRecords(contentsOf(QFile::decodeName(logPath)), log);
    QVERIFY(added);
    QCOMPARE(added->size(), std::size_t(1));
    struct stat after;
    QCOMPARE(::stat(logPath.constData(), &after), 0);
    QCOMPARE(after.st_uid, before.st_uid);
    QCOMPARE(after.st_gid, before.st_gid);
    QCOMPARE(after.st_mode, before.st_mode);
}

void tst_LoggerProgram::standardStreamsNobodyReads_data()
{
    QTest::addColumn<QString>("script");

    // A careless program would open the log as its standard error.
    QTest::newRow("all closed") << QStringLiteral("exec \"$0\" <&- >&- 2>&-");
    // Its warning about the damaged line must not kill it before it lists.
    QTest::newRow("standard error a pipe whose reader is gone")
        << QStringLiteral("set -o pipefail; \"$0\" 2>&1 >/dev/null | true");
}

void tst_LoggerProgram::standardStreamsNobodyReads()
{
    QFETCH(QString, script);

    const QByteArray log = Canonical + "garbage\r\n";
    QTemporaryDir dir;
    const QString program = install(dir, log);
    QVERIFY(!program.isEmpty());

    const Run run = runProgram(program, {QStringLiteral("bash"), QStringLiteral("-c"), script});
    QCOMPARE(run.exitCode, 0);
    const std::optional<std::vector<AccessTime>> added =
        addedRecords(contentsOf(dir.filePath(QStringLiteral("Date.txt"))), log);
    QVERIFY(added);
    QCOMPARE(added->size(), std::size_t(1));
}

// A short write whose cut-back fails too leaves part of a record behind;
// it must cost the next access nothing.
void tst_LoggerProgram::doubleFaultIsRepairedByTheNextAccess()
{
    QTemporaryDir dir;
    const QString program = install(dir, Canonical);
    QVERIFY(!program.isEmpty());
    const QString logPath = dir.filePath(QStringLiteral("Date.txt"));
    QProcessEnvironment faulty = QProcessEnvironment::systemEnvironment();
    faulty.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(TALLIX_FAULTS));
    faulty.insert(QStringLiteral("TALLIX_FAULT"), QStringLiteral("torn-write"));

    const Run failed = runProgram(program, {}, faulty);
    QCOMPARE(failed.exitCode, 1);
    QVERIFY2(failed.errors.contains("incompleta"), failed.errors.constData());
    const QByteArray torn = contentsOf(logPath);
    QVERIFY2(torn.size() > Canonical.size() && !torn.endsWith('\n'), torn.constData());

    const Run repaired = runProgram(program);
    QVERIFY2(repaired.exitCode == 0, repaired.errors.constData());
    QVERIFY2(repaired.errors.contains("incompleta"), repaired.errors.constData());
    const std::optional<std::vector<AccessTime>> added = addedRecords(contentsOf(logPath), Canonical);
    QVERIFY(added);
    QCOMPARE(added->size(), std::size_t(1));
}

void tst_LoggerProgram::killedLoggerLeavesOldOrUpdatedLog_data()
{
    QTest::addColumn<QByteArray>("log");

    // Large enough that reading it takes a good part of an update.
    const QByteArray canonical = QByteArray("#2002-02-02 17:41:51#\r\n").repeated(200'000);
    QTest::newRow("canonical") << canonical;
    QTest::newRow("LF line ends") << QByteArray(canonical).replace("\r\n", "\n");
}

void tst_LoggerProgram::killedLoggerLeavesOldOrUpdatedLog()
{
    QFETCH(QByteArray, log);

    QTemporaryDir dir;
    const QString program = install(dir, log);
    QVERIFY(!program.isEmpty());
    const QString logPath = dir.filePath(QStringLiteral("Date.txt"));
    const QByteArray name = QFile::encodeName(logPath);
    for (int attempt = 0; attempt < 40; ++attempt) {
        QVERIFY(writeFile(logPath, log));
        struct stat written;
        QCOMPARE(::stat(name.constData(), &written), 0);
        QProcess process;
        startProgram(process, program);
        QVERIFY(process.waitForStarted());
        // Killed at a random moment of its start and update, or at once when
        // the log is seen to change, which is when an update that is not
        // atomic would be torn.
        const QDeadlineTimer deadline(QRandomGenerator::global()->bounded(300));
        while (!deadline.hasExpired() && !changed(name, written)) { }
        process.kill();
        QVERIFY(process.waitForFinished());

        const QByteArray after = contentsOf(logPath);
        if (after != log) {
            const std::optional<std::vector<AccessTime>> added = addedRecords(after, log);
            QVERIFY2(added && added->size() == 1,
                     qPrintable(QStringLiteral("attempt %1: %2 bytes").arg(attempt).arg(after.size())));
        }
    }
}

QTEST_MAIN(tst_LoggerProgram)
#include "tst_loggerprogram.moc"
