#pragma once

#include <QDate>
#include <QDateTime>

// Date-time values as the configuration file, the alarms and the weighings table keep them: a
// count of days since 30 December 1899 00:00:00, the time of day as the fraction. For a value
// below zero the whole days count toward the past and the fraction, taken without its sign, is
// still the time of day (-1.25 is 29 December 1899 06:00).

// The zero date-time, 30 December 1899 00:00:00.
inline constexpr double ZeroDateTime = 0.0;

// The date of the zero date-time.
QDate zeroDate();

// Value of a local date and time, to the millisecond; an invalid input gives ZeroDateTime.
double toDateTimeValue(const QDateTime& dateTime);

// Local date and time of a value, rounded to the millisecond. A value that is not finite or lies
// outside the years 1 to 9999 gives an invalid QDateTime.
QDateTime fromDateTimeValue(double value);

// Value of a date at 00:00:00; an invalid date gives ZeroDateTime.
double dateValue(QDate date);

// The value with its whole days kept and its time of day replaced by that of timeOfDay, as the
// buttons setup dialog's time picker changes an alarm.
double withTimeOfDay(double value, double timeOfDay);
