#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <sys/types.h>

// Screen lockers that check the password themselves, as the session's own
// user, and tell logind nothing of it: their successful PAM step is how an
// unlock of theirs is heard. It is believed only where it can be checked:
// the PAM service is a screen locker's, the caller is the user PAM checked,
// and it runs in that user's own session, graphical or a console on a seat
// (where sway and its kind run when started from one), in front on its
// seat. A user who fakes it records only their own access, as starting the
// logger does.
namespace Lockers {

// What logind says of a session.
struct Session
{
    uid_t uid = uid_t(-1);
    std::string sessionClass;
    std::string type;
    bool seated = false; // on a seat: the computer's own screen and keyboard
    bool active = false;
};

struct Caller
{
    uid_t uid = uid_t(-1);          // the process's own, as the kernel tells it
    std::optional<uid_t> user;      // the user PAM checked, if there is such an account
    std::optional<Session> session; // the session the caller runs in
};

// Whether a PAM service is a screen locker's: never a login's, su's, sudo's,
// polkit's or a display manager's.
bool isLocker(std::string_view service);

// Why an unlock told by this caller through this PAM service is not
// believed; nothing where it is.
std::optional<std::string> doubt(std::string_view service, const Caller &caller);

// What logind says of a session now; nothing where it knows none by that id.
std::optional<Session> sessionFacts(const std::string &id);

// The session that an unlock told by process 'pid' (0: this one) of 'uid'
// is of: the one it runs in, or, for a locker that the user's own service
// manager started (swayidle's swaylock, a desktop started by systemd), the
// user's graphical session; empty where there is neither.
std::string callerSession(pid_t pid, uid_t uid);

} // namespace Lockers
