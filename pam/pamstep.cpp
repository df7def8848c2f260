#include "pam/pamstep.h"
#include "record/journal.h"
#include "record/people.h"
#include "record/recordclient.h"

#include <array>
#include <chrono>
#include <string_view>
#include <thread>

namespace PamStep {

namespace {

// Between two tries while the service is being started again.
constexpr std::chrono::milliseconds RetryPause{10};

// Services that open a session for someone already logged in, or for no
// one at the keyboard.
constexpr std::array NeverLogins = {"su",        "su-l", "sudo", "sudo-i",       "runuser",
                                    "runuser-l", "cron", "atd",  "systemd-user", "polkit-1"};

// logind's class of the session, or what the display manager asked for
// where logind has none.
std::string sessionClass(const Context &context, const std::string &session)
{
    if (!session.empty()) {
        if (const std::optional<Lockers::Session> facts = context.sessionFacts(session))
            return facts->sessionClass;
    }
    const std::string asked = context.variable("XDG_SESSION_CLASS");
    return asked.empty() ? "user" : asked;
}

bool isLogin(const Context &context, std::string_view service, std::string_view user,
             const std::string &session)
{
    for (const std::string_view never : NeverLogins) {
        if (service == never)
            return false;
    }
    const std::optional<uid_t> uid = People::uidOf(user);
    return People::isPersonsSessionClass(sessionClass(context, session)) && uid && People::isPerson(*uid);
}

// Asks the service for the access within the login time-out; tells what is
// not surely recorded. 'again': whether a request that the service broke
// off may be asked again.
Outcome ask(const Context &context, const std::string &socketPath, const std::string &request,
            const Journal::Access &access, bool again)
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
        return Outcome::Recorded;
    // The service's own no is sure; after a request that may have gone
    // through, finding no service says nothing of it.
    const RecordClient::Outcome outcome = client.outcome();
    if (outcome == RecordClient::Outcome::Refused
        || (outcome == RecordClient::Outcome::Unreachable && !unsure)) {
        context.tell(Outcome::Refused, access, client.errorString());
        return Outcome::Refused;
    }
    context.tell(Outcome::Uncertain, access, client.errorString());
    return Outcome::Uncertain;
}

} // namespace

void journal(Outcome outcome, const Journal::Access &access, std::string_view reason)
{
    if (outcome == Outcome::Refused)
        Journal::refused(access, reason);
    else
        Journal::uncertain(access, reason);
}

Step step(const Context &context)
{
    const std::string type = context.variable("PAM_TYPE");
    if (type == "open_session")
        return Step::Login;
    if (type == "auth" && Lockers::isLocker(context.variable("PAM_SERVICE")))
        return Step::Unlock;
    return Step::Nothing;
}

Outcome login(const Context &context)
{
    // Run by anyone else, it would only plant entries in the journal.
    if (context.uid != 0 || context.euid != 0)
        return Outcome::NotAsked;
    const std::string service = context.variable("PAM_SERVICE");
    const std::string user = context.variable("PAM_USER");
    const std::string tty = context.variable("PAM_TTY");
    const std::string session = context.variable("XDG_SESSION_ID");
    if (!isLogin(context, service, user, session))
        return Outcome::NotAsked;
    std::string request(Protocol::LoginRequest);
    for (const std::string_view field : {user, service, tty, session})
        (request += Protocol::FieldSeparator) += field;
    return ask(context, context.loginSocket, request,
               {People::uidOf(user).value_or(uid_t(-1)), user, Protocol::loginSource(service), tty, session},
               true);
}

Outcome unlock(const Context &context)
{
    const std::string service = context.variable("PAM_SERVICE");
    const std::string user = context.variable("PAM_USER");
    const uid_t uid = context.uid == context.euid ? context.uid : uid_t(-1);
    const std::string session = context.callerSession(0, uid);
    const Lockers::Caller caller{uid, People::uidOf(user), context.sessionFacts(session)};
    // Not an unlock that the service would believe: nothing to tell.
    if (Lockers::doubt(service, caller))
        return Outcome::NotAsked;
    std::string request(Protocol::UnlockRequest);
    for (const std::string_view field : {user, service})
        (request += Protocol::FieldSeparator) += field;
    return ask(context, context.accessSocket, request, {caller.uid, user, "unlock", {}, session}, false);
}

} // namespace PamStep
