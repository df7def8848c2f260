#include "record/accesslog.h"

#include <QDate>
#include <QScopeGuard>
#include <QTest>
#include <QTime>

#include <string>

namespace {

std::string bytes(const QByteArray &text)
{
    return text.toStdString();
}

QDate dateOf(AccessTime time)
{
    const AccessTime::Date date = time.date();
    return QDate(date.year, date.month, date.day);
}

QTime timeOf(AccessTime time)
{
    return QTime::fromMSecsSinceStartOfDay(time.secondOfDay() * 1000);
}

} // namespace

class tst_AccessLog : public QObject
{
    Q_OBJECT

private slots:
    void recordRoundTrip_data();
    void recordRoundTrip();
    void longFormsReadAsTheirValue_data();
    void longFormsReadAsTheirValue();
    void badRecords_data();
    void badRecords();
    void layout_data();
    void layout();
    void badLineIsReportedWithItsNumber();
    void tornTail_data();
    void tornTail();
    void calendarAgreesWithQDate();
    void yearsOutsideTheRecordFormAreRefused();
    void localTimeInTheZoneInForce_data();
    void localTimeInTheZoneInForce();
};

void tst_AccessLog::recordRoundTrip_data()
{
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<QDate>("date");
    QTest::addColumn<QTime>("time");

    QTest::newRow("full") << QByteArray("#2002-02-02 17:41:51#") << QDate(2002, 2, 2) << QTime(17, 41, 51);
    QTest::newRow("midnight: date alone") << QByteArray("#2002-02-03#") << QDate(2002, 2, 3) << QTime(0, 0);
    QTest::newRow("zero date: time alone")
        << QByteArray("#17:41:51#") << QDate(1899, 12, 30) << QTime(17, 41, 51);
    QTest::newRow("zero value") << QByteArray("#00:00:00#") << QDate(1899, 12, 30) << QTime(0, 0);
    QTest::newRow("last second of a day")
        << QByteArray("#1999-12-31 23:59:59#") << QDate(1999, 12, 31) << QTime(23, 59, 59);
    QTest::newRow("after 2038") << QByteArray("#2038-01-19 03:14:08#") << QDate(2038, 1, 19)
                                << QTime(3, 14, 8);
    QTest::newRow("year 9999") << QByteArray("#9999-12-31 23:59:59#") << QDate(9999, 12, 31)
                               << QTime(23, 59, 59);
    QTest::newRow("year 1, padded") << QByteArray("#0001-01-01 00:00:01#") << QDate(1, 1, 1)
                                    << QTime(0, 0, 1);
    QTest::newRow("day before the zero date")
        << QByteArray("#1899-12-29 12:00:00#") << QDate(1899, 12, 29) << QTime(12, 0);
    QTest::newRow("leap day") << QByteArray("#2000-02-29 08:00:00#") << QDate(2000, 2, 29) << QTime(8, 0);
}

void tst_AccessLog::recordRoundTrip()
{
    QFETCH(QByteArray, record);
    QFETCH(QDate, date);
    QFETCH(QTime, time);

    const std::optional<AccessTime> parsed = AccessLog::parseRecord(bytes(record));
    QVERIFY(parsed);
    QCOMPARE(dateOf(*parsed), date);
    QCOMPARE(timeOf(*parsed), time);
    QCOMPARE(*parsed,
             *AccessTime::fromFields(date.year(), date.month(), date.day(), time.hour(), time.minute(),
                                     time.second()));

    std::string written;
    AccessLog::appendRecord(written, *parsed);
    QCOMPARE(written, bytes(record + "\r\n"));
}

void tst_AccessLog::longFormsReadAsTheirValue_data()
{
    QTest::addColumn<QByteArray>("longForm");
    QTest::addColumn<QByteArray>("canonical");

    QTest::newRow("midnight written in full")
        << QByteArray("#2002-02-03 00:00:00#") << QByteArray("#2002-02-03#");
    QTest::newRow("zero date written in full")
        << QByteArray("#1899-12-30 17:41:51#") << QByteArray("#17:41:51#");
    QTest::newRow("zero date alone") << QByteArray("#1899-12-30#") << QByteArray("#00:00:00#");
}

void tst_AccessLog::longFormsReadAsTheirValue()
{
    QFETCH(QByteArray, longForm);
    QFETCH(QByteArray, canonical);

    const AccessLog::Contents contents = AccessLog::parse(bytes(longForm + "\r\n"));
    QVERIFY(contents.isValid());
    QCOMPARE(contents.times.size(), std::size_t(1));
    std::string written;
    AccessLog::appendRecord(written, contents.times.front());
    QCOMPARE(written, bytes(canonical + "\r\n"));
}

