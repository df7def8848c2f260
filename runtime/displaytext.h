#pragma once

#include "accesstime.h"

#include <QList>
#include <QLocale>
#include <QString>
#include <QStringList>

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

private:
    enum class Field {
        Literal, Day, DayName, Month, MonthName, Year, TwoDigitYear,
        Hour, Hour12, Minute, Second, AmPm,
    };
    struct Token
    {
        Field field = Field::Literal;
        int width = 1;
        QString text;
    };
    using Tokens = QList<Token>;

    // One display text being written; compiled patterns never outgrow it.
    struct Line
    {
        static constexpr int Capacity = 128;
        static constexpr int Reserve = 8;    // for what follows the text
        char16_t chars[Capacity];
        int size = 0;

        void put(char16_t c) { chars[size++] = c; }
        void put(QStringView text)
        {
            for (QChar c : text)
                chars[size++] = c.unicode();
        }
        void putNumber(int value, int width, char16_t zero)
        {
            if (value >= 100 || width > 2) {
                putLongNumber(value, width, zero);
                return;
            }
            if (value >= 10 || width == 2)
                put(char16_t(zero + value / 10));
            put(char16_t(zero + value % 10));
        }
        void putLongNumber(int value, int width, char16_t zero);
    };

    static std::optional<Tokens> compile(const QString &pattern);
    int longest(const Tokens &tokens) const;
    void writeDate(Line &line, QDate date) const;
    void writeTime(Line &line, int secondOfDay) const;
    void appendWithQLocale(QString &out, AccessTime time, QStringView after) const;

    QLocale m_locale;
    QString m_datePattern;
    QString m_timePattern;
    Tokens m_dateTokens;
    Tokens m_timeTokens;
    bool m_compiled = false;
    char16_t m_zeroDigit = u'0';
    QString m_amPm[2][2];         // [lower, upper case][morning, afternoon]
    QStringList m_dayNames[2];    // [short, long], Monday first
    QStringList m_monthNames[2];
    mutable std::optional<qint64> m_cachedDay;
    mutable Line m_cachedDate;
};
