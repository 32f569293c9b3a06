// The terminal simulator seen from the master's side: a libmodbus RTU client on the other end
// of the pty pair reads the register map, writes the command register and meets every fault.

#include "support/simpair.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <modbus/modbus.h>

#include <array>
#include <bit>
#include <cerrno>
#include <csignal>
#include <optional>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Slave = 7;
constexpr int RecordBase = 330;
constexpr int CountersRegister = 666;

using Bytes = std::vector<uint8_t>;

uint16_t crc16(const Bytes& bytes) {
    uint16_t crc = 0xFFFF;
    for (const uint8_t b : bytes) {
        crc ^= b;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    return crc;
}

Bytes withCrc(Bytes frame) {
    const uint16_t crc = crc16(frame);
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

QByteArray hex(const Bytes& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()))
        .toHex(' ');
}

// A record row as the program lays it in memory: register i gives bytes 2i (low) and 2i + 1.
struct Record {
    float value = 0; // Weight or Sum
    int day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
    int16_t last = 0; // Component or Count

    QString dateTimeText() const {
        return QStringLiteral("%1-%2-%3 %4:%5:%6")
            .arg(2000 + year)
            .arg(month, 2, 10, QLatin1Char('0'))
            .arg(day, 2, 10, QLatin1Char('0'))
            .arg(hour, 2, 10, QLatin1Char('0'))
            .arg(minute, 2, 10, QLatin1Char('0'))
            .arg(second, 2, 10, QLatin1Char('0'));
    }
};

Record decodeRecord(const std::array<uint16_t, 6>& registers) {
    std::array<uint8_t, 12> memory{};
    for (int i = 0; i < 6; ++i) {
        memory[2 * i] = static_cast<uint8_t>(registers[i] & 0xFF);
        memory[2 * i + 1] = static_cast<uint8_t>(registers[i] >> 8);
    }
    Record r;
    const uint32_t bits =
        memory[0] | (memory[1] << 8) | (memory[2] << 16) | (uint32_t(memory[3]) << 24);
    r.value = std::bit_cast<float>(bits);
    r.day = memory[4];
    r.month = memory[5];
    r.year = memory[6];
    r.hour = memory[7];
    r.minute = memory[8];
    r.second = memory[9];
    r.last = static_cast<int16_t>(memory[10] | (memory[11] << 8));
    return r;
}

// Weights are compared bit for bit: a near miss is a wrong weight.
uint32_t bits(float value) {
    return std::bit_cast<uint32_t>(value);
}

uint64_t bits(double value) {
    return std::bit_cast<uint64_t>(value);
}

struct Counters {
    int ringHead = -1;
    uint32_t counter = 0;
};

struct RawReply {
    Bytes bytes;
    qint64 longestPauseMs = 0; // the longest silence between two parts of the reply
};

} // namespace

class SimSelfTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void startCounterFillsTheRingHistory();
    void weightRegistersCarryTheCurrentWeight_data();
    void weightRegistersCarryTheCurrentWeight();
    void weighRecordsIntoRingTotalsAndTruth_data();
    void weighRecordsIntoRingTotalsAndTruth();
    void resetCounterAndNewestWeightChangeOnlyTheirFields();
    void inputsCommandSetsTheDiscreteInputs_data();
    void inputsCommandSetsTheDiscreteInputs();
    void commandWriteIsEchoedAndCarriedOut_data();
    void commandWriteIsEchoedAndCarriedOut();
    void writesOutsideTheCommandRegisterAreRefused_data();
    void writesOutsideTheCommandRegisterAreRefused();
    void faultShapesTheNextReplies_data();
    void faultShapesTheNextReplies();
    void libmodbusClientSeesTheFault_data();
    void libmodbusClientSeesTheFault();
    void survivesGarbageAndGoesOnAnswering_data();
    void survivesGarbageAndGoesOnAnswering();
    void badControlLinesAreRefusedAndChangeNothing_data();
    void badControlLinesAreRefusedAndChangeNothing();

    void scheduleRecordsWeighingsOnItsOwn();
    void pairStopsCleanly_data();
    void pairStopsCleanly();
    void lineHangupStopsTheSimulator();

