#include "log/logupdate.h"
#include "log/accesslog.h"
#include "log/logfile.h"
#include "log/message.h"

#include <new>

namespace {

constexpr std::size_t ShownText = 40;

std::string shown(std::string_view text)
{
    std::string out = "«" + Message::escaped(text.substr(0, ShownText));
    if (text.size() > ShownText)
        out += "…";
    return out + "»";
}

std::string badRecordMessage(const std::string &path, const AccessLog::Contents &contents)
{
    return "Il file " + Message::escaped(path) + " non contiene una data valida alla riga "
        + std::to_string(contents.badLine) + ": " + shown(contents.badText)
        + "; il file non è stato modificato";
}

} // namespace

LogUpdate::LogUpdate(std::string logPath) : m_logPath(logPath), m_file(std::move(logPath)) { }

bool LogUpdate::run(const Clock &clock)
{
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
    std::string_view old;
    if (!m_file.open(Patience) || !m_file.read(old)) {
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
    const AccessLog::Contents contents = AccessLog::parse(old);
    if (!contents.isValid()) {
        m_error = badRecordMessage(m_logPath, contents);
        return false;
    }
    if (contents.hasTornTail()) {
        m_notice = "Il file " + Message::escaped(m_logPath)
            + " terminava con una riga incompleta, lasciata da "
              "una scrittura interrotta: "
            + shown(old.substr(contents.tornTail)) + "; la riga è stata eliminata";
        old = old.substr(0, contents.tornTail);
    }

    // What ends the last line, where the log left it unended.
    std::string_view separator;
    if (old.ends_with('\r'))
        separator = "\n";
    else if (!old.empty() && !old.ends_with('\n'))
        separator = AccessLog::LineEnd;

    if (contents.layout == AccessLog::Layout::Canonical) {
        m_records = old;
    } else {
        m_normalised = AccessLog::serialize(contents.times);
        m_records = m_normalised;
    }

    if (contents.layout == AccessLog::Layout::Irregular) {
        switch (m_file.replace(m_normalised + line)) {
        case LogFile::Replacement::Done:
            m_recordOffset = m_normalised.size();
            return true;
        case LogFile::Replacement::Failed:
            m_error = m_file.errorString();
            return false;
        case LogFile::Replacement::Impossible:
            // Where only the file, not its folder, is writable the log is
            // left as it reads and the access appended to it.
            break;
        }
    }
    if ((contents.hasTornTail() && !m_file.cutTo(contents.tornTail))
        || !m_file.append(std::string(separator) + line)) {
        m_error = m_file.errorString();
        return false;
    }
    m_recordOffset = old.size() + separator.size();
    return true;
}
