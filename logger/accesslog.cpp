#include "accesslog.h"

namespace AccessLog {

namespace {

int digits(QByteArrayView text, qsizetype from, qsizetype count)
{
    int value = 0;
    for (qsizetype i = from; i < from + count; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

bool separators(QByteArrayView text, std::initializer_list<std::pair<qsizetype, char>> expected)
{
    for (const auto &[at, c] : expected) {
        if (text[at] != c)
            return false;
    }
    return true;
}

void appendDigits(QByteArray &out, int value, int width)
{
    char buffer[4];
    for (int i = width - 1; i >= 0; --i, value /= 10)
        buffer[i] = char('0' + value % 10);
    out.append(buffer, width);
}

bool isBlank(QByteArrayView line)
{
    return line.trimmed().isEmpty();
}

// Reads the literals "#yyyy-MM-dd HH:mm:ss#", "#yyyy-MM-dd#" and "#HH:mm:ss#",
// digits padded. Consecutive records mostly share their day, so the last
// day read is remembered rather than converted again.
class RecordReader
{
public:
    std::optional<AccessTime> read(QByteArrayView literal);
    // Whether the literal just read is the form it would be written in.
    bool wasCanonical() const { return m_canonical; }

private:
    std::optional<qint64> day(QByteArrayView literal);

    char m_lastDate[10] = {};
    std::optional<qint64> m_lastDay;
    bool m_canonical = false;
};

std::optional<qint64> RecordReader::day(QByteArrayView literal)
{
    const QByteArrayView date = literal.sliced(1, 10);
    if (m_lastDay && std::equal(date.begin(), date.end(), m_lastDate))
        return m_lastDay;
    if (!separators(literal, {{5, '-'}, {8, '-'}}))
        return std::nullopt;
    const QDate parsed(digits(literal, 1, 4), digits(literal, 6, 2), digits(literal, 9, 2));
    if (!parsed.isValid() || parsed.year() < 1)
        return std::nullopt;
    std::copy(date.begin(), date.end(), m_lastDate);
    m_lastDay = AccessTime::dayOf(parsed);
    return m_lastDay;
}

std::optional<AccessTime> RecordReader::read(QByteArrayView literal)
{
    const qsizetype size = literal.size();
    if ((size != 21 && size != 12 && size != 10) || literal.front() != '#' || literal.back() != '#')
        return std::nullopt;
    qint64 days = 0;
    if (size != 10) {
        const std::optional<qint64> date = day(literal);
        if (!date)
            return std::nullopt;
        days = *date;
    }
    std::optional<AccessTime> time;
    if (size == 12) {
        time = AccessTime::fromDay(days, 0, 0, 0);
    } else {
        const qsizetype at = size == 21 ? 12 : 1;
        if ((size == 21 && literal[11] != ' ') || !separators(literal, {{at + 2, ':'}, {at + 5, ':'}}))
            return std::nullopt;
        time = AccessTime::fromDay(days, digits(literal, at, 2), digits(literal, at + 3, 2),
                                   digits(literal, at + 6, 2));
    }
    if (time) {
        m_canonical = size == 10 ? true
                    : size == 12 ? !time->hasZeroDate()
                                 : !time->hasZeroDate() && !time->isMidnight();
    }
    return time;
}

} // namespace

std::optional<AccessTime> parseRecord(QByteArrayView literal)
{
    return RecordReader().read(literal);
}

void appendRecord(QByteArray &out, AccessTime time)
{
    out += '#';
    if (!time.hasZeroDate()) {
        int year, month, day;
        time.date().getDate(&year, &month, &day);
        appendDigits(out, year, 4);
        out += '-';
        appendDigits(out, month, 2);
        out += '-';
        appendDigits(out, day, 2);
    }
    if (time.hasZeroDate() || !time.isMidnight()) {
        if (!time.hasZeroDate())
            out += ' ';
        const int seconds = time.secondOfDay();
        appendDigits(out, seconds / 3600, 2);
        out += ':';
        appendDigits(out, seconds / 60 % 60, 2);
        out += ':';
        appendDigits(out, seconds % 60, 2);
    }
    out += "#\r\n";
}

QByteArray serialize(const QList<AccessTime> &times)
{
    QByteArray out;
    out.reserve(times.size() * 23);
    for (AccessTime time : times)
        appendRecord(out, time);
    return out;
}

Contents parse(const QByteArray &text)
{
    Contents contents;
    contents.times.reserve(text.size() / 23 + 1);
    RecordReader reader;
    qsizetype lineNumber = 0;
    for (qsizetype start = 0; start < text.size();) {
        ++lineNumber;
        qsizetype end = text.indexOf('\n', start);
        const bool terminated = end >= 0;
        if (!terminated)
            end = text.size();
        QByteArrayView line(text.constData() + start, end - start);
        const bool crlf = line.endsWith('\r');
        if (crlf)
            line.chop(1);
        start = end + 1;

        if ((line.isEmpty() || line.front() != '#') && isBlank(line)) {
            contents.layout = Layout::Irregular;
            continue;
        }
        const std::optional<AccessTime> time = reader.read(line);
        if (!time) {
            contents.badLine = lineNumber;
            contents.badText = line.toByteArray();
            return contents;
        }
        contents.times.append(*time);

        if (!reader.wasCanonical() || crlf != terminated)
            contents.layout = Layout::Irregular;
        else if (!terminated && contents.layout == Layout::Canonical)
            contents.layout = Layout::Unterminated;
    }
    return contents;
}

} // namespace AccessLog
