#include "record/accesslog.h"
#include "record/io.h"

#include <algorithm>
#include <cstring>

namespace AccessLog {

namespace {

// Two digits as a number, or -1.
int twoDigits(const char *at)
{
    const unsigned tens = unsigned(at[0] - '0');
    const unsigned units = unsigned(at[1] - '0');
    return tens < 10 && units < 10 ? int(tens * 10 + units) : -1;
}

void appendDigits(std::string &out, int value, int width)
{
    char buffer[4];
    for (int i = width - 1; i >= 0; --i, value /= 10)
        buffer[i] = char('0' + value % 10);
    out.append(buffer, std::size_t(width));
}

bool isBlank(std::string_view line)
{
    return line.find_first_not_of(" \t\v\f\r") == std::string_view::npos;
}

// The three record forms, 'd' standing for any digit.
constexpr std::string_view DateAndClock = "#dddd-dd-dd dd:dd:dd#";
constexpr std::string_view DateOnly = "#dddd-dd-dd#";
constexpr std::string_view ClockOnly = "#dd:dd:dd#";
constexpr std::string_view Forms[] = {DateAndClock, DateOnly, ClockOnly};
static_assert(FullLine == DateAndClock.size() + LineEnd.size());

// "yyyy-MM-dd" and where the clock starts in the full form.
constexpr std::size_t DateLength = DateOnly.size() - 2;
constexpr std::size_t ClockStart = DateAndClock.find(' ') + 1;

bool beginsForm(std::string_view text, std::string_view form)
{
    if (text.size() >= form.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool matches = form[i] == 'd' ? text[i] >= '0' && text[i] <= '9' : text[i] == form[i];
        if (!matches)
            return false;
    }
    return true;
}

// What a write cut short leaves as the last line: part of a record, or the
// zeros a file system shows for a size it grew to before its data landed.
bool isTorn(std::string_view line)
{
    if (line.find_first_not_of('\0') == std::string_view::npos)
        return true;
    return std::any_of(std::begin(Forms), std::end(Forms),
                       [line](std::string_view form) { return beginsForm(line, form); });
}

// Reads the literals "#yyyy-MM-dd HH:mm:ss#", "#yyyy-MM-dd#" and "#HH:mm:ss#",
// digits padded. Consecutive records mostly share their day, so the last
// day read is remembered rather than converted again.
class RecordReader
{
public:
    std::optional<AccessTime> read(std::string_view literal);

private:
    std::optional<std::int64_t> day(const char *date);

    char m_lastDate[DateLength] = {};
    std::optional<std::int64_t> m_lastDay;
};

// "yyyy-MM-dd" as days since the zero date.
std::optional<std::int64_t> RecordReader::day(const char *date)
{
    if (m_lastDay && std::memcmp(date, m_lastDate, sizeof m_lastDate) == 0)
        return m_lastDay;
    const int century = twoDigits(date);
    const int yearOfCentury = twoDigits(date + 2);
    if (date[4] != '-' || date[7] != '-' || century < 0 || yearOfCentury < 0)
        return std::nullopt;
    const std::optional<std::int64_t> parsed =
        AccessTime::dayOf(century * 100 + yearOfCentury, twoDigits(date + 5), twoDigits(date + 8));
    if (!parsed)
        return std::nullopt;
    std::memcpy(m_lastDate, date, sizeof m_lastDate);
    m_lastDay = parsed;
    return m_lastDay;
}

std::optional<AccessTime> RecordReader::read(std::string_view literal)
{
    const std::size_t size = literal.size();
    const bool full = size == DateAndClock.size();
    if ((!full && size != DateOnly.size() && size != ClockOnly.size()) || literal.front() != '#'
        || literal.back() != '#')
        return std::nullopt;
    const char *text = literal.data();
    std::int64_t days = 0;
    if (size != ClockOnly.size()) {
        const std::optional<std::int64_t> date = day(text + 1);
        if (!date)
            return std::nullopt;
        days = *date;
    }
    if (size == DateOnly.size())
        return AccessTime::fromDay(days, 0, 0, 0);
    const char *clock = text + (full ? ClockStart : 1);
    if ((full && text[ClockStart - 1] != ' ') || clock[2] != ':' || clock[5] != ':')
        return std::nullopt;
    const int hour = twoDigits(clock);
    const int minute = twoDigits(clock + 3);
    const int second = twoDigits(clock + 6);
    return AccessTime::fromDay(days, hour, minute, second);
}

} // namespace

std::optional<AccessTime> parseRecord(std::string_view literal)
{
    return RecordReader().read(literal);
}

void appendRecord(std::string &out, AccessTime time)
{
    out += '#';
    if (!time.hasZeroDate()) {
        const AccessTime::Date date = time.date();
        appendDigits(out, date.year, 4);
        out += '-';
        appendDigits(out, date.month, 2);
        out += '-';
        appendDigits(out, date.day, 2);
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
    out += '#';
    out += LineEnd;
}

namespace {

Contents read(std::string_view text, bool keepTimes)
{
    Contents contents;
    if (keepTimes) {
        contents.times.reserve(text.size() / FullLine + 1);
        Io::prefault(contents.times.data(), contents.times.capacity() * sizeof(AccessTime));
    }
    RecordReader reader;
    std::size_t lineNumber = 0;
    // A text editor's mark of UTF-8 is no line of the log.
    constexpr std::string_view Utf8Mark = "\xEF\xBB\xBF";
    std::size_t start = text.starts_with(Utf8Mark) ? Utf8Mark.size() : 0;
    while (start < text.size()) {
        ++lineNumber;
        // The usual line, a full record and CR LF, needs no search for its
        // end: a literal that reads has no line end inside.
        if (start + FullLine <= text.size()
            && text.substr(start + DateAndClock.size(), LineEnd.size()) == LineEnd) {
            if (const std::optional<AccessTime> time = reader.read(text.substr(start, DateAndClock.size()))) {
                if (keepTimes)
                    contents.times.push_back(*time);
                start += FullLine;
                continue;
            }
        }
        std::size_t end = text.find('\n', start);
        const bool terminated = end != std::string_view::npos;
        if (!terminated)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        const bool crlf = line.ends_with('\r');
        if (crlf)
            line.remove_suffix(1);
        const std::size_t lineStart = start;
        start = end + 1;

        if ((line.empty() || line.front() != '#') && isBlank(line))
            continue;
        if (const std::optional<AccessTime> time = reader.read(line)) {
            if (keepTimes)
                contents.times.push_back(*time);
        } else if (!terminated && !crlf && isTorn(line)) {
            contents.tornTail = lineStart;
        } else if (contents.badLine == 0) {
            contents.badLine = lineNumber;
            contents.badText = line;
        }
    }
    return contents;
}

} // namespace

Contents parse(std::string_view text)
{
    return read(text, true);
}

Contents check(std::string_view text)
{
    return read(text, false);
}

} // namespace AccessLog
