#include "log/logupdate.h"

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
    void badRecordLeavesTheLogUntouched();
    void clockPastYear9999RecordsNothing();
    void lockFileBesideTheLogIsTheOneTaken();
    void normalisingKeepsModeAndOwner();
    void symbolicLinkStaysALink();
    void waitsForAnotherLogger();
    void followsALogReplacedWhileWaiting();

private:
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
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<bool>("torn");

    const QByteArray canonical = "#2002-02-02 17:41:51#\r\n#2002-02-03#\r\n";
    QTest::newRow("empty") << QByteArray() << QByteArray() << false;
    QTest::newRow("canonical") << canonical << canonical << false;
    QTest::newRow("last line without CR LF")
        << QByteArray("#2002-02-02 17:41:51#\r\n#17:41:51#")
        << QByteArray("#2002-02-02 17:41:51#\r\n#17:41:51#\r\n") << false;
    QTest::newRow("LF line ends and a blank line")
        << QByteArray("#2002-02-02 17:41:51#\n\n#2002-02-03 00:00:00#\n") << canonical << false;
    // What an interrupted write leaves is cut off first.
    QTest::newRow("torn: part of a record") << canonical + "#2026-12-0" << canonical << true;
    QTest::newRow("torn: zeros") << canonical + QByteArray(23, '\0') << canonical << true;
    QTest::newRow("torn: nothing but a torn record") << QByteArray("#20") << QByteArray() << true;
    // Normalised through a new file, or appended to where none can be made.
    QTest::newRow("torn: part of a record, LF line ends")
        << QByteArray("#2002-02-02 17:41:51#\n#2002-02-03#\n#2026-12-07 0") << canonical << true;
}

// The records handed over are what the log held before, in file form.
void tst_LogUpdate::appendsOneRecordAndHandsOverTheOthers()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    QFETCH(bool, torn);

    LogUpdate update(write(before));
    QVERIFY2(update.run(clock()), said(update));
    QCOMPARE(read(m_path), after + m_nowRecord);
    QCOMPARE(fromStd(update.records()), after);
    QCOMPARE(read(m_path).mid(qsizetype(update.recordOffset())), m_nowRecord);
    QCOMPARE(update.notice().find("incompleta") != std::string::npos, torn);
    // What is quoted from the file cannot drive a terminal.
    QVERIFY(update.notice().find('\0') == std::string::npos);
}

void tst_LogUpdate::clockPastYear9999RecordsNothing()
{
    const QByteArray log = "#2002-02-03#\r\n";
    LogUpdate update(write(log));
    QVERIFY(!update.run([] { return std::optional<AccessTime>(); }));
    QVERIFY2(update.errorString().find("0001-9999") != std::string::npos, said(update));
    QCOMPARE(read(m_path), log);
}

void tst_LogUpdate::missingLogIsNotCreated()
{
    LogUpdate update(path());
    QVERIFY(!update.run(clock()));
    QVERIFY2(update.errorString().find(path()) != std::string::npos, said(update));
    QVERIFY(!QFile::exists(m_path));
}

void tst_LogUpdate::badRecordLeavesTheLogUntouched()
{
    const QByteArray before = "#2002-02-02 17:41:51#\n#2002-02-02 25:61:00#\r\n#2002-02-03#\r\n";
    LogUpdate update(write(before));
    QVERIFY(!update.run(clock()));
    QCOMPARE(read(m_path), before);
    QVERIFY2(update.errorString().find("riga 2") != std::string::npos, said(update));
    QVERIFY2(update.errorString().find("#2002-02-02 25:61:00#") != std::string::npos, said(update));
}

