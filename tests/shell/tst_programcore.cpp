// The program core without a window: the order of its start-up and close, the counter the table
// and the configuration file agree on, a table that cannot be opened, the Alarm tick, and the
// boxes it owes the operator (one per error, never from inside a port call).
#include "support/fakeserialport.h"
#include "support/pollcycle_fakes.h"
#include "weighings/rawdatabase.h"

#include "link/pollcycle.h"
#include "link/replytexts.h"
#include "shell/operatornotices.h"
#include "shell/programcore.h"
#include "shell/programview.h"
#include "weighings/weighingstable.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using enum PollState;

namespace {

// Records every call, in order, as "name" or "name value".
class RecordingView : public ProgramView {
public:
    void setWeightText(const QString& text) override { record(u"setWeightText", text); }
    void setLastWeighingText(const QString& text) override { record(u"setLastWeighingText", text); }
    void setComponentRow(int row, const QString&, const QString&, const QString&) override {
        record(u"setComponentRow", QString::number(row));
    }
    void setPortStatusText(const QString& text) override { record(u"setPortStatusText", text); }
    void setLinkStatusText(const QString& text) override { record(u"setLinkStatusText", text); }
    void setLinkState(LinkState state) override {
        record(u"setLinkState", QString::number(int(state)));
    }
    void setExchangeLamp(bool active) override { record(u"setExchangeLamp", flag(active)); }
    void setCollectionAvailable(bool available) override {
        record(u"setCollectionAvailable", flag(available));
    }
    void setCollectionRunning(bool running) override {
        record(u"setCollectionRunning", flag(running));
    }
    void showInputs(quint8) override { record(u"showInputs"); }
    void showOutputs(quint8) override { record(u"showOutputs"); }
    bool isIoStateTicked() const override { return false; }
    void appendConsoleLine(const QString&) override {}
    void resetButtonCursors() override { record(u"resetButtonCursors"); }

    void applyWindowSettings(const AppSettings& s) override {
        record(u"applyWindowSettings");
        window = s;
    }
    void collectWindowSettings(AppSettings& s) const override {
        s.MainWindow = window.MainWindow;
        s.ShowConsole = window.ShowConsole;
    }
    void showFilterDate(QDate today) override {
        record(u"showFilterDate", today.toString(Qt::ISODate));
    }
    void setRecordCountText(const QString& text) override { record(u"setRecordCountText", text); }
    void showWeighings(WeighingsTable& table) override {
        record(u"showWeighings", flag(table.isOpen()));
    }
    void setAutostartChecked(bool checked) override {
        record(u"setAutostartChecked", flag(checked));
    }
    void ApplyButtons(const std::array<buttons_t, ExtraButtonCount>& buttons) override {
        record(u"ApplyButtons", buttons[0].Name);
    }
    void ApplyShowComponents(bool show) override { record(u"ApplyShowComponents", flag(show)); }
    void showSettingsWriteError(const QString& text) override {
        record(u"showSettingsWriteError");
        settingsError = text;
        if (onSettingsWriteError)
            onSettingsWriteError();
    }

    QStringList calls;
    AppSettings window;
    QString settingsError;
    std::function<void()> onSettingsWriteError;

private:
    static QString flag(bool value) { return value ? QStringLiteral("1") : QStringLiteral("0"); }
    void record(QStringView name, const QString& value = {}) {
        calls.append(value.isNull() ? name.toString() : name.toString() + u' ' + value);
    }
};

const QDateTime Now(QDate(2026, 12, 11), QTime(10, 30, 0));

// A program folder in a temporary directory, and a core on the fakes that lives in it.
struct CoreRig {
    explicit CoreRig(const QByteArray& ini = {}) {
        paths.programFolder = dir.path() + u'/';
        paths.IniFileName = dir.filePath(QStringLiteral("kdm.ini"));
        paths.dbFolder = paths.programFolder + QStringLiteral("db/");
        paths.dbFile = paths.dbFolder + QStringLiteral("weights_data.DB");
        if (!ini.isEmpty())
            writeFile(paths.IniFileName, ini);
    }

