#pragma once

#include "log/accesstime.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The access log's text form: one date literal per line, CR LF after each,
// oldest first, e.g. "#2002-02-02 17:41:51#", "#2002-02-03#" at midnight
// and "#17:41:51#" on the zero date.
namespace AccessLog {

enum class Layout {
    Canonical,    // reads back byte for byte as it would be written
    Unterminated, // canonical but for the CR LF after the last record
    Irregular,    // LF line ends, blank lines or long forms to normalise
};

struct Contents
{
    std::vector<AccessTime> times;
    Layout layout = Layout::Canonical;
    std::size_t badLine = 0; // 1-based line that is not a date literal, 0 if none
    std::string badText;
    // Where an interrupted write's leftover begins: a last line with no line
    // end that is only the start of a record, or only NUL bytes. The text
    // before it is what the log holds; npos if there is none.
    std::size_t tornTail = std::string_view::npos;

    bool isValid() const { return badLine == 0; }
    bool hasTornTail() const { return tornTail != std::string_view::npos; }
};

// What ends every record, and the length of the usual line: a date, a
// clock and the line end.
inline constexpr std::string_view LineEnd = "\r\n";
inline constexpr std::size_t FullLine = sizeof "#yyyy-MM-dd HH:mm:ss#" - 1 + LineEnd.size();

Contents parse(std::string_view text);

std::optional<AccessTime> parseRecord(std::string_view literal);
void appendRecord(std::string &out, AccessTime time);
std::string serialize(const std::vector<AccessTime> &times);

} // namespace AccessLog
