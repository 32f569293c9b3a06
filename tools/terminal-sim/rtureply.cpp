#include "rtureply.h"

namespace rtureply {

namespace {

int word(std::span<const uint8_t> request, std::size_t at) {
    return (request[at] << 8) | request[at + 1];
}

std::vector<uint8_t> bitsFrame(std::span<const uint8_t> request, const uint8_t* bits,
                               int available) {
    const int start = word(request, 2);
    const int quantity = word(request, 4);
    if (quantity < 1 || quantity > MODBUS_MAX_READ_BITS)
        return exceptionFrame(request, MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
    if (start + quantity > available)
        return exceptionFrame(request, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
    std::vector<uint8_t> frame{request[0], request[1], static_cast<uint8_t>((quantity + 7) / 8)};
    for (int i = 0; i < quantity; ++i) {
        if (i % 8 == 0)
            frame.push_back(0);
        if (bits[start + i])
            frame.back() |= static_cast<uint8_t>(1u << (i % 8));
    }
    appendCrc(frame);
    return frame;
}

std::vector<uint8_t> registersFrame(std::span<const uint8_t> request, const uint16_t* registers,
                                    int available) {
    const int start = word(request, 2);
    const int quantity = word(request, 4);
    if (quantity < 1 || quantity > MODBUS_MAX_READ_REGISTERS)
        return exceptionFrame(request, MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
    if (start + quantity > available)
        return exceptionFrame(request, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
    std::vector<uint8_t> frame{request[0], request[1], static_cast<uint8_t>(2 * quantity)};
    for (int i = 0; i < quantity; ++i) {
        frame.push_back(static_cast<uint8_t>(registers[start + i] >> 8));
        frame.push_back(static_cast<uint8_t>(registers[start + i] & 0xFF));
    }
    appendCrc(frame);
    return frame;
}

} // namespace

uint16_t crc16(std::span<const uint8_t> bytes) {
    uint16_t crc = 0xFFFF;
    for (const uint8_t b : bytes) {
        crc ^= b;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    return crc;
}

void appendCrc(std::vector<uint8_t>& frame) {
    const uint16_t crc = crc16(frame);
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
}

std::vector<uint8_t> exceptionFrame(std::span<const uint8_t> request, uint8_t code) {
    std::vector<uint8_t> frame{request[0], static_cast<uint8_t>(request[1] | 0x80), code};
    appendCrc(frame);
    return frame;
}

std::vector<uint8_t> normalFrame(const modbus_mapping_t& mapping,
                                 std::span<const uint8_t> request) {
    // libmodbus hands over only whole frames, sized by their function; this guards the reads
    // below against a caller that does not.
    const auto fits = [&](std::size_t length) { return request.size() >= length; };
    switch (request[1]) {
    case MODBUS_FC_READ_COILS:
        if (fits(8))
            return bitsFrame(request, mapping.tab_bits, mapping.nb_bits);
        break;
    case MODBUS_FC_READ_DISCRETE_INPUTS:
        if (fits(8))
            return bitsFrame(request, mapping.tab_input_bits, mapping.nb_input_bits);
        break;
    case MODBUS_FC_READ_HOLDING_REGISTERS:
        if (fits(8))
            return registersFrame(request, mapping.tab_registers, mapping.nb_registers);
        break;
    case MODBUS_FC_READ_INPUT_REGISTERS:
        if (fits(8))
            return registersFrame(request, mapping.tab_input_registers, mapping.nb_input_registers);
        break;
    case MODBUS_FC_WRITE_SINGLE_REGISTER:
        if (fits(8)) {
            if (word(request, 2) >= mapping.nb_registers)
                return exceptionFrame(request, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
            std::vector<uint8_t> frame(request.begin(), request.begin() + 6);
            appendCrc(frame);
            return frame;
        }
        break;
    case MODBUS_FC_WRITE_MULTIPLE_REGISTERS:
        if (fits(9)) {
            const int start = word(request, 2);
            const int quantity = word(request, 4);
            if (quantity < 1 || quantity > MODBUS_MAX_WRITE_REGISTERS || request[6] != 2 * quantity)
                return exceptionFrame(request, MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
            if (start + quantity > mapping.nb_registers)
                return exceptionFrame(request, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
            std::vector<uint8_t> frame(request.begin(), request.begin() + 6);
            appendCrc(frame);
            return frame;
        }
        break;
    default:
        break;
    }
    return exceptionFrame(request, MODBUS_EXCEPTION_ILLEGAL_FUNCTION);
}

} // namespace rtureply
