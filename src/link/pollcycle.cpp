#include "link/pollcycle.h"

#include "base/alarmflags.h"
#include "commands/commandword.h"
#include "link/linklog.h"
#include "link/polltimers.h"
#include "link/pollview.h"
#include "link/replytexts.h"
#include "link/serialport.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr qint32 ReadCoilsFunction = 1;
constexpr qint32 ReadDiscreteInputsFunction = 2;
constexpr qint32 ReadHoldingRegistersFunction = 3;
constexpr qint32 WriteMultipleRegistersFunction = 16;
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
}

PollCycle::~PollCycle() = default;

void PollCycle::Start() {
    OpenPort();
    CommandPending = false;
    Polling = Autoscan && m_port.IsOpen();
    TotalsDirty = true;
    ApplyPolling();
}

void PollCycle::OpenPort() {
    const bool knownBaudRate = BaudrateIndex >= 0 && BaudrateIndex < qint32(BaudRates.size());
    const qint32 baudRate = knownBaudRate ? BaudRates[size_t(BaudrateIndex)] : 0;
    // A negative index wraps to a large one, which Open refuses like any index above 8.
    const bool opened = knownBaudRate && m_port.Open(quint32(ComportIndex), baudRate, 0);
    if (opened) {
        RxCount = 0;
        m_view.setCollectionAvailable(true);
        m_view.setPortStatusText(portStatusText(ComportIndex, baudRate));
    } else {
        m_view.setCollectionAvailable(false);
        m_view.setPortStatusText(PortUnavailableText.toString());
    }
}

void PollCycle::ApplyPolling() {
    if (Polling && m_port.IsOpen()) {
        PollState = psReadWeight;
        RxCount = 0;
        m_timers.start(PollTimer::TimerSend);
        m_view.setCollectionRunning(true);
        return;
    }
    // Collection switched on while the port is closed stays on: the controls show it (so that
    // "Начать опрос" is not offered to switch it off again), and the send step starts it as soon
    // as the port opens.
    PollState = psIdle;
    m_timers.stop(PollTimer::TimerSend);
    m_timers.stop(PollTimer::TimerTimeout);
    m_timers.stop(PollTimer::TimerMB);
    setLinkState(2);
    m_view.setCollectionRunning(Polling);
    m_view.setWeightText(NoWeightText.toString());
    m_view.setLinkStatusText(LinkStatusStopped.toString());
    m_view.setExchangeLamp(false);
}

void PollCycle::tbSuperClick() {
    Polling = !Polling;
    m_log.WriteLog((Polling ? LogCollectionResumed : LogCollectionStopped).toString());
    ApplyPolling();
}

void PollCycle::New1Click() {
    TotalsDirty = true;
}

void PollCycle::beginPortSetup() {
    m_resumeAfterPortSetup = Polling;
    if (Polling) {
        Polling = false;
        ApplyPolling();
    }
    m_port.Close();
}

void PollCycle::endPortSetup() {
    OpenPort();
    if (m_resumeAfterPortSetup) {
        m_resumeAfterPortSetup = false;
        Polling = true;
        ApplyPolling();
    }
}

bool PollCycle::tbexClick(qint32 commandCode) {
    if (PollState == psSendCommand) {
        m_view.showBusyCommand();
        return false;
    }
    if (PollState == psIdle) {
        PollState = psSendCommand;
        RxCount = 0;
        m_timers.start(PollTimer::TimerSend);
    }
    Terminal.CommandAcknowledged = false;
    CommandPending = true;
    CommandCode = commandCode;
    return true;
}

bool PollCycle::dispatchAlarmCommand(int button, qint32 commandCode) {
    if (PollState == psSendCommand)
        return false;
    PollState = psSendCommand;
    Terminal.CommandAcknowledged = false;
    m_timers.start(PollTimer::TimerSend);
    CommandCode = commandCode;
    AlarmButton = button;
    return true;
}

void PollCycle::TimerSendTimer() {
    if (!m_port.IsOpen()) {
        OpenPort();
        if (!m_port.IsOpen())
            return;
        // Collection was switched on while the port could not be opened: start it now.
        if (Polling && PollState == psIdle)
            ApplyPolling();
    }

    if (PollState == psReadCounters)
        PollIndex = TerminalMap::CountersRow;
    const std::optional<Request> request = requestOf(PollState);
    SendResult sent;
    if (request) {
        if (request->function == WriteMultipleRegistersFunction) {
            const std::array<quint16, 1> words = {CommandWord(CommandCode)};
            sent = SendWriteRequest(m_port, DeviceNumber, request->start, request->quantity, words);
        } else {
            sent = SendReadRequest(m_port, DeviceNumber, request->function, request->start,
                                   request->quantity);
        }
        m_view.appendConsoleLine(sent.trace);
    }
    // A frame that did not go out whole gets no reply.
    m_awaited = request && !sent.failed ? std::optional(awaitedReplyOf(*request)) : std::nullopt;
    // Armed also when nothing went out: such a tick ends as "no response".
    m_timers.start(PollTimer::TimerTimeout);
    m_view.setExchangeLamp(false);
    if (sent.failed)
        m_view.showPortWriteError();
}

