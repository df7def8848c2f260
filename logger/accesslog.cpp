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

} // namespace

// "#yyyy-MM-dd HH:mm:ss#", "#yyyy-MM-dd#" or "#HH:mm:ss#", digits padded.
std::optional<AccessTime> parseRecord(QByteArrayView literal)
{
    const qsizetype size = literal.size();
    if (size < 2 || literal.front() != '#' || literal.back() != '#')
        return std::nullopt;
    int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0;
    qsizetype timeAt = -1;
    if (size == 21 || size == 12) {
        if (!separators(literal, {{5, '-'}, {8, '-'}}))
            return std::nullopt;
        year = digits(literal, 1, 4);
        month = digits(literal, 6, 2);
        day = digits(literal, 9, 2);
        if (size == 21) {
            if (literal[11] != ' ')
                return std::nullopt;
            timeAt = 12;
        }
    } else if (size == 10) {
        timeAt = 1;
    } else {
        return std::nullopt;
    }
    if (timeAt > 0) {
        if (!separators(literal, {{timeAt + 2, ':'}, {timeAt + 5, ':'}}))
            return std::nullopt;
        hour = digits(literal, timeAt, 2);
        minute = digits(literal, timeAt + 3, 2);
        second = digits(literal, timeAt + 6, 2);
    }
    return AccessTime::fromFields(year, month, day, hour, minute, second);
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
    QByteArray expected;
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

        if (isBlank(line)) {
            contents.layout = Layout::Irregular;
            continue;
        }
        const std::optional<AccessTime> time = parseRecord(line);
        if (!time) {
            contents.badLine = lineNumber;
            contents.badText = line.toByteArray();
            return contents;
        }
        contents.times.append(*time);

        expected.clear();
        appendRecord(expected, *time);
        if (QByteArrayView(expected).chopped(2) != line || crlf != terminated)
            contents.layout = Layout::Irregular;
        else if (!terminated && contents.layout == Layout::Canonical)
            contents.layout = Layout::Unterminated;
    }
    return contents;
}

} // namespace AccessLog
