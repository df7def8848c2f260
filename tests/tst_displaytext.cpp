#include "logger/displaytext.h"

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
};

namespace {

// The first sample is the day before the zero date, whose day number (-1)
// once stood for "no day formatted yet".
const QList<QDateTime> samples = {
    {QDate(1899, 12, 29), QTime(6, 0, 0)},
    {QDate(2002, 2, 2), QTime(17, 41, 51)},
    {QDate(2002, 2, 3), QTime(0, 0, 1)},
    {QDate(2026, 12, 7), QTime(9, 5, 7)},
    {QDate(1999, 12, 31), QTime(12, 0, 0)},
    {QDate(2009, 1, 1), QTime(23, 59, 59)},
    {QDate(99, 7, 4), QTime(11, 59, 59)},
    {QDate(9999, 12, 31), QTime(12, 30, 0)},
};

} // namespace

void tst_DisplayText::agreesWithQLocale_data()
{
    QTest::addColumn<QLocale>("locale");

    for (const char *name : {"C", "it_IT", "en_US", "en_GB", "de_DE", "fr_FR", "ja_JP", "ko_KR",
                             "zh_CN", "hu_HU", "bg_BG", "ar_EG", "fa_IR", "hi_IN", "th_TH", "sv_SE"})
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

QTEST_GUILESS_MAIN(tst_DisplayText)
#include "tst_displaytext.moc"