    ProgramCore& make() {
        core = std::make_unique<ProgramCore>(
            paths, view,
            ProgramCoreSeams{[] { return Now; }, [this](const QString& line) { log.append(line); },
                             &port, &timers});
        // The fake port's bytes reach the cycle as the real port's do.
        return *core;
    }

    static void writeFile(const QString& path, const QByteArray& content) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }
    static QByteArray readFile(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    bool anyPollTimerActive() const {
        return timers.isActive(PollTimer::TimerSend) || timers.isActive(PollTimer::TimerTimeout) ||
               timers.isActive(PollTimer::TimerMB);
    }

    QTemporaryDir dir;
    ProgramPaths paths;
    RecordingView view;
    QStringList log;
    FakeSerialPort port;
    FakePollTimers timers;
    std::unique_ptr<ProgramCore> core;
};

WeighingRow row(qint32 id) {
    WeighingRow r;
    r.DateTime = QDateTime(QDate(2026, 12, 10), QTime(8, 0), Qt::UTC);
    r.Weight = 12.5;
    r.Component = 1;
    r.ID = id;
    r.CompDateTime = QDate(2026, 12, 10);
    return r;
}

} // namespace

class ProgramCoreTest : public QObject {
    Q_OBJECT

private slots:
    void startUp_runsItsStepsInOrder();
    void startUp_withAutoscan_collectsFromTheFirstTick();
    void startUp_storedCounter_data();
    void startUp_storedCounter();
    void startUp_tableThatCannotBeOpened_data();
    void startUp_tableThatCannotBeOpened();
    void startUp_badColour_endsStartUpAndKeepsTheFile();
    void close_stopsEverythingBeforeWritingSettings();
    void close_writesEverySettingItKeeps();
    void portLostInsideSendByte_oneNoticeAndNoByteOfThatFrameAfterIt();
    void alarmTick_firesButtonAlarmThenRunsWatchdog();
    void notices_data();
    void notices();
};

void ProgramCoreTest::startUp_runsItsStepsInOrder() {
    CoreRig rig;
    ProgramCore& core = rig.make();
    QVERIFY(!core.Alarm().isActive()); // nothing ticks before the start-up has succeeded

    QCOMPARE(core.Start(), QString());

    QCOMPARE(rig.log, (QStringList{QStringLiteral("* Program start."),
                                   QStringLiteral("Database: Table does not exist. Creating new "
                                                  "table.")}));
    const QStringList expected = {
        QStringLiteral("applyWindowSettings"),
        QStringLiteral("showFilterDate 2026-12-11"),
        QStringLiteral("setRecordCountText 0/0"),
        QStringLiteral("showWeighings 1"),
        QStringLiteral("setAutostartChecked 0"),
        QStringLiteral("setCollectionAvailable 1"),
        QStringLiteral("setPortStatusText Com port: 1 @9600"),
        QStringLiteral("setLastWeighingText #1\t0\t--:--"),
        QStringLiteral("setLinkState 2"),
        QStringLiteral("setCollectionRunning 0"),
        QStringLiteral("setWeightText --"),
        QStringLiteral("setLinkStatusText ") + LinkStatusStopped.toString(),
        QStringLiteral("setExchangeLamp 0"),
        QStringLiteral("ApplyButtons"),
        QStringLiteral("ApplyShowComponents 1"),
    };
    QCOMPARE(rig.view.calls, expected);
    QVERIFY(core.isRunning());
    QVERIFY(core.Alarm().isActive());
    QCOMPARE(core.Alarm().interval(), 2500);
    QVERIFY(!rig.anyPollTimerActive());
    QVERIFY(rig.port.IsOpen());
    QVERIFY(core.table().isOpen());
}

