#include "accesslog.h"
#include "displaytext.h"
#include "logupdate.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

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
    void appendsOneRecordAndListsTheOthers_data();
    void appendsOneRecordAndListsTheOthers();
    void missingLogIsNotCreated();
    void badRecordLeavesTheLogUntouched();
    void normalisingKeepsModeAndOwner();
    void symbolicLinkStaysALink();
    void waitsForAnotherLogger();
    void followsALogReplacedWhileWaiting();

private:
    QString write(const QByteArray &contents);
    static QByteArray read(const QString &path);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
    const AccessTime m_now = *AccessTime::fromFields(2026, 12, 7, 8, 30, 0);
    const QByteArray m_nowRecord = "#2026-12-07 08:30:00#\r\n";
    const DisplayText m_display{QLocale(QLocale::Italian, QLocale::Italy)};
};

void tst_LogUpdate::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_path = m_dir->filePath(QStringLiteral("Date.txt"));
}

QString tst_LogUpdate::write(const QByteArray &contents)
{
    QFile file(m_path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        qFatal("cannot write %s", qPrintable(m_path));
    return m_path;
}

QByteArray tst_LogUpdate::read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void tst_LogUpdate::appendsOneRecordAndListsTheOthers_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<QString>("listed");

    QTest::newRow("empty") << QByteArray() << QByteArray() << QString();
    QTest::newRow("canonical")
        << QByteArray("#2002-02-02 17:41:51#\r\n#2002-02-03#\r\n")
        << QByteArray("#2002-02-02 17:41:51#\r\n#2002-02-03#\r\n")
        << QStringLiteral("02/02/02 17:41:51\r\n03/02/02\r\n");
    QTest::newRow("last line without CR LF")
        << QByteArray("#2002-02-02 17:41:51#\r\n#17:41:51#")
        << QByteArray("#2002-02-02 17:41:51#\r\n#17:41:51#\r\n")
        << QStringLiteral("02/02/02 17:41:51\r\n17:41:51\r\n");
    QTest::newRow("LF line ends and a blank line")
        << QByteArray("#2002-02-02 17:41:51#\n\n#2002-02-03 00:00:00#\n")
        << QByteArray("#2002-02-02 17:41:51#\r\n#2002-02-03#\r\n")
        << QStringLiteral("02/02/02 17:41:51\r\n03/02/02\r\n");
}

void tst_LogUpdate::appendsOneRecordAndListsTheOthers()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    QFETCH(QString, listed);

    LogUpdate update(write(before));
    QVERIFY2(update.run(m_now, m_display), qPrintable(update.errorString()));
    QCOMPARE(read(m_path), after + m_nowRecord);
    QCOMPARE(update.displayTexts(), listed);
}

void tst_LogUpdate::missingLogIsNotCreated()
{
    LogUpdate update(m_path);
    QVERIFY(!update.run(m_now, m_display));
    QVERIFY2(update.errorString().contains(m_path), qPrintable(update.errorString()));
    QVERIFY(!QFile::exists(m_path));
}

void tst_LogUpdate::badRecordLeavesTheLogUntouched()
{
    const QByteArray before = "#2002-02-02 17:41:51#\n#2002-02-02 25:61:00#\r\n#2002-02-03#\r\n";
    LogUpdate update(write(before));
    QVERIFY(!update.run(m_now, m_display));
    QCOMPARE(read(m_path), before);
    QVERIFY2(update.errorString().contains(QStringLiteral("riga 2")), qPrintable(update.errorString()));
    QVERIFY2(update.errorString().contains(QStringLiteral("#2002-02-02 25:61:00#")),
             qPrintable(update.errorString()));
}

void tst_LogUpdate::normalisingKeepsModeAndOwner()
{
    write("#2002-02-03#\n");
    QCOMPARE(::chmod(QFile::encodeName(m_path).constData(), 0604), 0);
    const bool root = ::geteuid() == 0;
    if (root)
        QCOMPARE(::chown(QFile::encodeName(m_path).constData(), 65534, 65534), 0);

    LogUpdate update(m_path);
    QVERIFY2(update.run(m_now, m_display), qPrintable(update.errorString()));
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
    QFile::rename(write("#2002-02-03#\n"), target);
    QVERIFY(QFile::link(target, m_path));

    LogUpdate update(m_path);
    QVERIFY2(update.run(m_now, m_display), qPrintable(update.errorString()));
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

    LogUpdate update(m_path);
    const bool recorded = update.run(m_now, m_display);
    holder.join();
    QVERIFY2(recorded, qPrintable(update.errorString()));
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

    LogUpdate update(m_path);
    const bool recorded = update.run(m_now, m_display);
    holder.join();
    QVERIFY2(recorded, qPrintable(update.errorString()));
    QCOMPARE(read(m_path), "#2002-02-03#\r\n#2002-02-04#\r\n" + m_nowRecord);
}

QTEST_GUILESS_MAIN(tst_LogUpdate)
#include "tst_logupdate.moc"
