#include "link/modbus.h"

#include "link/pollstate.h"
#include "link/serialport.h"

#include <algorithm>
#include <vector>

namespace {

constexpr int MaxWriteQuantity = 125;
constexpr int MinReplyLength = 4; // address, function, CRC low, CRC high
constexpr int WriteEchoLength = 8;

void appendHex(QString& line, quint8 b) {
    static constexpr char digits[] = "0123456789ABCDEF";
    line += QLatin1Char(digits[b >> 4]);
    line += QLatin1Char(digits[b & 0x0F]);
    line += QLatin1Char(' ');
}

void appendCrc(std::vector<quint8>& frame) {
    const quint16 crc = Crc16(frame);
    frame.push_back(quint8(crc & 0xFF));
    frame.push_back(quint8(crc >> 8));
}

void putWord(std::vector<quint8>& frame, qint32 value) {
    frame.push_back(quint8((value >> 8) & 0xFF));
    frame.push_back(quint8(value & 0xFF));
}

SendResult sendFrame(SerialPort& port, const std::vector<quint8>& frame) {
    SendResult result;
    result.trace = QStringLiteral(">> ");
    result.trace.reserve(3 + 3 * int(frame.size()));
    for (const quint8 b : frame) {
        if (!port.SendByte(b)) {
            // A line that refuses a byte is in an unknown state: close it so the poll cycle
            // reopens it, and never send the rest of a frame the terminal cannot parse.
            port.Close();
            result.failed = true;
            break;
        }
        appendHex(result.trace, b);
    }
    return result;
}

} // namespace

void CrcUpdate(quint8 b, quint32& crc) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) {
        const bool carry = crc & 1u;
        crc >>= 1;
        if (carry)
            crc ^= 0xA001u;
    }
}

quint16 Crc16(std::span<const quint8> bytes) {
    quint32 crc = CrcInit;
    for (const quint8 b : bytes)
        CrcUpdate(b, crc);
    return quint16(crc);
}

SendResult SendReadRequest(SerialPort& port, qint32 device, ModbusFunction function, qint32 start,
                           qint32 quantity) {
    std::vector<quint8> frame;
    frame.reserve(8);
    frame.push_back(quint8(device & 0xFF));
    frame.push_back(quint8(function));
    putWord(frame, start);
    putWord(frame, quantity);
    appendCrc(frame);
    return sendFrame(port, frame);
}

SendResult SendWriteRequest(SerialPort& port, qint32 device, qint32 start, qint32 quantity,
                            std::span<const quint16> words) {
    if (quantity < 1 || quantity > MaxWriteQuantity || words.size() < size_t(quantity))
        return {QStringLiteral(">> "), true};

    std::vector<quint8> frame;
    frame.reserve(size_t(9 + 2 * quantity));
    frame.push_back(quint8(device & 0xFF));
    frame.push_back(quint8(ModbusFunction::WriteMultipleRegisters));
    putWord(frame, start);
    putWord(frame, quantity);
    frame.push_back(quint8(2 * quantity));
    for (qint32 i = 0; i < quantity; ++i)
        putWord(frame, words[size_t(i)]);
    appendCrc(frame);
    return sendFrame(port, frame);
}

ReplyCheck CheckReply(const RxBuffer& rx, qint32 count, PollState pollState, qint32 pollIndex,
                      TerminalData& data) {
    constexpr int stored = int(std::tuple_size_v<RxBuffer>);
    const int n = std::clamp(count, 0, stored);

    // Byte j of the reply in arrival order (0 = device address); only valid for j < n.
    const auto at = [&](int j) { return rx[size_t(n - 1 - j)]; };

    ReplyCheck result;
    result.trace = QStringLiteral("<< ");
    result.trace.reserve(3 + 3 * n);
    quint32 crc = CrcInit;
    for (int j = 0; j < n; ++j) {
        appendHex(result.trace, at(j));
        CrcUpdate(at(j), crc);
    }

    // A longer reply has lost its first bytes to the 128-byte buffer: it cannot be checked.
    if (count < MinReplyLength || count > stored)
        return result;
    if (crc != 0)
        return result;

    const quint8 function = at(1);
    if (function & 0x80)
        return result;

    switch (ModbusFunction(function)) {
    case ModbusFunction::ReadHoldingRegisters: {
        // The byte count is a signed byte; a non-positive one never describes data.
        const int byteCount = qint8(at(2));
        if (byteCount <= 0 || count - 5 != byteCount)
            return result;
        const bool toWeight = pollState == PollState::psReadWeight;
        const int capacity =
            toWeight ? int(data.currentWeightWords.size()) : TerminalImage::rowCapacity(pollIndex);
        const int words = std::min(byteCount / 2, capacity);
        for (int i = 0; i < words; ++i) {
            const quint16 value = quint16(at(3 + 2 * i) << 8 | at(4 + 2 * i));
            if (toWeight)
                data.currentWeightWords[size_t(i)] = value;
            else
                data.image.setWord(pollIndex, i, value);
        }
        break;
    }
    case ModbusFunction::ReadCoils:
    case ModbusFunction::ReadDiscreteInputs:
        // The first data byte must lie before the CRC, not be one of its bytes.
        if (count < MinReplyLength + 2)
            return result;
        (ModbusFunction(function) == ModbusFunction::ReadCoils ? data.OutputBits : data.InputBits) =
            at(3);
        break;
    case ModbusFunction::WriteMultipleRegisters:
        if (count != WriteEchoLength)
            return result;
        if (pollState == PollState::psSendCommand)
            data.CommandAcknowledged = true;
        break;
    default:
        break;
    }
    result.accepted = true;
    return result;
}
