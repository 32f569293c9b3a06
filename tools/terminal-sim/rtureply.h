#pragma once

#include <modbus/modbus.h>

#include <cstdint>
#include <span>
#include <vector>

// RTU reply frames built by the simulator itself, for the faults that libmodbus cannot produce
// (a corrupted CRC, another sender address, a reply written in two parts). For a valid request
// the frame is byte for byte the one libmodbus would send, so a fault changes only what it names.
namespace rtureply {

// CRC-16/MODBUS: reflected polynomial 0xA001, initial value 0xFFFF, no final XOR.
uint16_t crc16(std::span<const uint8_t> bytes);

// Appends the CRC, low byte first.
void appendCrc(std::vector<uint8_t>& frame);

// The exception reply to request: address, function | 0x80, code, CRC.
std::vector<uint8_t> exceptionFrame(std::span<const uint8_t> request, uint8_t code);

// The normal reply to a complete request (address byte first, CRC last) served from mapping:
// data for functions 1, 2, 3 and 4, the echo for 6 and 16, and the exception reply libmodbus
// would give for a quantity or address out of range or a function it is not asked to mimic.
std::vector<uint8_t> normalFrame(const modbus_mapping_t& mapping, std::span<const uint8_t> request);

} // namespace rtureply
