#pragma once

#include <QtGlobal>

#include <array>
#include <optional>

// The terminal's register map. Addresses are the 0-based protocol addresses of the requests.
namespace TerminalMap {
// Current weight: two holding registers, the low 16 bits first.
constexpr int WeightRegister = 0;
constexpr int WeightQuantity = 2;
// Command register, written with function 16 (one register: the command word).
constexpr int CommandRegister = 2;
constexpr int CommandQuantity = 1;
// One contiguous array of 12-byte records: rows 0..15 component totals, rows 16..55 the ring of
// the 40 newest weighings, row 56 the counters (three registers only).
constexpr int RecordBlockStart = 330;
constexpr int RecordQuantity = 6;
constexpr int ComponentCount = 16;
constexpr int RingFirstRow = 16;
constexpr int RingSize = 40;
constexpr int CountersRow = 56;
constexpr int CountersRegister = 666;
constexpr int CountersQuantity = 3;
// Outputs (coils, function 1) and inputs (discrete inputs, function 2): 8 each from address 0.
constexpr int IoStart = 0;
constexpr int IoQuantity = 8;

// First register of record row `row` (0..56); row 56 gives 666, the counters.
constexpr int recordStartAddress(int row) {
    return RecordBlockStart + RecordQuantity * row;
}
// TerminalImage row of ring slot `slot` (0..39).
constexpr int ringRow(int slot) {
    return RingFirstRow + slot;
}
} // namespace TerminalMap

// One ring slot as the terminal lays it out (12 bytes). Component is 0-based.
struct WeighingRecord {
    float Weight = 0.0f;
    quint8 Day = 0, Month = 0, Year = 0, Hour = 0, Minute = 0, Second = 0;
    qint16 Component = 0;
};

// One component's running total since its last reset (12 bytes). Count is signed on the terminal.
struct ComponentTotalRecord {
    float Sum = 0.0f;
    quint8 Day = 0, Month = 0, Year = 0, Hour = 0, Minute = 0, Second = 0;
    qint16 Count = 0;
};

// The terminal's record block as last read: 57 rows of 6 little-endian 16-bit words, zero at
// start. A register's value is kept as a word, so the record's bytes lie in memory as the terminal
// keeps them (word i = bytes 2i and 2i+1, low byte first); the records are decoded from those bytes
// with explicit byte assembly, independent of the host's byte order.
//
// Out-of-range access never reads or writes outside the image: writes outside a row are ignored,
// and reading a record or word that does not exist gives zero (a zero record).
class TerminalImage {
public:
    static constexpr int RowCount = 57;
    static constexpr int WordsPerRow = 6;

    // How many words row `row` can receive from a reply: 6 for the record rows, 3 for the counters
    // row, 0 for a row that does not exist.
    static int rowCapacity(int row);

    // Stores `value` as word `index` of row `row`; ignored when the word lies outside the row's
    // capacity or the row outside the image.
    void setWord(int row, int index, quint16 value);
    quint16 word(int row, int index) const;

    // Ring slot `slot` (0..39, row slot + 16); a zero record for any other slot.
    WeighingRecord weighing(int slot) const;
    // Total of component `index` (0..15, row index); a zero record for any other index.
    ComponentTotalRecord componentTotal(int index) const;

    // Counters row 56: word 0 the ring slot of the newest weighing, words 1 and 2 the running
    // number of weighings (low 16 bits first).
    qint16 RingHead() const;
    quint32 WeighingCounter() const;
    // The ring head when it names a slot (0..39); empty when the terminal reports anything else,
    // so a caller can never index outside the ring with it.
    std::optional<int> validRingHead() const;

private:
    std::array<quint8, 12> rowBytes(int row) const;
    template <typename Record>
    Record decodeRecord(int row, float Record::*single, qint16 Record::*lastWord) const;

    std::array<std::array<quint16, WordsPerRow>, RowCount> m_rows{};
};

// The terminal's data as the program keeps it: the record block, the current weight and the last
// coils/inputs read, and whether the last command write was echoed.
struct TerminalData {
    TerminalImage image;
    // Register 0 (bits 0..15) and register 1 (bits 16..31) of the IEEE-754 single weight.
    std::array<quint16, 2> currentWeightWords{};
    quint8 InputBits = 0;
    quint8 OutputBits = 0;
    bool CommandAcknowledged = false;

    float CurrentWeight() const;
};

// Ring index correction: x + 40 below 0, x - 40 from 40 on, else x. It corrects once only, so it is
// exact for -40 <= x < 80; every caller stays in that range.
int WrapRingIndex(int x);

// Ring slot that holds weighing number m, given the ring head h (0..39) and the running number W of
// the newest weighing; empty unless h is a slot and W - 39 <= m <= W (older weighings are gone).
std::optional<int> slotOfWeighing(int h, quint32 W, quint32 m);

// A batch of N (0..40) new weighings with ring head h (0..39): the first read is the slot just
// before the oldest new weighing (it holds the weighing stored last); empty for arguments outside
// those ranges.
std::optional<int> batchFirstReadSlot(int h, int N);
// Slot of the k-th (1..N) new weighing of such a batch; the N-th is h itself.
std::optional<int> batchWeighingSlot(int h, int N, int k);
// Ring rows are read in rising slot order: the row after `row`, with row 55 followed by row 16.
int nextRingRow(int row);
