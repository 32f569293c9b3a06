#pragma once

#include "localdatetime.h"

#include <modbus/modbus.h>

#include <array>
#include <cstdint>
#include <optional>

// One weighing as the terminal keeps it in a slot of its ring.
struct RecordedWeighing {
    uint32_t number = 0; // the WeighingCounter value while this weighing was the newest
    int slot = 0;        // ring slot 0..39
    float weight = 0.0f;
    int component = 1; // 1-based, as the operator counts components
    LocalDateTime at;
};

// The running total of one component since its last reset.
struct ComponentTotal {
    float sum = 0.0f;
    int16_t count = 0; // the terminal's field is signed 16-bit and wraps
    LocalDateTime resetAt;
};

// The terminal's data and its Modbus image: the current weight, the command register, the record
// block (16 component totals, the ring of 40 weighings, the counters row), 8 output coils and 8
// discrete inputs. Every change is written to the register image at once, in the byte order the
// master decodes: a record's 12 bytes are the memory image, and register i carries memory bytes
// 2i (low byte) and 2i + 1 (high byte).
class TerminalModel {
public:
    static constexpr int ComponentCount = 16;
    static constexpr int RingSize = 40;
    static constexpr int WeightRegister = 0;
    static constexpr int CommandRegister = 2;
    static constexpr int RecordBase = 330;
    static constexpr int RecordRegisters = 6;
    static constexpr int RingFirstRow = ComponentCount;
    static constexpr int CountersRow = RingFirstRow + RingSize;
    static constexpr int CountersRegister = RecordBase + RecordRegisters * CountersRow; // 666
    static constexpr int RegisterCount = CountersRegister + 3;
    static constexpr int CoilCount = 8;
    static constexpr int InputCount = 8;

    // The totals start empty, reset at resetAt.
    explicit TerminalModel(const LocalDateTime& resetAt);
    ~TerminalModel();
    TerminalModel(const TerminalModel&) = delete;
    TerminalModel& operator=(const TerminalModel&) = delete;

    // What libmodbus serves; owned by the model.
    modbus_mapping_t* mapping() { return m_mapping; }
    const modbus_mapping_t* mapping() const { return m_mapping; }

    // Sets the counter and puts RingHead where the weighing with that number would lie, so that
    // weighing number m goes to slot (m - 1) mod 40.
    void startCounterAt(uint32_t counter);
    // Advances the counter and RingHead, writes the slot, adds to the component's total and makes
    // the weight the current weight. component is 1..16.
    RecordedWeighing recordWeighing(int component, float weight, const LocalDateTime& at);
    // Sets the counter back (or anywhere); the ring and RingHead stay as they are.
    void resetCounter(uint32_t counter);
    // Changes the weight of the newest weighing in place, correcting its component's sum.
    // Empty when the newest slot has never held a weighing.
    std::optional<RecordedWeighing> setNewestWeight(float weight);

    void setCurrentWeight(float weight);
    void setInputs(uint8_t bits);
    // Bit k of bits is output k + 1.
    void setOutputs(uint8_t bits);
    void setCommandWord(uint16_t word);

    float currentWeight() const { return m_currentWeight; }
    uint32_t weighingCounter() const { return m_counter; }
    int ringHead() const { return m_ringHead; }
    std::optional<RecordedWeighing> slot(int index) const { return m_ring.at(index); }
    ComponentTotal total(int component) const { return m_totals.at(component - 1); }

private:
    using RecordBytes = std::array<uint8_t, 12>;

    void writeRow(int row, const RecordBytes& bytes);
    void publishWeighing(int slotIndex);
    void publishTotal(int componentIndex);
    void publishCounters();

    modbus_mapping_t* m_mapping = nullptr;
    float m_currentWeight = 0.0f;
    uint32_t m_counter = 0;
    int m_ringHead = RingSize - 1;
    std::array<std::optional<RecordedWeighing>, RingSize> m_ring{};
    std::array<ComponentTotal, ComponentCount> m_totals{};
};
