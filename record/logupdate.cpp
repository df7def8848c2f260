#include "record/logupdate.h"
#include "record/accesslog.h"
#include "record/logcheck.h"
#include "record/message.h"

#include <new>
#include <utility>

namespace {

// A torn write leaves part of one record, or a page of NUL bytes: a last
// line longer than this is neither.
constexpr std::size_t LastLineBytes = 64 * 1024;

} // namespace

LogUpdate::LogUpdate(std::string logPath, Reading reading)
    : m_logPath(logPath), m_reading(reading), m_file(std::move(logPath))
{ }

bool LogUpdate::run(const Clock &clock, const BeforeWrite &beforeWrite)
{
    m_records = {};
    m_times.clear();
    m_recordOffset = 0;
    m_record.clear();
    m_notice.clear();
    m_damage.clear();
    m_changed = false;
    m_error.clear();
    try {
        const bool recorded = update(clock, beforeWrite);
        m_file.release();
        return recorded;
    } catch (const std::bad_alloc &) {
        m_file.release();
        // Every allocation comes before the first write.
        m_error = "Memoria insufficiente per leggere il file " + Message::escaped(m_logPath)
            + "; il file non è stato modificato";
        return false;
    }
}

bool LogUpdate::update(const Clock &clock, const BeforeWrite &beforeWrite)
{
    // Whatever fails from here leaves the log in a state this run did not see.
    const std::optional<LogFile::Status> left = std::exchange(m_left, std::nullopt);
    LogFile::Status status;
    if (!m_file.open(Patience) || !m_file.status(status)) {
        m_error = m_file.errorString();
        return false;
    }
    const std::optional<AccessTime> now = clock();
    if (!now) {
        m_error = "L'orologio del sistema segna una data fuori dagli anni 0001-9999, che il registro degli "
                  "accessi non può contenere; il file non è stato modificato";
        return false;
    }
    std::string line;
    AccessLog::appendRecord(line, *now);
    m_record = line.substr(0, line.size() - AccessLog::LineEnd.size());

    std::size_t end = status.size;
    std::string_view separator;
    m_changed = status != left;
    if (m_reading == Reading::Whole ? !check(end, separator) : m_changed && !checkLastLine(end, separator))
        return false;
    if (beforeWrite)
        beforeWrite(end + separator.size(), m_record);
    if (!m_file.append(std::string(separator) + line)) {
        // The journal keeps what the log could not: when the access came.
        m_error = m_file.errorString() + "; l'accesso " + m_record + " non è stato registrato";
        return false;
    }
    if (m_reading == Reading::Changes)
        m_file.reserve(Reserve);
    m_recordOffset = end + separator.size();
    m_left = LogFile::Status{status.device, status.inode, m_recordOffset + line.size()};
    return true;
}

bool LogUpdate::check(std::size_t &end, std::string_view &separator)
{
    if (!m_file.read(m_mapped)) {
        m_error = m_file.errorString();
        return false;
    }
    std::string_view old = m_mapped.view();
    AccessLog::Contents contents = AccessLog::parse(old);
    if (!contents.isValid())
        m_damage = LogCheck::damage(m_logPath, contents.badLine, contents.badText);
    if (!endLog(old, 0, contents.tornTail, end, separator))
        return false;
    m_records = old;
    m_times = std::move(contents.times);
    return true;
}

bool LogUpdate::checkLastLine(std::size_t &end, std::string_view &separator)
{
    std::string tail;
    if (!m_file.readEnd(LastLineBytes, tail)) {
        m_error = m_file.errorString();
        return false;
    }
    const std::size_t start = end - tail.size();
    const std::size_t lineEnd = tail.rfind('\n');
    std::string_view text = tail;
    std::size_t torn = std::string_view::npos;
    if (lineEnd != std::string::npos || start == 0) {
        const std::size_t lineStart = lineEnd == std::string::npos ? 0 : lineEnd + 1;
        const AccessLog::Contents last = AccessLog::check(text.substr(lineStart));
        if (last.hasTornTail())
            torn = lineStart + last.tornTail;
    }
    return endLog(text, start, torn, end, separator);
}

bool LogUpdate::endLog(std::string_view &text, std::size_t start, std::size_t tornTail, std::size_t &end,
                       std::string_view &separator)
{
    if (tornTail != std::string_view::npos) {
        m_notice = "Il file " + Message::escaped(m_logPath)
            + " terminava con una riga incompleta, lasciata da una scrittura interrotta: "
            + Message::quoted(text.substr(tornTail)) + "; la riga è stata eliminata";
        text = text.substr(0, tornTail);
        if (!m_file.cutTo(start + text.size())) {
            m_error = m_file.errorString();
            return false;
        }
    }
    if (text.ends_with('\r'))
        separator = "\n";
    else if (!text.empty() && !text.ends_with('\n'))
        separator = AccessLog::LineEnd;
    end = start + text.size();
    return true;
}
