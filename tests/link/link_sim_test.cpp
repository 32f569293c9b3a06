// The link's core against the terminal simulator (a libmodbus server nobody here wrote the
// protocol for): TComPort, the request senders and CheckReply read the weight, the counters, ring
// slots and a component row and write a command; every value is compared with what the simulator
// says it holds (its control answers and ground-truth file).
#include "commands/commandword.h"
#include "link/modbus.h"
#include "link/pollstate.h"
#include "link/tcomport.h"
#include "support/simpair.h"

#include <QElapsedTimer>
#include <QMap>
#include <QStandardPaths>
#include <QTest>

using enum PollState;

namespace {

constexpr int Device = 7;
// A reply ends after this much silence, as in the poll cycle.
constexpr int SilenceMs = 20;

QString dateTimeText(const WeighingRecord& w) {
    return QStringLiteral("%1-%2-%3 %4:%5:%6")
        .arg(2000 + w.Year)
        .arg(w.Month, 2, 10, QLatin1Char('0'))
        .arg(w.Day, 2, 10, QLatin1Char('0'))
        .arg(w.Hour, 2, 10, QLatin1Char('0'))
        .arg(w.Minute, 2, 10, QLatin1Char('0'))
        .arg(w.Second, 2, 10, QLatin1Char('0'));
}

} // namespace

class TestLinkSim : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void readsTheCurrentWeight();
    void readsEveryRingSlot();
    void readsNewWeighingsAndTheirComponentTotal();
    void commandIsEchoedAndCarriedOut();

private:
    // Sends one request and waits for its reply (ended by silence); empty trace when none came.
    ReplyCheck exchange(const std::function<SendResult()>& send, PollState state, int index);
    ReplyCheck read(PollState state, int function, int start, int quantity, int index = 0) {
        return exchange(
            [=, this] {
                return SendReadRequest(*m_port, Device, ModbusFunction(quint8(function)), start,
                                       quantity);
            },
            state, index);
    }
    QList<TruthRecord> truth() const { return m_pair.truth(); }
    void readCounters();
    void compareSlot(int slot, const TruthRecord& line);

    SimPair m_pair;
    std::unique_ptr<TComPort> m_port;
    TerminalData m_data;
    RxBuffer m_rx{};
    int m_rxCount = 0;
    QElapsedTimer m_sinceLastByte;
};

void TestLinkSim::initTestCase() {
    if (QStandardPaths::findExecutable(QStringLiteral("socat")).isEmpty())
        QSKIP("socat is not installed");
    QVERIFY2(m_pair.start({"--slave", QString::number(Device), "--counter", "98", "--seed", "5"}),
             qPrintable(m_pair.log()));

    const QString device = m_pair.device();
    m_port =
        std::make_unique<TComPort>([device](int index) { return index == 0 ? device : QString(); });
    connect(m_port.get(), &SerialPort::byteReceived, this, [this](quint8 b) {
        std::copy_backward(m_rx.begin(), m_rx.end() - 1, m_rx.end());
        m_rx[0] = b;
        ++m_rxCount;
        m_sinceLastByte.start();
    });
    QVERIFY2(m_port->Open(0, 9600, 0), qPrintable(m_port->openError()));
}

void TestLinkSim::cleanupTestCase() {
    if (m_port)
        m_port->Close();
    if (!m_pair.device().isEmpty())
        QCOMPARE(m_pair.stop(), 0);
}

ReplyCheck TestLinkSim::exchange(const std::function<SendResult()>& send, PollState state,
                                 int index) {
    m_rxCount = 0;
    const SendResult sent = send();
    if (sent.failed)
        return {false, QStringLiteral("request not sent: ") + sent.trace};
    QDeadlineTimer deadline(2000);
    while (!(m_rxCount > 0 && m_sinceLastByte.elapsed() >= SilenceMs) && !deadline.hasExpired())
        QTest::qWait(2);
    if (m_rxCount == 0)
        return {false, QStringLiteral("no reply to ") + sent.trace};
    return CheckReply(m_rx, m_rxCount, state, index, m_data);
}

void TestLinkSim::readsTheCurrentWeight() {
    for (const float weight : {12.5f, -3.75f, 1234.567f}) {
        QVERIFY(m_pair.control(QStringLiteral("weight %1").arg(double(weight), 0, 'g', 9))
                    .startsWith(QLatin1String("done")));
        const ReplyCheck reply =
            read(psReadWeight, 3, TerminalMap::WeightRegister, TerminalMap::WeightQuantity);
        QVERIFY2(reply.accepted, qPrintable(reply.trace));
        QVERIFY(reply.trace.startsWith(QLatin1String("<< 07 03 04 ")));
        QCOMPARE(m_data.CurrentWeight(), weight);
    }
}

// The simulator starts with its ring full (weighings 59..98); the last 40 numbers in the truth file
// are what each slot holds.
void TestLinkSim::readsEveryRingSlot() {
    readCounters();
    if (QTest::currentTestFailed())
        return;
    const quint32 W = m_data.image.WeighingCounter();
    const std::optional<int> h = m_data.image.validRingHead();
    QCOMPARE(W, quint32(98));
    QVERIFY(h.has_value());

    QMap<quint32, TruthRecord> byNumber; // a corrected weighing repeats its line; the last counts
    for (const TruthRecord& line : truth())
        byNumber.insert(line.number, line);
    QCOMPARE(byNumber.size(), TerminalMap::RingSize);

    for (const TruthRecord& line : std::as_const(byNumber)) {
        const std::optional<int> slot = slotOfWeighing(*h, W, line.number);
        QVERIFY(slot.has_value());
        QCOMPARE(*slot, line.slot);
        compareSlot(*slot, line);
        if (QTest::currentTestFailed())
            return;
    }
}

