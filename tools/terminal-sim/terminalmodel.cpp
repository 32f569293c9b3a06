#include "terminalmodel.h"

#include <bit>
#include <new>

namespace {

void putFloat(uint8_t* bytes, float value) {
    const auto bits = std::bit_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<uint8_t>(bits >> (8 * i));
}

void putDateTime(uint8_t* bytes, const LocalDateTime& at) {
    bytes[0] = static_cast<uint8_t>(at.day);
    bytes[1] = static_cast<uint8_t>(at.month);
    bytes[2] = static_cast<uint8_t>(at.twoDigitYear());
    bytes[3] = static_cast<uint8_t>(at.hour);
    bytes[4] = static_cast<uint8_t>(at.minute);
    bytes[5] = static_cast<uint8_t>(at.second);
}

void putInt16(uint8_t* bytes, int16_t value) {
    const auto bits = static_cast<uint16_t>(value);
    bytes[0] = static_cast<uint8_t>(bits & 0xFF);
    bytes[1] = static_cast<uint8_t>(bits >> 8);
}

} // namespace

TerminalModel::TerminalModel(const LocalDateTime& resetAt)
    : m_mapping(modbus_mapping_new(CoilCount, InputCount, RegisterCount, 0)) {
    if (!m_mapping)
        throw std::bad_alloc();
    for (int c = 0; c < ComponentCount; ++c) {
        m_totals[c].resetAt = resetAt;
        publishTotal(c);
    }
    publishCounters();
}

TerminalModel::~TerminalModel() {
    modbus_mapping_free(m_mapping);
}

void TerminalModel::startCounterAt(uint32_t counter) {
    m_counter = counter;
    m_ringHead = static_cast<int>((static_cast<uint64_t>(counter) + RingSize - 1) % RingSize);
    publishCounters();
}

RecordedWeighing TerminalModel::recordWeighing(int component, float weight,
                                               const LocalDateTime& at) {
    ++m_counter; // wraps at 2^32 like the terminal's 32-bit counter
    m_ringHead = (m_ringHead + 1) % RingSize;
    const RecordedWeighing weighing{m_counter, m_ringHead, weight, component, at};
    m_ring[m_ringHead] = weighing;
    publishWeighing(m_ringHead);

    ComponentTotal& total = m_totals.at(component - 1);
    total.sum += weight;
    total.count = static_cast<int16_t>(static_cast<uint16_t>(total.count) + 1u);
    publishTotal(component - 1);

    publishCounters();
    setCurrentWeight(weight);
    return weighing;
}

void TerminalModel::resetCounter(uint32_t counter) {
    m_counter = counter;
    publishCounters();
}

std::optional<RecordedWeighing> TerminalModel::setNewestWeight(float weight) {
    auto& newest = m_ring[m_ringHead];
    if (!newest)
        return std::nullopt;
    ComponentTotal& total = m_totals.at(newest->component - 1);
    total.sum = total.sum - newest->weight + weight;
    newest->weight = weight;
    publishWeighing(m_ringHead);
    publishTotal(newest->component - 1);
    return newest;
}

void TerminalModel::setCurrentWeight(float weight) {
    m_currentWeight = weight;
    const auto bits = std::bit_cast<uint32_t>(weight);
    m_mapping->tab_registers[WeightRegister] = static_cast<uint16_t>(bits & 0xFFFF);
    m_mapping->tab_registers[WeightRegister + 1] = static_cast<uint16_t>(bits >> 16);
}

void TerminalModel::setInputs(uint8_t bits) {
    for (int k = 0; k < InputCount; ++k)
        m_mapping->tab_input_bits[k] = (bits >> k) & 1;
}

void TerminalModel::setOutputs(uint8_t bits) {
    for (int k = 0; k < CoilCount; ++k)
        m_mapping->tab_bits[k] = (bits >> k) & 1;
}

void TerminalModel::setCommandWord(uint16_t word) {
    m_mapping->tab_registers[CommandRegister] = word;
}

void TerminalModel::writeRow(int row, const RecordBytes& bytes) {
    uint16_t* registers = m_mapping->tab_registers + RecordBase + RecordRegisters * row;
    for (int i = 0; i < RecordRegisters; ++i)
        registers[i] = static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
}

void TerminalModel::publishWeighing(int slotIndex) {
    const RecordedWeighing& weighing = *m_ring.at(slotIndex);
    RecordBytes bytes{};
    putFloat(&bytes[0], weighing.weight);
    putDateTime(&bytes[4], weighing.at);
    putInt16(&bytes[10], static_cast<int16_t>(weighing.component - 1));
    writeRow(RingFirstRow + slotIndex, bytes);
}

void TerminalModel::publishTotal(int componentIndex) {
    const ComponentTotal& total = m_totals.at(componentIndex);
    RecordBytes bytes{};
    putFloat(&bytes[0], total.sum);
    putDateTime(&bytes[4], total.resetAt);
    putInt16(&bytes[10], total.count);
    writeRow(componentIndex, bytes);
}

void TerminalModel::publishCounters() {
    uint16_t* registers = m_mapping->tab_registers + CountersRegister;
    registers[0] = static_cast<uint16_t>(m_ringHead);
    registers[1] = static_cast<uint16_t>(m_counter & 0xFFFF);
    registers[2] = static_cast<uint16_t>(m_counter >> 16);
}
