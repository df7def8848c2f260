#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <set>
#include <string>

#include <sys/types.h>

// When a person comes back to a computer that stayed on: the unlock of a
// locked session, or a wake into a session nobody has to unlock. One return
// is one access: the two signals of one unlock count once, an unlock heard
// both from its screen locker and from logind counts once, and a wake into
// a session that the desktop locks counts at its unlock, never twice.
class UnlocksAndWakes
{
public:
    using Clock = std::chrono::steady_clock;

    // What the administrator counts besides logins and logger starts.
    struct Counted
    {
        bool unlocks = true;
        bool wakes = true;
    };

    // The time a desktop has after a wake to lock the screen or show its
    // greeter: LightDM shows light-locker's about two seconds after the
    // wake, later on a busy machine.
    static constexpr std::chrono::seconds WakeDelay{8};
    // An unlock that logind tells and the locker's own word on it: KDE sets
    // the LockedHint about 0.2 s after its PAM step, later on a busy machine.
    static constexpr std::chrono::seconds SameUnlock{5};
    // A wake counted before the desktop's lock stood: a locker that logind
    // does not know, or a lock that came after the look on a busy machine.
    // The unlock within this time after the wake is the same return.
    static constexpr std::chrono::minutes UnlockAfterWake{2};

    explicit UnlocksAndWakes(Counted counted);

    const Counted &counted() const { return m_counted; }

    // A session was locked: logind's Lock signal, or its LockedHint set.
    void locked(const std::string &session);
    // Its Unlock signal, or LockedHint cleared: true when that is a return
    // to count.
    bool unlocked(const std::string &session, Clock::time_point now);
    // A screen locker of the session took its owner's password: true when
    // that is a return to count.
    bool lockerUnlocked(const std::string &session, Clock::time_point now);
    bool isLocked(const std::string &session) const;
    void ended(const std::string &session);

    void sleeping();
    void woke(Clock::time_point now);
    // Someone's access was recorded: if it was this person's return, the
    // wake's look must not count it again.
    void recorded(uid_t person);
    // When the wake's look at the seat is due.
    std::optional<Clock::time_point> wakeDue() const;
    // True once, when the look is due at 'now': the caller then finds the
    // seat's active session and asks wakeCounts().
    bool takeWake(Clock::time_point now);
    // Whether a wake into this session of 'person' is the return, with what
    // logind says now of its lock, if it answered: that, not the Lock once
    // heard, tells whether the screen still waits for an unlock.
    bool wakeCounts(const std::string &session, uid_t person, std::optional<bool> lockedNow,
                    Clock::time_point now);

private:
    // Who told of a return.
    enum class Heard { Logind, Locker, Wake };
    void remember(const std::string &session, Clock::time_point now, Heard heard);
    bool joinsLastReturn(const std::string &session, Clock::time_point now, Heard heard) const;

    struct LastReturn
    {
        Clock::time_point at;
        Heard heard = Heard::Logind;
    };

    Counted m_counted;
    std::set<std::string> m_locked;
    // Each session's last return counted, for the word on it that comes late.
    std::map<std::string, LastReturn> m_returned;
    std::optional<Clock::time_point> m_wakeDue;
    // Whose accesses came since the last wake.
    std::set<uid_t> m_recordedSinceWake;
};
