// pam-session: run by pam_exec, from the tallix PAM profile, in two steps.
//
// As a session opens, it asks the recording service to record every
// interactive login of a person: on a console, over ssh, or at a display
// manager. The session decides, as logind registered it: a greeter's
// session, a system account's, and the sessions that su, sudo, runuser,
// cron, systemd --user or polkit open never count. It asks on root's own
// socket, never waits longer than the protocol's login time-out (asking
// again within it while the service breaks off), never prints to the
// user's terminal and always lets the session open: a login not recorded,
// or one it cannot know was, goes to the journal with the fields the
// service gives its own entries.
//
// After a password was taken (the step comes after the primary modules, so
// a wrong one never reaches it), it tells the service of a screen locker's
// unlock: only where the locker runs as the user it checked, in that user's
// own session, which the service checks again. It waits for nothing: the
// locker's answer never waits on the service.

#include "log/io.h"
#include "log/journal.h"
#include "log/lockers.h"
#include "log/people.h"
#include "log/protocol.h"
#include "log/recordclient.h"

#include <array>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include <systemd/sd-login.h>
#include <unistd.h>

namespace {

// Between two tries while the service is being started again.
constexpr std::chrono::milliseconds RetryPause{10};

// Services that open a session for someone already logged in, or for no
// one at the keyboard.
constexpr std::array NeverLogins = {"su",        "su-l", "sudo", "sudo-i",       "runuser",
                                    "runuser-l", "cron", "atd",  "systemd-user", "polkit-1"};

std::string_view variable(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

// logind's class of the session, or what the display manager asked for
// where logind has none.
std::string sessionClass(std::string_view session)
{
    Io::CString registered;
    if (!session.empty() && sd_session_get_class(std::string(session).c_str(), registered.out()) >= 0)
        return registered.get();
    const std::string_view asked = variable("XDG_SESSION_CLASS");
    return asked.empty() ? "user" : std::string(asked);
}

bool isLogin(std::string_view service, std::string_view user, std::string_view session)
{
    for (const std::string_view never : NeverLogins) {
        if (service == never)
            return false;
    }
    const std::optional<uid_t> uid = People::uidOf(user);
    return People::isPersonsSessionClass(sessionClass(session)) && uid && People::isPerson(*uid);
}

// Asks the service for the access within the login time-out; tells the
// journal what is not surely recorded. 'again': whether a request that the
// service broke off may be asked again.
void ask(const char *socketPath, const std::string &request, const Journal::Access &access, bool again)
{
    RecordClient client(socketPath);
    const auto deadline = std::chrono::steady_clock::now() + Protocol::LoginTimeout;
    bool recorded = client.request(request, Protocol::LoginTimeout);
    // A service killed while it served the request is started again at
    // once by its socket, and finishes what the killed one wrote; the
    // session id keeps a login from being recorded twice. An unlock asked
    // again would be a second one: it is told as uncertain instead.
    bool unsure = false;
    for (auto left = deadline - std::chrono::steady_clock::now();
         again && !recorded && client.brokenOff() && client.outcome() == RecordClient::Outcome::Unknown
         && !access.session.empty() && left > RetryPause;
         left = deadline - std::chrono::steady_clock::now()) {
        unsure = true;
        std::this_thread::sleep_for(RetryPause);
        recorded =
            client.request(request, std::chrono::duration_cast<std::chrono::milliseconds>(left - RetryPause));
    }
    if (recorded)
        return;
    // The service's own no is sure; after a request that may have gone
    // through, finding no service says nothing of it.
    const RecordClient::Outcome outcome = client.outcome();
    if (outcome == RecordClient::Outcome::Refused
        || (outcome == RecordClient::Outcome::Unreachable && !unsure))
        Journal::refused(access, client.errorString());
    else
        Journal::uncertain(access, client.errorString());
}

void login()
{
    // Run by anyone else, it would only plant entries in the journal.
    if (::getuid() != 0 || ::geteuid() != 0)
        return;
    const std::string_view service = variable("PAM_SERVICE");
    const std::string_view user = variable("PAM_USER");
    const std::string_view session = variable("XDG_SESSION_ID");
    if (!isLogin(service, user, session))
        return;
    std::string request(Protocol::LoginRequest);
    for (const std::string_view field : {user, service, variable("PAM_TTY"), session})
        (request += Protocol::FieldSeparator) += field;
    ask(Protocol::LoginSocketPath, request,
        {People::uidOf(user).value_or(uid_t(-1)), std::string(user), Protocol::loginSource(service),
         std::string(variable("PAM_TTY")), std::string(session)},
        true);
}

void unlock()
{
    const std::string service(variable("PAM_SERVICE"));
    const std::string user(variable("PAM_USER"));
    // Nothing but a locker's step is held up even by a fork; and the
    // locker's by nothing more: pam_exec waits for this process only.
    if (!Lockers::isLocker(service) || ::fork() != 0)
        return;
    const uid_t uid = ::getuid() == ::geteuid() ? ::getuid() : uid_t(-1);
    const std::string session = Lockers::callerSession(0, uid);
    const Lockers::Caller caller{uid, People::uidOf(user), Lockers::sessionFacts(session)};
    // Not an unlock that the service would believe: nothing to tell.
    if (Lockers::doubt(service, caller))
        return;
    std::string request(Protocol::UnlockRequest);
    for (const std::string_view field : {std::string_view(user), std::string_view(service)})
        (request += Protocol::FieldSeparator) += field;
    ask(Protocol::SocketPath, request, {caller.uid, user, "unlock", {}, session}, false);
}

} // namespace

int main()
{
    const std::string_view type = variable("PAM_TYPE");
    if (type == "open_session")
        login();
    else if (type == "auth")
        unlock();
    return 0;
}
