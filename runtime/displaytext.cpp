#include "displaytext.h"

#include <QRegularExpression>

namespace {

// The long time form carries the time zone ("t"), which a stored local time
// does not have.
QString withoutTimeZone(const QString &pattern)
{
    static const QRegularExpression zone(QStringLiteral("\\s*\\bt+\\b\\s*"));
    QString result = pattern;
    return result.replace(zone, QString()).trimmed();
}

int repeatCount(const QString &pattern, qsizetype from)
{
    const QChar c = pattern.at(from);
    qsizetype end = from;
    while (end < pattern.size() && pattern.at(end) == c)
        ++end;
    return int(end - from);
}

} // namespace

DisplayText::DisplayText(const QLocale &locale)
    : m_locale(locale),
      m_datePattern(locale.dateFormat(QLocale::ShortFormat)),
      m_timePattern(withoutTimeZone(locale.timeFormat(QLocale::LongFormat))),
      m_amText(locale.amText()),
      m_pmText(locale.pmText())
{
    const QString zero = locale.zeroDigit();
    if (zero.size() == 1) {
        m_zeroDigit = zero.front().unicode();
        m_dateTokens = compile(m_datePattern);
        m_timeTokens = compile(m_timePattern);
    }
}

// Compiles the numeric fields of a QLocale pattern; names of days and months,
// fractions of seconds and anything unusual are left to QLocale itself.
std::optional<DisplayText::Tokens> DisplayText::compile(const QString &pattern)
{
    Tokens tokens;
    const bool twelveHour = pattern.contains(QStringLiteral("ap"), Qt::CaseInsensitive);
    auto literal = [&tokens](const QString &text) {
        if (tokens.isEmpty() || tokens.back().field != Field::Literal)
            tokens.append({Field::Literal, 0, QString()});
        tokens.back().text += text;
    };
    for (qsizetype i = 0; i < pattern.size();) {
        const QChar c = pattern.at(i);
        const int repeat = repeatCount(pattern, i);
        if (c == u'\'') {
            if (repeat >= 2) {
                literal(QStringLiteral("'"));
                i += 2;
                continue;
            }
            const qsizetype close = pattern.indexOf(u'\'', i + 1);
            if (close < 0)
                return std::nullopt;
            literal(pattern.mid(i + 1, close - i - 1));
            i = close + 1;
            continue;
        }
        Token token;
        int used = qMin(repeat, 2);
        switch (c.unicode()) {
        case u'd':
            if (repeat > 2)
                return std::nullopt;
            token = {Field::Day, used, {}};
            break;
        case u'M':
            if (repeat > 2)
                return std::nullopt;
            token = {Field::Month, used, {}};
            break;
        case u'y':
            if (repeat >= 4)
                token = {Field::Year, used = 4, {}};
            else if (repeat >= 2)
                token = {Field::TwoDigitYear, used = 2, {}};
            else
                token = {Field::Literal, 0, QStringLiteral("y")};
            break;
        case u'h':
            token = {twelveHour ? Field::Hour12 : Field::Hour, used, {}};
            break;
        case u'H':
            token = {Field::Hour, used, {}};
            break;
        case u'm':
            token = {Field::Minute, used, {}};
            break;
        case u's':
            token = {Field::Second, used, {}};
            break;
        case u'A':
        case u'a': {
            const bool pair = i + 1 < pattern.size() && pattern.at(i + 1).toLower() == u'p';
            if (pair && pattern.at(i + 1) != (c == u'A' ? u'P' : u'p'))
                return std::nullopt;
            token = {Field::AmPm, c == u'A' ? 1 : 0, {}};
            used = pair ? 2 : 1;
            break;
        }
        case u'z':
        case u't':
        case u'g':
            return std::nullopt;
        default:
            token = {Field::Literal, 0, QString(c)};
            used = 1;
            break;
        }
        if (token.field == Field::Literal)
            literal(token.text);
        else
            tokens.append(token);
        i += used;
    }
    return tokens;
}

QString DisplayText::operator()(AccessTime time) const
{
    QString text;
    appendTo(text, time);
    return text;
}

void DisplayText::appendTo(QString &out, AccessTime time) const
{
    if (!time.hasZeroDate()) {
        if (time.days() != m_cachedDay) {
            m_cachedDateText.clear();
            appendDate(m_cachedDateText, time.date());
            m_cachedDay = time.days();
        }
        out += m_cachedDateText;
        if (time.isMidnight())
            return;
        out += u' ';
    }
    appendTime(out, time.secondOfDay());
}

void DisplayText::appendNumber(QString &out, int value, int width) const
{
    char16_t digits[8];
    int count = 0;
    do {
        digits[count++] = char16_t(m_zeroDigit + value % 10);
        value /= 10;
    } while (value > 0);
    for (int pad = count; pad < width; ++pad)
        out += QChar(m_zeroDigit);
    while (count > 0)
        out += QChar(digits[--count]);
}

void DisplayText::appendDate(QString &out, QDate date) const
{
    if (!m_dateTokens) {
        out += m_locale.toString(date, m_datePattern);
        return;
    }
    int year, month, day;
    date.getDate(&year, &month, &day);
    for (const Token &token : *m_dateTokens) {
        switch (token.field) {
        case Field::Day: appendNumber(out, day, token.width); break;
        case Field::Month: appendNumber(out, month, token.width); break;
        case Field::Year: appendNumber(out, year, 4); break;
        case Field::TwoDigitYear: appendNumber(out, year % 100, 2); break;
        case Field::Literal: out += token.text; break;
        default: break;
        }
    }
}

void DisplayText::appendTime(QString &out, int secondOfDay) const
{
    if (!m_timeTokens) {
        out += m_locale.toString(QTime::fromMSecsSinceStartOfDay(secondOfDay * 1000), m_timePattern);
        return;
    }
    const int hour = secondOfDay / 3600;
    for (const Token &token : *m_timeTokens) {
        switch (token.field) {
        case Field::Hour: appendNumber(out, hour, token.width); break;
        case Field::Hour12: appendNumber(out, hour % 12 == 0 ? 12 : hour % 12, token.width); break;
        case Field::Minute: appendNumber(out, secondOfDay / 60 % 60, token.width); break;
        case Field::Second: appendNumber(out, secondOfDay % 60, token.width); break;
        case Field::AmPm: {
            const QString &text = hour < 12 ? m_amText : m_pmText;
            out += token.width ? text.toUpper() : text.toLower();
            break;
        }
        case Field::Literal: out += token.text; break;
        default: break;
        }
    }
}
