#pragma once

#include "base/portsettings.h"
#include "link/modbus.h"
#include "link/pollstate.h"
#include "link/terminalimage.h"

#include <QObject>
#include <QString>

#include <array>
#include <optional>

class ButtonAlarms;
class PollEventLog;
class PollSettingsWriter;
class PollTimers;
class PollView;
class SerialPort;
class WeighingsSink;

// Everything the poll cycle talks to. The port's byteReceived must be connected to OnCommByte by
// the owner; the timers' ticks to TimerSendTimer, TimerTimeoutTimer and TimerMBTimer (QtPollTimers
// does that).
struct PollCycleLinks {
    SerialPort& port;
    PollTimers& timers;
    PollView& view;
    WeighingsSink& sink;
    PollSettingsWriter& settings;
    PollEventLog& log;
    ButtonAlarms& alarms;
};

// Everything the poll cycle keeps between two handlers. The fields carry the names the terminal's
// documentation and the rest of the program use; zero or false at start unless said otherwise.
struct PollCycleState {
    qint32 PollIndex = 0; // TerminalImage row the current request reads
    ::PollState PollState = ::PollState::psIdle;
    ::RxBuffer RxBuffer{}; // reply bytes, newest at index 0
    qint32 RxCount = 0;    // bytes of the current reply; may exceed the 128 kept
    ::LinkState LinkState = ::LinkState::NoAnswer;
    bool Polling = false;     // the operator switched collection on
    bool TotalsDirty = false; // all component totals must be read again
    bool CommandPending = false;
    qint32 CommandCode = 0;    // index of the input whose start command is pending
    qint32 AlarmButton = 0;    // 1..8: the button whose alarm issued the command; 0 by hand
    quint32 StoredCounter = 0; // number of the last weighing stored ([ID] ID_old)
    TerminalData Terminal;     // CurrentWeight, the record image, InputBits, OutputBits, ack

    // Reply handling.
    quint32 FailCount = 0;          // consecutive failed exchanges
    quint32 PollCycleCount = 0;     // weight replies since the last counters read
    quint32 TotalsRefreshCount = 0; // counters replies since the last periodic re-read of totals
    quint32 BatchTotal = 0;
    quint32 BatchRemaining = 0;
    bool BatchFirstReply = false;
    qint32 LastComponent = 0;    // Component of the last weighing stored
    float LastSeenWeight = 0.0f; // Weight of the newest weighing as last stored or checked
};

// The poll cycle with the terminal: opening the port, switching collection on and off, one request
// per TimerSend tick, reply framing by silence, and the reply handling that moves PollState on,
// reads new weighings in batches and hands them to the weighings table, keeps the component totals
// current and completes commands. Everything runs on the user-interface thread, driven by the
// three timers and the received bytes; the handlers are public so tests call them directly.
//
// What the operator must be told in a box is emitted as a signal after the handler has made all
// its state changes; the receiver shows it later, never from inside the handler or a port call.
class PollCycle : public QObject {
    Q_OBJECT
public:
    // The baud rates of BaudrateIndex 0..8.
    static constexpr std::array<qint32, 9> BaudRates = {4800,  9600,  14400, 19200, 28800,
                                                        38400, 57600, 76800, 115200};

    explicit PollCycle(PollCycleLinks links, QObject* parent = nullptr);
    ~PollCycle() override;

    // The port, speed, terminal and request interval to use from the next opening of the port on;
    // the interval applies at once.
    void setPortSettings(const PortSettings& settings);
    const PortSettings& portSettings() const { return m_portSettings; }
    // The number of the last weighing stored, as the owner knows it at start-up.
    void setStoredCounter(quint32 counter);

    // Start-up, after OpenPort: switches collection on when `autoscan` is set and the port opened,
    // asks for all component totals, and brings timers and controls in line.
    void Start(bool autoscan);
    // Close: collection ends without a log line, the timers stop, and no byte still arriving is
    // taken for a reply. The port stays as it is; the owner closes it.
    void Stop();

    // Opens the port with ComportIndex and BaudrateIndex and shows the outcome in status panel 0.
    // A BaudrateIndex outside 0..8 counts as a port that cannot be opened.
    void OpenPort();
    // Brings timers, PollState and controls in line with Polling.
    void ApplyPolling();
    // tbSuper / "Начать опрос" / "Остановить опрос": switches collection and logs it.
    void tbSuperClick();
    // "Обновить данные": all component totals are read again at the next weight reply.
    void New1Click();
    // "Интерфейс RS-232", before the modal dialog: stops collection and closes the port.
    void beginPortSetup();
    // After the dialog (OK or Cancel): reopens the port and resumes collection if it ran before.
    void endPortSetup();

