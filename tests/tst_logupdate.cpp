#include "record/accesslog.h"
#include "record/logcheck.h"
#include "record/logupdate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

class tst_LogUpdate : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void appendsOneRecordAndHandsOverTheOthers_data();
    void appendsOneRecordAndHandsOverTheOthers();
    void missingLogIsNotCreated();
    void readsTheLogAgainOnlyWhereAnotherChangedIt_data();
    void readsTheLogAgainOnlyWhereAnotherChangedIt();
    void serviceKeepsRoomForTheNextRecords();
    void clockPastYear9999RecordsNothing();
    void lockFileBesideTheLogIsTheOneTaken_data();
    void lockFileBesideTheLogIsTheOneTaken();
    void appendingKeepsModeOwnerAndFolder();
    void symbolicLinkStaysALink();
    void waitsForAnotherLogger();
    void followsALogReplacedWhileWaiting();

private:
    enum class Change { None, InPlace, Grown, Replaced };

    std::string write(const QByteArray &contents);
    static QByteArray read(const QString &path);
    std::string path() const { return m_path.toStdString(); }
    LogUpdate::Clock clock() const
    {
        return [this] { return std::optional(m_now); };
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
    const AccessTime m_now = *AccessTime::fromFields(2026, 12, 7, 8, 30, 0);
    const QByteArray m_nowRecord = "#2026-12-07 08:30:00#\r\n";
};

namespace {

QByteArray fromStd(std::string_view text)
{
    return QByteArray(text.data(), qsizetype(text.size()));
}

const char *said(const LogUpdate &update)
{
    return update.errorString().c_str();
}

// What the service's search finds in the log, once it has read it all.
std::string searched(const std::string &path)
{
    LogCheck check(path);
    check.start();
    std::string found;
    while (check.pending()) {
        if (const std::optional<std::string> damage = check.step(); damage && found.empty())
            found = *damage;
    }
    return found;
}

// A writer that holds the lock beside the log, as another logger does.
int lockBeside(const QString &log)
{
    const int fd = ::open(QFile::encodeName(log + QStringLiteral(".lock")).constData(),
                          O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0)
        qFatal("cannot lock %s", qPrintable(log));
    return fd;
}

} // namespace

void tst_LogUpdate::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_path = m_dir->filePath(QStringLiteral("Date.txt"));
}

std::string tst_LogUpdate::write(const QByteArray &contents)
{
    QFile file(m_path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        qFatal("cannot write %s", qPrintable(m_path));
    return path();
}

QByteArray tst_LogUpdate::read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void tst_LogUpdate::appendsOneRecordAndHandsOverTheOthers_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("kept"); // the file's bytes before the new record
    QTest::addColumn<bool>("torn");
    QTest::addColumn<int>("badLine");

    const QByteArray canonical = "#2002-02-02 17:41:51#\r\n#2002-02-03#\r\n";
    QTest::newRow("empty") << QByteArray() << QByteArray() << false << 0;
    QTest::newRow("canonical") << canonical << canonical << false << 0;
    QTest::newRow("last line without CR LF")
        << QByteArray("#2002-02-02 17:41:51#\r\n#17:41:51#")
        << QByteArray("#2002-02-02 17:41:51#\r\n#17:41:51#\r\n") << false << 0;
    QTest::newRow("last line ends in CR alone") << canonical.chopped(1) << canonical << false << 0;
    // Nothing is tidied: whatever the log holds stays as it is.
    const QByteArray lfAndBlank = "#2002-02-02 17:41:51#\n\n#2002-02-03 00:00:00#\n";
    QTest::newRow("LF line ends and a blank line") << lfAndBlank << lfAndBlank << false << 0;
    const QByteArray damaged = "#2002-02-02 17:41:51#\n#2002-02-02 25:61:00#\r\n#2002-02-03#\r\n";
    QTest::newRow("a line that is no date") << damaged << damaged << false << 2;
    const QByteArray comment = "# Tallix\r\n#2002-02-03#\r\n";
    QTest::newRow("a comment line") << comment << comment << false << 1;
    const QByteArray marked = "\xEF\xBB\xBF#2002-02-03#\r\n";
    QTest::newRow("a UTF-8 mark") << marked << marked << false << 0;
    // What an interrupted write leaves is cut off first.
    QTest::newRow("torn: part of a record") << canonical + "#2026-12-0" << canonical << true << 0;
    QTest::newRow("torn: zeros") << canonical + QByteArray(23, '\0') << canonical << true << 0;
    QTest::newRow("torn: nothing but a torn record") << QByteArray("#20") << QByteArray() << true << 0;
    QTest::newRow("torn: part of a record, LF line ends")
        << QByteArray("#2002-02-02 17:41:51#\n#2002-02-03#\n#2026-12-07 0")
        << QByteArray("#2002-02-02 17:41:51#\n#2002-02-03#\n") << true << 0;
    const QByteArray longLine(70000, 'x');
    QTest::newRow("a last line longer than any torn write") << longLine << longLine + "\r\n" << false << 1;
    QTest::newRow("torn, after a line that is no date")
        << QByteArray("garbage\r\n#2026-12-0") << QByteArray("garbage\r\n") << true << 1;
}

