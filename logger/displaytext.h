#pragma once

#include "record/accesstime.h"

#include <QList>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <vector>

// The user's general date form of an access time: the locale's short date,
// a space and its time with seconds; midnight shows the date alone and the
// zero date the time alone. Patterns are compiled once, so that a log of a
// million records is formatted without a QLocale call per record.
class DisplayText
{
public:
    explicit DisplayText(const QLocale &locale = QLocale());

    QString datePattern() const { return m_datePattern; }
    QString timePattern() const { return m_timePattern; }

    QString operator()(AccessTime time) const;
    // Appends the display text of 'time', followed by 'after'.
    void appendTo(QString &out, AccessTime time, QStringView after = {}) const;
    // The display texts of all the times, each followed by CR LF, written
    // in one go into one string.
    QString listing(const std::vector<AccessTime> &times) const;

private:
    enum class Field {
        Literal,
        Day,
        DayName,
        Month,
        MonthName,
        Year,
        TwoDigitYear,
        Hour,
        Hour12,
        Minute,
        Second,
        AmPm,
    };
    struct Token
    {
        Field field = Field::Literal;
        int width = 1;
        QString text;
    };
    using Tokens = QList<Token>;
    // A time form whose fields all have two digits is a fixed text with the
    // digits filled in: the usual case, and the one a long log hits a
    // million times.
    struct FixedTime
    {
        QString text;
        qsizetype hour = -1; // where each field's digits go, -1 if absent
        qsizetype minute = -1;
        qsizetype second = -1;
    };

    // The longest display text the compiled patterns may write.
    static constexpr int Capacity = 120;

    static std::optional<Tokens> compile(const QString &pattern);
    static std::optional<FixedTime> fixedForm(const Tokens &tokens);
    int longest(const Tokens &tokens) const;
    // Each writes at 'to' and returns the end of what it wrote.
    char16_t *write(char16_t *to, AccessTime time) const;
    char16_t *writeDate(char16_t *to, AccessTime time) const;
    char16_t *writeTime(char16_t *to, int secondOfDay) const;
    char16_t *writeNumber(char16_t *to, int value, int width) const;
    char16_t *writeLongNumber(char16_t *to, int value, int width) const;
    void appendWithQLocale(QString &out, AccessTime time, QStringView after) const;

    QLocale m_locale;
    QString m_datePattern;
    QString m_timePattern;
    Tokens m_dateTokens;
    Tokens m_timeTokens;
    std::optional<FixedTime> m_fixedTime;
    int m_longest = 0; // 0 where QLocale itself must format
    char16_t m_zeroDigit = u'0';
    QString m_amPm[2][2];      // [lower, upper case][morning, afternoon]
    QStringList m_dayNames[2]; // [short, long], Monday first
    QStringList m_monthNames[2];
    // Consecutive records mostly share their day.
    mutable std::optional<std::int64_t> m_cachedDay;
    mutable char16_t m_cachedDate[Capacity];
    mutable int m_cachedDateSize = 0;
};
