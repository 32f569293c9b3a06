#include "link/pollcycle.h"

#include "base/alarmflags.h"
#include "commands/commandword.h"
#include "link/linklog.h"
#include "link/polltimers.h"
#include "link/pollview.h"
#include "link/replytexts.h"
#include "link/serialport.h"

#include <QScopedValueRollback>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

using enum PollState;
// From the fourth consecutive failure on the link counts as down.
constexpr quint32 FailuresUntilDown = 4;
// Weight replies between two counters reads; coils and inputs are read after the 2nd and 5th.
constexpr quint32 CoilsAtCycle = 2;
constexpr quint32 InputsAtCycle = 5;
constexpr quint32 CountersAtCycle = 8;
// Every 102nd counters reply all component totals are read again.
constexpr quint32 TotalsRefreshEvery = 100;

bool isComponentRow(int index) {
    return index >= 0 && index < TerminalMap::ComponentCount;
}

// Weights compared as the terminal keeps them; a NaN on either side counts as unchanged.
bool weightChanged(float a, float b) {
    if (std::isnan(a) || std::isnan(b))
        return false;
    return a != b;
}

} // namespace

PollCycle::PollCycle(PollCycleLinks links, QObject* parent)
    : QObject(parent)
    , m_port(links.port)
    , m_timers(links.timers)
    , m_view(links.view)
    , m_sink(links.sink)
    , m_settings(links.settings)
    , m_log(links.log)
    , m_alarms(links.alarms) {
    m_timers.setInterval(PollTimer::TimerTimeout, TimeoutInterval);
    m_timers.setInterval(PollTimer::TimerMB, ReplySilenceInterval);
    // A port that vanished is reported like a refused send; the next send tick reopens it.
    connect(&m_port, &SerialPort::portLost, this, [this] {
        // Lost while a request is being sent: the send step reports it, once, when it is done.
        if (!m_sending)
            emit portWriteFailed();
    });
}

PollCycle::~PollCycle() = default;

void PollCycle::setPortSettings(const PortSettings& settings) {
    m_portSettings = settings;
    m_timers.setInterval(PollTimer::TimerSend, settings.SendInterval);
}

void PollCycle::setStoredCounter(quint32 counter) {
    m_state.StoredCounter = counter;
}

void PollCycle::Start(bool autoscan) {
    m_state.CommandPending = false;
    m_state.Polling = autoscan && m_port.IsOpen();
    m_state.TotalsDirty = true;
    ApplyPolling();
}

void PollCycle::Stop() {
    m_state.Polling = false;
    m_state.PollState = psIdle;
    m_awaited.reset();
    m_timers.stop(PollTimer::TimerSend);
    m_timers.stop(PollTimer::TimerTimeout);
    m_timers.stop(PollTimer::TimerMB);
}

void PollCycle::OpenPort() {
    const bool knownBaudRate = m_portSettings.BaudrateIndex >= 0 &&
                               m_portSettings.BaudrateIndex < qint32(BaudRates.size());
    const qint32 baudRate = knownBaudRate ? BaudRates[size_t(m_portSettings.BaudrateIndex)] : 0;
    // A negative index wraps to a large one, which Open refuses like any index above 8.
    const bool opened =
        knownBaudRate && m_port.Open(quint32(m_portSettings.ComportIndex), baudRate, 0);
    if (opened) {
        m_state.RxCount = 0;
        m_view.setCollectionAvailable(true);
        m_view.setPortStatusText(portStatusText(m_portSettings.ComportIndex, baudRate));
    } else {
        m_view.setCollectionAvailable(false);
        m_view.setPortStatusText(PortUnavailableText.toString());
    }
}

void PollCycle::ApplyPolling() {
    if (m_state.Polling && m_port.IsOpen()) {
        m_state.PollState = psReadWeight;
        m_state.RxCount = 0;
        m_timers.start(PollTimer::TimerSend);
        m_view.setCollectionRunning(true);
        return;
    }
    // Collection switched on while the port is closed stays on: the controls show it (so that
    // "Начать опрос" is not offered to switch it off again), and the send step starts it as soon
    // as the port opens.
    m_state.PollState = psIdle;
    m_timers.stop(PollTimer::TimerSend);
    m_timers.stop(PollTimer::TimerTimeout);
    m_timers.stop(PollTimer::TimerMB);
    setLinkState(LinkState::Stopped);
    m_view.setCollectionRunning(m_state.Polling);
    m_view.setWeightText(NoWeightText.toString());
    m_view.setLinkStatusText(LinkStatusStopped.toString());
    m_view.setExchangeLamp(false);
}

