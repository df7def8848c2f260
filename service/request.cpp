#include "service/request.h"
#include "record/protocol.h"

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
    Request asked{Kind::Login, {}, {}, {}, {}};
    if (!nextField(rest, kind) || (kind != Protocol::LoginRequest && kind != Protocol::UnlockRequest)
        || !nextField(rest, asked.user) || !nextField(rest, asked.service))
        return std::nullopt;
    if (kind == Protocol::UnlockRequest)
        asked.kind = Kind::Unlock;
    else if (!nextField(rest, asked.tty) || !nextField(rest, asked.session))
        return std::nullopt;
    if (rest.data() != nullptr || asked.user.empty() || asked.service.empty())
        return std::nullopt;
    return asked;
}

std::string Request::source() const
{
    switch (kind) {
    case Kind::Access:
        return "logger";
    case Kind::Unlock:
        return "unlock";
    case Kind::Login:
        break;
    }
    return Protocol::loginSource(service);
}