// Readers of the log can lock the log itself; only the lock file beside it
// keeps the writers apart, so a lock held on the log must not delay them.
void tst_LogUpdate::lockFileBesideTheLogIsTheOneTaken()
{
    write("#2002-02-03#\r\n");
    const QString lockPath = m_path + QStringLiteral(".lock");
    QVERIFY(QFile(lockPath).open(QIODevice::WriteOnly));
    const int reader = ::open(QFile::encodeName(m_path).constData(), O_RDONLY);
    QCOMPARE(::flock(reader, LOCK_EX), 0);

    LogUpdate free(path());
    QVERIFY2(free.run(clock()), said(free));

    const int writer = ::open(QFile::encodeName(lockPath).constData(), O_RDONLY);
    QCOMPARE(::flock(writer, LOCK_EX | LOCK_NB), 0);
    std::atomic<bool> released = false;
    std::thread holder([writer, &released] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        released = true;
        ::close(writer);
    });
    // A writer held up before the lock must not bring an older time to it.
    bool clockReadWhileLocked = false;
    LogUpdate waiting(path());
    const bool recorded = waiting.run([&] {
        clockReadWhileLocked = !released;
        return std::optional(m_now);
    });
    holder.join();
    ::close(reader);
    QVERIFY2(recorded, said(waiting));
    QVERIFY(!clockReadWhileLocked);
    QCOMPARE(waiting.record(), std::string("#2026-12-07 08:30:00#"));
    QCOMPARE(read(m_path), "#2002-02-03#\r\n" + m_nowRecord + m_nowRecord);
}

void tst_LogUpdate::normalisingKeepsModeAndOwner()
{
    write("#2002-02-03#\n");
    QCOMPARE(::chmod(QFile::encodeName(m_path).constData(), 0604), 0);
    const bool root = ::geteuid() == 0;
    if (root)
        QCOMPARE(::chown(QFile::encodeName(m_path).constData(), 65534, 65534), 0);

    LogUpdate update(path());
    QVERIFY2(update.run(clock()), said(update));
    QCOMPARE(read(m_path), "#2002-02-03#\r\n" + m_nowRecord);
    struct stat status;
    QCOMPARE(::stat(QFile::encodeName(m_path).constData(), &status), 0);
    QCOMPARE(status.st_mode & 07777, 0604u);
    if (root) {
        QCOMPARE(status.st_uid, 65534u);
        QCOMPARE(status.st_gid, 65534u);
    }
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{QStringLiteral("Date.txt")});
}

void tst_LogUpdate::symbolicLinkStaysALink()
{
    const QString target = m_dir->filePath(QStringLiteral("real.txt"));
    write("#2002-02-03#\n");
    QFile::rename(m_path, target);
    QVERIFY(QFile::link(target, m_path));

    LogUpdate update(path());
    QVERIFY2(update.run(clock()), said(update));
    QVERIFY(QFileInfo(m_path).isSymLink());
    QCOMPARE(read(target), "#2002-02-03#\r\n" + m_nowRecord);
}

void tst_LogUpdate::waitsForAnotherLogger()
{
    write("#2002-02-03#\r\n");
    const int fd = ::open(QFile::encodeName(m_path).constData(), O_RDONLY);
    QCOMPARE(::flock(fd, LOCK_EX), 0);
    std::thread holder([fd] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::close(fd);
    });

    LogUpdate update(path());
    const bool recorded = update.run(clock());
    holder.join();
    QVERIFY2(recorded, said(update));
    QCOMPARE(read(m_path), "#2002-02-03#\r\n" + m_nowRecord);
}

// A logger that normalised the log replaced the file while this one waited
// for the lock on the old one: the record must go into the new file.
void tst_LogUpdate::followsALogReplacedWhileWaiting()
{
    write("#2002-02-03#\r\n");
    const int fd = ::open(QFile::encodeName(m_path).constData(), O_RDONLY);
    QCOMPARE(::flock(fd, LOCK_EX), 0);
    const QString replacement = m_dir->filePath(QStringLiteral("new.txt"));
    std::thread holder([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        QFile file(replacement);
        file.open(QIODevice::WriteOnly);
        file.write("#2002-02-03#\r\n#2002-02-04#\r\n");
        file.close();
        ::rename(QFile::encodeName(replacement).constData(), QFile::encodeName(m_path).constData());
        ::close(fd);
    });

    LogUpdate update(path());
    const bool recorded = update.run(clock());
    holder.join();
    QVERIFY2(recorded, said(update));
    QCOMPARE(read(m_path), "#2002-02-03#\r\n#2002-02-04#\r\n" + m_nowRecord);
}

QTEST_GUILESS_MAIN(tst_LogUpdate)
#include "tst_logupdate.moc"
