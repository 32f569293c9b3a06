#include "shell/programcore.h"

#include "base/eventlog.h"
#include "base/profilefile.h"
#include "link/modbus.h"
#include "link/pollcycle.h"
#include "link/polltimers.h"
#include "link/replytexts.h"
#include "link/tcomport.h"
#include "shell/appinfo.h"
#include "shell/operatornotices.h"
#include "shell/programview.h"
#include "shell/shelllog.h"
#include "weighings/statuspanels.h"
#include "weighings/weighingstable.h"
#include "weighings/weighingstore.h"

#include <QTimer>

namespace {

constexpr int AlarmIntervalMs = 2500;

} // namespace

ProgramCore::ProgramCore(const ProgramPaths& paths, ProgramView& view, Seams seams, QObject* parent)
    : QObject(parent)
    , m_paths(paths)
    , m_view(view)
    , m_seams(std::move(seams))
    , m_table(std::make_unique<WeighingsTable>(paths.dbFile))
    , m_notices(new OperatorNotices(this))
    , m_alarm(new QTimer(this)) {
    m_store = new WeighingStore(
        *m_table, [this] { return now().date(); }, this);
    connect(m_store, &WeighingStore::recordCountChanged, this,
            [this](qint64 rows, quint32 counter) {
                m_view.setRecordCountText(StatusPanels::recordCountText(rows, counter));
            });

    m_port = m_seams.port;
    if (!m_port)
        m_port = new TComPort([this](int index) { return portDeviceName(index); }, this);
    QtPollTimers* realTimers = nullptr;
    m_timers = m_seams.timers;
    if (!m_timers)
        m_timers = realTimers = new QtPollTimers(this);
    m_poll = new PollCycle({*m_port, *m_timers, m_view, *m_store, *this, *this, m_buttons}, this);
    if (realTimers)
        realTimers->connectTo(*m_poll);
    connect(m_port, &SerialPort::byteReceived, m_poll, &PollCycle::OnCommByte);
    connectPollCycle();

    // Off until the start-up has succeeded: after a failed one nothing may tick.
    m_alarm->setObjectName(QStringLiteral("Alarm"));
    m_alarm->setInterval(AlarmIntervalMs);
    connect(m_alarm, &QTimer::timeout, this, &ProgramCore::AlarmTimer);
}

ProgramCore::~ProgramCore() = default;

void ProgramCore::connectPollCycle() {
    using Kind = Notice::Kind;
    connect(m_poll, &PollCycle::portWriteFailed, this, [this] {
        m_notices->post(
            {Kind::PortWriteError, WriteErrorCaption.toString(), WriteErrorText.toString()});
    });
    connect(m_poll, &PollCycle::commandRefused, this, [this] {
        m_notices->post(
            {Kind::CommandRefused, BusyCommandCaption.toString(), BusyCommandText.toString()});
    });
    connect(m_poll, &PollCycle::commandCompleted, this,
            [this](const QString& caption, const QString& text) {
                m_notices->post({Kind::CommandCompleted, caption, text});
            });
    connect(m_poll, &PollCycle::storageFailed, this, [this](const QString& text) {
        m_view.setLinkStatusText(text);
        m_notices->post({Kind::StorageFailure, AppInfo::Title, text});
    });
}

QDateTime ProgramCore::now() const {
    return m_seams.now ? m_seams.now() : QDateTime::currentDateTime();
}

QString ProgramCore::Start() {
    WriteLog(QStringLiteral("* Program start."));
    if (QString error = openWeighingsTable(); !error.isEmpty()) {
        // The program ends in order after the operator has read why, and its log says so.
        m_exitLogDue = true;
        return error;
    }
    m_exitLogDue = true;

    const SettingsLoad loaded = loadSettings(m_paths.IniFileName, now().date());
    if (!loaded.error.isEmpty()) {
        // A configuration file that cannot be read ends the start-up as a failed creation of
        // the windows: the run's log is left without its exit line, as it always was.
        m_exitLogDue = false;
        return loaded.error;
    }
    applySettings(loaded.settings);
    // The table keeps the number of the last weighing stored in the same transaction as its row,
    // so after a crash it knows better than the configuration file's mirror.
    if (const auto counter = m_table->storedCounter(); counter.ok() && counter.value)
        m_poll->setStoredCounter(*counter.value);

    const QDate today = now().date();
    m_view.showFilterDate(today);
    m_store->showRecordCount(m_poll->state().StoredCounter);
    m_view.showWeighings(*m_table);
    m_view.setAutostartChecked(m_settings.Autoscan);
    m_poll->OpenPort();
    m_view.setLastWeighingText(InitialLastWeighingText.toString());
    m_poll->Start(m_settings.Autoscan);
    m_view.ApplyButtons(m_buttons.Buttons);
    m_view.ApplyShowComponents(m_settings.ShowComponents);

    m_running = true;
    m_alarm->start();
    return {};
}

