#include "log/logcheck.h"
#include "log/accesslog.h"
#include "log/message.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

// The bytes a search ended on: a log rewritten in place, whose first bytes
// are no longer those it read, is read anew.
constexpr std::size_t Witnesses = 64;

std::uint64_t fingerprint(int fd, std::size_t offset)
{
    char bytes[Witnesses];
    const std::size_t start = offset > Witnesses ? offset - Witnesses : 0;
    const ssize_t got = ::pread(fd, bytes, offset - start, off_t(start));
    std::uint64_t hash = 0xcbf29ce484222325;
    for (ssize_t i = 0; i < got; ++i)
        hash = (hash ^ static_cast<unsigned char>(bytes[i])) * 0x100000001b3;
    return got == ssize_t(offset - start) ? hash : 0;
}

} // namespace

LogCheck::LogCheck(std::string path) : m_path(std::move(path)) { }

LogCheck::~LogCheck()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::string LogCheck::damage(const std::string &path, std::size_t line, std::string_view text)
{
    return "Il file " + Message::escaped(path) + " non contiene una data valida alla riga " + std::to_string(line)
        + ": " + Message::quoted(text) + "; la riga è stata lasciata com'è";
}

void LogCheck::start()
{
    struct stat named;
    if (::stat(m_path.c_str(), &named) != 0 || !S_ISREG(named.st_mode))
        return;
    m_toldThisSearch = false;
    // What this search, or the last one on this file, read already holds.
    if (named.st_dev == m_device && named.st_ino == m_inode && std::size_t(named.st_size) >= m_offset) {
        if (m_fd < 0)
            m_fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        return;
    }
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    struct stat opened;
    if (m_fd < 0 || ::fstat(m_fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        finish();
        m_device = 0;
        m_inode = 0;
        return;
    }
    m_device = opened.st_dev;
    m_inode = opened.st_ino;
    m_offset = m_lines = m_told = 0;
    m_inLongLine = false;
    m_found.reset();
    // Where an earlier search on this file stopped, if the file still holds
    // what it ended on.
    char kept[128] = {};
    std::size_t offset = 0, lines = 0, told = 0;
    std::uint64_t ended = 0;
    if (::fgetxattr(m_fd, Attribute, kept, sizeof kept - 1) > 0
        && std::sscanf(kept, "%zu %zu %zu %" SCNx64, &offset, &lines, &told, &ended) == 4
        && offset <= std::size_t(opened.st_size) && fingerprint(m_fd, offset) == ended) {
        m_offset = offset;
        m_lines = lines;
        m_told = told;
    }
}

std::optional<std::string> LogCheck::step()
{
    if (m_fd < 0)
        return std::nullopt;
    m_piece.resize(Piece);
    ssize_t got;
    do
        got = ::pread(m_fd, m_piece.data(), Piece, off_t(m_offset));
    while (got < 0 && errno == EINTR);
    if (got <= 0) {
        finish();
        return std::exchange(m_found, std::nullopt);
    }
    const bool atEnd = std::size_t(got) < Piece;
    std::string_view text(m_piece.data(), std::size_t(got));
    const auto tell = [this](std::size_t line, std::string_view badText) {
        if (line > m_told && !m_toldThisSearch) {
            m_found = damage(m_path, line, badText);
            m_told = line;
            m_toldThisSearch = true;
        }
    };
    if (m_inLongLine) {
        const std::size_t lineEnd = text.find('\n');
        if (lineEnd == std::string_view::npos) {
            m_offset += text.size();
            if (atEnd)
                finish();
            return std::exchange(m_found, std::nullopt);
        }
        m_inLongLine = false;
        ++m_lines;
        m_offset += lineEnd + 1;
        text.remove_prefix(lineEnd + 1);
    }
    const std::size_t lastEnd = text.rfind('\n');
    if (lastEnd == std::string_view::npos && !atEnd) {
        // Longer than a piece, and so no record.
        tell(m_lines + 1, text);
        m_inLongLine = true;
        m_offset += text.size();
    } else if (lastEnd != std::string_view::npos) {
        // Whole lines only: an unended last line is the next append's.
        const std::string_view lines = text.substr(0, lastEnd + 1);
        const AccessLog::Contents contents = AccessLog::check(lines);
        if (!contents.isValid())
            tell(m_lines + contents.badLine, contents.badText);
        m_lines += std::size_t(std::count(lines.begin(), lines.end(), '\n'));
        m_offset += lines.size();
    }
    if (atEnd)
        finish();
    return std::exchange(m_found, std::nullopt);
}

void LogCheck::finish()
{
    if (m_fd < 0)
        return;
    // Only the log's owner may set it; without it the next search starts
    // over.
    char kept[128];
    const int size = std::snprintf(kept, sizeof kept, "%zu %zu %zu %" PRIx64, m_offset, m_lines, m_told,
                                   fingerprint(m_fd, m_offset));
    ::fsetxattr(m_fd, Attribute, kept, std::size_t(size), 0);
    ::close(m_fd);
    m_fd = -1;
    m_piece = std::string();
}
