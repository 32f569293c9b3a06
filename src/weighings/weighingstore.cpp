#include "weighings/weighingstore.h"

#include "weighings/weighingstable.h"

WeighingStore::WeighingStore(WeighingsTable& table, Today today, QObject* parent)
    : QObject(parent)
    , m_table(table)
    , m_today(std::move(today)) {}

StoreResult WeighingStore::StoreWeighing(const WeighingRecord& record, quint32 id,
                                         quint32 terminalCounter) {
    const WeighingRow row = weighingRowFromRecord(
        record.Weight, record.Day, record.Month, record.Year, record.Hour, record.Minute,
        record.Second, record.Component, qint32(id), m_today());
    // The row and the counter that names it are one transaction: after a crash the table never
    // holds a weighing it does not count, nor counts one it does not hold.
    const auto appended = m_table.appendWeighing(row, id);
    if (!appended.ok())
        return {appended.error};
    showRecordCount(terminalCounter);
    emit tableChanged();
    return {};
}

StoreResult WeighingStore::CorrectLastWeighing(float weight) {
    const auto changed = m_table.updateLastWeight(double(weight));
    if (!changed.ok())
        return {changed.error};
    if (changed.value)
        emit tableChanged();
    return {};
}

std::optional<quint32> WeighingStore::lastStoredId() const {
    const auto last = m_table.lastRow();
    if (!last.ok() || !last.value)
        return std::nullopt;
    return quint32(last.value->ID);
}

void WeighingStore::refreshRecordCount(quint32 counter) {
    // The terminal's counter went back: the table remembers the lower number too, so a restart
    // does not skip the weighings that follow it.
    m_table.setStoredCounter(counter);
    showRecordCount(counter);
}

void WeighingStore::showRecordCount(quint32 counter) {
    const auto rows = m_table.totalRowCount();
    emit recordCountChanged(rows.ok() ? rows.value : 0, counter);
}