QString ProgramCore::openWeighingsTable() {
    const bool existed = m_table->Exists();
    if (!existed)
        WriteLog(QStringLiteral("Database: Table does not exist. Creating new table."));
    const OpenResult opened = m_table->Open();
    if (!opened.ok()) {
        WriteLog(QStringLiteral("Database: ") + opened.error);
        return tableOpenFailureText(m_table->fileName(), opened.fault);
    }
    if (existed)
        WriteLog(QStringLiteral("Database: Table opened."));
    return {};
}

void ProgramCore::applySettings(const AppSettings& settings) {
    m_settings = settings;
    m_poll->setPortSettings(settings.Port);
    m_poll->setStoredCounter(settings.StoredCounter);
    m_buttons.Buttons = settings.Buttons;
    m_view.applyWindowSettings(settings);
}

AppSettings ProgramCore::settings() const {
    AppSettings s = m_settings;
    s.Port = m_poll->portSettings();
    s.StoredCounter = m_poll->state().StoredCounter;
    s.Buttons = m_buttons.Buttons;
    m_view.collectWindowSettings(s);
    return s;
}

void ProgramCore::FormClose() {
    if (m_closed)
        return;
    m_closed = true;
    // Nothing may run on while the settings' error box is open, nor touch the port after it.
    m_alarm->stop();
    m_poll->Stop();
    m_notices->shutDown();
    if (m_exitLogDue)
        WriteLog(QStringLiteral("* Program exit."));

    if (m_running) {
        m_running = false;
        if (const QString error = saveSettings(m_paths.IniFileName, settings()); !error.isEmpty()) {
            qWarning("KDM: %s", qUtf8Printable(error));
            m_view.showSettingsWriteError(error);
        }
        m_port->Close();
    }
    m_table->Close();
}

void ProgramCore::AlarmTimer() {
    if (!m_running)
        return;
    qCDebug(lcShell) << "Alarm tick";
    m_buttons.AlarmTimer(now(), [this](int button, qint32 command) {
        return m_poll->dispatchAlarmCommand(button, command);
    });
    m_poll->Watchdog();
}

void ProgramCore::tbSuperClick() {
    m_poll->tbSuperClick();
}

void ProgramCore::New1Click() {
    m_poll->New1Click();
}

bool ProgramCore::tbexClick(int button) {
    if (button < 1 || button > ExtraButtonCount)
        return false;
    return m_poll->tbexClick(m_buttons.Buttons[size_t(button - 1)].Command);
}

void ProgramCore::beginPortSetup() {
    m_poll->beginPortSetup();
}

void ProgramCore::endPortSetup() {
    m_poll->endPortSetup();
}

void ProgramCore::mDeviceAutostartClick(bool checked) {
    m_settings.Autoscan = checked;
}

void ProgramCore::bHideClick() {
    m_settings.ShowComponents = !m_settings.ShowComponents;
    m_view.ApplyShowComponents(m_settings.ShowComponents);
}

void ProgramCore::Table1AfterDelete() {
    WriteLog(QStringLiteral("Database: record deleted"));
}

QString ProgramCore::portDeviceName(int index) const {
    // Off Windows, COMn is the device named in [Ports] of the configuration file; the program
    // never writes that section.
    const ProfileFile file(m_paths.IniFileName);
    return file.ReadString(QStringLiteral("Ports"), QStringLiteral("COM%1").arg(index + 1),
                           TComPort::defaultPortName(index));
}

void ProgramCore::writeStoredCounter(quint32 StoredCounter) {
    if (const QString error = ::writeStoredCounter(m_paths.IniFileName, StoredCounter);
        !error.isEmpty())
        qWarning("KDM: %s", qUtf8Printable(error));
}

void ProgramCore::WriteLog(const QString& text) {
    if (m_seams.writeLog)
        m_seams.writeLog(text);
    else
        ::WriteLog(text);
}
