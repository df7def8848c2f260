#pragma once

#include <QDate>
#include <QTime>

#include <optional>

// A local date and time to the second, counted from the zero date
// (30 December 1899, midnight). 64 bits cover every four-digit year.
class AccessTime
{
public:
    static constexpr qint64 SecondsPerDay = 86400;

    constexpr AccessTime() = default;

    static std::optional<AccessTime> fromFields(int year, int month, int day,
                                                int hour, int minute, int second);
    static std::optional<AccessTime> fromDate(QDate date, int hour, int minute, int second);
    // Days since the zero date; for a day already known to be valid.
    static constexpr std::optional<AccessTime> fromDay(qint64 days, int hour, int minute, int second)
    {
        if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
            return std::nullopt;
        return AccessTime(days * SecondsPerDay + hour * 3600 + minute * 60 + second);
    }
    static qint64 dayOf(QDate date);
    static std::optional<AccessTime> fromDateTime(QDate date, QTime time);
    static AccessTime now();

    constexpr qint64 days() const
    {
        return m_seconds >= 0 ? m_seconds / SecondsPerDay
                              : -((-m_seconds + SecondsPerDay - 1) / SecondsPerDay);
    }
    constexpr int secondOfDay() const { return int(m_seconds - days() * SecondsPerDay); }
    constexpr bool hasZeroDate() const { return days() == 0; }
    constexpr bool isMidnight() const { return secondOfDay() == 0; }

    QDate date() const;
    QTime time() const;

    friend constexpr bool operator==(AccessTime, AccessTime) = default;

private:
    constexpr explicit AccessTime(qint64 seconds) : m_seconds(seconds) { }

    qint64 m_seconds = 0;
};
