#pragma once

#include "accesstime.h"

#include <QList>
#include <QLocale>
#include <QString>

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
    void appendTo(QString &out, AccessTime time) const;

private:
    enum class Field { Literal, Day, Month, Year, TwoDigitYear, Hour, Hour12, Minute, Second, AmPm };
    struct Token
    {
        Field field = Field::Literal;
        int width = 1;
        QString text;
    };
    using Tokens = QList<Token>;

    static std::optional<Tokens> compile(const QString &pattern);
    void appendNumber(QString &out, int value, int width) const;
    void appendDate(QString &out, QDate date) const;
    void appendTime(QString &out, int secondOfDay) const;

    QLocale m_locale;
    QString m_datePattern;
    QString m_timePattern;
    std::optional<Tokens> m_dateTokens;
    std::optional<Tokens> m_timeTokens;
    char16_t m_zeroDigit = u'0';
    QString m_amText;
    QString m_pmText;
    mutable qint64 m_cachedDay = -1;
    mutable QString m_cachedDateText;
};
