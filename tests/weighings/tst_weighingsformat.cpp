#include "weighings/weighingsformat.h"

#include <QTest>

#include <cmath>
#include <limits>

// The texts of the weighings grid: date-time, "#.###" weights, storing dates, footer sums.
class WeighingsFormatTest : public QObject {
    Q_OBJECT

private slots:
    void dateTime_data();
    void dateTime();
    void weight_data();
    void weight();
    void storingDate();
    void sum_usesLocaleSeparator();
};

void WeighingsFormatTest::dateTime_data() {
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QDateTime>("value");
    QTest::addColumn<QString>("text");

    const QLocale russian(QLocale::Russian, QLocale::Russia);
    const QLocale c = QLocale::c();
    // The month stands inside a date: genitive in Russian, and the hour has no leading zero.
    QTest::newRow("ru october, morning")
        << russian << QDateTime(QDate(2010, 10, 5), QTime(9, 3, 7), Qt::UTC)
        << QStringLiteral("05 октября 2010,  9:03:07");
    QTest::newRow("ru may, evening")
        << russian << QDateTime(QDate(2024, 5, 21), QTime(23, 59, 0), Qt::UTC)
        << QStringLiteral("21 мая 2024,  23:59:00");
    QTest::newRow("C locale") << c << QDateTime(QDate(2010, 10, 5), QTime(0, 0, 1), Qt::UTC)
                              << QStringLiteral("05 October 2010,  0:00:01");
    QTest::newRow("zero date-time")
        << russian << zeroWeighingDateTime() << QStringLiteral("30 декабря 1899,  0:00:00");
    QTest::newRow("invalid") << russian << QDateTime() << QString();
}

void WeighingsFormatTest::dateTime() {
    QFETCH(QLocale, locale);
    QFETCH(QDateTime, value);
    QFETCH(QString, text);
    QCOMPARE(weighingDateTimeDisplay(value, locale), text);
}

void WeighingsFormatTest::weight_data() {
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");

    const QLocale russian(QLocale::Russian, QLocale::Russia);
    const QLocale c = QLocale::c();
    QTest::newRow("zero shows 0") << c << 0.0 << QStringLiteral("0");
    QTest::newRow("rounds to zero") << c << 1e-5 << QStringLiteral("0");
    QTest::newRow("negative rounds to zero, no sign") << c << -0.0004 << QStringLiteral("0");
    QTest::newRow("no digit before the separator") << c << 0.5 << QStringLiteral(".5");
    QTest::newRow("three decimals, rounded") << c << 1234.5678 << QStringLiteral("1234.568");
    QTest::newRow("trailing zeros dropped") << c << 12.5 << QStringLiteral("12.5");
    QTest::newRow("whole number has no separator") << c << 1000.0 << QStringLiteral("1000");
    QTest::newRow("no thousands separator")
        << russian << 1234567.25 << QStringLiteral("1234567,25");
    QTest::newRow("locale separator") << russian << 0.125 << QStringLiteral(",125");
    QTest::newRow("rounding carries") << c << 9.9996 << QStringLiteral("10");
    QTest::newRow("negative") << russian << -0.75 << QStringLiteral("-,75");
    QTest::newRow("single widened") << c << static_cast<double>(0.1f) << QStringLiteral(".1");
    QTest::newRow("no number") << c << std::numeric_limits<double>::quiet_NaN() << QString();
}

void WeighingsFormatTest::weight() {
    QFETCH(QLocale, locale);
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(weightDisplay(value, locale), text);
}

void WeighingsFormatTest::storingDate() {
    QCOMPARE(storingDateDisplay(QDate(2010, 10, 5)), QStringLiteral("05.10.2010"));
    QCOMPARE(storingDateDisplay(QDate()), QString());
}

void WeighingsFormatTest::sum_usesLocaleSeparator() {
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    QCOMPARE(weighingsSumDisplay(WeightSum{12345678, true, 0.0}, russian),
             QStringLiteral("1234,5678"));
    QCOMPARE(weighingsSumDisplay(WeightSum{0, true, 0.0}, russian), QStringLiteral("0"));
    QCOMPARE(weighingsSumDisplay(WeightSum{15000, true, 0.0}, QLocale::c()), QStringLiteral("1.5"));
}

QTEST_GUILESS_MAIN(WeighingsFormatTest)
#include "tst_weighingsformat.moc"
