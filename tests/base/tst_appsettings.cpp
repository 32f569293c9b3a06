#include "base/appsettings.h"
#include "base/datetimevalue.h"
#include "base/profilefile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

using Edit = std::function<void(AppSettings&)>;
Q_DECLARE_METATYPE(Edit)

namespace {

const QDate Today(2010, 2, 3);

QByteArray readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void writeAll(const QString& path, const QByteArray& data) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(data), data.size());
}

// What a start without a configuration file has: the defaults, button dates at today.
AppSettings firstStart() {
    AppSettings s;
    for (buttons_t& button : s.Buttons)
        button.DateTime = dateValue(Today);
    return s;
}

// Every key of the file, in the order the close writes them, as a first close writes them.
QByteArray firstCloseFile() {
    QByteArray text = "[Settings]\n"
                      "Comport=0\nBaudrate=1\nDeviceNumber=1\nSendInterval=250\n"
                      "ShowConsole=0\nAutoscan=0\nShowComponents=1\n"
                      "AllowMultiple=0\nAutorun=0\n"
                      "[ID]\nID_old=0\n"
                      "[MainWindow]\nTop=106\nLeft=192\nWidth=785\nHeight=480\n"
                      "[ConsoleForm]\nTop=100\nLeft=100\nWidth=600\nHeight=340\n"
                      "[Font]\nSize=10\nColor=clBlack\nName=MS Sans Serif\n"
                      "StyleBold=0\nStyleItalic=0\nStyleUnderline=0\nStyleStrikeOut=0\n"
                      "[Components]\nColumn1=24\nColumn2=135\nColumn3=46\nColumn4=140\nWidth=400\n";
    const QByteArray today =
        ProfileFile::dateTimeToText(dateValue(Today), QLocale::system()).toUtf8();
    for (int n = 1; n <= 8; ++n) {
        text += "[ExtButton" + QByteArray::number(n) + "]\nShow=1\nImage=" + QByteArray::number(n) +
                "\nName=\nCommand=" + QByteArray::number(n - 1) +
                "\nDailyAlarm=0\nAlarmHours=0\nAlarmMinutes=0\nOneTimeAlarm=0\nDateTime=" + today +
                "\n";
    }
    text += "[DB]\nColumn1Width=150\nColumn2Width=110\nColumn3Width=100\nColumn4Width=90\n";
    return text;
}

// Settings with every value away from its default, so that a value that goes to the wrong key
// or is not written at all shows.
AppSettings everythingChanged() {
    AppSettings s;
    s.Port.ComportIndex = 8;
    s.Port.BaudrateIndex = 0;
    s.Port.DeviceNumber = 247;
    s.Port.SendInterval = 1000;
    s.ShowConsole = true;
    s.Autoscan = true;
    s.ShowComponents = false;
    s.StoredCounter = 3000000000u; // above the signed 32-bit range
    s.MainWindow = {-5, 1921, 1024, 700};
    s.ConsoleForm = {11, 12, 13, 14};
    s.ComponentsFont = {14, 0x00123456u, QStringLiteral(" DejaVu Sans"), true, true, true, true};
    s.ComponentColumns = {1, 2, 3, 4};
    s.ComponentsWidth = 555;
    for (int i = 0; i < 8; ++i) {
        buttons_t& b = s.Buttons[i];
        b.Show = i % 2 == 0;
        b.OneTimeAlarm = i % 3 == 0;
        b.DailyAlarm = i % 2 == 1;
        b.Image = 16 - i;
        b.Command = 23 - i;
        b.AlarmHours = static_cast<quint16>(i == 7 ? 65535 : 23 - i);
        b.AlarmMinutes = static_cast<quint16>(59 - i);
        b.DateTime = toDateTimeValue(QDateTime(QDate(2011, 9, 14 + i), QTime(15, i, 30)));
        b.Name = QStringLiteral("Пуск \"%1\"").arg(i + 1);
    }
    s.Buttons[3].DateTime = -1.25;
    s.GridColumnWidths = {9, 8, 7, 6};
    s.AllowMultiple = true;
    s.Autorun = true;
    return s;
}

} // namespace

class TestAppSettings : public QObject {
    Q_OBJECT

private slots:
    void init();

    void firstCloseWritesEveryKeyInOrder();
    void oddValues_data();
    void oddValues();
    void saveThenLoadKeepsEveryValue();
    void deviceNumber_data();
    void deviceNumber();
    void badColourEndsStartUp();
    void passesBetweenStartAndClose();
    void failedSaveNamesFile();

private:
    void compare(const AppSettings& actual, const AppSettings& expected);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
};

void TestAppSettings::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_path = m_dir->filePath(QStringLiteral("kdm.ini"));
}

void TestAppSettings::firstCloseWritesEveryKeyInOrder() {
    const SettingsLoad loaded = loadSettings(m_path, Today);
    QCOMPARE(loaded.error, QString());
    QVERIFY(loaded.settings == firstStart());
    QVERIFY(!QFile::exists(m_path)); // reading creates nothing

    QCOMPARE(saveSettings(m_path, loaded.settings), QString());
    const QByteArray written = readAll(m_path);
    QCOMPARE(written, firstCloseFile());
    QCOMPARE(written.count('='), 106);
}

