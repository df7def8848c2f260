#include "service/request.h"
#include "log/protocol.h"

#include <algorithm>

namespace {

constexpr std::size_t MaxField = 128;

bool isName(std::string_view field)
{
    return field.size() <= MaxField && std::none_of(field.begin(), field.end(), [](char c) {
               const auto byte = static_cast<unsigned char>(c);
               return byte < 0x20 || byte == 0x7f;
           });
}

// The next field up to the separator or the end; false past the end.
bool nextField(std::string_view &rest, std::string &field)
{
    if (rest.data() == nullptr)
        return false;
    const std::size_t separator = rest.find(Protocol::FieldSeparator);
    field = rest.substr(0, separator);
    rest = separator == std::string_view::npos ? std::string_view() : rest.substr(separator + 1);
    return isName(field);
}

} // namespace

std::optional<Request> Request::parse(std::string_view line)
{
    if (line == Protocol::AccessRequest)
        return Request();
    std::string_view rest = line;
    std::string kind;
    Request login{Kind::Login, {}, {}, {}, {}};
    if (!nextField(rest, kind) || kind != Protocol::LoginRequest || !nextField(rest, login.user)
        || !nextField(rest, login.service) || !nextField(rest, login.tty) || !nextField(rest, login.session)
        || rest.data() != nullptr || login.user.empty() || login.service.empty())
        return std::nullopt;
    return login;
}

std::string Request::source() const
{
    return kind == Kind::Access ? "logger" : Protocol::loginSource(service);
}
