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
    // Read by hand: the grid reads a screen of these at every scroll, and the format parsers of
    // QDate and QTime take ten times as long. Date and time are taken apart, because as one local
    // value a time inside a daylight-saving gap would be rejected.
    static constexpr char Pattern[] = "dddd-dd-dd dd:dd:dd";
    if (text.size() != 19)
        return {};
    int fields[6] = {};
    int field = 0;
    for (int i = 0; i < 19; ++i) {
        const char16_t c = text.at(i).unicode();
        if (Pattern[i] != 'd') {
            if (c != static_cast<char16_t>(Pattern[i]))
                return {};
            ++field;
        } else if (c >= u'0' && c <= u'9') {
            fields[field] = fields[field] * 10 + (c - u'0');
        } else {
            return {};
        }
    }
    const QDate date(fields[0], fields[1], fields[2]);
    const QTime time(fields[3], fields[4], fields[5]);
    if (!date.isValid() || !time.isValid())
        return {};
    return QDateTime(date, time, Qt::UTC);
}
