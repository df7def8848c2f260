#include "record/protocol.h"

#include <charconv>

namespace Protocol {

namespace {

// A decimal number and the space after it, taken off the front of 'text'.
bool takeNumber(std::string_view &text, std::size_t &number)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc() || end == text.data() || end == text.data() + text.size() || *end != ' ')
        return false;
    text.remove_prefix(std::size_t(end - text.data()) + 1);
    return true;
}

} // namespace

std::string replyLine(std::string_view status, std::size_t bytes, std::size_t omitted, std::string_view text)
{
    return std::string(status) + ' ' + std::to_string(bytes) + ' ' + std::to_string(omitted) + ' '
        + std::string(text) + '\n';
}

std::optional<Reply> parseReply(std::string_view reply)
{
    const std::size_t end = reply.find('\n');
    if (end == std::string_view::npos || end > MaxHeader)
        return std::nullopt;
    std::string_view header = reply.substr(0, end);
    const std::size_t space = header.find(' ');
    if (space == std::string_view::npos)
        return std::nullopt;
    const std::string_view status = header.substr(0, space);
    header.remove_prefix(space + 1);
    Reply parsed;
    if (!takeNumber(header, parsed.bytes) || !takeNumber(header, parsed.omitted))
        return std::nullopt;
    parsed.text = header;
    if (status == Error)
        return parsed;
    if (status != Ok || reply.size() != end + 1)
        return std::nullopt;
    parsed.recorded = true;
    return parsed;
}

} // namespace Protocol
