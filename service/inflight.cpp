#include "service/inflight.h"
#include "record/accesslog.h"
#include "record/io.h"

#include <charconv>
#include <fstream>
#include <sstream>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr char Separator = '\t';
constexpr std::size_t Fields = 8;

} // namespace

InFlight::InFlight(std::string path) : m_path(std::move(path)) { }

std::string InFlight::format(const Access &access)
{
    // No field holds a tab or a line end: the request's fields hold no
    // control bytes, and the rest are the service's own.
    std::string text = std::to_string(access.offset);
    for (const std::string &field :
         {access.record, std::string(access.login ? "login" : "access"), std::to_string(access.who.uid),
          access.who.user, access.who.source, access.who.tty, access.who.session})
        (text += Separator) += field;
    return text + '\n';
}

std::optional<InFlight::Access> InFlight::parse(std::string_view text)
{
    if (!text.ends_with('\n'))
        return std::nullopt;
    text.remove_suffix(1);
    std::vector<std::string_view> fields;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(Separator, start);
        fields.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    Access access;
    unsigned long uid = 0;
    const auto number = [](std::string_view field, auto &value) {
        const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
        return error == std::errc() && end == field.data() + field.size() && !field.empty();
    };
    if (fields.size() != Fields || !number(fields[0], access.offset) || fields[1].empty()
        || (fields[2] != "login" && fields[2] != "access") || !number(fields[3], uid))
        return std::nullopt;
    access.record = fields[1];
    access.login = fields[2] == "login";
    access.who = {uid_t(uid), std::string(fields[4]), std::string(fields[5]), std::string(fields[6]),
                  std::string(fields[7])};
    return access;
}

void InFlight::note(const Access &access)
{
    // /run is memory: nothing here waits for a disk. A service killed in the
    // middle leaves a note that does not parse, and had written nothing.
    const Io::Fd fd(::open(m_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (fd.valid())
        Io::writeAll(fd.get(), format(access));
}

void InFlight::done()
{
    ::unlink(m_path.c_str());
}

std::optional<InFlight::Access> InFlight::left() const
{
    std::ifstream file(m_path);
    std::stringstream text;
    text << file.rdbuf();
    return parse(text.str());
}

bool InFlight::written(const std::string &logPath, const Access &access)
{
    const std::string line = access.record + std::string(AccessLog::LineEnd);
    std::string found(line.size(), '\0');
    const Io::Fd fd(::open(logPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd.valid())
        return false;
    const ssize_t got = ::pread(fd.get(), found.data(), found.size(), off_t(access.offset));
    return got == ssize_t(found.size()) && found == line;
}