private:
    std::optional<std::vector<uint16_t>> readRegisters(int address, int count);
    Counters counters();
    Record row(int r);
    float currentWeight();
    uint8_t coils();
    // firstByteMs: how long to wait for a reply to begin; a reply that is not expected at all
    // is waited for only briefly.
    RawReply exchange(const Bytes& requestWithoutCrc, int firstByteMs = 3000);
    QList<QJsonObject> truth() const { return readTruthObjects(m_truthPath); }

    QTemporaryDir m_dir;
    QString m_truthPath;
    SimPair m_pair;
    modbus_t* m_client = nullptr;
};

void SimSelfTest::initTestCase() {
    if (QStandardPaths::findExecutable(QStringLiteral("socat")).isEmpty())
        QSKIP("socat is not installed");
    QVERIFY(m_dir.isValid());
    m_truthPath = m_dir.filePath(QStringLiteral("truth.jsonl"));
    QVERIFY2(m_pair.start({"--slave", QString::number(Slave), "--counter", "38", "--seed", "11",
                           "--truth", m_truthPath}),
             qPrintable(m_pair.log()));

    m_client = modbus_new_rtu(qPrintable(m_pair.device()), 9600, 'N', 8, 1);
    QVERIFY(m_client);
    QCOMPARE(modbus_set_slave(m_client, Slave), 0);
    QCOMPARE(modbus_connect(m_client), 0);
    modbus_set_response_timeout(m_client, 1, 0);
}

void SimSelfTest::cleanupTestCase() {
    if (m_client) {
        modbus_close(m_client);
        modbus_free(m_client);
    }
    if (!m_pair.device().isEmpty())
        QCOMPARE(m_pair.stop(), 0);
}

std::optional<std::vector<uint16_t>> SimSelfTest::readRegisters(int address, int count) {
    std::vector<uint16_t> values(static_cast<std::size_t>(count));
    if (modbus_read_registers(m_client, address, count, values.data()) != count)
        return std::nullopt;
    return values;
}

Counters SimSelfTest::counters() {
    const auto values = readRegisters(CountersRegister, 3);
    if (!values)
        return {};
    return {static_cast<int16_t>((*values)[0]), (*values)[1] | (uint32_t((*values)[2]) << 16)};
}

Record SimSelfTest::row(int r) {
    const auto values = readRegisters(RecordBase + 6 * r, 6);
    if (!values)
        return Record{std::numeric_limits<float>::quiet_NaN()};
    std::array<uint16_t, 6> registers{};
    std::copy(values->begin(), values->end(), registers.begin());
    return decodeRecord(registers);
}

float SimSelfTest::currentWeight() {
    const auto values = readRegisters(0, 2);
    if (!values)
        return std::numeric_limits<float>::quiet_NaN();
    return std::bit_cast<float>((*values)[0] | (uint32_t((*values)[1]) << 16));
}

uint8_t SimSelfTest::coils() {
    std::array<uint8_t, 8> bits{};
    if (modbus_read_bits(m_client, 0, 8, bits.data()) != 8)
        return 0xEE; // not a pattern the simulator makes: the caller's compare fails
    uint8_t value = 0;
    for (int k = 0; k < 8; ++k)
        value |= static_cast<uint8_t>(bits[k] << k);
    return value;
}

