#pragma once

#include "record/journal.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The access being written, noted beside the session marks before its
// record goes into the log. Should the service die before the access has
// its journal entry and, for a login, its session mark, its next start
// finds the note: a record at the noted place gets what it lacked; no
// record there means the access was not written, and the client's retry
// writes it. Either way an access is recorded once, with its entry.
class InFlight
{
public:
    struct Access
    {
        std::size_t offset = 0; // where its record begins in the log
        std::string record;     // without its line end
        bool login = false;
        Journal::Access who;
    };

    explicit InFlight(std::string path);

    void note(const Access &access);
    void done();
    // What a service that died left noted.
    std::optional<Access> left() const;

    static std::string format(const Access &access);
    static std::optional<Access> parse(std::string_view text);
    // Whether the log at 'logPath' holds 'record' as a line at 'offset'.
    static bool written(const std::string &logPath, const Access &access);

private:
    std::string m_path;
};