void PollCycle::OnCommByte(quint8 b) {
    // No request is waiting for these bytes: they answer an earlier one, already handled.
    if (!m_awaited)
        return;
    std::copy_backward(RxBuffer.begin(), RxBuffer.end() - 1, RxBuffer.end());
    RxBuffer[0] = b;
    // Counts on past the 128 bytes kept (CheckReply rejects such a reply), never past its range.
    if (RxCount < std::numeric_limits<qint32>::max())
        ++RxCount;
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
    const qint32 before = RxCount;
    m_port.ReadPending();
    if (RxCount != before)
        return;
    TimerProcessMessage();
}

void PollCycle::TimerProcessMessage() {
    m_timers.stop(PollTimer::TimerMB);
    m_timers.stop(PollTimer::TimerTimeout);
    m_timers.stop(PollTimer::TimerSend);
    if (Polling)
        m_timers.start(PollTimer::TimerSend);

    if (RxCount == 0) {
        fail(ConsoleNoResponse);
        return;
    }
    if (!replyFitsRequest()) {
        // Traced like any reply, but decoded into a scratch copy: nothing of it is kept.
        TerminalData scratch = Terminal;
        m_view.appendConsoleLine(CheckReply(RxBuffer, RxCount, psIdle, -1, scratch).trace);
        fail(ConsoleIncorrectData);
        return;
    }
    const ReplyCheck check = CheckReply(RxBuffer, RxCount, PollState, PollIndex, Terminal);
    m_view.appendConsoleLine(check.trace);
    if (!check.accepted) {
        fail(ConsoleIncorrectData);
        return;
    }
    m_awaited.reset();
    succeed();
}

std::optional<PollCycle::Request> PollCycle::requestOf(qint32 state) const {
    switch (state) {
    case psReadCoils:
        return Request{ReadCoilsFunction, TerminalMap::IoStart, TerminalMap::IoQuantity};
    case psReadDiscreteInputs:
        return Request{ReadDiscreteInputsFunction, TerminalMap::IoStart, TerminalMap::IoQuantity};
    case psReadWeight:
        return Request{ReadHoldingRegistersFunction, TerminalMap::WeightRegister,
                       TerminalMap::WeightQuantity};
    case psReadComponent:
    case psReadWeighing:
    case psCheckLastWeighing:
        return Request{ReadHoldingRegistersFunction, TerminalMap::recordStartAddress(PollIndex),
                       TerminalMap::RecordQuantity};
    case psReadCounters:
        return Request{ReadHoldingRegistersFunction, TerminalMap::CountersRegister,
                       TerminalMap::CountersQuantity};
    case psSendCommand:
        return Request{WriteMultipleRegistersFunction, TerminalMap::CommandRegister,
                       TerminalMap::CommandQuantity};
    default:
        return std::nullopt; // psIdle and unknown states send nothing
    }
}

PollCycle::AwaitedReply PollCycle::awaitedReplyOf(const Request& request) {
    switch (request.function) {
    case ReadCoilsFunction:
    case ReadDiscreteInputsFunction:
        return {quint8(request.function), (request.quantity + 7) / 8}; // one bit per coil
    case ReadHoldingRegistersFunction:
        return {quint8(request.function), 2 * request.quantity}; // two bytes per register
    default:
        return {quint8(request.function), -1}; // the write's echo carries no byte count
    }
}

bool PollCycle::replyFitsRequest() const {
    // Too short or too long to tell: the reply check rejects it on its own.
    if (!m_awaited || RxCount < 3 || RxCount > qint32(RxBuffer.size()))
        return true;
    const quint8 function = RxBuffer[size_t(RxCount - 2)];
    if ((function & 0x7F) != m_awaited->function)
        return false;
    if (function & 0x80)
        return true; // an exception reply to this request; the reply check rejects it
    return m_awaited->byteCount < 0 || RxBuffer[size_t(RxCount - 3)] == m_awaited->byteCount;
}

void PollCycle::Watchdog() {
    if (!Polling || m_timers.isActive(PollTimer::TimerSend) ||
        m_timers.isActive(PollTimer::TimerTimeout))
        return;
    m_log.WriteLog(LogWatchdogRestart.toString());
    m_timers.start(PollTimer::TimerSend);
}