void tst_AccessLog::badRecords_data()
{
    QTest::addColumn<QByteArray>("record");

    QTest::newRow("30 February") << QByteArray("#2002-02-30#");
    QTest::newRow("29 February of a common year") << QByteArray("#2001-02-29 10:00:00#");
    QTest::newRow("month 13") << QByteArray("#2002-13-01#");
    QTest::newRow("day 0") << QByteArray("#2002-01-00#");
    QTest::newRow("hour 25") << QByteArray("#2002-02-02 25:00:00#");
    QTest::newRow("25:61") << QByteArray("#25:61:00#");
    QTest::newRow("second 60") << QByteArray("#2002-02-02 10:00:60#");
    QTest::newRow("year 0") << QByteArray("#0000-01-01#");
    QTest::newRow("unpadded") << QByteArray("#2002-2-2 17:41:51#");
    QTest::newRow("no number signs") << QByteArray("2002-02-02 17:41:51");
    QTest::newRow("open number sign") << QByteArray("#2002-02-02 17:41:51");
    QTest::newRow("slashes") << QByteArray("#2002/02/02#");
    QTest::newRow("T separator") << QByteArray("#2002-02-02T17:41:51#");
    QTest::newRow("sign in a digit place") << QByteArray("#2002-02-+2#");
    QTest::newRow("text") << QByteArray("ciao");
    QTest::newRow("torn record") << QByteArray("#2002-02");
    QTest::newRow("number signs only") << QByteArray("##");
    QTest::newRow("NUL bytes in the date places") << QByteArray("#\0\0\0\0\0\0\0\0\0\0#", 12);
}

void tst_AccessLog::badRecords()
{
    QFETCH(QByteArray, record);
    QVERIFY(!AccessLog::parseRecord(bytes(record)));
}

void tst_AccessLog::layout_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("records");
    QTest::addColumn<int>("badLine");

    QTest::newRow("empty file") << QByteArray() << 0 << 0;
    QTest::newRow("canonical") << QByteArray("#2002-02-02 17:41:51#\r\n#2002-02-03#\r\n") << 2 << 0;
    QTest::newRow("last line without CR LF") << QByteArray("#2002-02-02 17:41:51#\r\n#2002-02-03#") << 2 << 0;
    QTest::newRow("last line ends in a lone CR") << QByteArray("#2002-02-03#\r") << 1 << 0;
    QTest::newRow("LF line ends") << QByteArray("#2002-02-02 17:41:51#\n#2002-02-03#\n") << 2 << 0;
    QTest::newRow("blank line skipped")
        << QByteArray("#2002-02-02 17:41:51#\r\n\r\n#2002-02-03#\r\n") << 2 << 0;
    QTest::newRow("blank last line") << QByteArray("#2002-02-03#\r\n  \r\n") << 1 << 0;
    QTest::newRow("UTF-8 mark before the first record")
        << QByteArray("\xEF\xBB\xBF#2002-02-03#\r\n") << 1 << 0;
    QTest::newRow("UTF-8 mark inside the log")
        << QByteArray("#2002-02-03#\r\n\xEF\xBB\xBF#2002-02-04#\r\n") << 1 << 2;
    QTest::newRow("comment line") << QByteArray("# Tallix\r\n#2002-02-03#\r\n") << 1 << 1;
}

void tst_AccessLog::layout()
{
    QFETCH(QByteArray, text);
    QFETCH(int, records);
    QFETCH(int, badLine);

    const AccessLog::Contents contents = AccessLog::parse(bytes(text));
    QCOMPARE(contents.badLine, std::size_t(badLine));
    QVERIFY(!contents.hasTornTail());
    QCOMPARE(contents.times.size(), std::size_t(records));
}

void tst_AccessLog::badLineIsReportedWithItsNumber()
{
    const AccessLog::Contents contents =
        AccessLog::parse("#2002-02-02 17:41:51#\r\n\r\n#2002-02-30#\r\n#2002-02-03#\r\n");
    QVERIFY(!contents.isValid());
    QCOMPARE(contents.badLine, std::size_t(3));
    QCOMPARE(contents.badText, std::string("#2002-02-30#"));
    // The records on both sides of it are read all the same.
    QCOMPARE(contents.times.size(), std::size_t(2));
}

// An interrupted write leaves part of a record, or zeros, as an unended last
// line; anything else that is not a record is an error, wherever it stands.
void tst_AccessLog::tornTail_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("torn");

    const QByteArray before = "#2002-02-02 17:41:51#\r\n";
    QTest::newRow("start of a full record") << before + "#2026-12-0" << true;
    QTest::newRow("all but the closing sign") << before + "#2026-12-07 08:30:05" << true;
    QTest::newRow("a number sign alone") << before + "#" << true;
    QTest::newRow("start of a time alone") << before + "#17:4" << true;
    QTest::newRow("whole file torn") << QByteArray("#2026-1") << true;
    QTest::newRow("zeros") << before + QByteArray(23, '\0') << true;
    QTest::newRow("zeros, whole file") << QByteArray(5, '\0') << true;
    QTest::newRow("torn, then a line end") << before + "#2026-12-0\r\n" << false;
    QTest::newRow("torn line before a record") << "#2026-12-0\r\n" + before << false;
    QTest::newRow("letter in a digit place") << before + "#2026-1x" << false;
    QTest::newRow("zeros, then text") << before + QByteArray(3, '\0') + "x" << false;
    QTest::newRow("junk") << before + "junk" << false;
    QTest::newRow("too long for any form") << before + "#2026-12-07 08:30:05#x" << false;
}

