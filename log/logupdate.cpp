#include "log/logupdate.h"
#include "log/accesslog.h"
#include "log/message.h"

#include <new>
#include <utility>

namespace {

constexpr std::size_t ShownText = 40;

std::string shown(std::string_view text)
{
    std::string out = "«" + Message::escaped(text.substr(0, ShownText));
    if (text.size() > ShownText)
        out += "…";
    return out + "»";
}

} // namespace

LogUpdate::LogUpdate(std::string logPath, Reading reading)
    : m_logPath(logPath), m_reading(reading), m_file(std::move(logPath))
{ }

bool LogUpdate::run(const Clock &clock)
{
    m_records = {};
    m_times.clear();
    m_recordOffset = 0;
    m_record.clear();
    m_notice.clear();
    m_damage.clear();
    m_error.clear();
    try {
        const bool recorded = update(clock);
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

bool LogUpdate::update(const Clock &clock)
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
    if ((m_reading == Reading::Whole || status != left) && !check(end, separator))
        return false;
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
    const bool whole = m_reading == Reading::Whole;
    AccessLog::Contents contents = whole ? AccessLog::parse(old) : AccessLog::check(old);
    if (!contents.isValid())
        m_damage = "Il file " + Message::escaped(m_logPath) + " non contiene una data valida alla riga "
            + std::to_string(contents.badLine) + ": " + shown(contents.badText)
            + "; la riga è stata lasciata com'è";
    if (contents.hasTornTail()) {
        m_notice = "Il file " + Message::escaped(m_logPath)
            + " terminava con una riga incompleta, lasciata da una scrittura interrotta: "
            + shown(old.substr(contents.tornTail)) + "; la riga è stata eliminata";
        old = old.substr(0, contents.tornTail);
        if (!m_file.cutTo(old.size())) {
            m_error = m_file.errorString();
            return false;
        }
    }
    if (old.ends_with('\r'))
        separator = "\n";
    else if (!old.empty() && !old.ends_with('\n'))
        separator = AccessLog::LineEnd;
    end = old.size();
    if (whole) {
        m_records = old;
        m_times = std::move(contents.times);
    } else {
        m_mapped.unmap();
    }
    return true;
}
