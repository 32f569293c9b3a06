#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>

// One row of the weighings table, field for field in the table's column order.
//
// DateTime is the terminal's wall-clock time of the weighing. It is held with Qt::UTC as its
// time zone only so that no time-zone rule can move it (a local time inside a daylight-saving gap
// would be shifted by an hour); it is never converted. A record whose date or time names no real
// moment carries the zero date-time, 30 December 1899 00:00:00.
struct WeighingRow {
    QDateTime DateTime;
    double Weight = 0.0;
    qint32 Component = 0;
    qint32 ID = 0;
    QDate CompDateTime; // the computer's local date on which the row was stored
};

// The zero date-time, 30 December 1899 00:00:00 (Qt::UTC, see WeighingRow).
QDateTime zeroWeighingDateTime();

// Row of a terminal weighing record, stored on `today` as weighing number `id`.
//
// Weight is the terminal's single widened to double exactly. Component is the record's 0-based
// index + 1. The date-time is 2000 + year, month, day, hour, minute, second when these name a real
// moment, otherwise the zero date-time: the terminal's own range check (day above 31, month above
// 12, year above 99, hour above 24, minute or second above 60) lets through day 0, month 0, hour
// 24, minute 60, second 60 and days past the end of the month, none of which is a moment either.
WeighingRow weighingRowFromRecord(float weight, quint8 day, quint8 month, quint8 year, quint8 hour,
                                  quint8 minute, quint8 second, qint16 componentIndex, qint32 id,
                                  QDate today);

// The ISO text the table keeps for a date-time, "yyyy-MM-dd HH:mm:ss"; an invalid value gives the
// zero date-time's text.
QString weighingDateTimeText(const QDateTime& dateTime);

// The ISO text the table keeps for a storing date, "yyyy-MM-dd 00:00:00"; an invalid date gives the
// zero date-time's text.
QString weighingDateText(QDate date);

// A date-time read back from the table's ISO text (Qt::UTC, see WeighingRow); text that is not such
// a date-time gives an invalid QDateTime.
QDateTime weighingDateTimeFromText(const QString& text);