// The service's first access mends the log's end as the private logger's
// does, and its search finds the damage after it; only the private one
// hands the records over.
void tst_LogUpdate::appendsOneRecordAndHandsOverTheOthers()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, kept);
    QFETCH(bool, torn);
    QFETCH(int, badLine);

    for (const LogUpdate::Reading reading : {LogUpdate::Reading::Whole, LogUpdate::Reading::Changes}) {
        LogUpdate update(write(before), reading);
        QVERIFY2(update.run(clock()), said(update));
        QCOMPARE(read(m_path), kept + m_nowRecord);
        QCOMPARE(update.recordOffset(), std::size_t(kept.size()));
        if (reading == LogUpdate::Reading::Whole) {
            QCOMPARE(fromStd(update.records()), torn ? kept : before);
            QVERIFY(update.times() == AccessLog::parse(update.records()).times);
        }
        QCOMPARE(update.notice().find("incompleta") != std::string::npos, torn);
        const std::string damage = reading == LogUpdate::Reading::Whole ? update.damage() : searched(path());
        QCOMPARE(damage.find("riga " + std::to_string(badLine) + ":") != std::string::npos, badLine > 0);
        // What is quoted from the file cannot drive a terminal.
        QVERIFY(update.notice().find('\0') == std::string::npos);
    }
}

// A user who fills the file system the log shares must not stop the
// service's next records: their blocks are taken before anyone else can.
void tst_LogUpdate::serviceKeepsRoomForTheNextRecords()
{
    const auto allocated = [this] {
        struct stat status;
        return ::stat(QFile::encodeName(m_path).constData(), &status) == 0
            ? std::size_t(status.st_blocks) * 512
            : 0;
    };
    const int probe = ::open(QFile::encodeName(m_dir->filePath(QStringLiteral("probe"))).constData(),
                             O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    const bool keepsBlocks = probe >= 0 && ::fallocate(probe, FALLOC_FL_KEEP_SIZE, 0, 4096) == 0;
    if (probe >= 0)
        ::close(probe);
    if (!keepsBlocks)
        QSKIP("this file system keeps no blocks past a file's end");
    for (const LogUpdate::Reading reading : {LogUpdate::Reading::Whole, LogUpdate::Reading::Changes}) {
        LogUpdate update(write("#2002-02-03#\r\n"), reading);
        for (int access = 0; access < 2; ++access) {
            QVERIFY2(update.run(clock()), said(update));
            const std::size_t size = std::size_t(QFileInfo(m_path).size());
            QCOMPARE(allocated() >= size + LogUpdate::Reserve, reading == LogUpdate::Reading::Changes);
        }
    }
}

void tst_LogUpdate::clockPastYear9999RecordsNothing()
{
    const QByteArray log = "#2002-02-03#\r\n";
    LogUpdate update(write(log), LogUpdate::Reading::Whole);
    QVERIFY(!update.run([] { return std::optional<AccessTime>(); }));
    QVERIFY2(update.errorString().find("0001-9999") != std::string::npos, said(update));
    QCOMPARE(read(m_path), log);
}

void tst_LogUpdate::missingLogIsNotCreated()
{
    LogUpdate update(path(), LogUpdate::Reading::Whole);
    QVERIFY(!update.run(clock()));
    QVERIFY2(update.errorString().find(path()) != std::string::npos, said(update));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList());
}