// Writes a request with its CRC straight to the line and collects whatever comes back until
// the line has been silent for SilenceMs, noting the pauses inside the reply.
RawReply SimSelfTest::exchange(const Bytes& requestWithoutCrc, int firstByteMs) {
    constexpr int SilenceMs = 150; // ends the reply; far above the 40 ms of a split
    const int fd = modbus_get_socket(m_client);
    tcflush(fd, TCIFLUSH);
    const Bytes request = withCrc(requestWithoutCrc);
    if (::write(fd, request.data(), request.size()) != ssize_t(request.size()))
        return {};
    RawReply reply;
    QElapsedTimer clock;
    clock.start();
    qint64 lastByteAt = -1;
    for (;;) {
        const qint64 waited = lastByteAt < 0 ? clock.elapsed() : clock.elapsed() - lastByteAt;
        const int limit = lastByteAt < 0 ? firstByteMs : SilenceMs;
        if (waited >= limit)
            break;
        pollfd in{fd, POLLIN, 0};
        if (::poll(&in, 1, int(limit - waited)) <= 0)
            continue;
        uint8_t buffer[300];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0)
            continue;
        const qint64 now = clock.elapsed();
        if (lastByteAt >= 0)
            reply.longestPauseMs = std::max(reply.longestPauseMs, now - lastByteAt);
        lastByteAt = now;
        reply.bytes.insert(reply.bytes.end(), buffer, buffer + got);
    }
    return reply;
}

void SimSelfTest::startCounterFillsTheRingHistory() {
    // --counter 38: the ring holds weighings 1..38 in slots 0..37, RingHead 37.
    const Counters start = counters();
    QCOMPARE(start.counter, 38u);
    QCOMPARE(start.ringHead, 37);

    const QList<QJsonObject> lines = truth();
    QCOMPARE(lines.size(), 38);
    std::array<float, 16> sums{};
    std::array<int, 16> counts{};
    for (int i = 0; i < lines.size(); ++i) {
        const QJsonObject& line = lines[i];
        QCOMPARE(line["number"].toInt(), i + 1);
        QCOMPARE(line["slot"].toInt(), i);
        const int component = line["component"].toInt();
        QVERIFY(component >= 1 && component <= 16);
        const Record slot = row(16 + i);
        QCOMPARE(bits(slot.value), bits(float(line["weight"].toDouble())));
        QCOMPARE(slot.last, component - 1);
        QCOMPARE(slot.dateTimeText(), line["datetime"].toString());
        sums[component - 1] += float(line["weight"].toDouble());
        ++counts[component - 1];
    }
    // Every history weighing went into its component's total.
    for (int c = 0; c < 16; ++c) {
        const Record total = row(c);
        QCOMPARE(total.last, counts[c]);
        QCOMPARE(bits(total.value), bits(sums[c]));
    }
}

void SimSelfTest::weightRegistersCarryTheCurrentWeight_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<float>("expected");
    QTest::newRow("exact") << "123.25" << 123.25f;
    QTest::newRow("negative") << "-0.5" << -0.5f;
    QTest::newRow("not exact in binary") << "0.1" << 0.1f;
    QTest::newRow("both words busy") << "98765.4321" << 98765.4321f;
}

void SimSelfTest::weightRegistersCarryTheCurrentWeight() {
    QFETCH(QString, text);
    QFETCH(float, expected);
    QVERIFY(m_pair.control("weight " + text).startsWith("done"));
    const auto registers = readRegisters(0, 2);
    QVERIFY(registers);
    // Register 0 is the low half of the single, register 1 the high half.
    const auto bits = std::bit_cast<uint32_t>(expected);
    QCOMPARE((*registers)[0], uint16_t(bits & 0xFFFF));
    QCOMPARE((*registers)[1], uint16_t(bits >> 16));
}

void SimSelfTest::weighRecordsIntoRingTotalsAndTruth_data() {
    QTest::addColumn<int>("component");
    QTest::addColumn<QString>("weight");
    QTest::newRow("component 3") << 3 << "12.5";
    QTest::newRow("last slot, component 16") << 16 << "0.1";
    QTest::newRow("ring wraps to slot 0") << 1 << "1999.9";
}

