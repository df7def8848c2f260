#include "service/logind.h"
#include "record/io.h"
#include "record/journal.h"
#include "record/message.h"
#include "record/people.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include <syslog.h>

namespace {

constexpr char Login1[] = "org.freedesktop.login1";
constexpr char SessionInterface[] = "org.freedesktop.login1.Session";
constexpr char SessionPaths[] = "/org/freedesktop/login1/session";
constexpr char Bus[] = "org.freedesktop.DBus";
// Short, so that an unlock soon after the bus's return counts; a failed
// connect costs next to nothing.
constexpr std::chrono::milliseconds RetryDelay{500};
// Reading the sessions' state holds up the service: logind answers in
// milliseconds, or is not well.
constexpr std::uint64_t CallTimeoutUsec = 500'000;

// What the service follows. The sender named here is only the bus's
// routing: each signal's sender is checked again against logind's own
// unique name, since anyone may send a signal straight to the service.
constexpr const char *Matches[] = {
    "type='signal',sender='org.freedesktop.login1',path='/org/freedesktop/login1',"
    "interface='org.freedesktop.login1.Manager',member='PrepareForSleep'",
    "type='signal',sender='org.freedesktop.login1',path='/org/freedesktop/login1',"
    "interface='org.freedesktop.login1.Manager',member='SessionRemoved'",
    "type='signal',sender='org.freedesktop.login1',interface='org.freedesktop.login1.Session',member='Lock'",
    "type='signal',sender='org.freedesktop.login1',interface='org.freedesktop.login1.Session',member='Unlock'",
    "type='signal',sender='org.freedesktop.login1',interface='org.freedesktop.DBus.Properties',"
    "member='PropertiesChanged',arg0='org.freedesktop.login1.Session'",
    "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',interface='org.freedesktop.DBus',"
    "member='NameOwnerChanged',arg0='org.freedesktop.login1'",
};

std::string sessionOf(const char *path)
{
    Io::CString id;
    if (!path || sd_bus_path_decode(path, SessionPaths, id.out()) <= 0)
        return {};
    return id.get();
}

// The LockedHint of a PropertiesChanged, if it is among the changes.
std::optional<bool> lockedHint(sd_bus_message *message)
{
    const char *interface = nullptr;
    if (sd_bus_message_read(message, "s", &interface) < 0
        || sd_bus_message_enter_container(message, 'a', "{sv}") < 0)
        return std::nullopt;
    std::optional<bool> hint;
    while (sd_bus_message_enter_container(message, 'e', "sv") > 0) {
        const char *name = nullptr;
        int value = 0;
        if (sd_bus_message_read(message, "s", &name) < 0)
            return std::nullopt;
        if (std::strcmp(name, "LockedHint") == 0) {
            if (sd_bus_message_read(message, "v", "b", &value) < 0)
                return std::nullopt;
            hint = value != 0;
        } else if (sd_bus_message_skip(message, "v") < 0) {
            return std::nullopt;
        }
        if (sd_bus_message_exit_container(message) < 0)
            return std::nullopt;
    }
    return hint;
}

// What logind says now of the session's lock, if it answers.
std::optional<bool> lockedHintOf(sd_bus *bus, const char *session)
{
    Io::CString path;
    int hint = 0;
    if (sd_bus_path_encode(SessionPaths, session, path.out()) < 0
        || sd_bus_get_property_trivial(bus, Login1, path.get(), SessionInterface, "LockedHint", nullptr, 'b',
                                       &hint)
            < 0)
        return std::nullopt;
    return hint != 0;
}

} // namespace

Logind::Logind(UnlocksAndWakes::Counted counted, const Sessions &sessions)
    : m_sessions(sessions), m_returns(counted)
{
    connect(Clock::now());
}

Logind::~Logind()
{
    sd_bus_flush_close_unref(m_bus);
}

int Logind::fd() const
{
    return m_bus ? sd_bus_get_fd(m_bus) : -1;
}

short Logind::events() const
{
    const int wanted = m_bus ? sd_bus_get_events(m_bus) : 0;
    return short(wanted < 0 ? 0 : wanted);
}

std::optional<Logind::Clock::time_point> Logind::deadline() const
{
    std::optional<Clock::time_point> due = m_bus ? m_returns.wakeDue() : m_retry;
    std::uint64_t usec = 0;
    if (m_bus && sd_bus_get_timeout(m_bus, &usec) >= 0 && usec != UINT64_MAX) {
        // sd-bus counts on CLOCK_MONOTONIC, as steady_clock does.
        const Clock::time_point busDue{std::chrono::microseconds(usec)};
        due = due ? std::min(*due, busDue) : busDue;
    }
    return due;
}

void Logind::connect(Clock::time_point now)
{
    sd_bus *bus = nullptr;
    int result = sd_bus_open_system(&bus);
    if (result >= 0)
        result = sd_bus_set_method_call_timeout(bus, CallTimeoutUsec);
    for (const char *match : Matches) {
        if (result >= 0)
            result = sd_bus_add_match_async(bus, nullptr, match, onSignal, nullptr, this);
    }
    // Asked after the matches, which the bus then has already: no change of
    // logind's owner falls between the two.
    if (result >= 0)
        result = sd_bus_call_method_async(bus, nullptr, Bus, "/org/freedesktop/DBus", Bus, "GetNameOwner",
                                          onOwner, this, "s", Login1);
    if (result < 0) {
        sd_bus_flush_close_unref(bus);
        lose(now, result);
        return;
    }
    m_bus = bus;
    m_retry.reset();
}

