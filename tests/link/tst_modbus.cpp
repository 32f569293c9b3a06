// Modbus RTU framing: CRC, the two request senders over a fake port, and the reply check with what
// it decodes into the terminal data.
#include "link/modbus.h"
#include "link/pollstate.h"
#include "support/fakeserialport.h"

#include <QTest>

using enum PollState;

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

QByteArray toBytes(const std::vector<quint8>& v) {
    return QByteArray(reinterpret_cast<const char*>(v.data()), qsizetype(v.size()));
}

std::span<const quint8> span(const QByteArray& a) {
    return {reinterpret_cast<const quint8*>(a.constData()), size_t(a.size())};
}

QByteArray withCrc(QByteArray frame) {
    const quint16 crc = Crc16(span(frame));
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

QString traceOf(const char* prefix, const QByteArray& bytes) {
    QString line = QString::fromLatin1(prefix);
    for (const char c : bytes)
        line += QStringLiteral("%1 ").arg(quint8(c), 2, 16, QLatin1Char('0')).toUpper();
    return line;
}

// The poll cycle's receive buffer after `bytes` arrived one by one: newest at index 0, only the
// newest 128 kept.
RxBuffer received(const QByteArray& bytes) {
    RxBuffer rx{};
    for (const char c : bytes) {
        std::copy_backward(rx.begin(), rx.end() - 1, rx.end());
        rx[0] = quint8(c);
    }
    return rx;
}

// Every word distinct, so a write to the wrong row or word shows in a full comparison.
TerminalData patterned() {
    TerminalData d;
    for (int r = 0; r < TerminalImage::RowCount; ++r)
        for (int i = 0; i < TerminalImage::WordsPerRow; ++i)
            d.image.setWord(r, i, quint16(0xA000 + r * 8 + i));
    d.currentWeightWords = {0xB001, 0xB002};
    d.InputBits = 0x11;
    d.OutputBits = 0x22;
    return d;
}

void compareData(const TerminalData& actual, const TerminalData& expected) {
    for (int r = 0; r < TerminalImage::RowCount; ++r)
        for (int i = 0; i < TerminalImage::WordsPerRow; ++i)
            QVERIFY2(actual.image.word(r, i) == expected.image.word(r, i),
                     qPrintable(QStringLiteral("row %1 word %2: %3, expected %4")
                                    .arg(r)
                                    .arg(i)
                                    .arg(actual.image.word(r, i), 4, 16)
                                    .arg(expected.image.word(r, i), 4, 16)));
    QCOMPARE(actual.currentWeightWords, expected.currentWeightWords);
    QCOMPARE(actual.InputBits, expected.InputBits);
    QCOMPARE(actual.OutputBits, expected.OutputBits);
    QCOMPARE(actual.CommandAcknowledged, expected.CommandAcknowledged);
}

using Words = QList<quint16>;

} // namespace

class TestModbus : public QObject {
    Q_OBJECT
private slots:
    void crc_data();
    void crc();
    void requestFrames_data();
    void requestFrames();
    void checkReply_data();
    void checkReply();
    void recordBytesLandInMemoryOrder();
};

void TestModbus::crc_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<quint16>("expected");
    QTest::newRow("check value") << QByteArray("123456789") << quint16(0x4B37);
    QTest::newRow("nothing") << QByteArray() << quint16(0xFFFF);
    QTest::newRow("frame with its crc") << hex("0103000000 02C40B") << quint16(0);
    QTest::newRow("one bit flipped") << hex("0103000000 02C40A") << quint16(0xC0C1);
}

void TestModbus::crc() {
    QFETCH(QByteArray, bytes);
    QFETCH(quint16, expected);
    QCOMPARE(Crc16(span(bytes)), expected);
    quint32 acc = CrcInit;
    for (const char c : bytes)
        CrcUpdate(quint8(c), acc);
    QCOMPARE(acc, quint32(expected)); // the accumulator never holds more than 16 bits
}

