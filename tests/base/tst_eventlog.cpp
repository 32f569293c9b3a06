#include "base/eventlog.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

const QDateTime When(QDate(2010, 2, 3), QTime(14, 5, 9));

} // namespace

class TestEventLog : public QObject {
    Q_OBJECT

private slots:
    void entry_data();
    void entry();
    void appendsInCallOrder();
    void currentDirectoryAndClock();
    void unopenableLogIsSilent();
};

void TestEventLog::entry_data() {
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("plain") << When << QStringLiteral("* Program start.")
                           << QByteArray("[03.02.2010 14:05:09]: * Program start.\r\n");
    QTest::newRow("empty message")
        << When << QString() << QByteArray("[03.02.2010 14:05:09]: \r\n");
    QTest::newRow("line feed inside continues without a stamp")
        << When << QStringLiteral("Пуск Входа 1\nвыполнен")
        << QByteArray("[03.02.2010 14:05:09]: Пуск Входа 1\r\nвыполнен\r\n");
    QTest::newRow("CR LF inside stays one line break")
        << When << QStringLiteral("a\r\nb") << QByteArray("[03.02.2010 14:05:09]: a\r\nb\r\n");
    QTest::newRow("trailing line feed")
        << When << QStringLiteral("a\n") << QByteArray("[03.02.2010 14:05:09]: a\r\n\r\n");
    QTest::newRow("midnight, single digits padded")
        << QDateTime(QDate(2009, 1, 2), QTime(0, 0, 0)) << QStringLiteral("x")
        << QByteArray("[02.01.2009 00:00:00]: x\r\n");
    QTest::newRow("24-hour clock")
        << QDateTime(QDate(2010, 12, 31), QTime(23, 59, 59)) << QStringLiteral("x")
        << QByteArray("[31.12.2010 23:59:59]: x\r\n");
}

void TestEventLog::entry() {
    QFETCH(QDateTime, when);
    QFETCH(QString, message);
    QFETCH(QByteArray, expected);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.txt"));
    WriteLog(path, when, message);
    QCOMPARE(readAll(path), expected);
}

void TestEventLog::appendsInCallOrder() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.txt"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("earlier run\r\n");
    }
    WriteLog(path, When, QStringLiteral("first"));
    WriteLog(path, When, QStringLiteral("second"));
    QCOMPARE(readAll(path), QByteArray("earlier run\r\n"
                                       "[03.02.2010 14:05:09]: first\r\n"
                                       "[03.02.2010 14:05:09]: second\r\n"));
}

void TestEventLog::currentDirectoryAndClock() {
    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    const auto back = qScopeGuard([&] { QDir::setCurrent(previous); });

    const QDateTime before = QDateTime::currentDateTime().addMSecs(-1000);
    WriteLog(QStringLiteral("* Program exit."));
    const QDateTime after = QDateTime::currentDateTime();

    const QByteArray text = readAll(dir.filePath(QStringLiteral("log.txt")));
    const QRegularExpression line(
        QStringLiteral(R"(^\[(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d)\]: \* Program exit\.\r\n$)"));
    const QRegularExpressionMatch match = line.match(QString::fromUtf8(text));
    QVERIFY2(match.hasMatch(), text.constData());
    const QDateTime stamp =
        QDateTime::fromString(match.captured(1), QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    QVERIFY(stamp >= before.addMSecs(-before.time().msec()));
    QVERIFY(stamp <= after);
}

void TestEventLog::unopenableLogIsSilent() {
    QTemporaryDir dir;
    // A folder where the file should be, and a path below a plain file: both cannot be opened.
    const QString folder = dir.filePath(QStringLiteral("log.txt"));
    QVERIFY(QDir().mkdir(folder));
    WriteLog(folder, When, QStringLiteral("lost"));
    QVERIFY(QFileInfo(folder).isDir());

    const QString below = dir.filePath(QStringLiteral("log.txt/inner/log.txt"));
    WriteLog(below, When, QStringLiteral("lost"));
    QVERIFY(!QFile::exists(below));
}

QTEST_GUILESS_MAIN(TestEventLog)
#include "tst_eventlog.moc"
