// pam-session: run by pam_exec, from the tallix PAM profile, as a session
// opens. It asks the recording service to record every interactive login
// of a person: on a console, over ssh, or at a display manager. The session
// decides, as logind registered it: a greeter's session, a system
// account's, and the sessions that su, sudo, runuser, cron, systemd --user
// or polkit open never count. It asks on root's own socket, never waits
// longer than the protocol's login time-out (asking once more within it
// when the service broke off), never prints to the user's terminal and
// always lets the session open: what goes wrong goes to the journal.

#include "log/people.h"
#include "log/protocol.h"
#include "log/recordclient.h"

#include <array>
#include <chrono>
#include <cstdlib>
#include <string>
#include <string_view>

#include <pwd.h>
#include <syslog.h>
#include <systemd/sd-journal.h>
#include <systemd/sd-login.h>
#include <unistd.h>

namespace {

// Services that open a session for someone already logged in, or for no
// one at the keyboard.
constexpr std::array NeverLogins = {"su",        "su-l", "sudo", "sudo-i",       "runuser",
                                    "runuser-l", "cron", "atd",  "systemd-user", "polkit-1"};

std::string_view variable(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

bool isPerson(std::string_view user)
{
    const std::string name(user);
    passwd entry;
    passwd *found = nullptr;
    char buffer[4096];
    if (::getpwnam_r(name.c_str(), &entry, buffer, sizeof buffer, &found) != 0 || !found)
        return false;
    return People::isPerson(found->pw_uid);
}

// logind's class of the session, or what the display manager asked for
// where logind has none.
std::string sessionClass(std::string_view session)
{
    char *registered = nullptr;
    if (!session.empty() && sd_session_get_class(std::string(session).c_str(), &registered) >= 0) {
        std::string found = registered;
        std::free(registered);
        return found;
    }
    const std::string_view asked = variable("XDG_SESSION_CLASS");
    return asked.empty() ? "user" : std::string(asked);
}

bool isLogin(std::string_view service, std::string_view user, std::string_view session)
{
    for (const std::string_view never : NeverLogins) {
        if (service == never)
            return false;
    }
    return sessionClass(session) == "user" && isPerson(user);
}

} // namespace

int main()
{
    // Run by anyone else, it would only plant entries in the journal.
    if (::getuid() != 0 || ::geteuid() != 0)
        return 0;
    const std::string_view service = variable("PAM_SERVICE");
    const std::string_view user = variable("PAM_USER");
    const std::string_view session = variable("XDG_SESSION_ID");
    if (variable("PAM_TYPE") != "open_session" || !isLogin(service, user, session))
        return 0;

    std::string request(Protocol::LoginRequest);
    for (const std::string_view field : {user, service, variable("PAM_TTY"), session})
        (request += Protocol::FieldSeparator) += field;
    RecordClient client(Protocol::LoginSocketPath);
    const auto deadline = std::chrono::steady_clock::now() + Protocol::LoginTimeout;
    bool recorded = client.request(request, Protocol::LoginTimeout);
    // A service stopped while it served the request has been started again
    // by its socket; the session id keeps it from recording the login twice.
    if (!recorded && client.brokenOff() && !session.empty())
        recorded = client.request(request,
                                  std::chrono::duration_cast<std::chrono::milliseconds>(
                                      deadline - std::chrono::steady_clock::now()));
    if (!recorded) {
        const std::string message = "Accesso " + std::string(service) + " di " + std::string(user)
            + " non registrato: " + client.errorString();
        sd_journal_send("MESSAGE_ID=%s", Protocol::RefusedMessageId, "MESSAGE=%s", message.c_str(),
                        "PRIORITY=%d", LOG_WARNING, "SYSLOG_IDENTIFIER=tallix", "SYSLOG_FACILITY=%d",
                        LOG_AUTHPRIV >> 3, "TALLIX_USER=%.*s", int(user.size()), user.data(),
                        "TALLIX_SOURCE=%.*s", int(service.size()), service.data(), nullptr);
    }
    return 0;
}
