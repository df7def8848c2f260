#include "service/admission.h"
#include "record/protocol.h"

#include <utility>

Admission::Admission(std::function<Clock::time_point()> now) : m_now(std::move(now)) { }

std::optional<Admission::Refusal> Admission::open(uid_t person)
{
    if (m_open >= MaxConnections)
        return Refusal::Full;
    Person &counted = m_people[person];
    if (counted.open >= Protocol::MaxConnectionsPerPerson)
        return Refusal::Connections;
    ++counted.open;
    ++m_open;
    return std::nullopt;
}

void Admission::closed(uid_t person)
{
    --m_people[person].open;
    --m_open;
    forgetIdle(m_now());
}

bool Admission::mayRecord(uid_t person)
{
    const auto now = m_now();
    forgetIdle(now);
    std::deque<Clock::time_point> &accesses = m_people[person].accesses;
    while (!accesses.empty() && now - accesses.front() >= Window)
        accesses.pop_front();
    if (accesses.size() >= std::size_t(Protocol::MaxAccessesPerMinute))
        return false;
    accesses.push_back(now);
    return true;
}

std::optional<int> Admission::refused(uid_t person)
{
    const auto now = m_now();
    forgetIdle(now);
    Reports &reports = m_reports[person];
    ++reports.unreported;
    if (reports.last && now - *reports.last < Window)
        return std::nullopt;
    reports.last = now;
    return std::exchange(reports.unreported, 0);
}

// A sweep a minute at most, so that the cost stays flat however many come.
void Admission::forgetIdle(Clock::time_point now)
{
    if (now - m_lastForgot < Window)
        return;
    m_lastForgot = now;
    std::erase_if(m_people, [now](const auto &entry) {
        const Person &person = entry.second;
        return person.open == 0 && (person.accesses.empty() || now - person.accesses.back() >= Window);
    });
    std::erase_if(m_reports, [now](const auto &entry) {
        const Reports &reports = entry.second;
        return reports.unreported == 0 && (!reports.last || now - *reports.last >= Window);
    });
}