void ProgramCoreTest::startUp_withAutoscan_collectsFromTheFirstTick() {
    CoreRig rig("[Settings]\r\nAutoscan=1\r\nComport=2\r\nBaudrate=3\r\nSendInterval=400\r\n");
    ProgramCore& core = rig.make();
    QCOMPARE(core.Start(), QString());
    QVERIFY(core.poll().state().Polling);
    QCOMPARE(core.poll().state().PollState, psReadWeight);
    QVERIFY(rig.timers.isActive(PollTimer::TimerSend));
    QCOMPARE(rig.timers.interval(PollTimer::TimerSend), 400);
    QCOMPARE(rig.port.openCalls().size(), size_t(1));
    QCOMPARE(rig.port.openCalls()[0].portIndex, 2u);
    QCOMPARE(rig.port.openCalls()[0].baudRate, 19200);
    QVERIFY(rig.view.calls.contains(QStringLiteral("setAutostartChecked 1")));
}

void ProgramCoreTest::startUp_storedCounter_data() {
    QTest::addColumn<int>("iniCounter");
    QTest::addColumn<int>("tableCounter"); // -1: a table without a counter of its own
    QTest::addColumn<int>("expected");
    QTest::newRow("the table knows better after a crash") << 100 << 120 << 120;
    QTest::newRow("a table from an older version: the configuration file") << 100 << -1 << 100;
    QTest::newRow("both agree") << 7 << 7 << 7;
}

void ProgramCoreTest::startUp_storedCounter() {
    QFETCH(int, iniCounter);
    QFETCH(int, tableCounter);
    QFETCH(int, expected);
    CoreRig rig(QStringLiteral("[ID]\r\nID_old=%1\r\n").arg(iniCounter).toLatin1());
    {
        WeighingsTable table(rig.paths.dbFile);
        QVERIFY(table.Open().ok());
        if (tableCounter >= 0)
            QVERIFY(table.appendWeighing(row(tableCounter), quint32(tableCounter)).ok());
        else
            QVERIFY(table.append(row(5)).ok());
    }
    ProgramCore& core = rig.make();
    QCOMPARE(core.Start(), QString());
    QCOMPARE(core.poll().state().StoredCounter, quint32(expected));
    QVERIFY(rig.view.calls.contains(QStringLiteral("setRecordCountText 1/%1").arg(expected)));
    QCOMPARE(rig.log.at(1), QStringLiteral("Database: Table opened."));
}

void ProgramCoreTest::startUp_tableThatCannotBeOpened_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("schema");
    QTest::addColumn<QString>("reason");
    QTest::newRow("not a database") << QByteArray("\x05\x0b\x00\x00 table of another engine", 28)
                                    << QString() << QStringLiteral("не является базой данных");
    QTest::newRow("columns of something else")
        << QByteArray() << QStringLiteral("CREATE TABLE weights_data (a TEXT, b REAL)")
        << QStringLiteral("столбцы таблицы weights_data");
}

// Nothing runs after such a start: no timer, no poll, the port never opened, the file as it
// was; the close then logs its line and writes no settings over the operator's.
void ProgramCoreTest::startUp_tableThatCannotBeOpened() {
    QFETCH(QByteArray, content);
    QFETCH(QString, schema);
    QFETCH(QString, reason);
    CoreRig rig;
    CoreRig::writeFile(rig.paths.dbFile, content);
    if (!schema.isEmpty()) {
        RawDatabase raw(rig.paths.dbFile);
        QCOMPARE(raw.exec(schema), QString());
    }
    const QByteArray before = CoreRig::readFile(rig.paths.dbFile);

    ProgramCore& core = rig.make();
    const QString error = core.Start();

    QVERIFY(error.contains(QDir::toNativeSeparators(rig.paths.dbFile)));
    QVERIFY2(error.contains(reason), qPrintable(error));
    QCOMPARE(rig.log.size(), 2);
    QVERIFY(rig.log.at(1).startsWith(u"Database: Weighings table"));
    QVERIFY(!rig.log.contains(QStringLiteral("Database: Table opened.")));
    QVERIFY(!core.isRunning());
    QVERIFY(!core.Alarm().isActive());
    QVERIFY(!rig.anyPollTimerActive());
    QVERIFY(rig.port.openCalls().empty());
    QVERIFY(rig.view.calls.isEmpty());

    core.FormClose();
    QCOMPARE(rig.log.last(), QStringLiteral("* Program exit."));
    QVERIFY(!QFile::exists(rig.paths.IniFileName));
    QCOMPARE(CoreRig::readFile(rig.paths.dbFile), before);
}

