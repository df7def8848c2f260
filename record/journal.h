#pragma once

#include <string>
#include <string_view>

#include <sys/types.h>

// One journal entry per access asked for, naming who and how: the log says
// when, the journal says who. Administrators find them by MESSAGE_ID, from
// the service and from the PAM step alike, with the same fields.
namespace Journal {

struct Access
{
    uid_t uid = 0;
    std::string user;
    std::string source; // "logger", "console", "ssh", "unlock", "wake"...
    std::string tty;
    std::string session; // logind's, when known
};

void recorded(const Access &access, std::string_view record);
// Not recorded: refused or failed, and why.
void refused(const Access &access, std::string_view reason);
// Not recorded though nothing was wrong with the request (the log could not
// be written): an error, each one told, since the journal then holds the
// only trace of that access.
void lost(const Access &access, std::string_view reason);
// Asked for, and no answer came back to tell whether it was recorded.
void uncertain(const Access &access, std::string_view reason);
// Something wrong with the log that an access found: a damaged line, a torn
// last line dropped.
void warning(const Access &access, std::string_view found);

// The service's own state, not an access: what it cannot count, and why.
void note(std::string_view message, int priority);

} // namespace Journal
