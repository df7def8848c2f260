#include "accesstime.h"

#include <QDateTime>

namespace {
const qint64 ZeroDateJulianDay = QDate(1899, 12, 30).toJulianDay();
}

std::optional<AccessTime> AccessTime::fromFields(int year, int month, int day,
                                                 int hour, int minute, int second)
{
    return fromDate(QDate(year, month, day), hour, minute, second);
}

std::optional<AccessTime> AccessTime::fromDate(QDate date, int hour, int minute, int second)
{
    if (!date.isValid() || date.year() < 1 || date.year() > 9999)
        return std::nullopt;
    return fromDay(dayOf(date), hour, minute, second);
}

std::optional<AccessTime> AccessTime::fromDateTime(QDate date, QTime time)
{
    return fromDate(date, time.hour(), time.minute(), time.second());
}

qint64 AccessTime::dayOf(QDate date)
{
    return date.toJulianDay() - ZeroDateJulianDay;
}

AccessTime AccessTime::now()
{
    const QDateTime present = QDateTime::currentDateTime();
    return *fromDateTime(present.date(), present.time());
}

QDate AccessTime::date() const
{
    return QDate::fromJulianDay(days() + ZeroDateJulianDay);
}

QTime AccessTime::time() const
{
    return QTime::fromMSecsSinceStartOfDay(secondOfDay() * 1000);
}
