#pragma once

#include "record/accesslog.h"
#include "record/accesstime.h"
#include "record/logfile.h"
#include "record/mappedfile.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One access recorded: the present time is appended as the new last record
// and no byte before it changes, but for the line end an unended last line
// lacks and a last line that an interrupted write left behind, which is
// dropped and notice() says so. A line that is not a record is no reason to
// refuse. On any failure the log keeps what it held before, and
// errorString() says what went wrong.
class LogUpdate
{
public:
    static constexpr std::chrono::milliseconds Patience{5000};

    using Clock = std::function<std::optional<AccessTime>()>;
    // Told where the record will begin and what it says, before it is written.
    using BeforeWrite = std::function<void(std::size_t offset, const std::string &record)>;

    enum class Reading {
        // Every run reads and checks the whole log, and hands its bytes over.
        Whole,
        // Only the last line is read, and only where someone else changed
        // the file since this writer's last append: an access costs the same
        // whatever the log's length, its first one too. The search for
        // damaged lines is LogCheck's, after the access. Room for the next
        // Reserve bytes of records stays allocated past the log's end, out
        // of the reach of whoever fills the file system it shares.
        Changes,
    };
    static constexpr std::size_t Reserve = 10000 * AccessLog::FullLine;

    LogUpdate(std::string logPath, Reading reading);

    // The clock is read once the lock is held, so that a writer delayed
    // before it never adds a time older than the last record's. Other
    // writers may go on as soon as it returns.
    bool run(const Clock &clock = &AccessTime::now, const BeforeWrite &beforeWrite = {});

    // Reading::Whole: the log's bytes before the new record, but for a line
    // end added to its last line; valid until the next run.
    std::string_view records() const { return m_records; }
    // Reading::Whole: the times of the records among them, read by the same
    // pass that checked them.
    const std::vector<AccessTime> &times() const { return m_times; }
    // The line added, without its CR LF, and where it begins in the file.
    const std::string &record() const { return m_record; }
    std::size_t recordOffset() const { return m_recordOffset; }
    const std::string &notice() const { return m_notice; }
    // Reading::Whole: the first line that is not a record.
    const std::string &damage() const { return m_damage; }
    // Reading::Changes: someone else changed the file since this writer's
    // last append, or there was none: it is due for a LogCheck.
    bool changedByOthers() const { return m_changed; }
    const std::string &errorString() const { return m_error; }

private:
    bool update(const Clock &clock, const BeforeWrite &beforeWrite);
    // Reads and checks the log, drops a torn last line, and says what must
    // end its last line; false on failure.
    bool check(std::size_t &end, std::string_view &separator);
    // The same from the last line alone.
    bool checkLastLine(std::size_t &end, std::string_view &separator);
    // 'text' is the file from 'start' to its end; a torn line from
    // 'tornTail' on is cut off it.
    bool endLog(std::string_view &text, std::size_t start, std::size_t tornTail, std::size_t &end,
                std::string_view &separator);

    std::string m_logPath;
    Reading m_reading;
    LogFile m_file;
    MappedFile m_mapped;
    // The log as the last run left it, ending in a whole line: while it is
    // still so, none of it needs reading.
    std::optional<LogFile::Status> m_left;
    std::string_view m_records;
    std::vector<AccessTime> m_times;
    std::string m_record;
    std::size_t m_recordOffset = 0;
    std::string m_notice;
    std::string m_damage;
    bool m_changed = false;
    std::string m_error;
};
