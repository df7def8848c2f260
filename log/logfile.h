#pragma once

#include "log/mappedfile.h"

#include <chrono>
#include <string>
#include <string_view>

#include <sys/types.h>

// An existing log file held under an exclusive lock for one update.
//
// The lock is taken on "Date.txt.lock" beside the file where one exists, so
// that nobody who may merely read the log can hold it; otherwise on the log
// itself. Every change either completes and is on disk, or leaves the file
// as it was: an append is cut back on a short write, and a full rewrite goes
// through a temporary file that replaces the old one atomically, with the
// old owner, group and mode.
class LogFile
{
public:
    explicit LogFile(std::string path);
    ~LogFile();
    LogFile(const LogFile &) = delete;
    LogFile &operator=(const LogFile &) = delete;

    // Opens the file, never creating it, and waits up to 'patience' for
    // another process's lock. A lock dies with its holder.
    bool open(std::chrono::milliseconds patience);
    // Maps the whole file for reading, whatever its size: the pages are the
    // file's own, not a copy. Refuses what is not a regular file. The view
    // outlives release().
    bool read(std::string_view &contents);
    // Drops what follows the first 'size' bytes read.
    bool cutTo(std::size_t size);
    bool append(std::string_view bytes);

    enum class Replacement { Done, Impossible, Failed };
    // Impossible: the folder takes no new file, or the file's owner cannot
    // be kept; nothing was changed and appending is still possible.
    Replacement replace(std::string_view contents);

    // Lets other writers in; what was read stays readable.
    void release();

    const std::string &errorString() const { return m_error; }

private:
    bool lockBeside(int lockFd, std::chrono::steady_clock::time_point deadline);
    bool lockItself(std::chrono::steady_clock::time_point deadline);
    bool waitForLock(int fd, std::chrono::steady_clock::time_point deadline);
    // Takes the file back to what it held before an append that failed.
    bool cutBack(std::string_view what, int error);
    bool fail(std::string_view what, int error, std::string_view consequence = {});

    std::string m_path;
    std::string m_target; // the file itself, where m_path is a link
    int m_fd = -1;
    int m_lockFd = -1;
    off_t m_size = 0;
    MappedFile m_mapped;
    std::chrono::milliseconds m_patience{0};
    std::string m_error;
};
