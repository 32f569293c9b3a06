#pragma once

#include "base/appsettings.h"
#include "commands/extrabuttons.h"
#include "link/pollview.h"
#include "shell/programpaths.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class OperatorNotices;
class PollCycle;
class PollTimers;
class ProgramView;
class QTimer;
class SerialPort;
class WeighingStore;
class WeighingsTable;

// What tests put in place of the clock, the log file, the port and the timers of the program core.
// An empty or null member means the real one.
struct ProgramCoreSeams {
    std::function<QDateTime()> now;
    std::function<void(const QString&)> writeLog;
    SerialPort* port = nullptr;   // the caller keeps it alive
    PollTimers* timers = nullptr; // the caller keeps it alive and routes its ticks
};

// The program's life without its windows: it owns the weighings table and its store, the serial
// port, the poll cycle with its timers, the extra buttons with their alarm check, the settings and
// the boxes owed to the operator; it runs the start-up, the Alarm tick and the close in their
// order. The main window builds the widgets, shows what this reports through ProgramView and
// forwards the operator's actions here.
class ProgramCore : public QObject, private PollSettingsWriter, private PollEventLog {
    Q_OBJECT

public:
    using Seams = ProgramCoreSeams;

    ProgramCore(const ProgramPaths& paths, ProgramView& view, Seams seams = {},
                QObject* parent = nullptr);
    ~ProgramCore() override;

    // The start-up, in order: "* Program start." in the log, the table opened or made, every
    // setting read and applied, today's filter and the record count, the port opened, collection
    // started when Autoscan is set, the buttons and the list shown, the Alarm timer started.
    // Returns the operator's text of the error that ends the start-up (a table that cannot be
    // opened, a bad colour in the configuration file); then nothing runs and nothing polls.
    QString Start();
    bool isRunning() const { return m_running; }

    // The close, in order: the Alarm timer, the poll cycle and its timers stop and waiting boxes
    // are dropped; "* Program exit."; every setting is written (and the view shows why when that
    // fails); the port and the table close. After a failed start nothing is written but the log
    // line (none after a configuration file that could not be read): the settings were never
    // applied, so writing them would lose the operator's. Runs once.
    void FormClose();
    bool isClosed() const { return m_closed; }

    // One tick of the Alarm timer: the buttons' alarms, then the poll cycle's watchdog.
    void AlarmTimer();

    // The operator's actions.
    void tbSuperClick();
    void New1Click();
    // Extra button n (1..8) pressed: true when its command was taken, so the window shows the
    // busy cursor on it.
    bool tbexClick(int button);
    // "Интерфейс RS-232": before the dialog (collection stops, the port closes) and after it.
    void beginPortSetup();
    void endPortSetup();
    void mDeviceAutostartClick(bool checked);
    // "Компоненты": the totals list hidden or shown again.
    void bHideClick();
    // The grid deleted a row.
    void Table1AfterDelete();

    PollCycle& poll() { return *m_poll; }
    const PollCycle& poll() const { return *m_poll; }
    WeighingsTable& table() { return *m_table; }
    WeighingStore& store() { return *m_store; }
    OperatorNotices& notices() { return *m_notices; }
    const ExtraButtons& buttons() const { return m_buttons; }
    QTimer& Alarm() { return *m_alarm; }
    const ProgramPaths& paths() const { return m_paths; }
    // The configuration file's settings as loaded; kept up to date for what the core changes.
    AppSettings settings() const;

private:
    QString openWeighingsTable();
    void applySettings(const AppSettings& settings);
    QString portDeviceName(int index) const;
    void connectPollCycle();
    QDateTime now() const;

    // PollSettingsWriter, PollEventLog
    void writeStoredCounter(quint32 StoredCounter) override;
    void WriteLog(const QString& text) override;

    ProgramPaths m_paths;
    ProgramView& m_view;
    Seams m_seams;
    AppSettings m_settings;
    bool m_running = false;
    bool m_closed = false;
    bool m_exitLogDue = false;

    std::unique_ptr<WeighingsTable> m_table;
    WeighingStore* m_store = nullptr;
    SerialPort* m_port = nullptr;
    PollTimers* m_timers = nullptr;
    PollCycle* m_poll = nullptr;
    ExtraButtons m_buttons;
    OperatorNotices* m_notices = nullptr;
    QTimer* m_alarm = nullptr;
};
