// TComPort on a real tty: a socat pty pair stands in for the cable, the test holds the far end.
#include "link/modbus.h"
#include "link/tcomport.h"
#include "support/socatpair.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

namespace {

// The far end of the cable, opened raw and non-blocking so it never runs in the event loop.
class RawTty {
public:
    explicit RawTty(const QString& path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    ~RawTty() { close(); }
    RawTty(const RawTty&) = delete;
    RawTty& operator=(const RawTty&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    void close() {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    bool write(const QByteArray& bytes) const {
        return ::write(m_fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }
    // Appends whatever has arrived to `m_received` and returns all received so far.
    const QByteArray& received() {
        char buffer[256];
        ssize_t n;
        while ((n = ::read(m_fd, buffer, sizeof buffer)) > 0)
            m_received.append(buffer, qsizetype(n));
        return m_received;
    }
    // Bytes waiting in the input queue, without taking them.
    int queued() const {
        int n = 0;
        return ::ioctl(m_fd, FIONREAD, &n) == 0 ? n : -1;
    }

private:
    int m_fd;
    QByteArray m_received;
};

qint64 processCpuNs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

QByteArray bytesOf(const QSignalSpy& spy) {
    QByteArray bytes;
    for (const QList<QVariant>& args : spy)
        bytes.append(char(args.at(0).value<quint8>()));
    return bytes;
}

} // namespace

class TestTComPort : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void openFailsAtOnceForIndex9();
    void openFailsForMissingOrUnnamedDevice();
    void closeOfNeverOpenedPortDoesNothing();
    void explicitLineStatesFailWithoutModemLines();
    void receivedBytesArriveOneByOneInOrder();
    void sentBytesReachTheFarEnd();
    void reopenDiscardsWhatQueuedWhileClosed();
    void readPendingDeliversWithoutTheEventLoop();
    void vanishedPortClosesOnceWithoutSpinning();

private:
    TComPort makePort();

    QTemporaryDir m_dir;
    std::unique_ptr<SocatPair> m_pair;
    int m_resolved = 0;
};

void TestTComPort::initTestCase() {
    if (!SocatPair::available())
        QSKIP("socat is not installed");
    QVERIFY(m_dir.isValid());
}

void TestTComPort::init() {
    m_resolved = 0;
    m_pair = std::make_unique<SocatPair>(m_dir.filePath(QStringLiteral("near")),
                                         m_dir.filePath(QStringLiteral("far")));
    QVERIFY(m_pair->start());
}

void TestTComPort::cleanup() {
    m_pair.reset();
}

// COM1 is the near end of the pair; COM2 names no device; the others are unconfigured.
TComPort TestTComPort::makePort() {
    return TComPort([this](int index) {
        ++m_resolved;
        if (index == 0)
            return m_pair->nearLink();
        if (index == 1)
            return m_dir.filePath(QStringLiteral("missing"));
        return QString();
    });
}

void TestTComPort::openFailsAtOnceForIndex9() {
    TComPort port = makePort();
    QVERIFY(!port.Open(9, 9600, 0));
    QVERIFY(!port.Open(0xFFFFFFFF, 9600, 0));
    QVERIFY(!port.IsOpen());
    QCOMPARE(m_resolved, 0);
}

void TestTComPort::openFailsForMissingOrUnnamedDevice() {
    TComPort port = makePort();
    QVERIFY(!port.Open(1, 9600, 0));
    QVERIFY(!port.openError().isEmpty());
    QVERIFY(!port.Open(2, 9600, 0));
    QVERIFY(!port.IsOpen());
    QVERIFY(!port.Open(0, 0, 0));
    QVERIFY(!port.IsOpen());
    QVERIFY(port.Open(0, 115200, 0));
    QVERIFY(port.openError().isEmpty());
}

void TestTComPort::closeOfNeverOpenedPortDoesNothing() {
    TComPort port = makePort();
    QSignalSpy lost(&port, &SerialPort::portLost);
    port.Close();
    port.Close();
    QVERIFY(!port.IsOpen());
    QVERIFY(!port.SendByte(0x01));
    QCOMPARE(lost.count(), 0);
}

// A pty has no modem lines: raising them by default is best effort, explicit states are not.
void TestTComPort::explicitLineStatesFailWithoutModemLines() {
    TComPort port = makePort();
    QVERIFY(!port.Open(0, 9600, 0x05));
    QVERIFY(!port.IsOpen());
    QVERIFY(port.Open(0, 9600, 0));
    QVERIFY(port.IsOpen());
}

void TestTComPort::receivedBytesArriveOneByOneInOrder() {
    TComPort port = makePort();
    QSignalSpy bytes(&port, &SerialPort::byteReceived);
    QVERIFY(port.Open(0, 9600, 0));
    RawTty far(m_pair->farLink());
    QVERIFY(far.isOpen());

    QVERIFY(far.write(QByteArray::fromHex("0180FF")));
    QTRY_COMPARE_WITH_TIMEOUT(bytes.count(), 3, 2000);
    QCOMPARE(bytesOf(bytes), QByteArray::fromHex("0180FF"));

    // A longer stream comes in several chunks; every byte still arrives once, in order.
    QByteArray stream;
    for (int i = 0; i < 1000; ++i)
        stream.append(char(i * 7 + i / 256));
    QVERIFY(far.write(stream));
    QTRY_COMPARE_WITH_TIMEOUT(bytes.count(), 1003, 5000);
    QCOMPARE(bytesOf(bytes).mid(3), stream);
}

void TestTComPort::sentBytesReachTheFarEnd() {
    TComPort port = makePort();
    QVERIFY(port.Open(0, 9600, 0));
    RawTty far(m_pair->farLink());
    QVERIFY(far.isOpen());

    QVERIFY(port.SendByte(0xA5));
    QTRY_COMPARE_WITH_TIMEOUT(far.received(), QByteArray::fromHex("A5"), 2000);

    const SendResult sent = SendReadRequest(port, 1, ModbusFunction::ReadHoldingRegisters, 0, 2);
    QVERIFY(!sent.failed);
    QTRY_COMPARE_WITH_TIMEOUT(far.received(), QByteArray::fromHex("A5 0103000000 02C40B"), 2000);
}

// Bytes that reached the line while the port was closed are stale: the open clears them.
void TestTComPort::reopenDiscardsWhatQueuedWhileClosed() {
    TComPort port = makePort();
    QSignalSpy bytes(&port, &SerialPort::byteReceived);
    QVERIFY(port.Open(0, 9600, 0));
    port.Close();
    QVERIFY(!port.IsOpen());

    RawTty far(m_pair->farLink());
    RawTty probe(m_pair->nearLink()); // only looks at the near end's input queue
    QVERIFY(far.isOpen());
    QVERIFY(probe.isOpen());
    QVERIFY(far.write("stale"));
    QTRY_COMPARE_WITH_TIMEOUT(probe.queued(), 5, 2000);

    QVERIFY(port.Open(0, 19200, 0));
    probe.close();
    QVERIFY(far.write("fresh"));
    QTRY_COMPARE_WITH_TIMEOUT(bytes.count(), 5, 2000);
    QCOMPARE(bytesOf(bytes), QByteArray("fresh"));
}

// The end-of-reply timer may fire before the read notifier of the last bytes: ReadPending hands
// them on at once.
void TestTComPort::readPendingDeliversWithoutTheEventLoop() {
    TComPort port = makePort();
    QSignalSpy bytes(&port, &SerialPort::byteReceived);
    QVERIFY(port.Open(0, 9600, 0));
    RawTty far(m_pair->farLink());
    RawTty probe(m_pair->nearLink());
    QVERIFY(far.isOpen());
    QVERIFY(probe.isOpen());

    QVERIFY(far.write(QByteArray::fromHex("0103")));
    // Waits without running the event loop, so only ReadPending can deliver.
    const QDeadlineTimer deadline(2000);
    while (probe.queued() < 2 && !deadline.hasExpired())
        QThread::msleep(1);
    QCOMPARE(probe.queued(), 2);
    QCOMPARE(bytes.count(), 0);
    port.ReadPending();
    QCOMPARE(bytesOf(bytes), QByteArray::fromHex("0103"));
    port.ReadPending(); // nothing more to hand on
    QCOMPARE(bytes.count(), 2);
}

void TestTComPort::vanishedPortClosesOnceWithoutSpinning() {
    TComPort port = makePort();
    QSignalSpy lost(&port, &SerialPort::portLost);
    QVERIFY(port.Open(0, 9600, 0));

    m_pair->kill();
    QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, 2000);
    QVERIFY(!port.IsOpen());

    // A port left open on a vanished device would spin a core; a closed one lets the loop idle.
    const qint64 cpuBefore = processCpuNs();
    QElapsedTimer window;
    window.start();
    QTest::qWait(1000);
    const qint64 cpuMs = (processCpuNs() - cpuBefore) / 1000000;
    const qint64 wallMs = window.elapsed();
    qInfo("CPU time over %lld ms after the loss: %lld ms", wallMs, cpuMs);
    QVERIFY2(cpuMs < wallMs / 5, qPrintable(QStringLiteral("%1 ms CPU").arg(cpuMs)));
    QCOMPARE(lost.count(), 1);
    QVERIFY(!port.SendByte(0x01));
    port.Close();
    QCOMPARE(lost.count(), 1);

    // The cable is back under the same name: the next open works and the line carries data.
    m_pair = std::make_unique<SocatPair>(m_dir.filePath(QStringLiteral("near")),
                                         m_dir.filePath(QStringLiteral("far")));
    QVERIFY(m_pair->start());
    QVERIFY(port.Open(0, 9600, 0));
    RawTty far(m_pair->farLink());
    QVERIFY(far.isOpen());
    QVERIFY(port.SendByte(0x5A));
    QTRY_COMPARE_WITH_TIMEOUT(far.received(), QByteArray::fromHex("5A"), 2000);
    QCOMPARE(lost.count(), 1);
}

QTEST_GUILESS_MAIN(TestTComPort)
#include "tst_tcomport.moc"
