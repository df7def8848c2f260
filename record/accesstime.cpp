#include "record/accesstime.h"

#include <ctime>

// Records after January 2038 need a 64-bit clock: the build asks glibc for
// one where it is not the default.
static_assert(sizeof(std::time_t) >= 8);

namespace {

// Days from 1970-01-01 to a civil date and back (H. Hinnant's algorithms,
// exact for every proleptic Gregorian date).
constexpr std::int64_t daysFromCivil(std::int64_t year, int month, int day)
{
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

constexpr AccessTime::Date civilFromDays(std::int64_t days)
{
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    const int day = int(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    const int month = int(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    return {int(yearOfEra + era * 400 + (month <= 2)), month, day};
}

constexpr std::int64_t ZeroDate = daysFromCivil(1899, 12, 30);

constexpr bool isLeapYear(int year)
{
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

constexpr int daysInMonth(int year, int month)
{
    constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

} // namespace

std::optional<std::int64_t> AccessTime::dayOf(int year, int month, int day)
{
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month))
        return std::nullopt;
    return daysFromCivil(year, month, day) - ZeroDate;
}

std::optional<AccessTime> AccessTime::fromFields(int year, int month, int day, int hour, int minute,
                                                 int second)
{
    const std::optional<std::int64_t> days = dayOf(year, month, day);
    if (!days)
        return std::nullopt;
    return fromDay(*days, hour, minute, second);
}

std::optional<AccessTime> AccessTime::now()
{
    const std::time_t present = std::time(nullptr);
    if (present == std::time_t(-1))
        return std::nullopt;
    return fromEpoch(present);
}

std::optional<AccessTime> AccessTime::fromEpoch(std::int64_t seconds)
{
    // glibc reads the zone once and keeps it: only tzset() looks at
    // /etc/localtime again, so a service running for months follows a
    // change of zone.
    ::tzset();
    const std::time_t moment = std::time_t(seconds);
    std::tm local{};
    if (!::localtime_r(&moment, &local))
        return std::nullopt;
    // A leap second reads as the last second of its minute.
    const int second = local.tm_sec > 59 ? 59 : local.tm_sec;
    return fromFields(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                      second);
}

AccessTime::Date AccessTime::date() const
{
    return civilFromDays(days() + ZeroDate);
}

int AccessTime::dayOfWeek() const
{
    // The zero date was a Saturday.
    const std::int64_t fromMonday = (days() % 7 + 7 + 5) % 7;
    return int(fromMonday) + 1;
}
