#include "log/accesslog.h"
#include "tests/programrun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
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

// A copy of the logger and its recorder in a folder of their own, where
// they record in the Date.txt next to them; a null log leaves it missing.
QString install(const QTemporaryDir &dir, const QByteArray &log)
{
    const QString program = dir.filePath(QStringLiteral("tallix"));
    if (!QFile::copy(QStringLiteral(TALLIX_LOGGER), program)
        || !QFile::copy(QStringLiteral(TALLIX_RECORDER), dir.filePath(QStringLiteral("tallix-record"))))
        return {};
    if (!log.isNull() && !writeFile(dir.filePath(QStringLiteral("Date.txt")), log))
        return {};
    return program;
}

QStringList entriesOf(const QTemporaryDir &dir)
{
    return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
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
}

// A missing log is not made; a damaged one is told, with the line to mend,
// and the access recorded after what it holds.
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

QTEST_MAIN(tst_LoggerProgram)
#include "tst_loggerprogram.moc"