void PollCycle::tbSuperClick() {
    m_state.Polling = !m_state.Polling;
    m_log.WriteLog((m_state.Polling ? LogCollectionResumed : LogCollectionStopped).toString());
    ApplyPolling();
}

void PollCycle::New1Click() {
    m_state.TotalsDirty = true;
}

void PollCycle::beginPortSetup() {
    m_resumeAfterPortSetup = m_state.Polling;
    if (m_state.Polling) {
        m_state.Polling = false;
        ApplyPolling();
    }
    m_port.Close();
}

void PollCycle::endPortSetup() {
    OpenPort();
    if (m_resumeAfterPortSetup) {
        m_resumeAfterPortSetup = false;
        m_state.Polling = true;
        ApplyPolling();
    }
}

bool PollCycle::tbexClick(qint32 commandCode) {
    if (m_state.PollState == psSendCommand) {
        emit commandRefused();
        return false;
    }
    if (m_state.PollState == psIdle) {
        m_state.PollState = psSendCommand;
        m_state.RxCount = 0;
        m_timers.start(PollTimer::TimerSend);
    }
    m_state.Terminal.CommandAcknowledged = false;
    m_state.CommandPending = true;
    m_state.CommandCode = commandCode;
    return true;
}

bool PollCycle::dispatchAlarmCommand(int button, qint32 commandCode) {
    if (m_state.PollState == psSendCommand)
        return false;
    m_state.PollState = psSendCommand;
    m_state.Terminal.CommandAcknowledged = false;
    m_timers.start(PollTimer::TimerSend);
    m_state.CommandCode = commandCode;
    m_state.AlarmButton = button;
    return true;
}

void PollCycle::TimerSendTimer() {
    qCDebug(lcLink) << "TimerSend tick";
    if (!m_port.IsOpen()) {
        OpenPort();
        if (!m_port.IsOpen())
            return;
        // Collection was switched on while the port could not be opened: start it now.
        if (m_state.Polling && m_state.PollState == psIdle)
            ApplyPolling();
    }

    if (m_state.PollState == psReadCounters)
        m_state.PollIndex = TerminalMap::CountersRow;
    const std::optional<Request> request = requestOf(m_state.PollState);
    SendResult sent;
    if (request) {
        sent = send(*request);
        m_view.appendConsoleLine(sent.trace);
    }
    // A frame that did not go out whole gets no reply.
    m_awaited = request && !sent.failed ? std::optional(awaitedReplyOf(*request)) : std::nullopt;
    // Armed also when nothing went out: such a tick ends as "no response".
    m_timers.start(PollTimer::TimerTimeout);
    m_view.setExchangeLamp(false);
    if (sent.failed)
        emit portWriteFailed();
}

SendResult PollCycle::send(const Request& request) {
    const QScopedValueRollback sending(m_sending, true);
    if (request.function == ModbusFunction::WriteMultipleRegisters) {
        const std::array<quint16, 1> words = {CommandWord(m_state.CommandCode)};
        return SendWriteRequest(m_port, m_portSettings.DeviceNumber, request.start,
                                request.quantity, words);
    }
    return SendReadRequest(m_port, m_portSettings.DeviceNumber, request.function, request.start,
                           request.quantity);
}

void PollCycle::OnCommByte(quint8 b) {
    // No request is waiting for these bytes: they answer an earlier one, already handled.
    if (!m_awaited)
        return;
    std::copy_backward(m_state.RxBuffer.begin(), m_state.RxBuffer.end() - 1,
                       m_state.RxBuffer.end());
    m_state.RxBuffer[0] = b;
    // Counts on past the 128 bytes kept (CheckReply rejects such a reply), never past its range.
    if (m_state.RxCount < std::numeric_limits<qint32>::max())
        ++m_state.RxCount;
    m_timers.stop(PollTimer::TimerMB);
    m_timers.setInterval(PollTimer::TimerMB, ReplySilenceInterval);
    m_timers.start(PollTimer::TimerMB);
    m_timers.stop(PollTimer::TimerTimeout);
}

