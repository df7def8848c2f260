#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <optional>

#include <sys/types.h>

// What the users' door lets in, counted per person, never per uid: a person
// may run processes under thousands of subordinate uids, and none of them
// may take more than that person's share. And how often a refusal is told:
// once a minute per person, so that refusals cannot flood the journal
// either. What it keeps of a person goes once they hold nothing and have
// had no access or refusal for a minute.
class Admission
{
public:
    using Clock = std::chrono::steady_clock;

    // Why a connection may not open.
    enum class Refusal { Full, Connections };

    // Far above the people of one machine at once, each holding at most
    // MaxConnectionsPerPerson; below the service's 1024 descriptors, with
    // room for root's door.
    static constexpr std::size_t MaxConnections = 512;
    static constexpr std::chrono::minutes Window{1};

    explicit Admission(std::function<Clock::time_point()> now = Clock::now);

    // A connection of 'person' may open: nothing, or why not.
    std::optional<Refusal> open(uid_t person);
    void closed(uid_t person);
    // One more access of 'person' this minute; false over the cap.
    bool mayRecord(uid_t person);
    // Counts a refusal; the number of refusals to report now, if one is due.
    std::optional<int> refused(uid_t person);
    // How many people it keeps anything of.
    std::size_t known() const { return m_people.size() + m_reports.size(); }

private:
    void forgetIdle(Clock::time_point now);

    struct Person
    {
        int open = 0;
        std::deque<Clock::time_point> accesses; // within the last minute
    };
    struct Reports
    {
        std::optional<Clock::time_point> last;
        int unreported = 0;
    };

    std::function<Clock::time_point()> m_now;
    std::size_t m_open = 0;
    std::map<uid_t, Person> m_people;
    std::map<uid_t, Reports> m_reports;
    Clock::time_point m_lastForgot{};
};