void TestModbus::requestFrames_data() {
    QTest::addColumn<bool>("write");
    QTest::addColumn<qint32>("device");
    QTest::addColumn<qint32>("function");
    QTest::addColumn<qint32>("start");
    QTest::addColumn<qint32>("quantity");
    QTest::addColumn<Words>("words");
    QTest::addColumn<int>("refuse"); // n-th byte refused, 0 none
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<bool>("failed");
    QTest::addColumn<bool>("openAfter");

    const Words none;
    QTest::newRow("read weight") << false << 1 << 3 << 0 << 2 << none << 0
                                 << hex("01 03 00 00 00 02 C4 0B") << false << true;
    QTest::newRow("read coils") << false << 1 << 1 << 0 << 8 << none << 0
                                << hex("01 01 00 00 00 08 3D CC") << false << true;
    QTest::newRow("read inputs") << false << 1 << 2 << 0 << 8 << none << 0
                                 << hex("01 02 00 00 00 08 79 CC") << false << true;
    QTest::newRow("read counters") << false << 1 << 3 << 666 << 3 << none << 0
                                   << hex("01 03 02 9A 00 03 24 5C") << false << true;
    QTest::newRow("only low bytes of wide arguments")
        << false << 0x111 << 0x103 << 0x101A4 << 0x10006 << none << 0
        << hex("11 03 01 A4 00 06 87 47") << false << true;
    QTest::newRow("write command 0x0701")
        << true << 1 << 16 << 2 << 1 << Words{0x0701} << 0
        << hex("01 10 00 02 00 01 02 07 01 64 42") << false << true;
    QTest::newRow("read, third byte refused")
        << false << 1 << 3 << 0 << 2 << none << 3 << hex("01 03") << true << false;
    QTest::newRow("read, last byte refused")
        << false << 1 << 3 << 0 << 2 << none << 8 << hex("01 03 00 00 00 02 C4") << true << false;
    QTest::newRow("write, first byte refused")
        << true << 1 << 16 << 2 << 1 << Words{0x0701} << 1 << QByteArray() << true << false;
    QTest::newRow("write, quantity 0: nothing sent")
        << true << 1 << 16 << 2 << 0 << Words{0x0701} << 0 << QByteArray() << true << true;
    QTest::newRow("write, fewer words than quantity: nothing sent")
        << true << 1 << 16 << 2 << 2 << Words{0x0701} << 0 << QByteArray() << true << true;
    QTest::newRow("write, quantity beyond the frame: nothing sent")
        << true << 1 << 16 << 2 << 126 << Words(126, 0) << 0 << QByteArray() << true << true;
}

void TestModbus::requestFrames() {
    QFETCH(bool, write);
    QFETCH(qint32, device);
    QFETCH(qint32, function);
    QFETCH(qint32, start);
    QFETCH(qint32, quantity);
    QFETCH(Words, words);
    QFETCH(int, refuse);
    QFETCH(QByteArray, sent);
    QFETCH(bool, failed);
    QFETCH(bool, openAfter);

    FakeSerialPort port;
    QVERIFY(port.Open(0, 9600, 0));
    port.refuseByte(refuse);
    const std::vector<quint16> data(words.begin(), words.end());
    const SendResult result =
        write ? SendWriteRequest(port, device, start, quantity, data)
              : SendReadRequest(port, device, ModbusFunction(quint8(function)), start, quantity);

    QCOMPARE(toBytes(port.written()), sent);
    QCOMPARE(result.trace, traceOf(">> ", sent));
    QCOMPARE(result.failed, failed);
    QCOMPARE(port.IsOpen(), openAfter);
    // Nothing is sent after a refused byte.
    QCOMPARE(port.sendCalls(), refuse ? refuse : int(sent.size()));
}

