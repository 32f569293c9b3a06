#include "base/datetimevalue.h"

#include <cmath>

namespace {

constexpr qint64 MSecsPerDay = 24LL * 60 * 60 * 1000;

// Whole days from the zero date to 1 January 1 and to 31 December 9999: the range that QDate
// and the text formats handle, and far inside what a qint64 holds, so no conversion overflows.
constexpr double FirstDay = -693593.0;
constexpr double LastDay = 2958465.0;

} // namespace

QDate zeroDate() {
    return QDate(1899, 12, 30);
}

double dateValue(QDate date) {
    if (!date.isValid())
        return ZeroDateTime;
    return static_cast<double>(zeroDate().daysTo(date));
}

double toDateTimeValue(const QDateTime& dateTime) {
    if (!dateTime.isValid())
        return ZeroDateTime;
    const QDateTime local = dateTime.toLocalTime();
    const double days = dateValue(local.date());
    const double fraction =
        static_cast<double>(local.time().msecsSinceStartOfDay()) / static_cast<double>(MSecsPerDay);
    return days < 0 ? days - fraction : days + fraction;
}

QDateTime fromDateTimeValue(double value) {
    if (!std::isfinite(value) || value < FirstDay - 1.0 || value > LastDay + 1.0)
        return {};
    const double whole = std::trunc(value);
    const double fraction = std::fabs(value - whole);
    const auto msecs =
        static_cast<qint64>(std::llround(fraction * static_cast<double>(MSecsPerDay)));
    // A fraction that rounds up to a whole day carries into the next date. The time of day is
    // set as wall-clock time, so a daylight-saving change on that date does not shift it.
    const qint64 carry = msecs / MSecsPerDay;
    const QDate date = zeroDate().addDays(static_cast<qint64>(whole) + carry);
    if (!date.isValid())
        return {};
    return QDateTime(date, QTime::fromMSecsSinceStartOfDay(static_cast<int>(msecs % MSecsPerDay)));
}

double withTimeOfDay(double value, double timeOfDay) {
    const double whole = std::trunc(value);
    const double fraction = std::fabs(timeOfDay - std::trunc(timeOfDay));
    return value < 0 ? whole - fraction : whole + fraction;
}