void ProgramCoreTest::startUp_badColour_endsStartUpAndKeepsTheFile() {
    const QByteArray ini = "[Font]\r\nColor=abc\r\n[Settings]\r\nComport=4\r\n";
    CoreRig rig(ini);
    ProgramCore& core = rig.make();
    QVERIFY(!core.Start().isEmpty());
    QVERIFY(!core.Alarm().isActive());
    QVERIFY(rig.port.openCalls().empty());
    core.FormClose();
    QCOMPARE(CoreRig::readFile(rig.paths.IniFileName), ini);
    QVERIFY(!core.table().isOpen());
}

// While the box about the configuration file is open nothing runs: no timer, no Alarm, no reply
// taken, nothing logged after the exit line; the port and the table close after the box.
void ProgramCoreTest::close_stopsEverythingBeforeWritingSettings() {
    CoreRig rig("[Settings]\r\nAutoscan=1\r\n");
    ProgramCore& core = rig.make();
    QCOMPARE(core.Start(), QString());
    core.poll().TimerSendTimer(); // a request is out, its reply on its way
    QVERIFY(rig.anyPollTimerActive());
    // The configuration file cannot be written: its name is taken by a folder.
    QVERIFY(QFile::remove(rig.paths.IniFileName) || !QFile::exists(rig.paths.IniFileName));
    QVERIFY(QDir().mkpath(rig.paths.IniFileName));

    bool checked = false;
    rig.view.onSettingsWriteError = [&] {
        QVERIFY(!core.Alarm().isActive());
        QVERIFY(!rig.anyPollTimerActive());
        QVERIFY(rig.port.IsOpen());
        QCOMPARE(rig.log.last(), QStringLiteral("* Program exit."));
        // The terminal's reply arrives now: it is not taken. A tick of Alarm that was already
        // queued does nothing.
        rig.port.feed(QByteArray::fromHex("0103044148000054C0"));
        core.AlarmTimer();
        QCOMPARE(core.poll().state().RxCount, 0);
        QVERIFY(!rig.anyPollTimerActive());
        checked = true;
    };
    const int linesBefore = rig.log.size();
    core.FormClose();

    QVERIFY(checked);
    QVERIFY(!rig.view.settingsError.isEmpty());
    QCOMPARE(rig.log.size(), linesBefore + 1);
    QCOMPARE(rig.log.last(), QStringLiteral("* Program exit."));
    QVERIFY(!rig.port.IsOpen());
    QVERIFY(!core.table().isOpen());
    QVERIFY(core.isClosed());
    core.FormClose(); // once only
    QCOMPARE(rig.log.size(), linesBefore + 1);
}

void ProgramCoreTest::close_writesEverySettingItKeeps() {
    CoreRig rig("[Settings]\r\nComport=3\r\nSendInterval=300\r\n[ID]\r\nID_old=41\r\n");
    ProgramCore& core = rig.make();
    QCOMPARE(core.Start(), QString());
    core.mDeviceAutostartClick(true);
    core.bHideClick();
    rig.view.window.MainWindow = {10, 20, 800, 500};
    core.FormClose();

    const AppSettings saved = loadSettings(rig.paths.IniFileName, Now.date()).settings;
    QCOMPARE(saved.Port.ComportIndex, 3);
    QCOMPARE(saved.Port.SendInterval, 300);
    QCOMPARE(saved.StoredCounter, 41u);
    QVERIFY(saved.Autoscan);
    QVERIFY(!saved.ShowComponents);
    QCOMPARE(saved.MainWindow, (WindowBounds{10, 20, 800, 500}));
}