void SimSelfTest::weighRecordsIntoRingTotalsAndTruth() {
    QFETCH(int, component);
    QFETCH(QString, weight);
    const float w = weight.toFloat();
    const Counters before = counters();
    QVERIFY(before.ringHead >= 0);
    const Record totalBefore = row(component - 1);

    QVERIFY(m_pair.control(QStringLiteral("weigh %1 %2").arg(component).arg(weight))
                .startsWith("done"));

    const Counters after = counters();
    QCOMPARE(after.counter, before.counter + 1);
    QCOMPARE(after.ringHead, (before.ringHead + 1) % 40);

    const Record slot = row(16 + after.ringHead);
    QCOMPARE(bits(slot.value), bits(w));
    QCOMPARE(slot.last, int16_t(component - 1));
    const QDateTime stamped =
        QDateTime::fromString(slot.dateTimeText(), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    QVERIFY2(qAbs(stamped.secsTo(QDateTime::currentDateTime())) <= 5,
             qPrintable(slot.dateTimeText()));

    const Record totalAfter = row(component - 1);
    QCOMPARE(totalAfter.last, int16_t(totalBefore.last + 1));
    QCOMPARE(bits(totalAfter.value), bits(totalBefore.value + w));
    QCOMPARE(bits(currentWeight()), bits(w));

    const QJsonObject line = truth().last();
    QCOMPARE(line["number"].toInteger(), qint64(after.counter));
    QCOMPARE(line["slot"].toInt(), after.ringHead);
    QCOMPARE(line["component"].toInt(), component);
    QCOMPARE(line["datetime"].toString(), slot.dateTimeText());
    // The printed weight is the single itself, not merely close to it.
    QCOMPARE(bits(line["weight"].toDouble()), bits(double(w)));
    QVERIFY(!line.contains("corrected"));
}

void SimSelfTest::resetCounterAndNewestWeightChangeOnlyTheirFields() {
    const Counters before = counters();
    const Record newest = row(16 + before.ringHead);
    const Record total = row(newest.last);
    const qsizetype truthLines = truth().size();

    QVERIFY(m_pair.control("reset-counter 5").startsWith("done"));
    QCOMPARE(counters().counter, 5u);
    QCOMPARE(counters().ringHead, before.ringHead);

    QVERIFY(m_pair.control("set-newest-weight 7.25").startsWith("done"));
    const Record corrected = row(16 + before.ringHead);
    QCOMPARE(bits(corrected.value), bits(7.25f));
    QCOMPARE(corrected.last, newest.last);
    QCOMPARE(corrected.dateTimeText(), newest.dateTimeText());
    QCOMPARE(counters().counter, 5u);
    const Record totalAfter = row(newest.last);
    QCOMPARE(totalAfter.last, total.last);
    QCOMPARE(bits(totalAfter.value), bits(total.value - newest.value + 7.25f));

    // The truth file repeats the weighing with its new weight, marked as a correction.
    const QList<QJsonObject> lines = truth();
    QCOMPARE(lines.size(), truthLines + 1);
    QCOMPARE(lines.last()["number"].toInteger(), qint64(before.counter));
    QCOMPARE(bits(lines.last()["weight"].toDouble()), bits(7.25));
    QCOMPARE(lines.last()["corrected"].toBool(), true);

    // The next weighing counts on from the counter that was set.
    QVERIFY(m_pair.control("weigh 2 1").startsWith("done"));
    QCOMPARE(counters().counter, 6u);
    QCOMPARE(counters().ringHead, (before.ringHead + 1) % 40);
    QVERIFY(m_pair.control("reset-counter").startsWith("done"));
    QCOMPARE(counters().counter, 0u);
}

void SimSelfTest::inputsCommandSetsTheDiscreteInputs_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("bits");
    QTest::newRow("A5") << "A5" << 0xA5;
    QTest::newRow("0x01") << "0x01" << 0x01;
    QTest::newRow("ff") << "ff" << 0xFF;
    QTest::newRow("0") << "0" << 0x00;
}

