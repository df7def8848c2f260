#pragma once

#include "record/journal.h"
#include "record/lockers.h"
#include "record/protocol.h"

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <sys/types.h>
#include <unistd.h>

// The PAM step's work, run by pam_exec in two steps.
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
namespace PamStep {

// What became of an access: all but the first two are told.
enum class Outcome {
    NotAsked, // not one to record, or not one the service would believe
    Recorded,
    Refused,   // surely not recorded
    Uncertain, // asked, and no answer told whether it was recorded
};

// Tells the journal of an access not surely recorded, and why.
void journal(Outcome outcome, const Journal::Access &access, std::string_view reason);

// What the process finds around it: the variables pam_exec sets, who it
// runs as, where the service listens and what logind says. Each defaults to
// this process's own.
struct Context
{
    // A variable of the environment; empty where it is not set.
    std::function<std::string(const char *name)> variable = [](const char *name) {
        const char *value = std::getenv(name);
        return std::string(value ? value : "");
    };
    uid_t uid = ::getuid();
    uid_t euid = ::geteuid();
    std::string loginSocket = Protocol::LoginSocketPath;
    std::string accessSocket = Protocol::SocketPath;
    std::function<std::optional<Lockers::Session>(const std::string &id)> sessionFacts =
        Lockers::sessionFacts;
    std::function<std::string(pid_t pid, uid_t uid)> callerSession = Lockers::callerSession;
    // Where an access not surely recorded is told: the journal.
    std::function<void(Outcome, const Journal::Access &, std::string_view reason)> tell = journal;
};

// What PAM_TYPE asks of the step. An unlock only for a screen locker's PAM
// service: nothing else is held up even by the fork it runs in.
enum class Step { Nothing, Login, Unlock };
Step step(const Context &context);

Outcome login(const Context &context);
Outcome unlock(const Context &context);

} // namespace PamStep
