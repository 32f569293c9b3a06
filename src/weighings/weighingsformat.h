#pragma once

#include "weighings/weighingstable.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QString>

// The texts the weighings grid, its footers and the report show. The grid's columns are the
// table's fields in the table's order; only the first two are visible.
enum WeighingsColumn : int {
    ColumnDateTime = 0,
    ColumnWeight = 1,
    ColumnComponent = 2,
    ColumnID = 3,
    ColumnCompDateTime = 4,
};
inline constexpr int WeighingsColumnCount = 5;

// Title of a column; empty for a column that does not exist.
QString weighingsColumnTitle(int column);

// Static texts of the first footer row under the date-time and the weight columns.
QString weighingsCountTitle();
QString weighingsSumTitle();

// The weighing's date and time as "dd MMMM yyyy,  h:mm:ss": two-digit day, the locale's long month
// name, four-digit year, a comma and two spaces, the hour without a leading zero. The month name is
// the form a date takes in the locale (the genitive "октября" in Russian, not the standalone
// "октябрь"), since the name stands inside a date. An invalid date-time gives an empty text.
QString weighingDateTimeDisplay(const QDateTime& dateTime, const QLocale& locale);

// A weight as "#.###": rounded to at most three decimals, trailing zeros dropped, no digit before
// the separator when the integer part is zero (0.5 gives ".5"), no thousands separator, the
// locale's decimal separator. A weight that rounds to zero shows "0", so a stored weighing never
// looks like an empty cell; a weight that is no number (kept as NULL) shows nothing.
QString weightDisplay(double weight, const QLocale& locale);

// The storing date as "dd.MM.yyyy"; an invalid date gives an empty text.
QString storingDateDisplay(QDate date);

// The footer's sum in the locale's decimal separator (see weightSumText()).
QString weighingsSumDisplay(const WeightSum& sum, const QLocale& locale);
