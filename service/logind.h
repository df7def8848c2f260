#pragma once

#include "record/sessions.h"
#include "service/unlocksandwakes.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>
#include <systemd/sd-bus.h>

// Follows logind on the system bus: sessions locked and unlocked, the
// machine's sleeps and wakes, which tell when a person comes back to a
// computer that stayed on. Only logind's own word counts: a signal that
// anyone else on the bus sends is dropped, and who came back is what logind
// says of the session. Without a bus the service still records everything
// else: the loss is told once, and the bus is tried again.
class Logind
{
public:
    using Clock = std::chrono::steady_clock;

    struct Return
    {
        std::string session;
        uid_t uid = 0;
        std::string source; // "unlock" or "wake"
    };

    // What sd-login says of the sessions comes from 'sessions': a test puts its own.
    explicit Logind(UnlocksAndWakes::Counted counted, const Sessions &sessions = Sessions::system());
    ~Logind();
    Logind(const Logind &) = delete;
    Logind &operator=(const Logind &) = delete;

    // For poll: the bus's descriptor, or -1 while there is none.
    int fd() const;
    short events() const;
    // When process() is due even if the bus brings nothing.
    std::optional<Clock::time_point> deadline() const;
    // Takes what the bus brought and what fell due: the returns to record.
    std::vector<Return> process(Clock::time_point now);
    // Someone's access was recorded.
    void recorded(uid_t person) { m_returns.recorded(person); }
    // A screen locker that logind may not know of took the session owner's
    // password: true when that is a return to count.
    bool lockerUnlocked(const std::string &session)
    {
        return m_returns.lockerUnlocked(session, Clock::now());
    }

private:
    static int onSignal(sd_bus_message *message, void *self, sd_bus_error *error);
    static int onOwner(sd_bus_message *reply, void *self, sd_bus_error *error);

    void connect(Clock::time_point now);
    void lose(Clock::time_point now, int error);
    void signal(sd_bus_message *message);
    void ownerChanged(const std::string &owner);
    void readLockedHints();
    void unlocked(const std::string &session);
    void lookAtSeat(Clock::time_point now);
    std::optional<uid_t> personOf(const std::string &session) const;

    const Sessions &m_sessions;
    UnlocksAndWakes m_returns;
    sd_bus *m_bus = nullptr;
    std::string m_owner; // logind's unique name on the bus
    std::optional<Clock::time_point> m_retry;
    bool m_lost = false;
    std::vector<Return> m_found;
};
