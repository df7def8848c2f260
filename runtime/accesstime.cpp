#include "accesstime.h"

#include <QDateTime>

namespace {
const qint64 ZeroDateJulianDay = QDate(1899, 12, 30).toJulianDay();
}

std::optional<AccessTime> AccessTime::fromFields(int year, int month, int day,
                                                 int hour, int minute, int second)
{
    if (year < 1 || year > 9999 || !QDate::isValid(year, month, day)
        || hour > 23 || minute > 59 || second > 59 || hour < 0 || minute < 0 || second < 0)
        return std::nullopt;
    const qint64 days = QDate(year, month, day).toJulianDay() - ZeroDateJulianDay;
    return AccessTime(days * SecondsPerDay + hour * 3600 + minute * 60 + second);
}

std::optional<AccessTime> AccessTime::fromDateTime(QDate date, QTime time)
{
    return fromFields(date.year(), date.month(), date.day(),
                      time.hour(), time.minute(), time.second());
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
