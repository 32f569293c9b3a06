#pragma once

#include "link/pollstate.h"
#include "link/terminalimage.h"

#include <QString>
#include <QStringView>

#include <array>
#include <span>

class SerialPort;

// The Modbus RTU master's framing: CRC-16/MODBUS, the two request senders and the reply check.
// Trace lines for the exchange console: ">> " or "<< " followed by every byte as two upper-case
// hexadecimal digits and one space (so the line ends with a space).

// Texts of the warning box the caller shows when a request could not be written.
inline constexpr QStringView WriteErrorText =
    u"Невозможно осуществить запись в последовательный порт.";
inline constexpr QStringView WriteErrorCaption = u"Ошибка";

// The Modbus functions the terminal is spoken to with.
enum class ModbusFunction : quint8 {
    ReadCoils = 1,
    ReadDiscreteInputs = 2,
    ReadHoldingRegisters = 3,
    WriteMultipleRegisters = 16,
};

// Initial value of the CRC accumulator.
inline constexpr quint32 CrcInit = 0xFFFF;

// One CRC-16/MODBUS step (reflected polynomial 0xA001, no final XOR): folds byte `b` into `crc`.
void CrcUpdate(quint8 b, quint32& crc);
// CRC-16/MODBUS of a whole byte string. Over a frame including its two CRC bytes (low byte first)
// the result is 0.
quint16 Crc16(std::span<const quint8> bytes);

struct SendResult {
    // ">> " and every byte that the port accepted.
    QString trace;
    // The request was not sent in full. When the port refused a byte, the port has been closed and
    // no further byte was sent; the caller shows WriteErrorText / WriteErrorCaption.
    bool failed = false;
};

// Read request (function 1, 2 or 3): device address, function, start and quantity (each low
// 16 bits, high byte first), CRC. Sent byte by byte.
SendResult SendReadRequest(SerialPort& port, qint32 device, ModbusFunction function, qint32 start,
                           qint32 quantity);

// Write-multiple-registers request (function 16) of `quantity` registers from `words`, each sent
// high byte first. `quantity` must be 1..125 (the frame holds at most 125 registers) and `words`
// must hold that many; otherwise nothing is sent, the port is left as it is and `failed` is set.
SendResult SendWriteRequest(SerialPort& port, qint32 device, qint32 start, qint32 quantity,
                            std::span<const quint16> words);

// Reply bytes as the poll cycle receives them: the newest byte at index 0, so a reply of n bytes
// has its first byte at index n - 1. Only the newest 128 bytes are kept.
using RxBuffer = std::array<quint8, 128>;

struct ReplyCheck {
    bool accepted = false;
    // "<< " and every stored byte of the reply in arrival order; built for every reply.
    QString trace;
};

// Checks a reply of `count` bytes (the poll cycle's RxCount) and decodes it into `data`:
// function 3 words go to the current weight in psReadWeight, else to image row `pollIndex`;
// function 1/2 set OutputBits/InputBits; a function 16 echo sets CommandAcknowledged in
// psSendCommand. Rejected (nothing decoded): fewer than 4 bytes; more than the 128 stored bytes
// (the start of such a reply is lost); a bad CRC; an exception reply; a function 3 reply whose
// byte count is not positive or does not match its length; a function 1/2 reply without a data
// byte; a function 16 reply that is not 8 bytes. The address is not examined. Words beyond the
// capacity of the destination (2 for the weight, 6 per record row, 3 for the counters row) are
// dropped.
ReplyCheck CheckReply(const RxBuffer& rx, qint32 count, PollState pollState, qint32 pollIndex,
                      TerminalData& data);