void PollCycle::fail(QStringView consoleLine) {
    if (FailCount < std::numeric_limits<quint32>::max())
        ++FailCount;
    m_view.appendConsoleLine(consoleLine.toString());
    if (FailCount >= FailuresUntilDown) {
        // The link is down: time passes unobserved and the terminal may move its ring on. A
        // single bad or split reply is no outage: the batch goes on with the joined reply.
        m_countersStale = true;
        // Until then the bytes of a rejected reply stay in front of the next ones, so a reply split
        // by a pause is accepted once its rest has arrived.
        RxCount = 0;
        setLinkState(0);
        m_view.setLinkStatusText(LinkStatusNoAnswer.toString());
        m_view.setWeightText(NoWeightText.toString());
    }
    if (FailCount == FailuresUntilDown)
        m_log.WriteLog(LogNoResponse.toString());
}

void PollCycle::succeed() {
    RxCount = 0;
    if (FailCount >= FailuresUntilDown)
        m_log.WriteLog(LogResumed.toString());
    FailCount = 0;
    m_view.setExchangeLamp(true);
    setLinkState(1);

    switch (PollState) {
    case psReadCoils:
        m_view.showOutputs(Terminal.OutputBits);
        PollState = psReadWeight;
        break;
    case psReadDiscreteInputs:
        m_view.showInputs(Terminal.InputBits);
        PollState = psReadWeight;
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
            PollState = psReadCounters;
            break;
        }
        if (PollState == psReadWeighing)
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
    m_view.setWeightText(WeightText(Terminal.CurrentWeight()));
    if (CommandPending) {
        PollState = psSendCommand;
        return;
    }
    if (TotalsDirty) {
        PollState = psReadComponent;
        PollIndex = 0;
    } else {
        ++PollCycleCount;
        const bool ioTicked = m_view.isIoStateTicked();
        if (PollCycleCount == CoilsAtCycle && ioTicked) {
            PollState = psReadCoils;
        } else if (PollCycleCount == InputsAtCycle && ioTicked) {
            PollState = psReadDiscreteInputs;
        } else if (PollCycleCount >= CountersAtCycle) {
            PollState = psReadCounters;
            PollCycleCount = 0;
        }
    }
    m_view.setLinkStatusText(LinkStatusCollecting.toString());
}

void PollCycle::stepReadComponent() {
    if (isComponentRow(PollIndex)) {
        const ComponentRowTexts texts = componentRowTexts(Terminal.image.componentTotal(PollIndex));
        m_view.setComponentRow(PollIndex, texts.sum, texts.count, texts.date);
    }
    ++PollIndex;
    if (PollIndex >= TerminalMap::ComponentCount || !TotalsDirty) {
        PollState = TotalsDirty ? psReadCounters : psReadWeight;
        TotalsDirty = false;
    }
    m_view.setLinkStatusText(LinkStatusReadingTotals.toString());
    if (CommandPending)
        PollState = psSendCommand;
}

void PollCycle::stepReadCounters() {
    if (CommandPending) {
        PollState = psSendCommand;
        return;
    }
    if (TotalsRefreshCount > TotalsRefreshEvery) {
        TotalsRefreshCount = 0;
        TotalsDirty = true;
    } else {
        ++TotalsRefreshCount;
    }

    const std::optional<int> head = Terminal.image.validRingHead();
    if (!head) {
        // The counters name no ring slot: nothing can be read from the ring with them.
        PollState = psReadWeight;
        m_view.appendConsoleLine(QStringLiteral("Counters ignored: ring head %1 is outside 0..39.")
                                     .arg(Terminal.image.RingHead()));
        return;
    }
    const int h = *head;
    const quint32 W = Terminal.image.WeighingCounter();
    m_countersStale = false;
    if (W < StoredCounter) {
        // The terminal's counter went back (a reset): its numbers start again from W.
        StoredCounter = W;
        m_sink.refreshRecordCount(StoredCounter);
    }
    if (quint64(StoredCounter) + TerminalMap::RingSize < W)
        StoredCounter = W - TerminalMap::RingSize; // older weighings have left the ring
    BatchTotal = BatchRemaining = W - StoredCounter;
    if (BatchRemaining != 0) {
        PollState = psReadWeighing;
        BatchFirstReply = true;
        PollIndex = TerminalMap::ringRow(WrapRingIndex(h - int(BatchRemaining)));
        m_view.setLinkStatusText(batchProgressText(0, BatchTotal));
    } else {
        PollState = psCheckLastWeighing;
        PollIndex = TerminalMap::ringRow(h);
    }
}

