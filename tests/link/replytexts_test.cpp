// Texts of the poll cycle: number and weight formats, month names, the last-weighing label, the
// component rows and the confirmation of a completed command.
#include "link/replytexts.h"

#include <QTest>

#include <limits>

class ReplyTextsTest : public QObject {
    Q_OBJECT

private slots:
    void twoDigits();
    void weightText_data();
    void weightText();
    void monthNames();
    void lastWeighingText();
    void componentRow_data();
    void componentRow();
    void commandCompleted_data();
    void commandCompleted();
};

void ReplyTextsTest::twoDigits() {
    QCOMPARE(TwoDigits(0), QStringLiteral("00"));
    QCOMPARE(TwoDigits(9), QStringLiteral("09"));
    QCOMPARE(TwoDigits(10), QStringLiteral("10"));
    QCOMPARE(TwoDigits(100), QStringLiteral("100"));
}

void ReplyTextsTest::weightText_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QString>("expected");

    const QString dot = QStringLiteral(".");
    const QString comma = QStringLiteral(",");
    const auto add = [](const char* name, double v, const QString& sep, const char* text) {
        QTest::newRow(name) << v << sep << QString::fromUtf8(text);
    };
    add("zero", 0.0, dot, "0");
    add("negative zero", -0.0, dot, "0");
    add("integer", 100.0, dot, "100");
    add("fraction", 12.5, dot, "12.5");
    add("locale separator", 12.5, comma, "12,5");
    add("single 0.1 shows as typed", double(0.1f), dot, "0.1");
    add("single 123.45", double(123.45f), dot, "123.45");
    add("negative", -7.25, dot, "-7.25");
    add("rounded to 7 digits", 123456.75, dot, "123456.8");
    add("7 integer digits stay fixed", 1234567.0, dot, "1234567");
    add("9999999.4 stays fixed", 9999999.4, dot, "9999999");
    add("rounding up to 8 digits goes scientific", 9999999.5, dot, "1E+0007");
    add("8 integer digits", 12345678.0, dot, "1.234568E+0007");
    add("scientific with separator", 1.5e10, comma, "1,5E+0010");
    add("smallest fixed", 0.00001, dot, "0.00001");
    add("small fixed keeps 7 digits", 0.000012345678, dot, "0.00001234568");
    add("below 0.00001", 0.0000099, dot, "9.9E-0006");
    add("negative tiny", -1.5e-10, dot, "-1.5E-0010");
    add("largest single", double(std::numeric_limits<float>::max()), dot, "3.402823E+0038");
    add("smallest single", double(std::numeric_limits<float>::denorm_min()), dot, "1.401298E-0045");
    add("three exponent digits", 1e300, dot, "1E+0300");
    add("not a number", std::numeric_limits<double>::quiet_NaN(), dot, "NAN");
    add("infinity", std::numeric_limits<double>::infinity(), dot, "INF");
    add("minus infinity", -std::numeric_limits<double>::infinity(), dot, "-INF");
}

void ReplyTextsTest::weightText() {
    QFETCH(double, value);
    QFETCH(QString, separator);
    QFETCH(QString, expected);
    QCOMPARE(WeightText(value, separator), expected);
}

void ReplyTextsTest::monthNames() {
    QCOMPARE(MonthName(1), QStringLiteral("Январь"));
    QCOMPARE(MonthName(9), QStringLiteral("Сентябрь"));
    QCOMPARE(MonthName(12), QStringLiteral("Декабрь"));
    for (const int outside : {0, 13, 255, -1})
        QCOMPARE(MonthName(outside), QStringLiteral("??"));
}

void ReplyTextsTest::lastWeighingText() {
    WeighingRecord r;
    r.Weight = 1234.5f;
    r.Hour = 7;
    r.Minute = 5;
    r.Second = 59;
    QCOMPARE(LastWeighingText(r), QStringLiteral("#1\t1234.5\t07:05:59"));
    r.Component = 15;
    r.Weight = 0.0f;
    QCOMPARE(LastWeighingText(r), QStringLiteral("#16\t0\t07:05:59"));
    r.Component = std::numeric_limits<qint16>::max();
    QCOMPARE(LastWeighingText(r), QStringLiteral("#32768\t0\t07:05:59"));
}

