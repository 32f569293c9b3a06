#include "link/replytexts.h"

#include "commands/commandword.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int SignificantDigits = 7;
constexpr int ExponentDigits = 4;
// Fixed notation for decimal exponents -5 (0.00001) to 6 (7 digits before the separator).
constexpr int LowestFixedExponent = -5;
constexpr int HighestFixedExponent = SignificantDigits - 1;

constexpr std::array<QStringView, 12> MonthNames = {u"Январь",   u"Февраль", u"Март",   u"Апрель",
                                                    u"Май",      u"Июнь",    u"Июль",   u"Август",
                                                    u"Сентябрь", u"Октябрь", u"Ноябрь", u"Декабрь"};

QString timeText(quint8 hour, quint8 minute, quint8 second) {
    return TwoDigits(hour) + u':' + TwoDigits(minute) + u':' + TwoDigits(second);
}

} // namespace

QString TwoDigits(quint32 n) {
    const QString digits = QString::number(n);
    return n < 10 ? u'0' + digits : digits;
}

QString WeightText(double value, QStringView decimalSeparator) {
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    if (value == 0.0)
        return QStringLiteral("0");

    // "%.6e" rounds to 7 significant digits and gives the decimal exponent after rounding
    // (9999999.5 becomes 1.000000e+07), which decides the notation.
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*e", SignificantDigits - 1, value);
    const QByteArray text(buffer);
    const bool negative = text.startsWith('-');
    const qsizetype first = negative ? 1 : 0;
    const qsizetype e = text.indexOf('e');
    QByteArray digits = text.mid(first, 1) + text.mid(first + 2, e - first - 2);
    const int exponent = std::atoi(text.constData() + e + 1);
    while (digits.size() > 1 && digits.endsWith('0'))
        digits.chop(1);

    const QString separator = decimalSeparator.toString();
    QString result = negative ? QStringLiteral("-") : QString();
    const QString d = QString::fromLatin1(digits);
    if (exponent >= LowestFixedExponent && exponent <= HighestFixedExponent) {
        if (exponent >= 0) {
            const int integerDigits = exponent + 1;
            if (d.size() <= integerDigits) {
                result += d + QString(integerDigits - d.size(), u'0');
            } else {
                result += d.left(integerDigits) + separator + d.mid(integerDigits);
            }
        } else {
            result += u'0' + separator + QString(-exponent - 1, u'0') + d;
        }
        return result;
    }
    result += d.left(1);
    if (d.size() > 1)
        result += separator + d.mid(1);
    result += u'E';
    result += exponent < 0 ? u'-' : u'+';
    result += QStringLiteral("%1").arg(std::abs(exponent), ExponentDigits, 10, QLatin1Char('0'));
    return result;
}

QString WeightText(double value) {
    return WeightText(value, QLocale::system().decimalPoint());
}

QString MonthName(int month) {
    if (month < 1 || month > int(MonthNames.size()))
        return QStringLiteral("??");
    return MonthNames[size_t(month - 1)].toString();
}

QString LastWeighingText(const WeighingRecord& record) {
    return u'#' + QString::number(int(record.Component) + 1) + u'\t' + WeightText(record.Weight) +
           u'\t' + timeText(record.Hour, record.Minute, record.Second);
}

ComponentRowTexts componentRowTexts(const ComponentTotalRecord& record) {
    ComponentRowTexts texts;
    texts.sum = WeightText(record.Sum);
    texts.count = QString::number(record.Count);
    texts.date = QStringLiteral("%1 %2 20%3, %4")
                     .arg(TwoDigits(record.Day), MonthName(record.Month), TwoDigits(record.Year),
                          timeText(record.Hour, record.Minute, record.Second));
    return texts;
}

QString batchProgressText(quint32 done, quint32 total) {
    return QStringLiteral("Считывание новых отвесов %1/%2").arg(done).arg(total);
}

QString portStatusText(qint32 ComportIndex, qint32 baudRate) {
    return QStringLiteral("Com port: %1 @%2").arg(qint64(ComportIndex) + 1).arg(baudRate);
}

QString commandCompletedText(qint32 CommandCode, int AlarmButton,
                             const std::optional<ButtonAlarm>& alarm, const QLocale& locale) {
    QString text;
    if (AlarmButton != 0) {
        text = QStringLiteral("Активация кнопки №%1").arg(AlarmButton);
        if (alarm && alarm->flags.DailyAlarmLatch) {
            text += QStringLiteral(" по таймеру в [%1:%2]\n")
                        .arg(TwoDigits(alarm->AlarmHours), TwoDigits(alarm->AlarmMinutes));
        } else if (alarm && alarm->flags.OneTimeAlarmLatch) {
            text +=
                QStringLiteral(" по таймеру [%1]\n")
                    .arg(locale.toString(alarm->DateTime, QStringLiteral("dd MMMM yyyy hh:mm")));
        } else {
            // Neither latch tells which alarm fired; still keep the sentence on its own line.
            text += u'\n';
        }
    }
    QString entry = commandListEntry(CommandCode);
    if (entry.isEmpty())
        entry = QString::number(CommandCode);
    text += QStringLiteral("Команда \"%1\" успешно выполнена.").arg(entry);
    return text;
}
