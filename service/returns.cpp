#include "service/returns.h"

Returns::Returns(Counted counted)
    : m_counted(counted)
{
}

void Returns::locked(const std::string &session)
{
    m_locked.insert(session);
}

bool Returns::unlocked(const std::string &session)
{
    return m_locked.erase(session) > 0 && m_counted.unlocks;
}

bool Returns::isLocked(const std::string &session) const
{
    return m_locked.count(session) > 0;
}

void Returns::ended(const std::string &session)
{
    m_locked.erase(session);
}

void Returns::sleeping()
{
    m_wakeDue.reset();
}

void Returns::woke(Clock::time_point now)
{
    m_recordedSinceWake.clear();
    if (m_counted.wakes)
        m_wakeDue = now + WakeDelay;
}

void Returns::recorded(uid_t person)
{
    if (m_wakeDue)
        m_recordedSinceWake.insert(person);
}

std::optional<Returns::Clock::time_point> Returns::wakeDue() const
{
    return m_wakeDue;
}

bool Returns::takeWake(Clock::time_point now)
{
    if (!m_wakeDue || *m_wakeDue > now)
        return false;
    m_wakeDue.reset();
    return true;
}

bool Returns::wakeCounts(const std::string &session, uid_t person, std::optional<bool> lockedNow)
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
    return m_recordedSinceWake.count(person) == 0;
}
