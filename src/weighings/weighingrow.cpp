#include "weighings/weighingrow.h"

QDateTime zeroWeighingDateTime() {
    return QDateTime(QDate(1899, 12, 30), QTime(0, 0, 0), Qt::UTC);
}

WeighingRow weighingRowFromRecord(float weight, quint8 day, quint8 month, quint8 year, quint8 hour,
                                  quint8 minute, quint8 second, qint16 componentIndex, qint32 id,
                                  QDate today) {
    WeighingRow row;
    row.Weight = static_cast<double>(weight);
    row.Component = static_cast<qint32>(componentIndex) + 1;
    row.ID = id;
    row.CompDateTime = today;

    // QDate and QTime reject day or month 0, days past the month's end, hour 24, minute 60 and
    // second 60, so their validity covers the terminal's bounds and the moments they miss.
    const QDate date(2000 + year, month, day);
    const QTime time(hour, minute, second);
    const bool inTerminalRange =
        day <= 31 && month <= 12 && year <= 99 && hour <= 24 && minute <= 60 && second <= 60;
    row.DateTime = inTerminalRange && date.isValid() && time.isValid()
                       ? QDateTime(date, time, Qt::UTC)
                       : zeroWeighingDateTime();
    return row;
}

QString weighingDateTimeText(const QDateTime& dateTime) {
    return (dateTime.isValid() ? dateTime : zeroWeighingDateTime())
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString weighingDateText(QDate date) {
    return weighingDateTimeText(date.isValid() ? QDateTime(date, QTime(0, 0, 0), Qt::UTC)
                                               : zeroWeighingDateTime());
}

QDateTime weighingDateTimeFromText(const QString& text) {
    // Date and time are read apart: parsed as one local value, a time inside a daylight-saving gap
    // would be rejected.
    if (text.size() != 19 || text.at(10) != u' ')
        return {};
    const QDate date = QDate::fromString(text.left(10), QStringLiteral("yyyy-MM-dd"));
    const QTime time = QTime::fromString(text.mid(11), QStringLiteral("HH:mm:ss"));
    if (!date.isValid() || !time.isValid())
        return {};
    return QDateTime(date, time, Qt::UTC);
}