void TestAppSettings::oddValues_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<Edit>("expected"); // applied to what a first start has

    QTest::newRow("width abc gives 785") << QByteArray("[MainWindow]\nWidth=abc\nHeight=500\n")
                                         << Edit([](AppSettings& s) { s.MainWindow.Height = 500; });
    QTest::newRow("Comport 0x2, Baudrate $A")
        << QByteArray("[settings]\ncomport=0x2\nBAUDRATE=$A\n") << Edit([](AppSettings& s) {
               s.Port.ComportIndex = 2;
               s.Port.BaudrateIndex = 10;
           });
    QTest::newRow("ShowComponents 2 is true")
        << QByteArray("[Settings]\nShowComponents=2\nShowConsole=2\n")
        << Edit([](AppSettings& s) { s.ShowConsole = true; });
    QTest::newRow("ShowComponents yes is the default")
        << QByteArray("[Settings]\nShowComponents=yes\nAutoscan=yes\n")
        << Edit([](AppSettings&) {});
    QTest::newRow("ShowComponents 0") << QByteArray("[Settings]\nShowComponents=0\n")
                                      << Edit([](AppSettings& s) { s.ShowComponents = false; });
    QTest::newRow("ExtButton3 without Image and Command")
        << QByteArray("[ExtButton3]\nName=Насос\nShow=0\n") << Edit([](AppSettings& s) {
               s.Buttons[2].Name = QStringLiteral("Насос");
               s.Buttons[2].Show = false;
           });
    QTest::newRow("AlarmHours 65537 is 1, AlarmMinutes -1 is 65535")
        << QByteArray("[ExtButton5]\nAlarmHours=65537\nAlarmMinutes=-1\n")
        << Edit([](AppSettings& s) {
               s.Buttons[4].AlarmHours = 1;
               s.Buttons[4].AlarmMinutes = 65535;
           });
    QTest::newRow("DateTime of another region gives today")
        << QByteArray("[ExtButton1]\nDateTime=14/09/10 15:00\n[ExtButton2]\nDateTime=\n")
        << Edit([](AppSettings&) {});
    QTest::newRow("StoredCounter written negative reads whole")
        << QByteArray("[ID]\nID_old=-1294967296\n")
        << Edit([](AppSettings& s) { s.StoredCounter = 3000000000u; });
    QTest::newRow("font colour by name and number")
        << QByteArray("[Font]\nColor=clred\nName=\"  Arial  \"\nStyleItalic=1\n")
        << Edit([](AppSettings& s) {
               s.ComponentsFont.Color = 0x0000FF;
               s.ComponentsFont.Name = QStringLiteral("  Arial  ");
               s.ComponentsFont.StyleItalic = true;
           });
    QTest::newRow("ConsoleForm is not read at construction")
        << QByteArray("[ConsoleForm]\nTop=1\n") << Edit([](AppSettings&) {});
    QTest::newRow("DB widths") << QByteArray("[DB]\nColumn4Width=0x10\nColumn1Width=\n")
                               << Edit([](AppSettings& s) { s.GridColumnWidths[3] = 16; });
    QTest::newRow("AllowMultiple and Autorun")
        << QByteArray("[Settings]\nAllowMultiple=1\nAutorun=1\n") << Edit([](AppSettings& s) {
               s.AllowMultiple = true;
               s.Autorun = true;
           });
}

void TestAppSettings::oddValues() {
    QFETCH(QByteArray, file);
    QFETCH(Edit, expected);

    writeAll(m_path, file);
    const SettingsLoad loaded = loadSettings(m_path, Today);
    QCOMPARE(loaded.error, QString());
    AppSettings want = firstStart();
    expected(want);

    compare(loaded.settings, want);
}

void TestAppSettings::compare(const AppSettings& actual, const AppSettings& expected) {
    // Compare as written text first, so that a difference shows which key it is in.
    const QString actualPath = m_dir->filePath(QStringLiteral("actual.ini"));
    const QString expectedPath = m_dir->filePath(QStringLiteral("expected.ini"));
    QFile::remove(actualPath);
    QFile::remove(expectedPath);
    QCOMPARE(saveSettings(actualPath, actual), QString());
    QCOMPARE(saveSettings(expectedPath, expected), QString());
    QCOMPARE(QString::fromUtf8(readAll(actualPath)).split(u'\n'),
             QString::fromUtf8(readAll(expectedPath)).split(u'\n'));
    QVERIFY(actual == expected);
}