void PollCycle::TimerMBTimer() {
    m_port.ReadPending();
    TimerProcessMessage();
}

void PollCycle::TimerTimeoutTimer() {
    const qint32 before = m_state.RxCount;
    m_port.ReadPending();
    if (m_state.RxCount != before)
        return;
    TimerProcessMessage();
}

void PollCycle::TimerProcessMessage() {
    m_timers.stop(PollTimer::TimerMB);
    m_timers.stop(PollTimer::TimerTimeout);
    m_timers.stop(PollTimer::TimerSend);
    if (m_state.Polling)
        m_timers.start(PollTimer::TimerSend);

    if (m_state.RxCount == 0) {
        fail(ConsoleNoResponse);
        return;
    }
    if (!replyFitsRequest()) {
        // Traced like any reply, but decoded into a scratch copy: nothing of it is kept.
        TerminalData scratch = m_state.Terminal;
        m_view.appendConsoleLine(
            CheckReply(m_state.RxBuffer, m_state.RxCount, psIdle, -1, scratch).trace);
        fail(ConsoleIncorrectData);
        return;
    }
    const ReplyCheck check = CheckReply(m_state.RxBuffer, m_state.RxCount, m_state.PollState,
                                        m_state.PollIndex, m_state.Terminal);
    m_view.appendConsoleLine(check.trace);
    if (!check.accepted) {
        fail(ConsoleIncorrectData);
        return;
    }
    m_awaited.reset();
    succeed();
}

std::optional<PollCycle::Request> PollCycle::requestOf(PollState state) const {
    switch (state) {
    case psReadCoils:
        return Request{ModbusFunction::ReadCoils, TerminalMap::IoStart, TerminalMap::IoQuantity};
    case psReadDiscreteInputs:
        return Request{ModbusFunction::ReadDiscreteInputs, TerminalMap::IoStart,
                       TerminalMap::IoQuantity};
    case psReadWeight:
        return Request{ModbusFunction::ReadHoldingRegisters, TerminalMap::WeightRegister,
                       TerminalMap::WeightQuantity};
    case psReadComponent:
    case psReadWeighing:
    case psCheckLastWeighing:
        return Request{ModbusFunction::ReadHoldingRegisters,
                       TerminalMap::recordStartAddress(m_state.PollIndex),
                       TerminalMap::RecordQuantity};
    case psReadCounters:
        return Request{ModbusFunction::ReadHoldingRegisters, TerminalMap::CountersRegister,
                       TerminalMap::CountersQuantity};
    case psSendCommand:
        return Request{ModbusFunction::WriteMultipleRegisters, TerminalMap::CommandRegister,
                       TerminalMap::CommandQuantity};
    default:
        return std::nullopt; // psIdle and unknown states send nothing
    }
}

PollCycle::AwaitedReply PollCycle::awaitedReplyOf(const Request& request) {
    switch (request.function) {
    case ModbusFunction::ReadCoils:
    case ModbusFunction::ReadDiscreteInputs:
        return {request.function, (request.quantity + 7) / 8}; // one bit per coil
    case ModbusFunction::ReadHoldingRegisters:
        return {request.function, 2 * request.quantity}; // two bytes per register
    default:
        return {request.function, -1}; // the write's echo carries no byte count
    }
}

bool PollCycle::replyFitsRequest() const {
    // Too short or too long to tell: the reply check rejects it on its own.
    if (!m_awaited || m_state.RxCount < 3 || m_state.RxCount > qint32(m_state.RxBuffer.size()))
        return true;
    const quint8 function = m_state.RxBuffer[size_t(m_state.RxCount - 2)];
    if ((function & 0x7F) != quint8(m_awaited->function))
        return false;
    if (function & 0x80)
        return true; // an exception reply to this request; the reply check rejects it
    return m_awaited->byteCount < 0 ||
           m_state.RxBuffer[size_t(m_state.RxCount - 3)] == m_awaited->byteCount;
}

