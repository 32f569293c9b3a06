#include "weighings/weighingrow.h"

#include <QTest>

#include <ctime>
#include <limits>

class TestWeighingRow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void dateTimeOfRecord_data();
    void dateTimeOfRecord();
    void fieldsOfRecord();
    void isoTextRoundTrip();
};

void TestWeighingRow::initTestCase() {
    // A zone with daylight saving, so that a local-time conversion would show in the results.
    qputenv("TZ", "Europe/Berlin");
    tzset();
}

void TestWeighingRow::dateTimeOfRecord_data() {
    QTest::addColumn<int>("day");
    QTest::addColumn<int>("month");
    QTest::addColumn<int>("year");
    QTest::addColumn<int>("hour");
    QTest::addColumn<int>("minute");
    QTest::addColumn<int>("second");
    QTest::addColumn<QString>("stored"); // the ISO text the table gets

    const QString zero = QStringLiteral("1899-12-30 00:00:00");
    QTest::newRow("ordinary") << 5 << 10 << 10 << 14 << 3 << 9 << "2010-10-05 14:03:09";
    QTest::newRow("upper bounds that name a moment")
        << 31 << 12 << 99 << 23 << 59 << 59 << "2099-12-31 23:59:59";
    QTest::newRow("year 0, midnight") << 1 << 1 << 0 << 0 << 0 << 0 << "2000-01-01 00:00:00";
    QTest::newRow("29 February of a leap year")
        << 29 << 2 << 24 << 12 << 0 << 0 << "2024-02-29 12:00:00";
    QTest::newRow("inside the daylight-saving gap of the computer's zone")
        << 31 << 3 << 24 << 2 << 30 << 0 << "2024-03-31 02:30:00";
    // Past the terminal's own bounds.
    QTest::newRow("day 32") << 32 << 1 << 24 << 0 << 0 << 0 << zero;
    QTest::newRow("month 13") << 1 << 13 << 24 << 0 << 0 << 0 << zero;
    QTest::newRow("year 100") << 1 << 1 << 100 << 0 << 0 << 0 << zero;
    QTest::newRow("hour 25") << 1 << 1 << 24 << 25 << 0 << 0 << zero;
    QTest::newRow("minute 61") << 1 << 1 << 24 << 0 << 61 << 0 << zero;
    QTest::newRow("second 61") << 1 << 1 << 24 << 0 << 0 << 61 << zero;
    QTest::newRow("all bytes 255") << 255 << 255 << 255 << 255 << 255 << 255 << zero;
    // Within the terminal's bounds, but no real moment.
    QTest::newRow("day 0") << 0 << 1 << 24 << 0 << 0 << 0 << zero;
    QTest::newRow("month 0") << 1 << 0 << 24 << 0 << 0 << 0 << zero;
    QTest::newRow("hour 24") << 1 << 1 << 24 << 24 << 0 << 0 << zero;
    QTest::newRow("minute 60") << 1 << 1 << 24 << 0 << 60 << 0 << zero;
    QTest::newRow("second 60") << 1 << 1 << 24 << 0 << 0 << 60 << zero;
    QTest::newRow("31 April") << 31 << 4 << 24 << 0 << 0 << 0 << zero;
    QTest::newRow("30 February") << 30 << 2 << 24 << 0 << 0 << 0 << zero;
    QTest::newRow("29 February of a common year") << 29 << 2 << 23 << 0 << 0 << 0 << zero;
}

void TestWeighingRow::dateTimeOfRecord() {
    QFETCH(int, day);
    QFETCH(int, month);
    QFETCH(int, year);
    QFETCH(int, hour);
    QFETCH(int, minute);
    QFETCH(int, second);
    QFETCH(QString, stored);

    const WeighingRow row = weighingRowFromRecord(1.0f, day, month, year, hour, minute, second, 0,
                                                  1, QDate(2024, 5, 1));
    QVERIFY(row.DateTime.isValid());
    QCOMPARE(weighingDateTimeText(row.DateTime), stored);
    QCOMPARE(row.DateTime == zeroWeighingDateTime(), stored.startsWith(u"1899"));
}

void TestWeighingRow::fieldsOfRecord() {
    // A single whose decimal text would round differently as a double: the widening is exact.
    const float weight = 0.1f;
    const QDate today(2024, 5, 1);
    const WeighingRow first = weighingRowFromRecord(weight, 1, 1, 24, 0, 0, 0, 0, 961, today);
    QCOMPARE(first.Weight, static_cast<double>(weight));
    QVERIFY(first.Weight != 0.1);
    QCOMPARE(first.Component, 1);
    QCOMPARE(first.ID, 961);
    QCOMPARE(first.CompDateTime, today);

    QCOMPARE(weighingRowFromRecord(weight, 1, 1, 24, 0, 0, 0, 15, 1, today).Component, 16);
    // Out-of-range indexes are stored as they come, without overflow.
    QCOMPARE(weighingRowFromRecord(weight, 1, 1, 24, 0, 0, 0, -1, 1, today).Component, 0);
    QCOMPARE(weighingRowFromRecord(weight, 1, 1, 24, 0, 0, 0, 32767, 1, today).Component, 32768);

    const float infinity = std::numeric_limits<float>::infinity();
    QCOMPARE(weighingRowFromRecord(infinity, 1, 1, 24, 0, 0, 0, 0, 1, today).Weight,
             std::numeric_limits<double>::infinity());
}

void TestWeighingRow::isoTextRoundTrip() {
    QCOMPARE(weighingDateText(QDate(2010, 10, 5)), QStringLiteral("2010-10-05 00:00:00"));
    QCOMPARE(weighingDateText(QDate()), QStringLiteral("1899-12-30 00:00:00"));
    QCOMPARE(weighingDateTimeText(QDateTime()), QStringLiteral("1899-12-30 00:00:00"));

    const QDateTime moment(QDate(2024, 3, 31), QTime(2, 30, 0), Qt::UTC);
    QCOMPARE(weighingDateTimeFromText(weighingDateTimeText(moment)), moment);
    QCOMPARE(weighingDateTimeFromText(QStringLiteral("1899-12-30 00:00:00")),
             zeroWeighingDateTime());
    QVERIFY(!weighingDateTimeFromText(QStringLiteral("30.12.1899")).isValid());
    QVERIFY(!weighingDateTimeFromText(QStringLiteral("2024-02-30 00:00:00")).isValid());
    QVERIFY(!weighingDateTimeFromText(QString()).isValid());
    for (const char* malformed :
         {"2024-05-01T12:00:00", "2024-05-01 12:00:0x", "2024-05-01 12:00:00 ",
          "+024-05-01 12:00:00", "2024-05-01 24:00:00", "2024/05/01 12:00:00"})
        QVERIFY2(!weighingDateTimeFromText(QString::fromLatin1(malformed)).isValid(), malformed);
}

QTEST_GUILESS_MAIN(TestWeighingRow)
#include "tst_weighingrow.moc"
