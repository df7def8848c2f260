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
      m_amPm{{locale.amText().toLower(), locale.pmText().toLower()},
             {locale.amText().toUpper(), locale.pmText().toUpper()}}
{
    for (int form : {0, 1}) {
        const auto format = form == 0 ? QLocale::ShortFormat : QLocale::LongFormat;
        for (int i = 1; i <= 7; ++i)
            m_dayNames[form] << locale.dayName(i, format);
        for (int i = 1; i <= 12; ++i)
            m_monthNames[form] << locale.monthName(i, format);
    }
    const QString zero = locale.zeroDigit();
    const std::optional<Tokens> date = compile(m_datePattern);
    const std::optional<Tokens> time = compile(m_timePattern);
    if (zero.size() == 1 && date && time) {
        m_zeroDigit = zero.front().unicode();
        m_dateTokens = *date;
        m_timeTokens = *time;
        m_compiled = longest(m_dateTokens) + 1 + longest(m_timeTokens) <= Line::Capacity - Line::Reserve;
    }
}

// Compiles the fields of a QLocale pattern that an access time has; fractions
// of seconds, eras and anything unusual are left to QLocale itself.
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
            used = qMin(repeat, 4);
            token = used > 2 ? Token{Field::DayName, used - 3, {}} : Token{Field::Day, used, {}};
            break;
        case u'M':
            used = qMin(repeat, 4);
            token = used > 2 ? Token{Field::MonthName, used - 3, {}} : Token{Field::Month, used, {}};
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

int DisplayText::longest(const Tokens &tokens) const
{
    auto longestOf = [](const QStringList &texts) {
        qsizetype size = 0;
        for (const QString &text : texts)
            size = qMax(size, text.size());
        return int(size);
    };
    int size = 0;
    for (const Token &token : tokens) {
        switch (token.field) {
        case Field::Literal: size += int(token.text.size()); break;
        case Field::Year: size += 4; break;
        case Field::DayName: size += longestOf(m_dayNames[token.width]); break;
        case Field::MonthName: size += longestOf(m_monthNames[token.width]); break;
        case Field::AmPm: size += longestOf({m_amPm[token.width][0], m_amPm[token.width][1]}); break;
        default: size += 2; break;
        }
    }
    return size;
}

QString DisplayText::operator()(AccessTime time) const
{
    QString text;
    appendTo(text, time);
    return text;
}

void DisplayText::appendTo(QString &out, AccessTime time, QStringView after) const
{
    if (!m_compiled || after.size() > Line::Reserve) {
        appendWithQLocale(out, time, after);
        return;
    }
    Line line;
    if (!time.hasZeroDate()) {
        if (time.days() != m_cachedDay) {
            m_cachedDate.size = 0;
            writeDate(m_cachedDate, time.date());
            m_cachedDay = time.days();
        }
        line.put(QStringView(m_cachedDate.chars, m_cachedDate.size));
        if (!time.isMidnight())
            line.put(u' ');
    }
    if (time.hasZeroDate() || !time.isMidnight())
        writeTime(line, time.secondOfDay());
    line.put(after);
    out.append(reinterpret_cast<const QChar *>(line.chars), line.size);
}

void DisplayText::appendWithQLocale(QString &out, AccessTime time, QStringView after) const
{
    if (!time.hasZeroDate())
        out += m_locale.toString(time.date(), m_datePattern);
    if (!time.hasZeroDate() && !time.isMidnight())
        out += u' ';
    if (time.hasZeroDate() || !time.isMidnight())
        out += m_locale.toString(time.time(), m_timePattern);
    out += after;
}

void DisplayText::Line::putLongNumber(int value, int width, char16_t zero)
{
    char16_t digits[8];
    int count = 0;
    do {
        digits[count++] = char16_t(zero + value % 10);
        value /= 10;
    } while (value > 0);
    for (int pad = count; pad < width; ++pad)
        put(zero);
    while (count > 0)
        put(digits[--count]);
}

void DisplayText::writeDate(Line &line, QDate date) const
{
    int year, month, day;
    date.getDate(&year, &month, &day);
    for (const Token &token : m_dateTokens) {
        switch (token.field) {
        case Field::Day: line.putNumber(day, token.width, m_zeroDigit); break;
        case Field::Month: line.putNumber(month, token.width, m_zeroDigit); break;
        case Field::Year: line.putNumber(year, 4, m_zeroDigit); break;
        case Field::TwoDigitYear: line.putNumber(year % 100, 2, m_zeroDigit); break;
        case Field::DayName: line.put(m_dayNames[token.width].at(date.dayOfWeek() - 1)); break;
        case Field::MonthName: line.put(m_monthNames[token.width].at(month - 1)); break;
        case Field::Literal: line.put(token.text); break;
        default: break;
        }
    }
}

void DisplayText::writeTime(Line &line, int secondOfDay) const
{
    const int hour = secondOfDay / 3600;
    for (const Token &token : m_timeTokens) {
        switch (token.field) {
        case Field::Hour: line.putNumber(hour, token.width, m_zeroDigit); break;
        case Field::Hour12: line.putNumber(hour % 12 == 0 ? 12 : hour % 12, token.width, m_zeroDigit); break;
        case Field::Minute: line.putNumber(secondOfDay / 60 % 60, token.width, m_zeroDigit); break;
        case Field::Second: line.putNumber(secondOfDay % 60, token.width, m_zeroDigit); break;
        case Field::AmPm: line.put(m_amPm[token.width][hour < 12 ? 0 : 1]); break;
        case Field::Literal: line.put(token.text); break;
        default: break;
        }
    }
}