void TestModbus::checkReply_data() {
    QTest::addColumn<QByteArray>("reply"); // bytes in arrival order
    QTest::addColumn<int>("count");        // -1: the reply's length
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<Words>("weight"); // expected weight words; empty: unchanged
    QTest::addColumn<Words>("row");    // expected leading words of row `index`; empty: unchanged
    QTest::addColumn<int>("outputs");  // -1: unchanged
    QTest::addColumn<int>("inputs");
    QTest::addColumn<bool>("ack");

    const Words same;
    const QByteArray weight10 = withCrc(hex("01 03 04 00 00 41 20"));
    QTest::newRow("fn3 weight, 9 bytes") << weight10 << -1 << int(psReadWeight) << 0 << true
                                         << Words{0x0000, 0x4120} << same << -1 << -1 << false;
    QTest::newRow("fn3 record row")
        << withCrc(hex("01 03 0C 01 02 03 04 05 06 07 08 09 0A 0B 0C")) << -1
        << int(psReadComponent) << 4 << true << same
        << Words{0x0102, 0x0304, 0x0506, 0x0708, 0x090A, 0x0B0C} << -1 << -1 << false;
    QTest::newRow("fn3 byte count 0") << withCrc(hex("01 03 00")) << -1 << int(psReadWeight) << 0
                                      << false << same << same << -1 << -1 << false;
    QTest::newRow("fn3 byte count 5 stores 2 words")
        << withCrc(hex("01 03 05 11 22 33 44 55")) << -1 << int(psReadComponent) << 3 << true
        << same << Words{0x1122, 0x3344} << -1 << -1 << false;
    QTest::newRow("fn3 byte count disagrees with length")
        << withCrc(hex("01 03 04 11 22 33 44 55")) << -1 << int(psReadComponent) << 3 << false
        << same << same << -1 << -1 << false;
    QTest::newRow("exception reply") << withCrc(hex("01 83 02")) << -1 << int(psReadWeight) << 0
                                     << false << same << same << -1 << -1 << false;
    QTest::newRow("another device address")
        << withCrc(hex("07 03 04 00 00 41 20")) << -1 << int(psReadWeight) << 0 << true
        << Words{0x0000, 0x4120} << same << -1 << -1 << false;
    QByteArray badCrc = weight10;
    badCrc[badCrc.size() - 1] = char(badCrc.back() ^ 0x01);
    QTest::newRow("bad crc") << badCrc << -1 << int(psReadWeight) << 0 << false << same << same
                             << -1 << -1 << false;
    QTest::newRow("fn16 echo while sending the command")
        << withCrc(hex("01 10 00 02 00 01")) << -1 << int(psSendCommand) << 0 << true << same
        << same << -1 << -1 << true;
    QTest::newRow("fn16 echo in another step")
        << withCrc(hex("01 10 00 02 00 01")) << -1 << int(psReadWeight) << 0 << true << same << same
        << -1 << -1 << false;
    QTest::newRow("fn16 of 7 bytes") << withCrc(hex("01 10 00 02 00")) << -1 << int(psSendCommand)
                                     << 0 << false << same << same << -1 << -1 << false;
    QTest::newRow("fn1 outputs") << withCrc(hex("01 01 01 A5")) << -1 << int(psReadCoils) << 0
                                 << true << same << same << 0xA5 << -1 << false;
    QTest::newRow("fn2 inputs") << withCrc(hex("01 02 01 5A")) << -1 << int(psReadDiscreteInputs)
                                << 0 << true << same << same << -1 << 0x5A << false;
    QTest::newRow("fn1 without a data byte") << withCrc(hex("01 01")) << -1 << int(psReadCoils) << 0
                                             << false << same << same << -1 << -1 << false;
    QTest::newRow("other function accepted, nothing decoded")
        << withCrc(hex("01 05 00 01 FF 00")) << -1 << int(psReadWeight) << 0 << true << same << same
        << -1 << -1 << false;

    // Shorter than address + function + CRC: nothing can be checked (these have a zero CRC).
    QTest::newRow("0 bytes") << QByteArray() << -1 << int(psReadWeight) << 0 << false << same
                             << same << -1 << -1 << false;
    QTest::newRow("1 byte") << hex("01") << -1 << int(psReadWeight) << 0 << false << same << same
                            << -1 << -1 << false;
    QTest::newRow("2 bytes") << hex("FF FF") << -1 << int(psReadWeight) << 0 << false << same
                             << same << -1 << -1 << false;
    QTest::newRow("3 bytes") << withCrc(hex("03")) << -1 << int(psReadWeight) << 0 << false << same
                             << same << -1 << -1 << false;

    // Longer replies than the destination holds: the excess words are dropped.
    QTest::newRow("fn3 over-long weight")
        << withCrc(hex("01 03 06 00 00 41 20 77 77")) << -1 << int(psReadWeight) << 0 << true
        << Words{0x0000, 0x4120} << same << -1 << -1 << false;
    QTest::newRow("fn3 over-long record, last row")
        << withCrc(hex("01 03 10 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10")) << -1
        << int(psReadWeighing) << 55 << true << same
        << Words{0x0102, 0x0304, 0x0506, 0x0708, 0x090A, 0x0B0C} << -1 << -1 << false;
    QTest::newRow("fn3 six words into the counters row")
        << withCrc(hex("01 03 0C 00 07 56 78 12 34 99 99 99 99 99 99")) << -1 << int(psReadCounters)
        << 56 << true << same << Words{0x0007, 0x5678, 0x1234} << -1 << -1 << false;
    QTest::newRow("fn3 for a row outside the image")
        << withCrc(hex("01 03 0C 01 02 03 04 05 06 07 08 09 0A 0B 0C")) << -1 << int(psReadWeighing)
        << 57 << true << same << same << -1 << -1 << false;

    // Only the newest `count` bytes belong to the reply.
    QTest::newRow("stale bytes before the reply")
        << hex("DE AD BE") + weight10 << int(weight10.size()) << int(psReadWeight) << 0 << true
        << Words{0x0000, 0x4120} << same << -1 << -1 << false;
    QTest::newRow("stale bytes counted in") << hex("DE AD BE") + weight10 << -1 << int(psReadWeight)
                                            << 0 << false << same << same << -1 << -1 << false;
    // 131 bytes that would be a good reply: its first three bytes are lost to the buffer.
    QTest::newRow("more than 128 bytes")
        << withCrc(hex("01 03 7E") + QByteArray(126, '\x42')) << -1 << int(psReadComponent) << 0
        << false << same << same << -1 << -1 << false;
    QTest::newRow("count far beyond the buffer") << weight10 << 100000 << int(psReadWeight) << 0
                                                 << false << same << same << -1 << -1 << false;
    QTest::newRow("negative count")
        << weight10 << -5 << int(psReadWeight) << 0 << false << same << same << -1 << -1 << false;
}

