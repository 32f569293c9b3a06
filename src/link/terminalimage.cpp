#include "link/terminalimage.h"

#include <bit>

namespace {

quint32 assemble32(quint16 low, quint16 high) {
    return quint32(low) | (quint32(high) << 16);
}

} // namespace

int TerminalImage::rowCapacity(int row) {
    if (row < 0 || row >= RowCount)
        return 0;
    return row == TerminalMap::CountersRow ? TerminalMap::CountersQuantity : WordsPerRow;
}

void TerminalImage::setWord(int row, int index, quint16 value) {
    if (index < 0 || index >= rowCapacity(row))
        return;
    m_rows[size_t(row)][size_t(index)] = value;
}

quint16 TerminalImage::word(int row, int index) const {
    if (row < 0 || row >= RowCount || index < 0 || index >= WordsPerRow)
        return 0;
    return m_rows[size_t(row)][size_t(index)];
}

std::array<quint8, 12> TerminalImage::rowBytes(int row) const {
    std::array<quint8, 12> bytes{};
    for (int i = 0; i < WordsPerRow; ++i) {
        const quint16 w = word(row, i);
        bytes[size_t(2 * i)] = quint8(w & 0xFF);
        bytes[size_t(2 * i + 1)] = quint8(w >> 8);
    }
    return bytes;
}

// Both record kinds share one layout: a single in words 0-1, six date and time bytes, and a
// signed 16-bit word 5 (the weighing's component, the total's count).
template <typename Record>
Record TerminalImage::decodeRecord(int row, float Record::*single, qint16 Record::*lastWord) const {
    const auto b = rowBytes(row);
    Record r;
    r.*single = std::bit_cast<float>(assemble32(word(row, 0), word(row, 1)));
    r.Day = b[4];
    r.Month = b[5];
    r.Year = b[6];
    r.Hour = b[7];
    r.Minute = b[8];
    r.Second = b[9];
    r.*lastWord = std::bit_cast<qint16>(word(row, 5));
    return r;
}

WeighingRecord TerminalImage::weighing(int slot) const {
    if (slot < 0 || slot >= TerminalMap::RingSize)
        return {};
    return decodeRecord(TerminalMap::ringRow(slot), &WeighingRecord::Weight,
                        &WeighingRecord::Component);
}

ComponentTotalRecord TerminalImage::componentTotal(int index) const {
    if (index < 0 || index >= TerminalMap::ComponentCount)
        return {};
    return decodeRecord(index, &ComponentTotalRecord::Sum, &ComponentTotalRecord::Count);
}

qint16 TerminalImage::RingHead() const {
    return std::bit_cast<qint16>(word(TerminalMap::CountersRow, 0));
}

quint32 TerminalImage::WeighingCounter() const {
    return assemble32(word(TerminalMap::CountersRow, 1), word(TerminalMap::CountersRow, 2));
}

std::optional<int> TerminalImage::validRingHead() const {
    const int h = RingHead();
    if (h < 0 || h >= TerminalMap::RingSize)
        return std::nullopt;
    return h;
}

float TerminalData::CurrentWeight() const {
    return std::bit_cast<float>(assemble32(currentWeightWords[0], currentWeightWords[1]));
}

int WrapRingIndex(int x) {
    if (x < 0)
        return x + TerminalMap::RingSize;
    if (x >= TerminalMap::RingSize)
        return x - TerminalMap::RingSize;
    return x;
}

std::optional<int> slotOfWeighing(int h, quint32 W, quint32 m) {
    if (h < 0 || h >= TerminalMap::RingSize || m > W || W - m >= quint32(TerminalMap::RingSize))
        return std::nullopt;
    return WrapRingIndex(h - int(W - m));
}

std::optional<int> batchFirstReadSlot(int h, int N) {
    if (h < 0 || h >= TerminalMap::RingSize || N < 0 || N > TerminalMap::RingSize)
        return std::nullopt;
    return WrapRingIndex(h - N);
}

std::optional<int> batchWeighingSlot(int h, int N, int k) {
    if (h < 0 || h >= TerminalMap::RingSize || N < 1 || N > TerminalMap::RingSize || k < 1 || k > N)
        return std::nullopt;
    return WrapRingIndex(h - N + k);
}

int nextRingRow(int row) {
    const int next = row + 1;
    return next >= TerminalMap::RingFirstRow + TerminalMap::RingSize ? TerminalMap::RingFirstRow
                                                                     : next;
}
