#include "weighings/weighingsformat.h"

#include <QStringList>

#include <cmath>

namespace {

QChar decimalSeparator(const QLocale& locale) {
    const QString point = locale.decimalPoint();
    return point.size() == 1 ? point.front() : QChar(u'.');
}

} // namespace

QString weighingsColumnTitle(int column) {
    static const QStringList titles{
        QStringLiteral("Дата и время отвеса"), QStringLiteral("Сумма отвеса"),
        QStringLiteral("Номер компонента"), QStringLiteral("Идент. номер отвеса"),
        QStringLiteral("Дата сохранения в БД")};
    return column >= 0 && column < titles.size() ? titles.at(column) : QString();
}

QString weighingsCountTitle() {
    return QStringLiteral("Количество отвесов");
}

QString weighingsSumTitle() {
    return QStringLiteral("Сумма отвесов");
}

QString weighingDateTimeDisplay(const QDateTime& dateTime, const QLocale& locale) {
    if (!dateTime.isValid())
        return {};
    // QLocale's "MMMM" is the month name in its date form (genitive where the language has one).
    return locale.toString(dateTime, QStringLiteral("dd MMMM yyyy,  h:mm:ss"));
}

QString weightDisplay(double weight, const QLocale& locale) {
    if (std::isnan(weight))
        return {};
    if (std::isinf(weight))
        return locale.toString(weight);
    // 'f' with three decimals rounds the binary value correctly; the rest is the "#.###" layout.
    QString text = QString::number(weight, 'f', 3);
    bool negative = text.startsWith(u'-');
    if (negative)
        text.remove(0, 1);
    while (text.endsWith(u'0'))
        text.chop(1);
    if (text.endsWith(u'.'))
        text.chop(1);
    if (text.startsWith(QStringLiteral("0.")))
        text.remove(0, 1);
    if (text.isEmpty() || text == QStringLiteral("0"))
        return QStringLiteral("0"); // also what -0.0001 rounds to: no "-0"
    text.replace(u'.', locale.decimalPoint());
    return negative ? locale.negativeSign() + text : text;
}

QString storingDateDisplay(QDate date) {
    return date.isValid() ? date.toString(QStringLiteral("dd.MM.yyyy")) : QString();
}

QString weighingsSumDisplay(const WeightSum& sum, const QLocale& locale) {
    return weightSumText(sum, decimalSeparator(locale));
}