void SimSelfTest::inputsCommandSetsTheDiscreteInputs() {
    QFETCH(QString, text);
    QFETCH(int, bits);
    QVERIFY(m_pair.control("inputs " + text).startsWith("done"));
    std::array<uint8_t, 8> inputs{};
    QCOMPARE(modbus_read_input_bits(m_client, 0, 8, inputs.data()), 8);
    for (int k = 0; k < 8; ++k)
        QCOMPARE(int(inputs[k]), (bits >> k) & 1);
}

void SimSelfTest::commandWriteIsEchoedAndCarriedOut_data() {
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("word");
    QTest::addColumn<int>("coils");     // expected outputs after the command, -1 unchanged
    QTest::addColumn<int>("component"); // of the weighing it records, 0 none
    QTest::newRow("start input 1") << Slave << 0x0001 << 0x01 << 1;
    QTest::newRow("start input 12") << Slave << 0x0B01 << 0x08 << 12;
    QTest::newRow("start input 24") << Slave << 0x1701 << 0x80 << 8;
    QTest::newRow("unknown command code") << Slave << 0x0502 << -1 << 0;
    QTest::newRow("input 25 does not exist") << Slave << 0x1801 << -1 << 0;
    QTest::newRow("broadcast: carried out, not answered") << 0 << 0x0301 << 0x08 << 4;
}

void SimSelfTest::commandWriteIsEchoedAndCarriedOut() {
    QFETCH(int, address);
    QFETCH(int, word);
    QFETCH(int, coils);
    QFETCH(int, component);
    const Counters before = counters();
    const uint8_t coilsBefore = this->coils();

    const Bytes request{uint8_t(address),    0x10, 0x00, 0x02, 0x00, 0x01, 0x02, uint8_t(word >> 8),
                        uint8_t(word & 0xFF)};
    const RawReply reply = exchange(request, address == 0 ? 500 : 3000);
    if (address == 0)
        QVERIFY2(reply.bytes.empty(), hex(reply.bytes));
    else
        QCOMPARE(hex(reply.bytes), hex(withCrc({uint8_t(Slave), 0x10, 0x00, 0x02, 0x00, 0x01})));

    QCOMPARE(int(this->coils()), coils < 0 ? int(coilsBefore) : coils);
    const Counters after = counters();
    if (component == 0) {
        QCOMPARE(after.counter, before.counter);
        return;
    }
    QCOMPARE(after.counter, before.counter + 1);
    QCOMPARE(row(16 + after.ringHead).last, int16_t(component - 1));
    QCOMPARE(truth().last()["component"].toInt(), component);
    QCOMPARE(readRegisters(2, 1).value_or(std::vector<uint16_t>{0})[0], uint16_t(word));
}

void SimSelfTest::writesOutsideTheCommandRegisterAreRefused_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("function 6, weight register") << QByteArray::fromHex("0706000000ff");
    QTest::newRow("function 16, ring head") << QByteArray::fromHex("07100"
                                                                   "29a00010200ff");
    QTest::newRow("function 16, command register and the one after")
        << QByteArray::fromHex("071000020002040001000b");
    QTest::newRow("function 5, output coil") << QByteArray::fromHex("07050000ff00");
}

void SimSelfTest::writesOutsideTheCommandRegisterAreRefused() {
    QFETCH(QByteArray, request);
    const Counters before = counters();
    const float weight = currentWeight();
    const uint8_t outputs = coils();

    const RawReply reply = exchange(Bytes(request.begin(), request.end()));
    // Exception 2, illegal data address.
    QCOMPARE(hex(reply.bytes), hex(withCrc({uint8_t(Slave), uint8_t(request[1] | 0x80), 0x02})));
    QCOMPARE(counters().ringHead, before.ringHead);
    QCOMPARE(counters().counter, before.counter);
    QCOMPARE(bits(currentWeight()), bits(weight));
    QCOMPARE(coils(), outputs);
}

void SimSelfTest::faultShapesTheNextReplies_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("count"); // 0: until "fault none"
    QTest::newRow("drop") << "drop" << 1;
    QTest::newRow("badcrc twice") << "badcrc" << 2;
    QTest::newRow("exception") << "exception" << 1;
    QTest::newRow("otheraddr") << "otheraddr" << 1;
    QTest::newRow("split") << "split" << 1;
    QTest::newRow("drop until fault none") << "drop" << 0;
}