// The device vanishes inside the third byte of a request: the port call returns first, then one
// box is owed (not two, though the loss and the failed send both report it); the rest of that
// frame never goes out, and the next tick sends a whole new frame on the reopened port.
void ProgramCoreTest::portLostInsideSendByte_oneNoticeAndNoByteOfThatFrameAfterIt() {
    CoreRig rig("[Settings]\r\nAutoscan=1\r\n");
    ProgramCore& core = rig.make();
    QCOMPARE(core.Start(), QString());
    QSignalSpy posted(&core.notices(), &OperatorNotices::noticePosted);

    rig.port.loseAtByte(3);
    core.poll().TimerSendTimer();

    QCOMPARE(rig.port.written(), (std::vector<quint8>{0x01, 0x03}));
    QVERIFY(!rig.port.IsOpen());
    QCOMPARE(posted.count(), 1);
    const std::optional<Notice> box = core.notices().takeNext();
    QVERIFY(box);
    QCOMPARE(box->kind, Notice::Kind::PortWriteError);
    QCOMPARE(box->text, WriteErrorText.toString());
    // While it is on screen the cycle goes on, and a second failure asks for no second box.
    rig.port.setOpenResult(false);
    core.poll().TimerSendTimer();
    QVERIFY(!core.notices().takeNext());
    core.notices().closed();
    QVERIFY(!core.notices().takeNext());

    rig.port.setOpenResult(true);
    rig.port.clearWritten();
    core.poll().TimerSendTimer();
    const std::vector<quint8> frame = rig.port.written();
    QCOMPARE(frame.size(), size_t(8));
    QCOMPARE(Crc16(frame), quint16(0));
    QCOMPARE(PollHarness::describe(frame), weightRequest());
}

void ProgramCoreTest::alarmTick_firesButtonAlarmThenRunsWatchdog() {
    CoreRig rig(
        "[Settings]\r\nAutoscan=1\r\n"
        "[ExtButton3]\r\nDailyAlarm=1\r\nAlarmHours=10\r\nAlarmMinutes=30\r\nCommand=6\r\n");
    ProgramCore& core = rig.make();
    QCOMPARE(core.Start(), QString());
    rig.timers.stop(PollTimer::TimerSend); // a stalled cycle

    core.AlarmTimer();

    QCOMPARE(core.poll().state().PollState, psSendCommand);
    QCOMPARE(core.poll().state().AlarmButton, 3);
    QCOMPARE(core.poll().state().CommandCode, 6);
    QVERIFY(rig.timers.isActive(PollTimer::TimerSend));
}

void ProgramCoreTest::notices_data() {
    using Kind = Notice::Kind;
    QTest::addColumn<QList<int>>("posted");     // kinds, in order; the text is the kind's number
    QTest::addColumn<QList<int>>("closeAfter"); // after how many posts the box on screen closes
    QTest::addColumn<QList<int>>("shown");

    const int port = int(Kind::PortWriteError);
    const int done = int(Kind::CommandCompleted);
    const int store = int(Kind::StorageFailure);
    QTest::newRow("an error while its box waits or is on screen: one box")
        << QList<int>{port, port, port} << QList<int>{} << QList<int>{port};
    QTest::newRow("the same error after its box closed: a new box")
        << QList<int>{port, port} << QList<int>{1} << QList<int>{port, port};
    QTest::newRow("each completion is shown, in order")
        << QList<int>{done, done, done} << QList<int>{1, 2} << QList<int>{done, done, done};
    QTest::newRow("different errors each get their box")
        << QList<int>{port, store, port} << QList<int>{1} << QList<int>{port, store, port};
}

void ProgramCoreTest::notices() {
    QFETCH(QList<int>, posted);
    QFETCH(QList<int>, closeAfter);
    QFETCH(QList<int>, shown);
    OperatorNotices notices;
    QList<int> seen;
    const auto takeAll = [&] {
        while (const std::optional<Notice> n = notices.takeNext())
            seen.append(int(n->kind));
    };
    for (int i = 0; i < posted.size(); ++i) {
        const auto kind = Notice::Kind(posted[i]);
        notices.post({kind, QStringLiteral("caption"), QString::number(posted[i])});
        takeAll();
        if (closeAfter.contains(i + 1)) {
            notices.closed();
            takeAll();
        }
    }
    notices.closed();
    takeAll();
    notices.closed();
    takeAll();
    QCOMPARE(seen, shown);

    notices.shutDown();
    notices.post({Notice::Kind::PortWriteError, {}, {}});
    QVERIFY(!notices.takeNext());
}

QTEST_GUILESS_MAIN(ProgramCoreTest)
#include "tst_programcore.moc"