void Logind::lose(Clock::time_point now, int error)
{
    m_bus = sd_bus_flush_close_unref(m_bus);
    m_owner.clear();
    m_retry = now + RetryDelay;
    if (!m_lost)
        Journal::note(
            "Sblocchi dello schermo e risvegli non sono contati come accessi: il bus di sistema non è raggiungibile ("
                + Message::systemError(error < 0 ? -error : error) + "); gli altri accessi sono registrati",
            LOG_WARNING);
    m_lost = true;
}

std::vector<Logind::Return> Logind::process(Clock::time_point now)
{
    if (!m_bus && m_retry && *m_retry <= now)
        connect(now);
    while (m_bus) {
        const int result = sd_bus_process(m_bus, nullptr);
        if (result < 0)
            lose(now, result);
        if (result <= 0)
            break;
    }
    if (m_bus && m_returns.takeWake(now))
        lookAtSeat(now);
    return std::exchange(m_found, {});
}

int Logind::onSignal(sd_bus_message *message, void *self, sd_bus_error *)
{
    static_cast<Logind *>(self)->signal(message);
    return 0;
}

int Logind::onOwner(sd_bus_message *reply, void *self, sd_bus_error *)
{
    auto *logind = static_cast<Logind *>(self);
    // Told once the bus has answered, not at the connect: a bus that takes
    // the connection and drops it, try after try, is still lost. NoReply is
    // sd-bus's own word for a connection that ended or a call that timed out.
    if (logind->m_lost && !sd_bus_message_is_method_error(reply, SD_BUS_ERROR_NO_REPLY)) {
        Journal::note(
            "Il bus di sistema è di nuovo raggiungibile: sblocchi e risvegli sono contati come accessi",
            LOG_NOTICE);
        logind->m_lost = false;
    }
    const char *owner = nullptr;
    // No owner yet: logind's start will be a NameOwnerChanged.
    if (!sd_bus_message_is_method_error(reply, nullptr) && sd_bus_message_read(reply, "s", &owner) >= 0)
        logind->ownerChanged(owner);
    return 0;
}

void Logind::signal(sd_bus_message *message)
{
    const char *sender = sd_bus_message_get_sender(message);
    if (!sender)
        return;
    if (sd_bus_message_is_signal(message, Bus, "NameOwnerChanged")) {
        const char *name = nullptr, *before = nullptr, *after = nullptr;
        if (std::strcmp(sender, Bus) == 0 && sd_bus_message_read(message, "sss", &name, &before, &after) >= 0
            && std::strcmp(name, Login1) == 0)
            ownerChanged(after);
        return;
    }
    if (m_owner.empty() || m_owner != sender)
        return;
    if (sd_bus_message_is_signal(message, "org.freedesktop.login1.Manager", "PrepareForSleep")) {
        int sleeping = 0;
        if (sd_bus_message_read(message, "b", &sleeping) < 0)
            return;
        if (sleeping)
            m_returns.sleeping();
        else
            m_returns.woke(Clock::now());
        return;
    }
    if (sd_bus_message_is_signal(message, "org.freedesktop.login1.Manager", "SessionRemoved")) {
        const char *session = nullptr;
        if (sd_bus_message_read(message, "s", &session) >= 0)
            m_returns.ended(session);
        return;
    }
    const std::string session = sessionOf(sd_bus_message_get_path(message));
    if (session.empty())
        return;
    if (sd_bus_message_is_signal(message, SessionInterface, "Lock")) {
        m_returns.locked(session);
    } else if (sd_bus_message_is_signal(message, SessionInterface, "Unlock")) {
        unlocked(session);
    } else if (sd_bus_message_is_signal(message, "org.freedesktop.DBus.Properties", "PropertiesChanged")) {
        const std::optional<bool> hint = lockedHint(message);
        if (hint && *hint)
            m_returns.locked(session);
        else if (hint)
            unlocked(session);
    }
}

void Logind::ownerChanged(const std::string &owner)
{
    m_owner = owner;
    if (!m_owner.empty())
        readLockedHints();
}

// The sessions locked before the service started, or before logind did:
// their unlock is a return too. A Lock seen already is never undone here.
void Logind::readLockedHints()
{
    for (const std::string &session : m_sessions.all()) {
        if (lockedHintOf(m_bus, session.c_str()).value_or(false))
            m_returns.locked(session);
    }
}

void Logind::unlocked(const std::string &session)
{
    if (!m_returns.unlocked(session, Clock::now()))
        return;
    if (const std::optional<uid_t> person = personOf(session))
        m_found.push_back({session, *person, "unlock"});
}

// A while after the wake: the session then on the computer's own screen
// and keyboard, unless a greeter or a locked screen stands before it.
// LightDM's lock is its greeter in front; the others' is the LockedHint.
void Logind::lookAtSeat(Clock::time_point now)
{
    const std::optional<std::string> active = m_sessions.activeOn("seat0");
    if (!active)
        return;
    const std::optional<uid_t> person = personOf(*active);
    if (person && m_returns.wakeCounts(*active, *person, lockedHintOf(m_bus, active->c_str()), now))
        m_found.push_back({*active, *person, "wake"});
}

// A person's own session, as logind registered it: never a greeter's, a
// system account's or a background one.
std::optional<uid_t> Logind::personOf(const std::string &session) const
{
    const std::optional<uid_t> uid = m_sessions.uid(session);
    const std::optional<std::string> sessionClass = m_sessions.sessionClass(session);
    if (!uid || !sessionClass || !People::isPersonsSessionClass(*sessionClass) || !People::isPerson(*uid))
        return std::nullopt;
    return uid;
}
