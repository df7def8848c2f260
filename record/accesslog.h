#pragma once

#include "record/accesstime.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The access log's text form: one date literal per line, CR LF after each,
// oldest first, e.g. "#2002-02-02 17:41:51#", "#2002-02-03#" at midnight
// and "#17:41:51#" on the zero date.
namespace AccessLog {

struct Contents
{
    std::vector<AccessTime> times; // the lines that read as records
    std::size_t badLine = 0;       // the first line, 1-based, that is neither a record nor blank; 0 if none
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

// Reads every line; one that is not a record is skipped, and the first of
// them named.
Contents parse(std::string_view text);
// The same without keeping the times: what a writer needs to know of a log.
Contents check(std::string_view text);

std::optional<AccessTime> parseRecord(std::string_view literal);
void appendRecord(std::string &out, AccessTime time);

} // namespace AccessLog