void SimSelfTest::faultShapesTheNextReplies() {
    QFETCH(QString, mode);
    QFETCH(int, count);
    const Bytes readCounters{uint8_t(Slave), 0x03, 0x02, 0x9A, 0x00, 0x03};
    const RawReply normal = exchange(readCounters);
    QCOMPARE(normal.bytes.size(), std::size_t(11));
    QCOMPARE(crc16(normal.bytes), 0);

    const QString command = count ? QStringLiteral("fault %1 %2").arg(mode).arg(count)
                                  : QStringLiteral("fault %1").arg(mode);
    QVERIFY(m_pair.control(command).startsWith("done"));
    const int spoiled = count ? count : 3;
    for (int i = 0; i < spoiled; ++i) {
        const RawReply reply = exchange(readCounters, mode == "drop" ? 500 : 3000);
        const QByteArray got = hex(reply.bytes);
        if (mode == "drop") {
            QVERIFY2(reply.bytes.empty(), got);
        } else if (mode == "badcrc") {
            QCOMPARE(reply.bytes.size(), normal.bytes.size());
            QVERIFY2(std::equal(normal.bytes.begin(), normal.bytes.end() - 2, reply.bytes.begin()),
                     got);
            QVERIFY2(crc16(reply.bytes) != 0, got);
        } else if (mode == "exception") {
            QCOMPARE(got, hex(withCrc({uint8_t(Slave), 0x83, 0x04})));
        } else if (mode == "otheraddr") {
            Bytes expected(normal.bytes.begin(), normal.bytes.end() - 2);
            expected[0] = Slave + 1;
            QCOMPARE(got, hex(withCrc(expected)));
        } else if (mode == "split") {
            QCOMPARE(got, hex(normal.bytes));
            // Longer than the master's 20 ms end-of-reply silence.
            QVERIFY2(reply.longestPauseMs >= 30, qPrintable(QString::number(reply.longestPauseMs)));
        }
    }
    if (!count)
        QVERIFY(m_pair.control("fault none").startsWith("done"));
    const RawReply after = exchange(readCounters);
    QCOMPARE(hex(after.bytes), hex(normal.bytes));
    QCOMPARE(after.longestPauseMs < 30, true);
}

void SimSelfTest::libmodbusClientSeesTheFault_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("error");
    QTest::newRow("drop") << "drop" << int(ETIMEDOUT);
    QTest::newRow("badcrc") << "badcrc" << int(EMBBADCRC);
    QTest::newRow("exception") << "exception" << int(EMBXSFAIL);
    QTest::newRow("otheraddr") << "otheraddr" << int(EMBBADSLAVE);
}

void SimSelfTest::libmodbusClientSeesTheFault() {
    QFETCH(QString, mode);
    QFETCH(int, error);
    QVERIFY(m_pair.control("fault " + mode + " 1").startsWith("done"));
    std::array<uint16_t, 2> weight{};
    errno = 0;
    QCOMPARE(modbus_read_registers(m_client, 0, 2, weight.data()), -1);
    QCOMPARE(errno, error);
    modbus_flush(m_client);
    QCOMPARE(modbus_read_registers(m_client, 0, 2, weight.data()), 2);
}