void PollCycle::Watchdog() {
    if (!m_state.Polling || m_timers.isActive(PollTimer::TimerSend) ||
        m_timers.isActive(PollTimer::TimerTimeout))
        return;
    m_log.WriteLog(LogWatchdogRestart.toString());
    m_timers.start(PollTimer::TimerSend);
}

void PollCycle::fail(QStringView consoleLine) {
    if (m_state.FailCount < std::numeric_limits<quint32>::max())
        ++m_state.FailCount;
    m_view.appendConsoleLine(consoleLine.toString());
    if (m_state.FailCount >= FailuresUntilDown) {
        // The link is down: time passes unobserved and the terminal may move its ring on. A
        // single bad or split reply is no outage: the batch goes on with the joined reply.
        m_countersStale = true;
        // Until then the bytes of a rejected reply stay in front of the next ones, so a reply split
        // by a pause is accepted once its rest has arrived.
        m_state.RxCount = 0;
        setLinkState(LinkState::NoAnswer);
        m_view.setLinkStatusText(LinkStatusNoAnswer.toString());
        m_view.setWeightText(NoWeightText.toString());
    }
    if (m_state.FailCount == FailuresUntilDown)
        m_log.WriteLog(LogNoResponse.toString());
}

void PollCycle::succeed() {
    m_state.RxCount = 0;
    if (m_state.FailCount >= FailuresUntilDown)
        m_log.WriteLog(LogResumed.toString());
    m_state.FailCount = 0;
    m_view.setExchangeLamp(true);
    setLinkState(LinkState::Exchanging);

    switch (m_state.PollState) {
    case psReadCoils:
        m_view.showOutputs(m_state.Terminal.OutputBits);
        m_state.PollState = psReadWeight;
        break;
    case psReadDiscreteInputs:
        m_view.showInputs(m_state.Terminal.InputBits);
        m_state.PollState = psReadWeight;
        break;
    case psReadWeight:
        stepReadWeight();
        break;
    case psReadComponent:
        stepReadComponent();
        break;
    case psReadCounters:
        stepReadCounters();
        break;
    case psReadWeighing:
    case psCheckLastWeighing:
        if (m_countersStale) {
            // After a failed exchange this reply may show a ring that moved on since the
            // counters were read: it is not used, the counters are read again and the batch (or
            // the check) starts afresh from the last weighing stored.
            m_state.PollState = psReadCounters;
            break;
        }
        if (m_state.PollState == psReadWeighing)
            stepReadWeighing();
        else
            stepCheckLastWeighing();
        break;
    case psSendCommand:
        stepSendCommand();
        break;
    default:
        break;
    }
}

void PollCycle::stepReadWeight() {
    m_view.setWeightText(WeightText(m_state.Terminal.CurrentWeight()));
    if (m_state.CommandPending) {
        m_state.PollState = psSendCommand;
        return;
    }
    if (m_state.TotalsDirty) {
        m_state.PollState = psReadComponent;
        m_state.PollIndex = 0;
    } else {
        ++m_state.PollCycleCount;
        const bool ioTicked = m_view.isIoStateTicked();
        if (m_state.PollCycleCount == CoilsAtCycle && ioTicked) {
            m_state.PollState = psReadCoils;
        } else if (m_state.PollCycleCount == InputsAtCycle && ioTicked) {
            m_state.PollState = psReadDiscreteInputs;
        } else if (m_state.PollCycleCount >= CountersAtCycle) {
            m_state.PollState = psReadCounters;
            m_state.PollCycleCount = 0;
        }
    }
    m_view.setLinkStatusText(LinkStatusCollecting.toString());
}

void PollCycle::stepReadComponent() {
    if (isComponentRow(m_state.PollIndex)) {
        const ComponentRowTexts texts =
            componentRowTexts(m_state.Terminal.image.componentTotal(m_state.PollIndex));
        m_view.setComponentRow(m_state.PollIndex, texts.sum, texts.count, texts.date);
    }
    ++m_state.PollIndex;
    if (m_state.PollIndex >= TerminalMap::ComponentCount || !m_state.TotalsDirty) {
        m_state.PollState = m_state.TotalsDirty ? psReadCounters : psReadWeight;
        m_state.TotalsDirty = false;
    }
    m_view.setLinkStatusText(LinkStatusReadingTotals.toString());
    if (m_state.CommandPending)
        m_state.PollState = psSendCommand;
}

