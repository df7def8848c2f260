#pragma once

#include "record/io.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <sys/types.h>

// The search for the lines of a log that are not records, a piece at a time,
// so that no access ever waits for a long log to be read. How far it got is
// kept on the file itself, in an extended attribute: the next search, after
// a restart too, reads only what came since, and a damaged line is told once
// until the log is replaced or cut. Where the file system keeps no such
// attribute, each search reads the whole log and tells its damage again.
class LogCheck
{
public:
    // Read in well under a millisecond: a request that comes meanwhile
    // waits no longer.
    static constexpr std::size_t Piece = std::size_t(256) << 10;
    static constexpr char Attribute[] = "user.tallix.checked";

    explicit LogCheck(std::string path);
    ~LogCheck();
    LogCheck(const LogCheck &) = delete;
    LogCheck &operator=(const LogCheck &) = delete;

    // Due again: someone else changed the file the path names, or it is
    // another file now. A search under way on that same file goes on.
    void start();
    bool pending() const { return m_fd.valid(); }
    // Reads the next piece. The first damaged line not told before, once
    // the search has found it.
    std::optional<std::string> step();

    // The words for a damaged line, the same wherever it is found.
    static std::string damage(const std::string &path, std::size_t line, std::string_view text);

private:
    struct Kept
    {
        std::size_t offset = 0;
        std::size_t lines = 0;
        std::size_t told = 0;
        std::uint64_t ended = 0; // a fingerprint of the bytes before the offset
    };

    void finish();

    std::string m_path;
    Io::Fd m_fd;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    std::size_t m_offset = 0; // the start of the next line to read
    std::size_t m_lines = 0;  // the lines before it
    std::size_t m_told = 0;   // the last damaged line told, 0 for none
    std::uint64_t m_ended = 0;
    bool m_inLongLine = false;
    bool m_toldThisSearch = false;
    std::optional<std::string> m_found;
    std::string m_piece;
};
