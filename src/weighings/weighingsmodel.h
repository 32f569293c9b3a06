#pragma once

#include "weighings/weighingstable.h"

#include <QAbstractTableModel>
#include <QDate>
#include <QHash>
#include <QList>
#include <QLocale>
#include <QString>
#include <QThreadPool>

#include <optional>

// The rows of the weighings table's view (one storing date, one component) for the weighings grid,
// with the view's count and sum for its footers.
//
// Rows are read lazily, a page at a time, only for the positions the grid asks for, and only a
// bounded number of pages is kept, so a view of a million rows opens and scrolls without being read
// as a whole. The count and the sum come from SQL over the whole view. The sum of a very large view
// is taken on a second connection in a worker thread, so that the grid paints at once; the footer
// shows it when it is known.
class WeighingsModel : public QAbstractTableModel {
    Q_OBJECT

public:
    static constexpr int PageSize = 128;
    static constexpr int CachedPages = 64;
    // Above this many rows the sum is taken in the worker; below it SQL needs a few milliseconds.
    static constexpr qint64 SyncSumLimit = 20000;

    // How refreshView() brought the grid up to date.
    enum class Change { Appended, Reset };

    explicit WeighingsModel(QObject* parent = nullptr);
    ~WeighingsModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The table whose view is shown; null shows nothing. The model does not own it.
    void setTable(WeighingsTable* table);
    WeighingsTable* table() const { return m_table; }

    // Month names and decimal separator; QLocale::system() until set.
    void setLocale(const QLocale& locale);
    QLocale locale() const { return m_locale; }

    // Filters the table to the rows stored on `date` for component number `component` and reads
    // the view anew.
    void setFilter(QDate date, int component);
    // Whether the view is the one setFilter() gave for this date and component.
    bool isFilter(QDate date, int component) const {
        return m_filterKnown && m_filterDate == date && m_filterComponent == component;
    }

    // Reads the view again after the table changed behind the model (a weighing stored, the last
    // weight corrected). When the rows of the view are still there and new ones only follow them,
    // the new rows are inserted at the end, so the grid keeps its current row, its marks and its
    // scroll position; any other change resets the model.
    Change refreshView();

    // The row at a position of the view, read through the page cache.
    std::optional<StoredWeighing> rowAt(int position) const;
    // Position of the row with this rowid in the view, or -1.
    int positionOfRowid(qint64 rowid) const;
    // Rowids of the rows at these positions; positions outside the view are left out.
    QList<qint64> rowidsAt(const QList<int>& positions) const;

    // The first row, starting at position `from` and wrapping round to the top, that shows `text`
    // (case-insensitive) in one of `columns`; every row is looked at once.
    std::optional<int> findRow(const QString& text, const QList<int>& columns, int from) const;

    // Deletes the rows at these positions from the table in one transaction and resets the model.
    // Gives how many rows went.
    TableResult<int> deleteRows(const QList<int>& positions);

    // The display text of one field of a row.
    QString cellText(const StoredWeighing& row, int column) const;

    // Footer values of the whole view; both texts are empty when the view could not be read.
    qint64 viewCount() const { return m_count; }
    QString countText() const;
    // Empty while the worker is still summing.
    QString sumText() const;
    bool sumPending() const { return m_sumPending; }

    // The row of the grid's current-row indicator.
    void setIndicatorRow(int row);

    // Rows read from the table since the model was made: what lazy loading keeps small.
    qint64 fetchedRowCount() const { return m_fetchedRows; }
    // The last failure reading the table; empty when the last read worked.
    QString lastError() const { return m_lastError; }

signals:
    // The count or the sum of the view changed.
    void footersChanged();
    // Reading or changing the table failed; the text names the file and the reason.
    void tableFailed(const QString& error);

private:
    struct Page {
        QList<StoredWeighing> rows;
    };

    void resetView();
    void readCount();
    void readSum();
    void startSum();
    void applySum(quint64 generation, const WeightSum& sum, const QString& error);
    void clearPages() const;
    const Page& page(qint64 index) const;
    QList<StoredWeighing> fetch(qint64 offset, int limit) const;
    void fail(const QString& error) const;
    std::optional<qint64> lastRowid() const;

    WeighingsTable* m_table = nullptr;
    QLocale m_locale = QLocale::system();
    bool m_filterKnown = false;
    QDate m_filterDate;
    int m_filterComponent = 0;

    qint64 m_count = 0;
    bool m_countKnown = true;          // false when the view could not be counted
    std::optional<qint64> m_lastRowid; // rowid of the view's last row when it was read
    std::optional<WeightSum> m_sum;    // none while unknown
    bool m_sumPending = false;
    quint64 m_sumGeneration = 0;
    int m_indicatorRow = -1;

    mutable QHash<qint64, Page> m_pages;
    mutable QList<qint64> m_pageOrder; // least recently used first
    mutable qint64 m_fetchedRows = 0;
    mutable QString m_lastError; // a failure met reading the current view
    mutable QString
        m_reportedError; // the failure last reported, not reported again until a read works

    QThreadPool m_sumWorker;
};
