#include "logger/displaytext.h"

#include <QRandomGenerator>
#include <QTest>

// The compiled patterns must agree with QLocale itself, for every locale
// whose short date and long time forms differ in shape.
class tst_DisplayText : public QObject
{
    Q_OBJECT

private slots:
    void agreesWithQLocale_data();
    void agreesWithQLocale();
    void partialForms();
    void showsSecondsButNoTimeZone_data();
    void showsSecondsButNoTimeZone();
    void listingAgreesWithQLocaleInEveryLocale();
};

namespace {

// The first sample is the day before the zero date, whose day number (-1)
// once stood for "no day formatted yet".
const QList<QDateTime> samples = {
    {QDate(1899, 12, 29), QTime(6, 0, 0)},  {QDate(2002, 2, 2), QTime(17, 41, 51)},
    {QDate(2002, 2, 3), QTime(0, 0, 1)},    {QDate(2026, 12, 7), QTime(9, 5, 7)},
    {QDate(1999, 12, 31), QTime(12, 0, 0)}, {QDate(2009, 1, 1), QTime(23, 59, 59)},
    {QDate(99, 7, 4), QTime(11, 59, 59)},   {QDate(9999, 12, 31), QTime(12, 30, 0)},
};

// What QLocale itself writes for a record: the date alone at midnight, the
// time alone on the zero date.
QString byQLocale(const QLocale &locale, const DisplayText &display, AccessTime time)
{
    const AccessTime::Date day = time.date();
    const QString date = locale.toString(QDate(day.year, day.month, day.day), display.datePattern());
    const QString clock =
        locale.toString(QTime::fromMSecsSinceStartOfDay(time.secondOfDay() * 1000), display.timePattern());
    if (time.hasZeroDate())
        return clock;
    return time.isMidnight() ? date : date + u' ' + clock;
}

// Runs of records on one day, as a log has them, between jumps anywhere in
// the four-digit years; midnights and zero-date records among them.
std::vector<AccessTime> manyRecords()
{
    QRandomGenerator random(20021202);
    std::vector<AccessTime> times;
    const std::int64_t firstDay = *AccessTime::dayOf(1, 1, 1);
    const std::int64_t lastDay = *AccessTime::dayOf(9999, 12, 31);
    while (times.size() < 3000) {
        const std::int64_t day = random.bounded(10) == 0
            ? 0
            : firstDay + std::int64_t(random.bounded(double(lastDay - firstDay + 1)));
        for (int run = int(random.bounded(1, 6)); run > 0; --run) {
            const int second =
                random.bounded(4) == 0 ? 0 : int(random.bounded(int(AccessTime::SecondsPerDay)));
            times.push_back(*AccessTime::fromDay(day, second / 3600, second / 60 % 60, second % 60));
        }
    }
    return times;
}

} // namespace

void tst_DisplayText::agreesWithQLocale_data()
{
    QTest::addColumn<QLocale>("locale");

    for (const char *name : {"C", "it_IT", "en_US", "en_GB", "de_DE", "fr_FR", "ja_JP", "ko_KR", "zh_CN",
                             "hu_HU", "bg_BG", "ar_EG", "fa_IR", "hi_IN", "th_TH", "sv_SE"})
        QTest::newRow(name) << QLocale(QString::fromLatin1(name));
}

void tst_DisplayText::agreesWithQLocale()
{
    QFETCH(QLocale, locale);

    const DisplayText display(locale);
    for (const QDateTime &sample : samples) {
        const QString expected = locale.toString(sample.date(), display.datePattern()) + u' '
            + locale.toString(sample.time(), display.timePattern());
        const QDate date = sample.date();
        const QTime time = sample.time();
        QCOMPARE(display(*AccessTime::fromFields(date.year(), date.month(), date.day(), time.hour(),
                                                 time.minute(), time.second())),
                 expected);
    }
}

void tst_DisplayText::partialForms()
{
    const QLocale italian(QLocale::Italian, QLocale::Italy);
    const DisplayText display(italian);
    QCOMPARE(display(*AccessTime::fromFields(2002, 2, 3, 0, 0, 0)),
             italian.toString(QDate(2002, 2, 3), display.datePattern()));
    QCOMPARE(display(*AccessTime::fromFields(1899, 12, 30, 17, 41, 51)),
             italian.toString(QTime(17, 41, 51), display.timePattern()));

    QString appended = QStringLiteral("prima\r\n");
    display.appendTo(appended, *AccessTime::fromFields(2002, 2, 2, 17, 41, 51));
    QCOMPARE(appended, QStringLiteral("prima\r\n02/02/02 17:41:51"));
}

void tst_DisplayText::showsSecondsButNoTimeZone_data()
{
    agreesWithQLocale_data();
}

void tst_DisplayText::showsSecondsButNoTimeZone()
{
    QFETCH(QLocale, locale);

    const DisplayText display(locale);
    QVERIFY2(display.timePattern().contains(u's'), qPrintable(display.timePattern()));
    const QString text = display(*AccessTime::fromFields(2002, 2, 2, 17, 41, 51));
    for (const QString &zone : {QStringLiteral("UTC"), QStringLiteral("GMT"), QStringLiteral("CET")})
        QVERIFY2(!text.contains(zone), qPrintable(text));
}

// The fast path the logger lists the log with, against QLocale record by
// record, in every locale Qt knows.
void tst_DisplayText::listingAgreesWithQLocaleInEveryLocale()
{
    const std::vector<AccessTime> times = manyRecords();
    const QList<QLocale> locales =
        QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
    QVERIFY(locales.size() > 300);
    for (const QLocale &locale : locales) {
        const DisplayText display(locale);
        const QStringList lines = display.listing(times).split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), qsizetype(times.size()) + 1);
        QVERIFY(lines.last().isEmpty());
        for (std::size_t i = 0; i < times.size(); ++i) {
            const QString expected = byQLocale(locale, display, times[i]);
            if (lines[qsizetype(i)] != expected)
                QFAIL(qPrintable(QStringLiteral("%1, record %2: \"%3\", QLocale \"%4\"")
                                     .arg(locale.name())
                                     .arg(i)
                                     .arg(lines[qsizetype(i)], expected)));
        }
    }
}

QTEST_GUILESS_MAIN(tst_DisplayText)
#include "tst_displaytext.moc"
