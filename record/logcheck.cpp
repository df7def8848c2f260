#include "record/logcheck.h"
#include "record/accesslog.h"
#include "record/message.h"

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

LogCheck::~LogCheck() = default;

std::string LogCheck::damage(const std::string &path, std::size_t line, std::string_view text)
{
    return "Il file " + Message::escaped(path) + " non contiene una data valida alla riga "
        + std::to_string(line) + ": " + Message::quoted(text) + "; la riga è stata lasciata com'è";
}

void LogCheck::start()
{
    m_toldThisSearch = false;
    Io::Fd fd(::open(m_path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat opened;
    if (!fd.valid() || ::fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode))
        return;
    // Where this search, or the last one on this file, got to: kept here
    // while the service runs, on the file for the next start. Wherever the
    // file no longer holds what it ended on (cut, or rewritten in place),
    // it is read from its start.
    Kept resume;
    const bool sameFile = opened.st_dev == m_device && opened.st_ino == m_inode;
    if (sameFile) {
        resume = {m_offset, m_lines, m_told, m_ended};
    } else {
        char kept[128] = {};
        if (::fgetxattr(fd.get(), Attribute, kept, sizeof kept - 1) <= 0
            || std::sscanf(kept, "%zu %zu %zu %" SCNx64, &resume.offset, &resume.lines, &resume.told,
                           &resume.ended)
                != 4)
            resume = {};
    }
    if (resume.offset > std::size_t(opened.st_size) || fingerprint(fd.get(), resume.offset) != resume.ended) {
        resume = {};
        resume.ended = fingerprint(fd.get(), 0);
    }
    m_inLongLine = sameFile && m_inLongLine && resume.offset == m_offset;
    m_fd = std::move(fd);
    m_device = opened.st_dev;
    m_inode = opened.st_ino;
    m_offset = resume.offset;
    m_lines = resume.lines;
    m_told = resume.told;
    m_ended = resume.ended;
    m_found.reset();
}

std::optional<std::string> LogCheck::step()
{
    if (!m_fd.valid())
        return std::nullopt;
    m_piece.resize(Piece);
    ssize_t got;
    do
        got = ::pread(m_fd.get(), m_piece.data(), Piece, off_t(m_offset));
    while (got < 0 && errno == EINTR);
    if (got <= 0) {
        finish();
        return std::exchange(m_found, std::nullopt);
    }
    const bool atEnd = std::size_t(got) < Piece;
    const std::string_view text(m_piece.data(), std::size_t(got));
    const auto tell = [this](std::size_t line, std::string_view badText) {
        if (line > m_told && !m_toldThisSearch) {
            m_found = damage(m_path, line, badText);
            m_told = line;
            m_toldThisSearch = true;
        }
    };
    const std::size_t lastEnd = text.rfind('\n');
    if (m_inLongLine) {
        // The rest of a line longer than a piece: the next step reads from
        // the line after it.
        const std::size_t lineEnd = text.find('\n');
        m_offset += lineEnd == std::string_view::npos ? text.size() : lineEnd + 1;
        if (lineEnd != std::string_view::npos) {
            m_inLongLine = false;
            ++m_lines;
        }
    } else if (lastEnd == std::string_view::npos && !atEnd) {
        // A whole piece from a line's start and no line end: no record.
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
    m_ended = fingerprint(m_fd.get(), m_offset);
    if (atEnd)
        finish();
    return std::exchange(m_found, std::nullopt);
}

void LogCheck::finish()
{
    if (!m_fd.valid())
        return;
    // Only the log's owner may set it; without it the next search starts
    // over.
    char kept[128];
    const int size =
        std::snprintf(kept, sizeof kept, "%zu %zu %zu %" PRIx64, m_offset, m_lines, m_told, m_ended);
    ::fsetxattr(m_fd.get(), Attribute, kept, std::size_t(size), 0);
    m_fd.reset();
    m_piece = std::string();
}