void ReplyTextsTest::componentRow_data() {
    QTest::addColumn<float>("sum");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("day");
    QTest::addColumn<int>("month");
    QTest::addColumn<int>("year");
    QTest::addColumn<QString>("sumText");
    QTest::addColumn<QString>("countText");
    QTest::addColumn<QString>("date");

    QTest::newRow("reset 05.09.2010")
        << 1500.25f << 12 << 5 << 9 << 10 << QStringLiteral("1500.25") << QStringLiteral("12")
        << QStringLiteral("05 Сентябрь 2010, 14:03:09");
    QTest::newRow("count 0x8000 is negative")
        << 0.0f << -32768 << 31 << 12 << 99 << QStringLiteral("0") << QStringLiteral("-32768")
        << QStringLiteral("31 Декабрь 2099, 14:03:09");
    QTest::newRow("month 13 and year 100")
        << 1.0f << 1 << 1 << 13 << 100 << QStringLiteral("1") << QStringLiteral("1")
        << QStringLiteral("01 ?? 20100, 14:03:09");
}

void ReplyTextsTest::componentRow() {
    QFETCH(float, sum);
    QFETCH(int, count);
    QFETCH(int, day);
    QFETCH(int, month);
    QFETCH(int, year);

    ComponentTotalRecord r;
    r.Sum = sum;
    r.Count = qint16(count);
    r.Day = quint8(day);
    r.Month = quint8(month);
    r.Year = quint8(year);
    r.Hour = 14;
    r.Minute = 3;
    r.Second = 9;
    const ComponentRowTexts texts = componentRowTexts(r);
    QTEST(texts.sum, "sumText");
    QTEST(texts.count, "countText");
    QTEST(texts.date, "date");
}

void ReplyTextsTest::commandCompleted_data() {
    QTest::addColumn<int>("commandCode");
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("daily");
    QTest::addColumn<bool>("oneTime");
    QTest::addColumn<QString>("expected");

    const QString done = QStringLiteral("Команда \"Старт Входа 1\" успешно выполнена.");
    QTest::newRow("by hand") << 0 << 0 << false << false << done;
    QTest::newRow("by hand, latches ignored") << 0 << 0 << true << true << done;
    QTest::newRow("daily alarm of button 3")
        << 0 << 3 << true << false
        << QStringLiteral("Активация кнопки №3 по таймеру в [08:30]\n") + done;
    QTest::newRow("daily wins over one-time")
        << 0 << 8 << true << true
        << QStringLiteral("Активация кнопки №8 по таймеру в [08:30]\n") + done;
    QTest::newRow("one-time alarm, Russian month")
        << 0 << 2 << false << true
        << QStringLiteral("Активация кнопки №2 по таймеру [14 сентября 2010 15:00]\n") + done;
    QTest::newRow("no latch: the sentence still on its own line")
        << 0 << 5 << false << false << QStringLiteral("Активация кнопки №5\n") + done;
    QTest::newRow("last entry") << 23 << 0 << false << false
                                << QStringLiteral("Команда \"Старт Входа 24\" успешно выполнена.");
    QTest::newRow("code without an entry")
        << 300 << 0 << false << false << QStringLiteral("Команда \"300\" успешно выполнена.");
}

void ReplyTextsTest::commandCompleted() {
    QFETCH(int, commandCode);
    QFETCH(int, button);
    QFETCH(bool, daily);
    QFETCH(bool, oneTime);

    ButtonAlarm alarm;
    alarm.flags = {true, daily, oneTime};
    alarm.AlarmHours = 8;
    alarm.AlarmMinutes = 30;
    alarm.DateTime = QDateTime(QDate(2010, 9, 14), QTime(15, 0, 42));
    QTEST(commandCompletedText(commandCode, button, alarm, QLocale(QLocale::Russian)), "expected");
}

QTEST_GUILESS_MAIN(ReplyTextsTest)
#include "replytexts_test.moc"
