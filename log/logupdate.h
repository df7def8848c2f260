#pragma once

#include "log/accesstime.h"
#include "log/logfile.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// One access recorded: every record of the log is read and checked, and the
// present time is added as the new last record. On any failure the log keeps
// what it held before, and errorString() says what went wrong. A last line
// that an interrupted write left behind is dropped first, and notice() says so.
class LogUpdate
{
public:
    static constexpr std::chrono::milliseconds Patience{5000};

    using Clock = std::function<std::optional<AccessTime>()>;

    explicit LogUpdate(std::string logPath);

    // The clock is read once the lock is held, so that a writer delayed
    // before it never adds a time older than the last record's. Other
    // writers may go on as soon as it returns.
    bool run(const Clock &clock = &AccessTime::now);

    // The records the log held before this access, in their file form, each
    // followed by CR LF; valid as long as the update lives.
    std::string_view records() const { return m_records; }
    // The line added, without its CR LF, and where it begins in the file:
    // the bytes before it are the records the log held before.
    const std::string &record() const { return m_record; }
    std::size_t recordOffset() const { return m_recordOffset; }
    const std::string &notice() const { return m_notice; }
    const std::string &errorString() const { return m_error; }

private:
    bool update(const Clock &clock);

    std::string m_logPath;
    LogFile m_file;
    std::string_view m_records;
    std::string m_normalised; // the records, where the log's own bytes are not their file form
    std::string m_record;
    std::size_t m_recordOffset = 0;
    std::string m_notice;
    std::string m_error;
};