    // Manual press of an extra button whose command is `commandCode`. Refused (commandRefused,
    // nothing changes, false) while a command is being sent; otherwise the command is marked
    // pending and true is returned, so the window shows the busy cursor on the button.
    bool tbexClick(qint32 commandCode);
    // An alarm of button `button` (1..8) fired with command `commandCode`: switches to sending it
    // unless a command is being sent (false; the caller tries again at its next tick).
    bool dispatchAlarmCommand(int button, qint32 commandCode);

    // Send step: one request for the current PollState.
    void TimerSendTimer();
    // One received byte.
    void OnCommByte(quint8 b);
    // End of a reply (TimerMB) or of a wait without reply (TimerTimeout).
    void TimerProcessMessage();
    // TimerMB tick: first takes the bytes the port already holds (the event loop may run the timer
    // before the port's read notifier), then handles the reply.
    void TimerMBTimer();
    // TimerTimeout tick: the same check; if the port did hold bytes the reply has begun after all,
    // and TimerMB ends it instead.
    void TimerTimeoutTimer();
    // Last step of the Alarm tick: restarts a stalled cycle while collection is on.
    void Watchdog();

    // The state as the handlers left it.
    const PollCycleState& state() const { return m_state; }
    // Puts the cycle into `state` as if its handlers had brought it there. For tests, which start
    // a transition from a chosen state; the program itself never calls it.
    void restoreState(const PollCycleState& state) { m_state = state; }

signals:
    // A command was acknowledged by the terminal: the confirmation box with this caption and text.
    void commandCompleted(const QString& caption, const QString& text);
    // A request could not be written, or the port vanished: the warning box
    // "Невозможно осуществить запись в последовательный порт.".
    void portWriteFailed();
    // A press was refused because a command is being sent: the box
    // "Выполняется пуск. Дождитесь окончания операции.".
    void commandRefused();
    // Weighings can no longer be stored (or corrected); `text` says which and why. Emitted once
    // per failure episode; the cycle goes on retrying.
    void storageFailed(const QString& text);

private:
    void fail(QStringView reason);
    void succeed();
    void stepReadWeight();
    void stepReadComponent();
    void stepReadCounters();
    void stepReadWeighing();
    void stepCheckLastWeighing();
    void stepSendCommand();
    bool storeNextWeighing(int slot);
    void correctLastWeighing(float weight);
    // Logs and shows `text` unless this kind of failure was reported already (`failing`).
    void reportStorageFailure(bool& failing, const QString& text);
    void setLinkState(::LinkState state);

    PollCycleState m_state;
    PortSettings m_portSettings;
    SerialPort& m_port;
    PollTimers& m_timers;
    PollView& m_view;
    WeighingsSink& m_sink;
    PollSettingsWriter& m_settings;
    PollEventLog& m_log;
    ButtonAlarms& m_alarms;
    // Collection ran when the port settings dialog was opened.
    bool m_resumeAfterPortSetup = false;
    // Storing (correcting) failed and the operator was told; cleared by the next success.
    bool m_storeFailing = false;
    bool m_correctFailing = false;
    // The link was down since the counters were last read: time has passed unobserved, and the
    // terminal may have moved its ring on, so slots chosen from those counters may hold newer
    // weighings. Cleared by the next counters reply.
    bool m_countersStale = false;

    // The reply the last request asks for: its function and, for a read, the byte count it
    // carries. Modbus RTU replies name no request, so a late reply to an earlier, repeated request
    // could be taken for the next one (a ring slot stored under the next number). Bytes that
    // arrive while no reply is awaited are dropped, and a reply of another shape is rejected.
    struct AwaitedReply {
        ModbusFunction function{};
        int byteCount = -1; // -1: not checked (the command write's echo)
    };
    std::optional<AwaitedReply> m_awaited;

    // The request the send step issues in a poll state: function, start address, quantity.
    struct Request {
        ModbusFunction function{};
        qint32 start = 0;
        qint32 quantity = 0;
    };
    std::optional<Request> requestOf(PollState state) const;
    // Frames and writes `request`; a port lost meanwhile is reported by the caller, once.
    SendResult send(const Request& request);
    bool m_sending = false;
    static AwaitedReply awaitedReplyOf(const Request& request);
    bool replyFitsRequest() const;
};
