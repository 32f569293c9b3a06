// The poll cycle end to end: PollCycle on TComPort with the real timers, against the terminal
// simulator on a socat pty pair. What the cycle did is read back from its console lines, its log
// and the weighings it handed on, and compared with the simulator's ground truth.
#include "link/replytexts.h"
#include "link/tcomport.h"
#include "support/pollcycle_fakes.h"
#include "support/simpair.h"

#include <QDeadlineTimer>
#include <QTest>
#include <QThread>

#include <memory>
#include <set>

namespace {

// The default request interval. Shorter ones (down to 100 ms) leave a loaded machine too little
// room: a reply or timeout handled late lets TimerSend send the same request again first.
constexpr int RequestInterval = DefaultSendInterval;
constexpr int WaitMs = 20000;

// A poll cycle on a real port and real timers, with fakes for what it shows and stores.
struct LiveCycle {
    LiveCycle(const QString& device, int interval)
        : port([device](int) { return device; }) {
        QObject::connect(&port, &SerialPort::byteReceived, &cycle, &PollCycle::OnCommByte);
        timers.connectTo(cycle);
        timers.setInterval(PollTimer::TimerSend, interval);
        view.watch(cycle);
    }

    // Requests sent so far, as "function:start:quantity" (see PollHarness::describe).
    QStringList requests() const {
        QStringList list;
        for (const QString& line : view.console) {
            if (!line.startsWith(u">> "))
                continue;
            std::vector<quint8> bytes;
            for (const QString& pair : line.mid(3).split(u' ', Qt::SkipEmptyParts))
                bytes.push_back(quint8(pair.toUInt(nullptr, 16)));
            list.append(PollHarness::describe(bytes));
        }
        return list;
    }

    TComPort port;
    QtPollTimers timers;
    FakeView view;
    FakeSink sink;
    FakeSettings settings;
    FakeLog log;
    FakeAlarms alarms;
    PollCycle cycle{{port, timers, view, sink, settings, log, alarms}};
};

// Ring slots read by the requests (rows 16..55).
std::set<int> ringSlotsRead(const QStringList& requests) {
    std::set<int> read;
    for (int slot = 0; slot < TerminalMap::RingSize; ++slot)
        if (requests.contains(slotRequest(slot)))
            read.insert(slot);
    return read;
}

} // namespace

class PollCycleEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void init();
    void startup_readsAllTotalsThenCounters();
    void newWeighings_readFromTheirSlotsWithTheirNumbers();
    void droppedReplies_linkDownLoggedOnceThenResumed();
    void splitReply_joinedAndAccepted();
    void command_writtenAcknowledgedAndLogged();
    void readPending_deliversBytesWithoutTheEventLoop();

private:
    // Starts the simulator with `options` and a cycle on its line; collection on.
    bool startPair(SimPair& sim, std::unique_ptr<LiveCycle>& live, const QStringList& options,
                   quint32 storedCounter = 0);
};

void PollCycleEndToEnd::init() {
    const QString reason = SimPair::unavailableReason();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
}

bool PollCycleEndToEnd::startPair(SimPair& sim, std::unique_ptr<LiveCycle>& live,
                                  const QStringList& options, quint32 storedCounter) {
    sim.setEchoLog(true);
    if (!sim.start(options))
        return false;
    live = std::make_unique<LiveCycle>(sim.device(), RequestInterval);
    live->cycle.setStoredCounter(storedCounter);
    live->cycle.OpenPort();
    live->cycle.Start(true);
    return live->cycle.state().Polling;
}

void PollCycleEndToEnd::startup_readsAllTotalsThenCounters() {
    SimPair sim;
    std::unique_ptr<LiveCycle> live;
    QVERIFY(startPair(sim, live, {QStringLiteral("--seed"), QStringLiteral("1")}));
    QTRY_VERIFY_WITH_TIMEOUT(live->requests().size() >= 19, WaitMs);

    const QStringList expected =
        QStringList{weightRequest()} + allComponentRequests() + QStringList{countersRequest()};
    QCOMPARE(live->requests().mid(0, expected.size()), expected);
    QCOMPARE(int(live->view.componentRows.size()), TerminalMap::ComponentCount);
    QVERIFY(live->log.lines.isEmpty());
    QCOMPARE(live->cycle.state().LinkState, LinkState::Exchanging);
}

void PollCycleEndToEnd::newWeighings_readFromTheirSlotsWithTheirNumbers() {
    SimPair sim;
    std::unique_ptr<LiveCycle> live;
    // The terminal holds weighings up to number 100, all of them stored already.
    QVERIFY(startPair(sim, live, {QStringLiteral("--counter"), QStringLiteral("100")}, 100));
    // The totals and the first counters read are done: the terminal is at 100, nothing new.
    QTRY_VERIFY_WITH_TIMEOUT(live->requests().contains(countersRequest()), WaitMs);

    sim.command(QStringLiteral("weigh 3 12.5"));
    sim.command(QStringLiteral("weigh 3 13.25"));
    sim.command(QStringLiteral("weigh 16 0.75"));
    QTRY_COMPARE_WITH_TIMEOUT(live->sink.stored.size(), size_t(3), WaitMs);

    std::vector<TruthRecord> truth;
    for (const TruthRecord& w : sim.truth())
        if (w.number > 100)
            truth.push_back(w);
    QCOMPARE(truth.size(), size_t(3));
    for (size_t i = 0; i < truth.size(); ++i) {
        const FakeSink::Stored& stored = live->sink.stored[i];
        QCOMPARE(stored.id, truth[i].number);
        QCOMPARE(double(stored.weight), truth[i].weight);
        QCOMPARE(int(stored.component) + 1, truth[i].component);
    }
    QCOMPARE(live->sink.ids(), (std::vector<quint32>{101, 102, 103}));
    QCOMPARE(live->settings.written, (std::vector<quint32>{101, 102, 103}));
    // The slot before the new ones (it holds weighing 100) and the three new slots; nothing else
    // of the ring was read (the check step reads the newest slot, one of these).
    const int before = WrapRingIndex(truth[0].slot - 1);
    QCOMPARE(ringSlotsRead(live->requests()),
             (std::set<int>{before, truth[0].slot, truth[1].slot, truth[2].slot}));
    QCOMPARE(live->cycle.state().StoredCounter, 103u);
    QVERIFY(live->sink.corrections.empty()); // the table's last row is not weighing 100
}