void PollCycle::stepReadCounters() {
    if (m_state.CommandPending) {
        m_state.PollState = psSendCommand;
        return;
    }
    if (m_state.TotalsRefreshCount > TotalsRefreshEvery) {
        m_state.TotalsRefreshCount = 0;
        m_state.TotalsDirty = true;
    } else {
        ++m_state.TotalsRefreshCount;
    }

    const std::optional<int> head = m_state.Terminal.image.validRingHead();
    if (!head) {
        // The counters name no ring slot: nothing can be read from the ring with them.
        m_state.PollState = psReadWeight;
        m_view.appendConsoleLine(QStringLiteral("Counters ignored: ring head %1 is outside 0..39.")
                                     .arg(m_state.Terminal.image.RingHead()));
        return;
    }
    const int h = *head;
    const quint32 W = m_state.Terminal.image.WeighingCounter();
    m_countersStale = false;
    if (W < m_state.StoredCounter) {
        // The terminal's counter went back (a reset): its numbers start again from W.
        m_state.StoredCounter = W;
        m_sink.refreshRecordCount(m_state.StoredCounter);
    }
    if (quint64(m_state.StoredCounter) + TerminalMap::RingSize < W)
        m_state.StoredCounter = W - TerminalMap::RingSize; // older weighings have left the ring
    m_state.BatchTotal = m_state.BatchRemaining = W - m_state.StoredCounter;
    if (m_state.BatchRemaining != 0) {
        m_state.PollState = psReadWeighing;
        m_state.BatchFirstReply = true;
        m_state.PollIndex = TerminalMap::ringRow(WrapRingIndex(h - int(m_state.BatchRemaining)));
        m_view.setLinkStatusText(batchProgressText(0, m_state.BatchTotal));
    } else {
        m_state.PollState = psCheckLastWeighing;
        m_state.PollIndex = TerminalMap::ringRow(h);
    }
}

void PollCycle::stepReadWeighing() {
    // The reply held the ring slot of row m_state.PollIndex; the next request reads the following
    // slot.
    m_state.PollIndex = nextRingRow(m_state.PollIndex);
    const std::optional<int> head = m_state.Terminal.image.validRingHead();
    if (!head) {
        m_state.PollState = psReadWeight;
        return;
    }
    const int h = *head;

    if (m_state.BatchFirstReply) {
        m_state.BatchFirstReply = false;
        // The slot before the oldest new weighing holds weighing number m_state.StoredCounter. Its
        // weight goes to the table's last row only when that row is this very weighing: not in a
        // batch of 40 (the slot then holds the newest weighing), not after the counter went back or
        // when the last row came from elsewhere.
        const bool holdsLastStored = m_state.BatchRemaining != 0 &&
                                     m_state.BatchRemaining < quint32(TerminalMap::RingSize) &&
                                     m_state.StoredCounter != 0;
        if (holdsLastStored && m_sink.lastStoredId() == m_state.StoredCounter) {
            const int slot = WrapRingIndex(h - int(m_state.BatchRemaining));
            correctLastWeighing(m_state.Terminal.image.weighing(slot).Weight);
        }
        return;
    }

    if (m_state.BatchRemaining == 0) {
        m_state.PollState = psReadWeight;
        return;
    }
    const int slot = WrapRingIndex(h - int(m_state.BatchRemaining - 1));
    if (!storeNextWeighing(slot))
        return;
    if (m_state.BatchRemaining == 0) {
        m_state.PollState = psReadComponent;
        // A component the terminal cannot mean names no row: read them all.
        if (!isComponentRow(m_state.LastComponent))
            m_state.TotalsDirty = true;
        m_state.PollIndex = m_state.TotalsDirty ? 0 : m_state.LastComponent;
    }
    m_view.setLinkStatusText(
        batchProgressText(m_state.BatchTotal - m_state.BatchRemaining, m_state.BatchTotal));
}