void tst_AccessLog::tornTail()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, torn);

    const AccessLog::Contents contents = AccessLog::parse(bytes(text));
    QCOMPARE(contents.hasTornTail(), torn);
    QCOMPARE(contents.isValid(), torn);
    // What a writer checks finds the same without keeping the times.
    const AccessLog::Contents checked = AccessLog::check(bytes(text));
    QCOMPARE(checked.tornTail, contents.tornTail);
    QCOMPARE(checked.badLine, contents.badLine);
    QVERIFY(checked.times.empty());
    if (torn) {
        const qsizetype tail = text.lastIndexOf('\n') + 1;
        QCOMPARE(contents.tornTail, std::size_t(tail));
        QCOMPARE(contents.times.size(), std::size_t(text.left(tail).count('\n')));
    }
}

// Days and weekdays computed without a calendar library must be QDate's.
void tst_AccessLog::calendarAgreesWithQDate()
{
    const QDate zero(1899, 12, 30);
    for (QDate date(1, 1, 1); date.year() <= 9999; date = date.addDays(367 + date.day())) {
        const std::optional<std::int64_t> day = AccessTime::dayOf(date.year(), date.month(), date.day());
        QVERIFY(day);
        QCOMPARE(*day, zero.daysTo(date));
        const AccessTime time = *AccessTime::fromDay(*day, 12, 0, 0);
        QCOMPARE(dateOf(time), date);
        QCOMPARE(time.dayOfWeek(), date.dayOfWeek());
    }
    for (const QDate leap : {QDate(2000, 2, 29), QDate(2024, 2, 29), QDate(1600, 2, 29)})
        QVERIFY(AccessTime::dayOf(leap.year(), 2, 29));
    for (const int common : {1900, 2100, 2023})
        QVERIFY(!AccessTime::dayOf(common, 2, 29));
}

void tst_AccessLog::yearsOutsideTheRecordFormAreRefused()
{
    QVERIFY(!AccessTime::fromFields(0, 12, 31, 23, 59, 59));
    QVERIFY(!AccessTime::fromFields(10000, 1, 1, 0, 0, 0));
    QVERIFY(AccessTime::fromFields(9999, 12, 31, 23, 59, 59));
    QVERIFY(AccessTime::fromFields(1, 1, 1, 0, 0, 0));
}

void tst_AccessLog::localTimeInTheZoneInForce_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<qint64>("epoch");
    QTest::addColumn<QByteArray>("record");

    const QByteArray centralEurope = "CET-1CEST,M3.5.0,M10.5.0/3";
    QTest::newRow("UTC, midnight") << QByteArray("UTC0") << qint64(1782000000) << QByteArray("#2026-06-21#");
    QTest::newRow("far east, the same moment")
        << QByteArray("XYZ-14") << qint64(1782000000) << QByteArray("#2026-06-21 14:00:00#");
    QTest::newRow("central Europe, summer time")
        << centralEurope << qint64(1782000000) << QByteArray("#2026-06-21 02:00:00#");
    QTest::newRow("central Europe, winter time")
        << centralEurope << qint64(1765100000) << QByteArray("#2025-12-07 10:33:20#");
    QTest::newRow("after 2038") << QByteArray("UTC0") << qint64(2200000000)
                                << QByteArray("#2039-09-18 23:06:40#");
    QTest::newRow("last second of year 9999")
        << QByteArray("UTC0") << qint64(253402300799) << QByteArray("#9999-12-31 23:59:59#");
    QTest::newRow("year 10000 has no record") << QByteArray("XYZ-14") << qint64(253402300799) << QByteArray();
}

// The rows run in one process and nothing here calls tzset(): each zone
// after the first is in force only if the clock's reading looks at the zone
// again, as a service running when /etc/localtime changes must.
void tst_AccessLog::localTimeInTheZoneInForce()
{
    QFETCH(QByteArray, zone);
    QFETCH(qint64, epoch);
    QFETCH(QByteArray, record);

    const QByteArray callersZone = qgetenv("TZ");
    const bool zoned = qEnvironmentVariableIsSet("TZ");
    const auto restore = qScopeGuard([&] {
        if (zoned)
            qputenv("TZ", callersZone);
        else
            qunsetenv("TZ");
    });
    qputenv("TZ", zone);
    const std::optional<AccessTime> local = AccessTime::fromEpoch(epoch);
    QCOMPARE(local.has_value(), !record.isEmpty());
    if (local) {
        std::string written;
        AccessLog::appendRecord(written, *local);
        QCOMPARE(written, bytes(record + "\r\n"));
    }
}

QTEST_GUILESS_MAIN(tst_AccessLog)
#include "tst_accesslog.moc"
