#include "logger/displaytext.h"
#include "record/io.h"

#include <QDate>
#include <QTime>

#include <QRegularExpression>

#include <utility>

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
    : m_locale(locale), m_datePattern(locale.dateFormat(QLocale::ShortFormat)),
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
        m_fixedTime = fixedForm(m_timeTokens);
        const int longestText = longest(m_dateTokens) + 1 + longest(m_timeTokens);
        m_longest = longestText <= Capacity ? longestText : 0;
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

std::optional<DisplayText::FixedTime> DisplayText::fixedForm(const Tokens &tokens)
{
    FixedTime form;
    for (const Token &token : tokens) {
        qsizetype *field = token.field == Field::Hour ? &form.hour
            : token.field == Field::Minute            ? &form.minute
            : token.field == Field::Second            ? &form.second
                                                      : nullptr;
        if (token.field == Field::Literal) {
            form.text += token.text;
        } else if (field && *field < 0 && token.width == 2) {
            *field = form.text.size();
            form.text += QStringLiteral("00");
        } else {
            return std::nullopt;
        }
    }
    return form;
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
        case Field::Literal:
            size += int(token.text.size());
            break;
        case Field::Year:
            size += 4;
            break;
        case Field::DayName:
            size += longestOf(m_dayNames[token.width]);
            break;
        case Field::MonthName:
            size += longestOf(m_monthNames[token.width]);
            break;
        case Field::AmPm:
            size += longestOf({m_amPm[token.width][0], m_amPm[token.width][1]});
            break;
        default:
            size += 2;
            break;
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
    if (m_longest == 0) {
        appendWithQLocale(out, time, after);
        return;
    }
    char16_t text[Capacity];
    out.append(reinterpret_cast<const QChar *>(text), write(text, time) - text);
    out.append(after);
}

QString DisplayText::listing(const std::vector<AccessTime> &times) const
{
    QString out;
    if (m_longest == 0) {
        for (AccessTime time : times)
            appendWithQLocale(out, time, u"\r\n");
        return out;
    }
    // The new characters of a QString are left uninitialised: each is written once.
    out.resize(qsizetype(times.size()) * (m_longest + 2));
    char16_t *const begin = reinterpret_cast<char16_t *>(out.data());
    Io::prefault(begin, std::size_t(out.size()) * sizeof(char16_t));
    char16_t *to = begin;
    for (AccessTime time : times) {
        to = write(to, time);
        *to++ = u'\r';
        *to++ = u'\n';
    }
    out.resize(to - begin);
    return out;
}

namespace {

// Texts here are a few characters long: a plain loop beats a call to memcpy.
char16_t *put(char16_t *to, const char16_t *text, qsizetype size)
{
    for (qsizetype i = 0; i < size; ++i)
        *to++ = text[i];
    return to;
}

char16_t *putTwoDigits(char16_t *to, int value, char16_t zero)
{
    to[0] = char16_t(zero + value / 10);
    to[1] = char16_t(zero + value % 10);
    return to + 2;
}

char16_t *put(char16_t *to, const QString &text)
{
    return put(to, reinterpret_cast<const char16_t *>(text.constData()), text.size());
}

} // namespace

char16_t *DisplayText::write(char16_t *to, AccessTime time) const
{
    const int secondOfDay = time.secondOfDay();
    if (!time.hasZeroDate()) {
        if (time.days() != m_cachedDay) {
            m_cachedDateSize = int(writeDate(m_cachedDate, time) - m_cachedDate);
            m_cachedDay = time.days();
        }
        to = put(to, m_cachedDate, m_cachedDateSize);
        if (secondOfDay == 0)
            return to;
        *to++ = u' ';
    }
    return writeTime(to, secondOfDay);
}

void DisplayText::appendWithQLocale(QString &out, AccessTime time, QStringView after) const
{
    if (!time.hasZeroDate()) {
        const AccessTime::Date date = time.date();
        out += m_locale.toString(QDate(date.year, date.month, date.day), m_datePattern);
    }
    if (!time.hasZeroDate() && !time.isMidnight())
        out += u' ';
    if (time.hasZeroDate() || !time.isMidnight())
        out += m_locale.toString(QTime::fromMSecsSinceStartOfDay(time.secondOfDay() * 1000), m_timePattern);
    out += after;
}

char16_t *DisplayText::writeNumber(char16_t *to, int value, int width) const
{
    if (value < 100 && width == 2)
        return putTwoDigits(to, value, m_zeroDigit);
    if (value < 10 && width <= 1) {
        *to++ = char16_t(m_zeroDigit + value);
        return to;
    }
    return writeLongNumber(to, value, width);
}

char16_t *DisplayText::writeLongNumber(char16_t *to, int value, int width) const
{
    char16_t digits[8];
    int count = 0;
    do {
        digits[count++] = char16_t(m_zeroDigit + value % 10);
        value /= 10;
    } while (value > 0);
    for (int pad = count; pad < width; ++pad)
        *to++ = m_zeroDigit;
    while (count > 0)
        *to++ = digits[--count];
    return to;
}

char16_t *DisplayText::writeDate(char16_t *to, AccessTime time) const
{
    const auto [year, month, day] = time.date();
    for (const Token &token : m_dateTokens) {
        switch (token.field) {
        case Field::Day:
            to = writeNumber(to, day, token.width);
            break;
        case Field::Month:
            to = writeNumber(to, month, token.width);
            break;
        case Field::Year:
            to = writeNumber(to, year, 4);
            break;
        case Field::TwoDigitYear:
            to = writeNumber(to, year % 100, 2);
            break;
        case Field::DayName:
            to = put(to, m_dayNames[token.width].at(time.dayOfWeek() - 1));
            break;
        case Field::MonthName:
            to = put(to, m_monthNames[token.width].at(month - 1));
            break;
        case Field::Literal:
            to = put(to, token.text);
            break;
        default:
            break;
        }
    }
    return to;
}

char16_t *DisplayText::writeTime(char16_t *to, int secondOfDay) const
{
    const int hour = secondOfDay / 3600;
    if (m_fixedTime) {
        char16_t *const start = to;
        to = put(to, m_fixedTime->text);
        for (const auto &[at, value] :
             {std::pair(m_fixedTime->hour, hour), std::pair(m_fixedTime->minute, secondOfDay / 60 % 60),
              std::pair(m_fixedTime->second, secondOfDay % 60)}) {
            if (at >= 0)
                putTwoDigits(start + at, value, m_zeroDigit);
        }
        return to;
    }
    for (const Token &token : m_timeTokens) {
        switch (token.field) {
        case Field::Hour:
            to = writeNumber(to, hour, token.width);
            break;
        case Field::Hour12:
            to = writeNumber(to, hour % 12 == 0 ? 12 : hour % 12, token.width);
            break;
        case Field::Minute:
            to = writeNumber(to, secondOfDay / 60 % 60, token.width);
            break;
        case Field::Second:
            to = writeNumber(to, secondOfDay % 60, token.width);
            break;
        case Field::AmPm:
            to = put(to, m_amPm[token.width][hour < 12 ? 0 : 1]);
            break;
        case Field::Literal:
            to = put(to, token.text);
            break;
        default:
            break;
        }
    }
    return to;
}