void tst_LogUpdate::readsTheLogAgainOnlyWhereAnotherChangedIt_data()
{
    QTest::addColumn<Change>("change");
    QTest::addColumn<QByteArray>("appended");
    QTest::addColumn<bool>("changed");

    QTest::newRow("nobody else wrote") << Change::None << QByteArray() << false;
    // Proof that nothing is read: a line made bad goes unseen.
    QTest::newRow("a line changed in place") << Change::InPlace << QByteArray() << false;
    QTest::newRow("grown by another") << Change::Grown << QByteArray("#2002-02-04#\r\n") << true;
    QTest::newRow("grown by a torn write") << Change::Grown << QByteArray("#2026-1") << true;
    QTest::newRow("replaced by another") << Change::Replaced << QByteArray() << true;
}

// An access costs the service the same whatever the log's length: it reads
// the log's end, and sets the search going, only where someone else changed
// the file.
void tst_LogUpdate::readsTheLogAgainOnlyWhereAnotherChangedIt()
{
    QFETCH(Change, change);
    QFETCH(QByteArray, appended);
    QFETCH(bool, changed);

    LogUpdate update(write("#2002-02-03#\r\ngarbage\r\n"), LogUpdate::Reading::Changes);
    QVERIFY2(update.run(clock()), said(update));
    QVERIFY(update.changedByOthers());
    QVERIFY2(update.run(clock()), said(update));
    QVERIFY(!update.changedByOthers());

    QByteArray before = read(m_path);
    if (change == Change::InPlace) {
        QFile file(m_path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.write("#2002-02-3x#") == 12);
        before.replace(0, 12, "#2002-02-3x#");
    } else if (change == Change::Grown) {
        QFile file(m_path);
        QVERIFY(file.open(QIODevice::Append));
        QVERIFY(file.write(appended) == appended.size());
        before += appended;
    } else if (change == Change::Replaced) {
        const QString replacement = m_dir->filePath(QStringLiteral("new.txt"));
        QFile file(replacement);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(before) == before.size());
        file.close();
        QCOMPARE(::rename(QFile::encodeName(replacement).constData(), QFile::encodeName(m_path).constData()),
                 0);
    }

    QVERIFY2(update.run(clock()), said(update));
    QCOMPARE(update.changedByOthers(), changed);
    const QByteArray kept = before.endsWith('\n') ? before : before.left(before.lastIndexOf('\n') + 1);
    QCOMPARE(!update.notice().empty(), kept != before);
    QCOMPARE(read(m_path), kept + m_nowRecord);
    QCOMPARE(update.recordOffset(), std::size_t(kept.size()));

    QVERIFY2(update.run(clock()), said(update));
    QVERIFY(!update.changedByOthers());
}

// Readers of the log can lock the log itself; only the lock file beside it
// keeps the writers apart, so a lock held on the log must not delay them.
// Whoever may write the log may open its lock, and no one else.
void tst_LogUpdate::lockFileBesideTheLogIsTheOneTaken_data()
{
    QTest::addColumn<uint>("logMode");
    QTest::addColumn<int>("lockBefore"); // -1: missing
    QTest::addColumn<uint>("lockAfter");

    QTest::newRow("lock made by the set-up") << 0644u << 0600 << 0600u;
    QTest::newRow("lock missing") << 0644u << -1 << 0600u;
    QTest::newRow("lock missing, a log all may write") << 0666u << -1 << 0644u;
    QTest::newRow("lock missing, a log its group may write") << 0664u << -1 << 0640u;
    QTest::newRow("a narrower lock of ours, a log all may write") << 0666u << 0600 << 0644u;
}

