#include "service/unlocksandwakes.h"

UnlocksAndWakes::UnlocksAndWakes(Counted counted) : m_counted(counted) { }

void UnlocksAndWakes::locked(const std::string &session)
{
    m_locked.insert(session);
    // A new lock: its unlock is a return of its own, whatever came before,
    // unless this is the desktop's lock at the wake, come after the look.
    const auto last = m_returned.find(session);
    if (last != m_returned.end() && last->second.heard != Heard::Wake)
        m_returned.erase(last);
}

bool UnlocksAndWakes::unlocked(const std::string &session, Clock::time_point now)
{
    if (m_locked.erase(session) == 0 || !m_counted.unlocks)
        return false;
    const bool joined = joinsLastReturn(session, now, Heard::Logind);
    // Remembered even when joined: the locker's word on it may follow.
    remember(session, now, Heard::Logind);
    return !joined;
}

bool UnlocksAndWakes::lockerUnlocked(const std::string &session, Clock::time_point now)
{
    // logind's word on this unlock, if it comes after, is the same return.
    m_locked.erase(session);
    if (!m_counted.unlocks)
        return false;
    // Each password the locker takes is an unlock; logind's word on it may
    // have come first, and a wake may have counted before it.
    if (joinsLastReturn(session, now, Heard::Locker)) {
        // Joined once: the next unlock is a return of its own.
        m_returned.erase(session);
        return false;
    }
    remember(session, now, Heard::Locker);
    return true;
}

bool UnlocksAndWakes::isLocked(const std::string &session) const
{
    return m_locked.count(session) > 0;
}

void UnlocksAndWakes::ended(const std::string &session)
{
    m_locked.erase(session);
    m_returned.erase(session);
}

void UnlocksAndWakes::sleeping()
{
    m_wakeDue.reset();
}

void UnlocksAndWakes::woke(Clock::time_point now)
{
    m_recordedSinceWake.clear();
    // The returns of an earlier wake are over: an unlock after this one is
    // this wake's return.
    std::erase_if(m_returned, [](const auto &entry) { return entry.second.heard == Heard::Wake; });
    if (m_counted.wakes)
        m_wakeDue = now + WakeDelay;
}

void UnlocksAndWakes::recorded(uid_t person)
{
    if (m_wakeDue)
        m_recordedSinceWake.insert(person);
}

std::optional<UnlocksAndWakes::Clock::time_point> UnlocksAndWakes::wakeDue() const
{
    return m_wakeDue;
}

bool UnlocksAndWakes::takeWake(Clock::time_point now)
{
    if (!m_wakeDue || *m_wakeDue > now)
        return false;
    m_wakeDue.reset();
    return true;
}

bool UnlocksAndWakes::wakeCounts(const std::string &session, uid_t person, std::optional<bool> lockedNow,
                                 Clock::time_point now)
{
    // What logind says now outweighs the Lock once heard. Some screen lockers
    // have logind lock the session and never tell it of the unlock: such a
    // Lock must neither hold back every later wake nor, once the wake has
    // counted, count again at a late Unlock. A lock logind holds, heard or
    // not, is one whose unlock is to come.
    const bool locked = lockedNow.value_or(isLocked(session));
    if (locked)
        m_locked.insert(session);
    else
        m_locked.erase(session);
    // Still locked: its unlock will be the return. Unlocked already, or
    // logged in anew: that access was it. With unlocks not counted, the wake
    // is the only trace of this return.
    if (m_counted.unlocks && locked)
        return false;
    if (m_recordedSinceWake.count(person) > 0)
        return false;
    // A locker logind does not know may stand before it still.
    remember(session, now, Heard::Wake);
    return true;
}

// Whether an unlock told now is the session's last return counted: the
// other's word on the same unlock, or the unlock that ends a wake's lock.
bool UnlocksAndWakes::joinsLastReturn(const std::string &session, Clock::time_point now, Heard heard) const
{
    const auto last = m_returned.find(session);
    if (last == m_returned.end() || last->second.heard == heard)
        return false;
    const Clock::duration same =
        last->second.heard == Heard::Wake ? Clock::duration(UnlockAfterWake) : Clock::duration(SameUnlock);
    return now - last->second.at < same;
}

void UnlocksAndWakes::remember(const std::string &session, Clock::time_point now, Heard heard)
{
    // What no later word can be merged with any more goes: this stays as
    // small as the sessions that came back in the last minutes.
    std::erase_if(m_returned, [now](const auto &entry) { return now - entry.second.at >= UnlockAfterWake; });
    m_returned[session] = {now, heard};
}
