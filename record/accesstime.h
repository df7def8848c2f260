#pragma once

#include <cstdint>
#include <optional>

// A local date and time to the second, counted from the zero date
// (30 December 1899, midnight), on the proleptic Gregorian calendar.
// 64 bits cover every four-digit year.
class AccessTime
{
public:
    static constexpr std::int64_t SecondsPerDay = 86400;

    struct Date
    {
        int year = 0;
        int month = 0;
        int day = 0;
    };

    constexpr AccessTime() = default;

    // Years 0001 to 9999 only: a record has four digits for the year.
    static std::optional<AccessTime> fromFields(int year, int month, int day, int hour, int minute,
                                                int second);
    static std::optional<std::int64_t> dayOf(int year, int month, int day);
    // Days since the zero date; for a day already known to be valid.
    static constexpr std::optional<AccessTime> fromDay(std::int64_t days, int hour, int minute, int second)
    {
        if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
            return std::nullopt;
        return AccessTime(days * SecondsPerDay + hour * 3600 + minute * 60 + second);
    }
    // The system's local time now; nothing when the clock reads a time no
    // record can hold.
    static std::optional<AccessTime> now();
    // The local time of a moment in seconds since 1970, in the time zone in
    // force now.
    static std::optional<AccessTime> fromEpoch(std::int64_t seconds);

    constexpr std::int64_t days() const
    {
        return m_seconds >= 0 ? m_seconds / SecondsPerDay
                              : -((-m_seconds + SecondsPerDay - 1) / SecondsPerDay);
    }
    constexpr int secondOfDay() const { return int(m_seconds - days() * SecondsPerDay); }
    constexpr bool hasZeroDate() const { return days() == 0; }
    constexpr bool isMidnight() const { return secondOfDay() == 0; }

    Date date() const;
    // 1 for Monday to 7 for Sunday.
    int dayOfWeek() const;
    constexpr AccessTime plusSeconds(std::int64_t seconds) const { return AccessTime(m_seconds + seconds); }

    friend constexpr bool operator==(AccessTime, AccessTime) = default;
    friend constexpr auto operator<=>(AccessTime, AccessTime) = default;

private:
    constexpr explicit AccessTime(std::int64_t seconds) : m_seconds(seconds) { }

    std::int64_t m_seconds = 0;
};