void tst_LogUpdate::lockFileBesideTheLogIsTheOneTaken()
{
    QFETCH(uint, logMode);
    QFETCH(int, lockBefore);
    QFETCH(uint, lockAfter);

    write("#2002-02-03#\r\n");
    QCOMPARE(::chmod(QFile::encodeName(m_path).constData(), logMode), 0);
    const QByteArray lockPath = QFile::encodeName(m_path + QStringLiteral(".lock"));
    if (lockBefore >= 0) {
        const int made = ::open(lockPath.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        QVERIFY(made >= 0);
        QCOMPARE(::fchmod(made, mode_t(lockBefore)), 0);
        ::close(made);
    }
    const int reader = ::open(QFile::encodeName(m_path).constData(), O_RDONLY);
    QCOMPARE(::flock(reader, LOCK_EX), 0);

    // The narrowest umask: the lock's mode must not depend on it.
    const mode_t umask = ::umask(077);
    LogUpdate update(path(), LogUpdate::Reading::Whole);
    const bool recorded = update.run(clock());
    ::umask(umask);
    ::close(reader);
    QVERIFY2(recorded, said(update));
    QCOMPARE(read(m_path), "#2002-02-03#\r\n" + m_nowRecord);
    struct stat lock;
    QCOMPARE(::lstat(lockPath.constData(), &lock), 0);
    QVERIFY(S_ISREG(lock.st_mode));
    QCOMPARE(uint(lock.st_mode & 07777), lockAfter);
}

void tst_LogUpdate::appendingKeepsModeOwnerAndFolder()
{
    write("#2002-02-03#\n");
    QCOMPARE(::chmod(QFile::encodeName(m_path).constData(), 0604), 0);
    const bool root = ::geteuid() == 0;
    if (root)
        QCOMPARE(::chown(QFile::encodeName(m_path).constData(), 65534, 65534), 0);

    LogUpdate update(path(), LogUpdate::Reading::Whole);
    QVERIFY2(update.run(clock()), said(update));
    QCOMPARE(read(m_path), "#2002-02-03#\n" + m_nowRecord);
    struct stat status;
    QCOMPARE(::stat(QFile::encodeName(m_path).constData(), &status), 0);
    QCOMPARE(status.st_mode & 07777, 0604u);
    if (root) {
        QCOMPARE(status.st_uid, 65534u);
        QCOMPARE(status.st_gid, 65534u);
    }
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files),
             (QStringList{QStringLiteral("Date.txt"), QStringLiteral("Date.txt.lock")}));
}

void tst_LogUpdate::symbolicLinkStaysALink()
{
    const QString target = m_dir->filePath(QStringLiteral("real.txt"));
    write("#2002-02-03#\n");
    QFile::rename(m_path, target);
    QVERIFY(QFile::link(target, m_path));

    LogUpdate update(path(), LogUpdate::Reading::Whole);
    QVERIFY2(update.run(clock()), said(update));
    QVERIFY(QFileInfo(m_path).isSymLink());
    QCOMPARE(read(target), "#2002-02-03#\n" + m_nowRecord);
    // The lock goes with the file, whichever name leads to it.
    QVERIFY(QFileInfo::exists(target + QStringLiteral(".lock")));
}

void tst_LogUpdate::waitsForAnotherLogger()
{
    write("#2002-02-03#\r\n");
    const int writer = lockBeside(m_path);
    std::atomic<bool> released = false;
    std::thread holder([writer, &released] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        released = true;
        ::close(writer);
    });
    // A writer held up before the lock must not bring an older time to it.
    bool clockReadWhileLocked = false;
    LogUpdate update(path(), LogUpdate::Reading::Whole);
    const bool recorded = update.run([&] {
        clockReadWhileLocked = !released;
        return std::optional(m_now);
    });
    holder.join();
    QVERIFY2(recorded, said(update));
    QVERIFY(!clockReadWhileLocked);
    QCOMPARE(update.record(), std::string("#2026-12-07 08:30:00#"));
    QCOMPARE(read(m_path), "#2002-02-03#\r\n" + m_nowRecord);
}

// Someone replaced the file while this logger waited for the lock: the
// record must go into the new file.
void tst_LogUpdate::followsALogReplacedWhileWaiting()
{
    write("#2002-02-03#\r\n");
    const int writer = lockBeside(m_path);
    const QString replacement = m_dir->filePath(QStringLiteral("new.txt"));
    std::thread holder([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        QFile file(replacement);
        file.open(QIODevice::WriteOnly);
        file.write("#2002-02-03#\r\n#2002-02-04#\r\n");
        file.close();
        ::rename(QFile::encodeName(replacement).constData(), QFile::encodeName(m_path).constData());
        ::close(writer);
    });

    LogUpdate update(path(), LogUpdate::Reading::Whole);
    const bool recorded = update.run(clock());
    holder.join();
    QVERIFY2(recorded, said(update));
    QCOMPARE(read(m_path), "#2002-02-03#\r\n#2002-02-04#\r\n" + m_nowRecord);
}

QTEST_GUILESS_MAIN(tst_LogUpdate)
#include "tst_logupdate.moc"
