#include "service/admission.h"
#include "log/protocol.h"

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
}

bool Admission::mayRecord(uid_t person)
{
    std::deque<Clock::time_point> &accesses = m_people[person].accesses;
    const auto now = m_now();
    while (!accesses.empty() && now - accesses.front() >= Window)
        accesses.pop_front();
    if (accesses.size() >= std::size_t(Protocol::MaxAccessesPerMinute))
        return false;
    accesses.push_back(now);
    return true;
}

std::optional<int> Admission::refused(uid_t person, Refusal kind)
{
    Reports &reports = m_reports[{person, kind}];
    ++reports.unreported;
    const auto now = m_now();
    if (reports.last && now - *reports.last < Window)
        return std::nullopt;
    reports.last = now;
    return std::exchange(reports.unreported, 0);
}
