#pragma once

#include "record/io.h"
#include "record/mappedfile.h"

#include <chrono>
#include <string>
#include <string_view>

#include <sys/types.h>

// An existing log file held under an exclusive lock for one update.
//
// The lock is "Date.txt.lock" beside the file, never the log itself: anyone
// who may read the log could hold a lock on it. Every change either
// completes and is on disk, or leaves the file as it was: an append is cut
// back on a short write.
class LogFile
{
public:
    // Which file the log is and how long: what a writer that appended last
    // knows of it without reading it.
    struct Status
    {
        dev_t device = 0;
        ino_t inode = 0;
        std::size_t size = 0;

        friend bool operator==(const Status &, const Status &) = default;
    };

    explicit LogFile(std::string path);
    ~LogFile();
    LogFile(const LogFile &) = delete;
    LogFile &operator=(const LogFile &) = delete;

    // Opens the file, never creating it, and waits up to 'patience' for
    // another process's lock, which is made where it is missing. A lock dies
    // with its holder.
    bool open(std::chrono::milliseconds patience);
    // Refuses what is not a regular file.
    bool status(Status &status);
    // Maps the whole file for reading, whatever its size: the pages are the
    // file's own, not a copy. The mapping outlives release().
    bool read(MappedFile &mapped);
    // The file's last 'bytes' bytes, or all of a smaller file, read rather
    // than mapped: a file cut under a mapping faults.
    bool readEnd(std::size_t bytes, std::string &end);
    // Drops what follows the first 'size' bytes.
    bool cutTo(std::size_t size);
    bool append(std::string_view bytes);
    // Keeps 'bytes' of disk allocated past the end of the file, so that the
    // next appends find room however full others make the file system.
    // Where the file system cannot, the appends go on without.
    void reserve(std::size_t bytes);

    // Lets other writers in.
    void release();

    const std::string &errorString() const { return m_error; }

private:
    bool waitForLock(std::chrono::steady_clock::time_point deadline);
    bool openLog();
    // Takes the file back to what it held before an append that failed.
    bool cutBack(std::string_view what, int error);
    bool fail(std::string_view what, int error, std::string_view consequence = {});

    std::string m_path;
    std::string m_target; // the file itself, where m_path is a link
    Io::Fd m_fd;
    Io::Fd m_lockFd;
    off_t m_size = 0;
    std::chrono::milliseconds m_patience{0};
    std::string m_error;
};