void SimSelfTest::survivesGarbageAndGoesOnAnswering_data() {
    QTest::addColumn<QByteArray>("garbage");
    QTest::addColumn<bool>("silent"); // no reply at all is expected to the garbage
    QByteArray noise;
    uint32_t x = 12345;
    for (int i = 0; i < 600; ++i) {
        x = x * 1103515245u + 12345u;
        noise.append(char(x >> 24));
    }
    QTest::newRow("600 random bytes") << noise << false;
    QTest::newRow("300 bytes 0xFF") << QByteArray(300, char(0xFF)) << false;
    QTest::newRow("truncated request") << QByteArray::fromHex("070300") << true;
    QTest::newRow("request with a bad CRC") << QByteArray::fromHex("0703000000020000") << true;
    QTest::newRow("write claiming 254 data bytes")
        << QByteArray::fromHex("071000020007fe") + QByteArray(40, 'x') << false;
    const Bytes otherSlave = withCrc({9, 0x03, 0x00, 0x00, 0x00, 0x02});
    QTest::newRow("request for another slave")
        << QByteArray(reinterpret_cast<const char*>(otherSlave.data()),
                      qsizetype(otherSlave.size()))
        << true;
}

void SimSelfTest::survivesGarbageAndGoesOnAnswering() {
    QFETCH(QByteArray, garbage);
    QFETCH(bool, silent);
    const int fd = modbus_get_socket(m_client);
    tcflush(fd, TCIFLUSH);
    QCOMPARE(::write(fd, garbage.constData(), size_t(garbage.size())), ssize_t(garbage.size()));
    if (silent) {
        pollfd in{fd, POLLIN, 0};
        QCOMPARE(::poll(&in, 1, 300), 0);
    }
    // The line may need a moment to settle after the noise; then requests are answered again.
    QTRY_VERIFY_WITH_TIMEOUT(modbus_flush(m_client) >= 0 && readRegisters(CountersRegister, 3),
                             5000);
    QCOMPARE(m_pair.process().state(), QProcess::Running);
}

void SimSelfTest::badControlLinesAreRefusedAndChangeNothing_data() {
    QTest::addColumn<QString>("line");
    QTest::newRow("component 17") << "weigh 17";
    QTest::newRow("component 0") << "weigh 0 5";
    QTest::newRow("weight not a number") << "weigh 3 abc";
    QTest::newRow("weight nan") << "weigh 3 nan";
    QTest::newRow("weight too large for a single") << "weigh 3 1e39";
    QTest::newRow("decimal comma") << "set-newest-weight 7,5";
    QTest::newRow("negative counter") << "reset-counter -1";
    QTest::newRow("counter beyond 32 bits") << "reset-counter 4294967296";
    QTest::newRow("inputs wider than a byte") << "inputs 1FF";
    QTest::newRow("unknown fault") << "fault sometimes";
    QTest::newRow("fault count 0") << "fault drop 0";
    QTest::newRow("count after none") << "fault none 3";
    QTest::newRow("extra word") << "quit now";
    QTest::newRow("unknown command") << "frobnicate";
}

void SimSelfTest::badControlLinesAreRefusedAndChangeNothing() {
    QFETCH(QString, line);
    const Counters before = counters();
    const qsizetype truthLines = truth().size();
    const float weight = currentWeight();

    QVERIFY2(m_pair.control(line).startsWith("refused: "), qPrintable(m_pair.log().right(300)));

    const Counters after = counters();
    QCOMPARE(after.counter, before.counter);
    QCOMPARE(after.ringHead, before.ringHead);
    QCOMPARE(truth().size(), truthLines);
    QCOMPARE(bits(currentWeight()), bits(weight));
    QCOMPARE(m_pair.process().state(), QProcess::Running);
}