void TestLinkSim::readsNewWeighingsAndTheirComponentTotal() {
    const int row = 2; // component 3
    const ReplyCheck before = read(psReadComponent, 3, TerminalMap::recordStartAddress(row),
                                   TerminalMap::RecordQuantity, row);
    QVERIFY2(before.accepted, qPrintable(before.trace));
    const ComponentTotalRecord totalBefore = m_data.image.componentTotal(row);

    const qsizetype known = truth().size();
    QVERIFY(m_pair.control(QStringLiteral("weigh 3 250.75")).startsWith(QLatin1String("done")));
    QVERIFY(m_pair.control(QStringLiteral("weigh 5 17.25")).startsWith(QLatin1String("done")));
    const QList<TruthRecord> recorded = truth().mid(known);
    QCOMPARE(recorded.size(), 2);

    readCounters();
    if (QTest::currentTestFailed())

        return;
    const quint32 W = m_data.image.WeighingCounter();
    const std::optional<int> h = m_data.image.validRingHead();
    QCOMPARE(W, quint32(100));
    QVERIFY(h.has_value());
    QCOMPARE(*h, recorded.last().slot);

    // A batch of N = 2 new weighings, read oldest first, the last one in slot h.
    for (int k = 1; k <= 2; ++k) {
        const std::optional<int> slot = batchWeighingSlot(*h, 2, k);
        QVERIFY(slot.has_value());
        QCOMPARE(*slot, recorded.at(k - 1).slot);
        QCOMPARE(recorded.at(k - 1).number, W - 2 + quint32(k));
        compareSlot(*slot, recorded.at(k - 1));
        if (QTest::currentTestFailed())
            return;
    }

    const ReplyCheck after = read(psReadComponent, 3, TerminalMap::recordStartAddress(row),
                                  TerminalMap::RecordQuantity, row);
    QVERIFY2(after.accepted, qPrintable(after.trace));
    const ComponentTotalRecord total = m_data.image.componentTotal(row);
    QCOMPARE(total.Count, qint16(totalBefore.Count + 1));
    QCOMPARE(total.Sum, totalBefore.Sum + 250.75f);
    QVERIFY(total.Month >= 1 && total.Month <= 12);
    QVERIFY(total.Day >= 1 && total.Day <= 31);
}

void TestLinkSim::readCounters() {
    const ReplyCheck counters = read(psReadCounters, 3, TerminalMap::CountersRegister,
                                     TerminalMap::CountersQuantity, TerminalMap::CountersRow);
    QVERIFY2(counters.accepted, qPrintable(counters.trace));
}

void TestLinkSim::compareSlot(int slot, const TruthRecord& line) {
    const int row = TerminalMap::ringRow(slot);
    const ReplyCheck reply = read(psReadWeighing, 3, TerminalMap::recordStartAddress(row),
                                  TerminalMap::RecordQuantity, row);
    QVERIFY2(reply.accepted, qPrintable(reply.trace));
    const WeighingRecord w = m_data.image.weighing(slot);
    QCOMPARE(double(w.Weight), line.weight);
    QCOMPARE(w.Component + 1, line.component);
    QCOMPARE(dateTimeText(w), line.dateTime);
}

void TestLinkSim::commandIsEchoedAndCarriedOut() {
    // "Start input 3": the terminal switches output 3 on and records a weighing of component 3.
    const quint32 counterBefore = m_data.image.WeighingCounter();
    const qsizetype known = truth().size();
    const std::array<quint16, 1> words{CommandWord(2)};
    m_data.CommandAcknowledged = false;
    const ReplyCheck echo = exchange(
        [&] {
            return SendWriteRequest(*m_port, Device, TerminalMap::CommandRegister,
                                    TerminalMap::CommandQuantity, words);
        },
        psSendCommand, 0);
    QVERIFY2(echo.accepted, qPrintable(echo.trace));
    // The echo repeats address, function, start and quantity, then its CRC.
    QCOMPARE(echo.trace.left(21), QStringLiteral("<< 07 10 00 02 00 01 "));
    QCOMPARE(echo.trace.size(), 3 + 3 * 8);
    QVERIFY(m_data.CommandAcknowledged);

    readCounters();
    if (QTest::currentTestFailed())

        return;
    QCOMPARE(m_data.image.WeighingCounter(), counterBefore + 1);
    const int h = m_data.image.validRingHead().value_or(-1);
    QCOMPARE(h, truth().last().slot);
    QCOMPARE(truth().size(), known + 1);
    compareSlot(h, truth().last());
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(m_data.image.weighing(h).Component + 1, 3);

    const ReplyCheck coils = read(psReadCoils, 1, TerminalMap::IoStart, TerminalMap::IoQuantity);
    QVERIFY2(coils.accepted, qPrintable(coils.trace));
    QCOMPARE(m_data.OutputBits, quint8(1u << 2));

    QVERIFY(m_pair.control(QStringLiteral("inputs A5")).startsWith(QLatin1String("done")));
    const ReplyCheck inputs =
        read(psReadDiscreteInputs, 2, TerminalMap::IoStart, TerminalMap::IoQuantity);
    QVERIFY2(inputs.accepted, qPrintable(inputs.trace));
    QCOMPARE(m_data.InputBits, quint8(0xA5));
}

QTEST_GUILESS_MAIN(TestLinkSim)
#include "link_sim_test.moc"