void TestAppSettings::saveThenLoadKeepsEveryValue() {
    const AppSettings changed = everythingChanged();
    QCOMPARE(saveSettings(m_path, changed), QString());
    // The console's bounds are read on their own, when the console window is created.
    AppSettings expected = changed;
    expected.ConsoleForm = AppSettings().ConsoleForm;
    compare(loadSettings(m_path, Today).settings, expected);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(loadConsoleBounds(m_path), changed.ConsoleForm);

    // A second close onto that file replaces the values in place and keeps what it does not know.
    QFile file(m_path);
    QVERIFY(file.open(QIODevice::Append));
    file.write("[Ports]\nCOM1=/dev/ttyUSB0\n");
    file.close();
    const QByteArray before = readAll(m_path);
    const AppSettings defaults = firstStart();
    QCOMPARE(saveSettings(m_path, defaults), QString());
    const QByteArray after = readAll(m_path);
    QVERIFY(after.endsWith("[Ports]\nCOM1=/dev/ttyUSB0\n"));
    QCOMPARE(after.count('\n'), before.count('\n'));
    QVERIFY(loadSettings(m_path, Today).settings == defaults);
}

void TestAppSettings::deviceNumber_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("expected");

    QTest::newRow("neither key") << QByteArray("[Settings]\n") << 1;
    QTest::newRow("DeviceNumber") << QByteArray("[Settings]\nDeviceNumber=5\n") << 5;
    QTest::newRow("only Device, as earlier versions wrote")
        << QByteArray("[Settings]\nDevice=7\n") << 7;
    QTest::newRow("both: DeviceNumber wins")
        << QByteArray("[Settings]\nDevice=7\nDeviceNumber=5\n") << 5;
    QTest::newRow("Device of another section") << QByteArray("[Other]\nDevice=7\n") << 1;
    QTest::newRow("bad Device gives the default") << QByteArray("[Settings]\nDevice=x\n") << 1;
}

void TestAppSettings::deviceNumber() {
    QFETCH(QByteArray, file);
    QFETCH(int, expected);

    writeAll(m_path, file);
    AppSettings s = loadSettings(m_path, Today).settings;
    QCOMPARE(s.Port.DeviceNumber, expected);

    // What the port dialog sets is what the next start reads.
    s.Port.DeviceNumber = 42;
    QCOMPARE(saveSettings(m_path, s), QString());
    QCOMPARE(loadSettings(m_path, Today).settings.Port.DeviceNumber, 42);
    QVERIFY(ProfileFile(m_path).ValueExists(QStringLiteral("Settings"),
                                            QStringLiteral("DeviceNumber")));
}

void TestAppSettings::badColourEndsStartUp() {
    writeAll(m_path, "[Font]\nSize=12\nColor=abc\n");
    const SettingsLoad loaded = loadSettings(m_path, Today);
    QVERIFY(loaded.error.contains(QDir::toNativeSeparators(m_path)));
    QVERIFY(loaded.error.contains(QStringLiteral("Color")));
    QVERIFY(loaded.error.contains(QStringLiteral("\"abc\"")));
}

void TestAppSettings::passesBetweenStartAndClose() {
    // A weighing stored before the first close puts [ID] first.
    QCOMPARE(writeStoredCounter(m_path, 17), QString());
    QCOMPARE(readAll(m_path), QByteArray("[ID]\nID_old=17\n"));
    QCOMPARE(saveSettings(m_path, firstStart()), QString());
    QVERIFY(readAll(m_path).startsWith("[ID]\nID_old=0\n[Settings]\n"));

    QCOMPARE(writeStoredCounter(m_path, 4000000000u), QString());
    QCOMPARE(loadSettings(m_path, Today).settings.StoredCounter, 4000000000u);

    QVERIFY(!readAllowMultiple(m_path));
    QCOMPARE(writeProgramSettings(m_path, true, false), QString());
    QVERIFY(readAllowMultiple(m_path));
    const AppSettings s = loadSettings(m_path, Today).settings;
    QVERIFY(s.AllowMultiple);
    QVERIFY(!s.Autorun);

    // Each of these passes only replaces its own keys.
    AppSettings expected = firstStart();
    expected.StoredCounter = 4000000000u;
    expected.AllowMultiple = true;
    QVERIFY(s == expected);

    writeAll(m_path, "[ConsoleForm]\nLeft=$10\nWidth=wide\n");
    QCOMPARE(loadConsoleBounds(m_path), (WindowBounds{100, 16, 600, 340}));
    QCOMPARE(loadConsoleBounds(m_dir->filePath(QStringLiteral("none.ini"))),
             (WindowBounds{100, 100, 600, 340}));
}

void TestAppSettings::failedSaveNamesFile() {
    writeAll(m_dir->filePath(QStringLiteral("plain")), "x");
    const QString path = m_dir->filePath(QStringLiteral("plain/kdm.ini"));
    for (const QString& error : {saveSettings(path, firstStart()), writeStoredCounter(path, 1),
                                 writeProgramSettings(path, true, true)}) {
        QVERIFY2(error.contains(QDir::toNativeSeparators(path)), qPrintable(error));
    }
}

QTEST_GUILESS_MAIN(TestAppSettings)
#include "tst_appsettings.moc"