void PollCycleEndToEnd::droppedReplies_linkDownLoggedOnceThenResumed() {
    SimPair sim;
    std::unique_ptr<LiveCycle> live;
    QVERIFY(startPair(sim, live, {}));
    QTRY_VERIFY_WITH_TIMEOUT(live->requests().size() >= 3, WaitMs);

    sim.command(QStringLiteral("fault drop 4"));
    QTRY_VERIFY2_WITH_TIMEOUT(live->log.lines.contains(LogResumed.toString()),
                              qPrintable(live->view.console.join(u'\n')), WaitMs);
    QCOMPARE(live->log.lines, (QStringList{LogNoResponse.toString(), LogResumed.toString()}));
    QCOMPARE(live->view.console.count(ConsoleNoResponse.toString()), 4);
    QVERIFY(live->view.linkStatus.contains(LinkStatusNoAnswer.toString()));
    QCOMPARE(live->cycle.state().LinkState, LinkState::Exchanging);
}

void PollCycleEndToEnd::splitReply_joinedAndAccepted() {
    SimPair sim;
    std::unique_ptr<LiveCycle> live;
    QVERIFY(startPair(sim, live, {}));
    QTRY_VERIFY_WITH_TIMEOUT(live->requests().size() >= 3, WaitMs);

    sim.command(QStringLiteral("fault split 1"));
    QTRY_VERIFY_WITH_TIMEOUT(live->view.console.contains(ConsoleIncorrectData.toString()), WaitMs);
    const QStringList& console = live->view.console;
    const qsizetype failed = console.indexOf(ConsoleIncorrectData.toString());
    // The next reply line holds the first part again followed by the rest.
    QTRY_VERIFY_WITH_TIMEOUT(console.size() > failed + 1, WaitMs);
    const QString part = console[failed - 1];
    const QString joined = console[failed + 1];
    QVERIFY2(part.startsWith(u"<< "), qPrintable(part));
    QVERIFY2(joined.startsWith(part) && joined.size() > part.size(), qPrintable(joined));
    QTRY_COMPARE_WITH_TIMEOUT(live->cycle.state().FailCount, 0u, WaitMs);
    QCOMPARE(console.count(ConsoleIncorrectData.toString()), 1);
    QVERIFY(live->log.lines.isEmpty());
}

void PollCycleEndToEnd::command_writtenAcknowledgedAndLogged() {
    SimPair sim;
    std::unique_ptr<LiveCycle> live;
    QVERIFY(startPair(sim, live, {}));
    QTRY_VERIFY_WITH_TIMEOUT(live->requests().size() >= 3, WaitMs);

    QVERIFY(live->cycle.tbexClick(4));
    QTRY_COMPARE_WITH_TIMEOUT(live->view.completed.size(), 1, WaitMs);
    const QString text = QStringLiteral("Команда \"Старт Входа 5\" успешно выполнена.");
    QCOMPARE(live->view.completed[0], CommandCompletedCaption.toString() + u'|' + text);
    QCOMPARE(live->log.lines, QStringList{text});
    QCOMPARE(live->requests().count(QStringLiteral("16:2:1=0401")), 1);
    QVERIFY(!live->cycle.state().CommandPending);
    // All totals are read again after the command.
    const qsizetype written = live->requests().indexOf(QStringLiteral("16:2:1=0401"));
    QTRY_VERIFY_WITH_TIMEOUT(live->requests().size() >= written + 17, WaitMs);
    QCOMPARE(live->requests().mid(written + 1, 16), allComponentRequests());
}

void PollCycleEndToEnd::readPending_deliversBytesWithoutTheEventLoop() {
    SimPair sim;
    sim.setEchoLog(true);
    QVERIFY(sim.start({}));
    const QString device = sim.device();
    TComPort port([device](int) { return device; });
    QVERIFY(port.Open(0, 9600, 0));
    std::vector<quint8> received;
    QObject::connect(&port, &SerialPort::byteReceived, &port,
                     [&received](quint8 b) { received.push_back(b); });

    QVERIFY(!SendReadRequest(port, 1, ModbusFunction::ReadHoldingRegisters, 0, 2).failed);
    // No event is processed here: only ReadPending can hand the reply on.
    const QDeadlineTimer deadline(5000);
    while (received.size() < 9 && !deadline.hasExpired()) {
        QThread::msleep(5);
        port.ReadPending();
    }
    QCOMPARE(received.size(), size_t(9));
    QCOMPARE(received[0], quint8(1));
    QCOMPARE(received[1], quint8(3));
    QCOMPARE(Crc16(received), quint16(0));
    QVERIFY(port.IsOpen());
    port.ReadPending(); // nothing more: no error, the port stays open
    QVERIFY(port.IsOpen());
    QCOMPARE(received.size(), size_t(9));
}

QTEST_GUILESS_MAIN(PollCycleEndToEnd)
#include "pollcycle_e2e.moc"