void PollCycle::stepReadWeighing() {
    // The reply held the ring slot of row PollIndex; the next request reads the following slot.
    PollIndex = nextRingRow(PollIndex);
    const std::optional<int> head = Terminal.image.validRingHead();
    if (!head) {
        PollState = psReadWeight;
        return;
    }
    const int h = *head;

    if (BatchFirstReply) {
        BatchFirstReply = false;
        // The slot before the oldest new weighing holds weighing number StoredCounter. Its weight
        // goes to the table's last row only when that row is this very weighing: not in a batch of
        // 40 (the slot then holds the newest weighing), not after the counter went back or when
        // the last row came from elsewhere.
        const bool holdsLastStored = BatchRemaining != 0 &&
                                     BatchRemaining < quint32(TerminalMap::RingSize) &&
                                     StoredCounter != 0;
        if (holdsLastStored && m_sink.lastStoredId() == StoredCounter) {
            const int slot = WrapRingIndex(h - int(BatchRemaining));
            correctLastWeighing(Terminal.image.weighing(slot).Weight);
        }
        return;
    }

    if (BatchRemaining == 0) {
        PollState = psReadWeight;
        return;
    }
    const int slot = WrapRingIndex(h - int(BatchRemaining - 1));
    if (!storeNextWeighing(slot))
        return;
    if (BatchRemaining == 0) {
        PollState = psReadComponent;
        // A component the terminal cannot mean names no row: read them all.
        if (!isComponentRow(LastComponent))
            TotalsDirty = true;
        PollIndex = TotalsDirty ? 0 : LastComponent;
    }
    m_view.setLinkStatusText(batchProgressText(BatchTotal - BatchRemaining, BatchTotal));
}

bool PollCycle::storeNextWeighing(int slot) {
    const WeighingRecord record = Terminal.image.weighing(slot);
    const quint32 id = StoredCounter + 1;
    const StoreResult stored = m_sink.StoreWeighing(record, id, Terminal.image.WeighingCounter());
    if (!stored.ok()) {
        // Not counted: the batch ends, and the next counters read starts it again from this very
        // weighing, so it is stored exactly once when the table takes it.
        BatchRemaining = 0;
        PollState = psReadWeight;
        reportStorageFailure(
            m_storeFailing,
            QStringLiteral("Database: weighing %1 not stored: %2").arg(id).arg(stored.error));
        return false;
    }
    if (m_storeFailing) {
        m_storeFailing = false;
        m_log.WriteLog(LogStorageResumed.toString());
    }
    --BatchRemaining;
    StoredCounter = id;
    m_settings.writeStoredCounter(StoredCounter);
    m_view.setLastWeighingText(LastWeighingText(record));
    if (!TotalsDirty && record.Component != LastComponent)
        TotalsDirty = true;
    LastComponent = record.Component;
    // The weighing is seen: a later change of the newest slot's weight is measured against it
    // (else a change back to the weight seen before the batch would go unnoticed).
    if (!std::isnan(record.Weight))
        LastSeenWeight = record.Weight;
    return true;
}

void PollCycle::stepCheckLastWeighing() {
    const std::optional<int> head = Terminal.image.validRingHead();
    const WeighingRecord newest = head ? Terminal.image.weighing(*head) : WeighingRecord{};
    if (head && weightChanged(newest.Weight, LastSeenWeight)) {
        LastSeenWeight = newest.Weight;
        m_view.setLastWeighingText(LastWeighingText(newest));
        PollState = psReadComponent;
        if (isComponentRow(newest.Component)) {
            PollIndex = newest.Component;
        } else {
            TotalsDirty = true;
            PollIndex = 0;
        }
        // The slot holds weighing number W; only that weighing's own row may take its weight.
        const quint32 W = Terminal.image.WeighingCounter();
        if (W == StoredCounter && StoredCounter != 0 && m_sink.lastStoredId() == StoredCounter)
            correctLastWeighing(newest.Weight);
    } else {
        PollState = psReadWeight;
    }
    if (CommandPending)
        PollState = psSendCommand;
}

void PollCycle::stepSendCommand() {
    if (!Terminal.CommandAcknowledged)
        return; // not the command's echo: the command is written again at the next tick
    CommandPending = false;
    if (Polling) {
        PollState = psReadComponent;
        TotalsDirty = true;
        PollIndex = 0;
    } else {
        PollState = psIdle;
        m_timers.stop(PollTimer::TimerSend);
    }

    const int button = AlarmButton;
    std::optional<ButtonAlarm> alarm;
    if (button != 0) {
        alarm = m_alarms.buttonAlarm(button);
        m_alarms.clearAlarmFired(button);
        AlarmButton = 0;
    }
    const QString text = commandCompletedText(CommandCode, button, alarm);
    m_log.WriteLog(text);
    m_view.resetButtonCursors();
    // Last: the box may run a nested event loop in which this handler runs again.
    m_view.showCommandCompleted(CommandCompletedCaption.toString(), text);
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
    m_view.showStorageFailure(text);
}

void PollCycle::setLinkState(qint32 state) {
    LinkState = state;
    m_view.setLinkState(state);
}
