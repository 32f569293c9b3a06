#pragma once

#include "link/pollview.h"

#include <QDate>
#include <QObject>

#include <functional>

class WeighingsTable;

// The poll cycle's way into the weighings table: a new weighing becomes a row, committed together
// with the number of the last weighing stored; the newest row's weight can be corrected. The
// windows learn of every change through the signals, to refresh the record count and the grid.
class WeighingStore : public QObject, public WeighingsSink {
    Q_OBJECT

public:
    using Today = std::function<QDate()>;

    explicit WeighingStore(WeighingsTable& table, Today today = &QDate::currentDate,
                           QObject* parent = nullptr);

    StoreResult StoreWeighing(const WeighingRecord& record, quint32 id,
                              quint32 terminalCounter) override;
    StoreResult CorrectLastWeighing(float weight) override;
    std::optional<quint32> lastStoredId() const override;
    void refreshRecordCount(quint32 counter) override;

    // Status panel 2 with the rows of the whole table and `counter` (recordCountChanged).
    void showRecordCount(quint32 counter);

signals:
    // A row was appended or the last row changed; the view and its footers are due a re-read.
    void tableChanged();
    // Status panel 2: rows in the whole table and a weighing count of the terminal.
    void recordCountChanged(qint64 rows, quint32 counter);

private:
    WeighingsTable& m_table;
    Today m_today;
};