void TestModbus::checkReply() {
    QFETCH(QByteArray, reply);
    QFETCH(int, count);
    QFETCH(int, state);
    QFETCH(int, index);
    QFETCH(bool, accepted);
    QFETCH(Words, weight);
    QFETCH(Words, row);
    QFETCH(int, outputs);
    QFETCH(int, inputs);
    QFETCH(bool, ack);
    if (count == -1)
        count = int(reply.size());

    TerminalData data = patterned();
    TerminalData expected = patterned();
    for (int i = 0; i < weight.size(); ++i)
        expected.currentWeightWords[size_t(i)] = weight[i];
    for (int i = 0; i < row.size(); ++i)
        expected.image.setWord(index, i, row[i]);
    if (outputs >= 0)
        expected.OutputBits = quint8(outputs);
    if (inputs >= 0)
        expected.InputBits = quint8(inputs);
    expected.CommandAcknowledged = ack;

    const ReplyCheck result = CheckReply(received(reply), count, PollState(state), index, data);

    QCOMPARE(result.accepted, accepted);
    // The trace shows every stored byte of the reply, accepted or not.
    // Bytes that never arrived read as the zeros of a fresh buffer.
    const int shown = std::clamp(count, 0, 128);
    QCOMPARE(result.trace, traceOf("<< ", (QByteArray(128, '\0') + reply).right(shown)));
    compareData(data, expected);
}

// A register travels high byte first and is kept as a little-endian word, so the 12 wire bytes of
// a record arrive in the record's byte order 1, 0, 3, 2, ...
void TestModbus::recordBytesLandInMemoryOrder() {
    // Weight 2.5 (0x40200000), 31.12.24 23:59:58, component index 15.
    const QByteArray reply = withCrc(hex("01 03 0C 00 00 40 20 0C 1F 17 18 3A 3B 00 0F"));
    TerminalData data;
    const int slot = 39;
    QVERIFY(CheckReply(received(reply), int(reply.size()), psReadWeighing,
                       TerminalMap::ringRow(slot), data)
                .accepted);
    const WeighingRecord w = data.image.weighing(slot);
    QCOMPARE(w.Weight, 2.5f);
    QCOMPARE(w.Day, quint8(31));
    QCOMPARE(w.Month, quint8(12));
    QCOMPARE(w.Year, quint8(24));
    QCOMPARE(w.Hour, quint8(23));
    QCOMPARE(w.Minute, quint8(59));
    QCOMPARE(w.Second, quint8(58));
    QCOMPARE(w.Component, qint16(15));

    // Current weight: register 0 carries the low 16 bits.
    const QByteArray weightReply = withCrc(hex("01 03 04 80 00 3F C0"));
    QVERIFY(
        CheckReply(received(weightReply), int(weightReply.size()), psReadWeight, 0, data).accepted);
    QCOMPARE(data.CurrentWeight(), 1.50390625f);
}

QTEST_GUILESS_MAIN(TestModbus)
#include "tst_modbus.moc"
