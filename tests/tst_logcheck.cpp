#include "record/logcheck.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <memory>

#include <sys/xattr.h>

// The service's search for damaged lines: a piece at a time, told once.
class tst_LogCheck : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void findsTheFirstDamagedLineWhereverItIs_data();
    void findsTheFirstDamagedLineWhereverItIs();
    void tellsALineOnceUntilTheLogIsReplaced();

private:
    void write(const QByteArray &contents, QIODevice::OpenMode mode = QIODevice::WriteOnly);
    // What a search tells, run to its end as the service runs it: by a
    // service started anew, or by the one that searched before.
    QString search();
    QString search(LogCheck &check);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::string m_path;
};

void tst_LogCheck::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_path = m_dir->filePath(QStringLiteral("Date.txt")).toStdString();
}

void tst_LogCheck::write(const QByteArray &contents, QIODevice::OpenMode mode)
{
    QFile file(QString::fromStdString(m_path));
    if (!file.open(mode) || file.write(contents) != contents.size())
        qFatal("cannot write %s", m_path.c_str());
}

QString tst_LogCheck::search()
{
    LogCheck check(m_path);
    return search(check);
}

QString tst_LogCheck::search(LogCheck &check)
{
    check.start();
    QStringList told;
    for (int steps = 0; check.pending(); ++steps) {
        if (steps > 1000)
            qFatal("the search does not end");
        if (const std::optional<std::string> damage = check.step())
            told << QString::fromStdString(*damage);
    }
    return told.join(QLatin1Char('|'));
}

void tst_LogCheck::findsTheFirstDamagedLineWhereverItIs_data()
{
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<QString>("told"); // what the line's mention holds; empty for nothing
    // What the same search tells of "junk" put at the end after it.
    QTest::addColumn<QString>("then");

    const QByteArray record = "#2002-02-02 17:41:51#\r\n";
    const QByteArray pieces = record.repeated(int(LogCheck::Piece / std::size_t(record.size())) + 10);
    const int piecesLines = pieces.count('\n');
    const auto junkAt = [](int line) { return QStringLiteral("riga %1: «junk»").arg(line); };
    QTest::newRow("records only") << pieces << QString() << junkAt(piecesLines + 1);
    QTest::newRow("an unended last line is the next append's")
        << record + "half" << QString() << QStringLiteral("riga 2: «half»");
    QTest::newRow("a blank line and LF line ends")
        << QByteArray("#2002-02-03#\n\n#2002-02-04#\n") << QString() << junkAt(4);
    QTest::newRow("a bad line past the first piece")
        << pieces + "junk\r\n" + record << junkAt(piecesLines + 1) << junkAt(piecesLines + 3);
    QTest::newRow("only the first of two bad lines")
        << record + "one\r\n" + pieces + "two\r\n"
        << QStringLiteral("riga 2: «one»") << junkAt(piecesLines + 4);
    const QByteArray longLine(int(LogCheck::Piece) + 5, 'x');
    QTest::newRow("a line longer than a piece")
        << record + longLine + "\r\n" + record << QStringLiteral("riga 2: «xxxxxxxx") << junkAt(4);
    QTest::newRow("a line longer than a piece ending near the next piece's end")
        << record + QByteArray(int(LogCheck::Piece) * 2 - 30, '\0') + "\n" + record + record
        << QStringLiteral("riga 2:") << junkAt(5);
}

void tst_LogCheck::findsTheFirstDamagedLineWhereverItIs()
{
    QFETCH(QByteArray, log);
    QFETCH(QString, told);
    QFETCH(QString, then);
    write(log);
    LogCheck check(m_path);
    const QString found = search(check);
    QVERIFY2(told.isEmpty() ? found.isEmpty() : found.contains(told), qPrintable(found));
    QVERIFY2(!found.contains(QLatin1Char('|')), qPrintable(found));
    // Lines counted across the pieces, and only what came since read.
    write((log.endsWith('\n') ? "" : "\r\n") + QByteArray("junk\r\n"), QIODevice::Append);
    const QString later = search(check);
    QVERIFY2(later.contains(then) && !later.contains(QLatin1Char('|')), qPrintable(later));
}

// A search after a restart of the service reads only what came since the
// last, and tells only damage it had not told.
void tst_LogCheck::tellsALineOnceUntilTheLogIsReplaced()
{
    write("#2002-02-03#\r\ngarbage\r\n#2002-02-04#\r\n");
    if (::setxattr(m_path.c_str(), "user.tallix.probe", "1", 1, 0) != 0)
        QSKIP("this file system keeps no extended attributes");
    QVERIFY(search().contains(QStringLiteral("riga 2:")));
    QCOMPARE(search(), QString());
    write("#2002-02-05#\r\nmore junk\r\n", QIODevice::Append);
    const QString appended = search();
    QVERIFY2(appended.contains(QStringLiteral("riga 5:")) && !appended.contains(QStringLiteral("riga 2:")),
             qPrintable(appended));
    QCOMPARE(search(), QString());

    // Rewritten in place, with other lines before where the search ended.
    write("#2002-02-03#\r\ngarbage\r\nmore\r\n#2002-02-04#\r\n#2002-02-05#\r\n#2002-02-06#\r\n");
    QVERIFY(search().contains(QStringLiteral("riga 2:")));

    const std::string copy = m_path + ".copy";
    QVERIFY(QFile::copy(QString::fromStdString(m_path), QString::fromStdString(copy)));
    QCOMPARE(std::rename(copy.c_str(), m_path.c_str()), 0);
    QVERIFY(search().contains(QStringLiteral("riga 2:")));
}

QTEST_GUILESS_MAIN(tst_LogCheck)
#include "tst_logcheck.moc"
