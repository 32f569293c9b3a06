#include "base/datetimevalue.h"

#include <QTest>

#include <cmath>
#include <limits>

class TestDateTimeValue : public QObject {
    Q_OBJECT

private slots:
    void bothDirections_data();
    void bothDirections();
    void fromValueOnly_data();
    void fromValueOnly();
    void unusableValues_data();
    void unusableValues();
    void withTimeOfDay_data();
    void withTimeOfDay();
};

void TestDateTimeValue::bothDirections_data() {
    QTest::addColumn<QDateTime>("dateTime");
    QTest::addColumn<double>("value");

    const auto at = [](int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
        return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
    };
    QTest::newRow("zero") << at(1899, 12, 30) << 0.0;
    QTest::newRow("next day") << at(1899, 12, 31) << 1.0;
    QTest::newRow("noon of day zero") << at(1899, 12, 30, 12) << 0.5;
    // Before the zero date the whole days count back and the fraction is still the time of day.
    QTest::newRow("day before, 06:00") << at(1899, 12, 29, 6) << -1.25;
    QTest::newRow("two days before, 18:00") << at(1899, 12, 28, 18) << -2.75;
    // 3 February 2010 is day 40212 of the count (the same serial number spreadsheets give it).
    QTest::newRow("2010-02-03 14:05:09")
        << at(2010, 2, 3, 14, 5, 9) << 40212.0 + (14 * 3600 + 5 * 60 + 9) / 86400.0;
    QTest::newRow("last second of a day")
        << at(2010, 2, 3, 23, 59, 59) << 40212.0 + 86399 / 86400.0;
    QTest::newRow("first day of year 1") << at(1, 1, 1) << -693593.0;
    QTest::newRow("last day of 9999") << at(9999, 12, 31) << 2958465.0;
}

void TestDateTimeValue::bothDirections() {
    QFETCH(QDateTime, dateTime);
    QFETCH(double, value);
    QCOMPARE(toDateTimeValue(dateTime), value);
    QCOMPARE(fromDateTimeValue(value), dateTime);
    if (dateTime.time() == QTime(0, 0))
        QCOMPARE(dateValue(dateTime.date()), value);
}

void TestDateTimeValue::fromValueOnly_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QDateTime>("dateTime");

    // Between -1 and 0 the whole days are none: the fraction is the time of day 30 December.
    QTest::newRow("-0.25") << -0.25 << QDateTime(QDate(1899, 12, 30), QTime(6, 0));
    // A fraction a hair below a whole day rounds up into the next date, not to 24:00.
    QTest::newRow("rounds into next day")
        << 40212.9999999999 << QDateTime(QDate(2010, 2, 4), QTime(0, 0));
    QTest::newRow("milliseconds kept")
        << 40212.0 + 0.5 / 86400.0 << QDateTime(QDate(2010, 2, 3), QTime(0, 0, 0, 500));
}

void TestDateTimeValue::fromValueOnly() {
    QFETCH(double, value);
    QFETCH(QDateTime, dateTime);
    QCOMPARE(fromDateTimeValue(value), dateTime);
}

void TestDateTimeValue::unusableValues_data() {
    QTest::addColumn<double>("value");
    QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("infinity") << std::numeric_limits<double>::infinity();
    QTest::newRow("-infinity") << -std::numeric_limits<double>::infinity();
    QTest::newRow("1e300") << 1e300;
    QTest::newRow("-1e300") << -1e300;
    QTest::newRow("after 9999") << 2958467.0;
    QTest::newRow("before year 1") << -693595.0;
}

void TestDateTimeValue::unusableValues() {
    QFETCH(double, value);
    QVERIFY(!fromDateTimeValue(value).isValid());
}

void TestDateTimeValue::withTimeOfDay_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("timeOfDay");
    QTest::addColumn<double>("expected");

    QTest::newRow("positive") << 40212.75 << 0.25 << 40212.25;
    QTest::newRow("time from a full date-time") << 40212.0 << 39000.5 << 40212.5;
    QTest::newRow("negative keeps its days") << -1.25 << 0.5 << -1.5;
    QTest::newRow("negative without whole days") << -0.25 << 0.75 << -0.75;
    QTest::newRow("midnight") << 10.5 << 0.0 << 10.0;
}

void TestDateTimeValue::withTimeOfDay() {
    QFETCH(double, value);
    QFETCH(double, timeOfDay);
    QFETCH(double, expected);
    QCOMPARE(::withTimeOfDay(value, timeOfDay), expected);
}

QTEST_GUILESS_MAIN(TestDateTimeValue)
#include "tst_datetimevalue.moc"