bool PollCycle::storeNextWeighing(int slot) {
    const WeighingRecord record = m_state.Terminal.image.weighing(slot);
    const quint32 id = m_state.StoredCounter + 1;
    const StoreResult stored =
        m_sink.StoreWeighing(record, id, m_state.Terminal.image.WeighingCounter());
    if (!stored.ok()) {
        // Not counted: the batch ends, and the next counters read starts it again from this very
        // weighing, so it is stored exactly once when the table takes it.
        m_state.BatchRemaining = 0;
        m_state.PollState = psReadWeight;
        reportStorageFailure(
            m_storeFailing,
            QStringLiteral("Database: weighing %1 not stored: %2").arg(id).arg(stored.error));
        return false;
    }
    if (m_storeFailing) {
        m_storeFailing = false;
        m_log.WriteLog(LogStorageResumed.toString());
    }
    --m_state.BatchRemaining;
    m_state.StoredCounter = id;
    m_settings.writeStoredCounter(m_state.StoredCounter);
    m_view.setLastWeighingText(LastWeighingText(record));
    if (!m_state.TotalsDirty && record.Component != m_state.LastComponent)
        m_state.TotalsDirty = true;
    m_state.LastComponent = record.Component;
    // The weighing is seen: a later change of the newest slot's weight is measured against it
    // (else a change back to the weight seen before the batch would go unnoticed).
    if (!std::isnan(record.Weight))
        m_state.LastSeenWeight = record.Weight;
    return true;
}

void PollCycle::stepCheckLastWeighing() {
    const std::optional<int> head = m_state.Terminal.image.validRingHead();
    const WeighingRecord newest = head ? m_state.Terminal.image.weighing(*head) : WeighingRecord{};
    if (head && weightChanged(newest.Weight, m_state.LastSeenWeight)) {
        m_state.LastSeenWeight = newest.Weight;
        m_view.setLastWeighingText(LastWeighingText(newest));
        m_state.PollState = psReadComponent;
        if (isComponentRow(newest.Component)) {
            m_state.PollIndex = newest.Component;
        } else {
            m_state.TotalsDirty = true;
            m_state.PollIndex = 0;
        }
        // The slot holds weighing number W; only that weighing's own row may take its weight.
        const quint32 W = m_state.Terminal.image.WeighingCounter();
        if (W == m_state.StoredCounter && m_state.StoredCounter != 0 &&
            m_sink.lastStoredId() == m_state.StoredCounter)
            correctLastWeighing(newest.Weight);
    } else {
        m_state.PollState = psReadWeight;
    }
    if (m_state.CommandPending)
        m_state.PollState = psSendCommand;
}

void PollCycle::stepSendCommand() {
    if (!m_state.Terminal.CommandAcknowledged)
        return; // not the command's echo: the command is written again at the next tick
    m_state.CommandPending = false;
    if (m_state.Polling) {
        m_state.PollState = psReadComponent;
        m_state.TotalsDirty = true;
        m_state.PollIndex = 0;
    } else {
        m_state.PollState = psIdle;
        m_timers.stop(PollTimer::TimerSend);
    }

    const int button = m_state.AlarmButton;
    std::optional<ButtonAlarm> alarm;
    if (button != 0) {
        alarm = m_alarms.buttonAlarm(button);
        m_alarms.clearAlarmFired(button);
        m_state.AlarmButton = 0;
    }
    const QString text = commandCompletedText(m_state.CommandCode, button, alarm);
    m_log.WriteLog(text);
    m_view.resetButtonCursors();
    emit commandCompleted(CommandCompletedCaption.toString(), text);
}

void PollCycle::correctLastWeighing(float weight) {
    const StoreResult corrected = m_sink.CorrectLastWeighing(weight);
    if (corrected.ok()) {
        m_correctFailing = false;
        return;
    }
    reportStorageFailure(
        m_correctFailing,
        QStringLiteral("Database: last weighing not corrected: %1").arg(corrected.error));
}

void PollCycle::reportStorageFailure(bool& failing, const QString& text) {
    qCWarning(lcLink) << text;
    if (failing)
        return;
    failing = true;
    m_log.WriteLog(text);
    emit storageFailed(text);
}

void PollCycle::setLinkState(LinkState state) {
    m_state.LinkState = state;
    m_view.setLinkState(state);
}