void SimSelfTest::scheduleRecordsWeighingsOnItsOwn() {
    QTemporaryDir dir;
    const QString truthPath = dir.filePath(QStringLiteral("truth.jsonl"));
    SimPair pair;
    QVERIFY2(pair.start({"--schedule", "100", "--truth", truthPath, "--slave", "3"}),
             qPrintable(pair.log()));
    QTRY_VERIFY_WITH_TIMEOUT(readTruthObjects(truthPath).size() >= 3, 10000);

    modbus_t* client = modbus_new_rtu(qPrintable(pair.device()), 9600, 'N', 8, 1);
    QVERIFY(client);
    modbus_set_slave(client, 3);
    QCOMPARE(modbus_connect(client), 0);
    std::array<uint16_t, 3> countersRow{};
    const int read = modbus_read_registers(client, CountersRegister, 3, countersRow.data());
    modbus_close(client);
    modbus_free(client);
    QCOMPARE(read, 3);
    QCOMPARE(pair.stop(), 0);

    // Every scheduled weighing reached the truth file, numbered without a gap.
    const QList<QJsonObject> lines = readTruthObjects(truthPath);
    QVERIFY(qint64(lines.size()) >= countersRow[1]);
    for (int i = 0; i < lines.size(); ++i) {
        QCOMPARE(lines[i]["number"].toInt(), i + 1);
        QCOMPARE(lines[i]["slot"].toInt(), i % 40);
        QVERIFY(lines[i]["component"].toInt() >= 1 && lines[i]["component"].toInt() <= 16);
        QVERIFY(lines[i]["weight"].toDouble() > 0.0);
    }
}

void SimSelfTest::pairStopsCleanly_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("quit") << "quit";
    QTest::newRow("SIGTERM") << "SIGTERM";
    QTest::newRow("SIGINT") << "SIGINT";
    QTest::newRow("stdin closed") << "stdin";
}

void SimSelfTest::pairStopsCleanly() {
    QFETCH(QString, how);
    QTemporaryDir dir;
    const QString pairDir = dir.filePath(QStringLiteral("pair"));
    SimPair pair;
    QVERIFY2(pair.start({"--counter", "3"}, {"--dir", pairDir}), qPrintable(pair.log()));
    QCOMPARE(pair.device(), pairDir + QStringLiteral("/kdm"));
    QVERIFY(QFileInfo::exists(pairDir + QStringLiteral("/terminal")));

    int exitCode = -1;
    if (how == "quit") {
        pair.control("quit");
        exitCode = pair.waitForExit();
    } else if (how == "stdin") {
        exitCode = pair.stop();
    } else {
        ::kill(pid_t(pair.process().processId()), how == "SIGTERM" ? SIGTERM : SIGINT);
        exitCode = pair.waitForExit();
    }
    // 0 only when the simulator itself stopped cleanly.
    QVERIFY2(exitCode == 0, qPrintable(pair.log()));
    QVERIFY2(pair.log().contains(how == "quit" || how == "stdin" ? "stopped by quit"
                                                                 : "stopped by signal"),
             qPrintable(pair.log()));
    QVERIFY(!QFileInfo::exists(pairDir + QStringLiteral("/kdm")));
    QVERIFY(!QFileInfo::exists(pairDir + QStringLiteral("/control")));
}

void SimSelfTest::lineHangupStopsTheSimulator() {
    // The simulator alone on a pty pair whose socat then dies: it must notice and stop with an
    // error rather than spin on a line that reads as ready for ever.
    QTemporaryDir dir;
    const QString terminal = dir.filePath(QStringLiteral("terminal"));
    const QString kdm = dir.filePath(QStringLiteral("kdm"));
    QProcess socat;
    socat.start(QStringLiteral("socat"),
                {"pty,raw,echo=0,link=" + terminal, "pty,raw,echo=0,link=" + kdm});
    QVERIFY(socat.waitForStarted());
    QTRY_VERIFY(QFileInfo::exists(terminal) && QFileInfo::exists(kdm));

    QProcess simulator;
    simulator.setStandardInputFile(QProcess::nullDevice());
    simulator.start(SimPair::simulatorPath(), {"--device", terminal});
    QVERIFY(simulator.waitForReadyRead(10000));
    QCOMPARE(simulator.readLine().trimmed(), QByteArray("ready"));

    socat.kill();
    QVERIFY(socat.waitForFinished());
    QVERIFY(simulator.waitForFinished(5000));
    QCOMPARE(simulator.exitStatus(), QProcess::NormalExit);
    QCOMPARE(simulator.exitCode(), 1);
    QVERIFY(simulator.readAllStandardError().contains("hung up"));
}

QTEST_GUILESS_MAIN(SimSelfTest)
#include "sim_selftest.moc"
