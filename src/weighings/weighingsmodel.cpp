#include "weighings/weighingsmodel.h"

#include "weighings/weighingsformat.h"

#include <QMetaObject>
#include <QRunnable>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace {

// How many rows one read takes when the grid walks a long stretch of the view (search, marks).
const int ChunkSize = 1000;

const QString IndicatorMark = QStringLiteral("\u25B6");

struct SumOutcome {
    WeightSum sum;
    QString error;
};

// The sum of a view on a connection of this thread's own, so that the user-interface thread's
// connection is never touched from here. Without a filter the view is the whole table.
SumOutcome sumOnOwnConnection(const QString& filePath, bool filtered, QDate date, int component) {
    WeighingsTable table(filePath);
    // Open() would make a missing file: a table that went away has no sum.
    if (!table.Exists())
        return {{}, QStringLiteral("Weighings table \"%1\": the file is gone").arg(filePath)};
    const OpenResult opened = table.Open();
    if (!opened.ok())
        return {{}, opened.error};
    if (filtered)
        table.setFilter(date, component);
    const TableResult<WeightSum> sum = table.sumOfView();
    return {sum.value, sum.error};
}

} // namespace

WeighingsModel::WeighingsModel(QObject* parent)
    : QAbstractTableModel(parent) {
    m_sumWorker.setMaxThreadCount(1);
}

WeighingsModel::~WeighingsModel() {
    // A sum still running posts its result to this object: wait for it before the object goes
    // (QObject's destructor then drops the posted result).
    m_sumWorker.clear();
    m_sumWorker.waitForDone();
}

int WeighingsModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid())
        return 0;
    return static_cast<int>(std::min<qint64>(m_count, std::numeric_limits<int>::max()));
}

int WeighingsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : WeighingsColumnCount;
}

QVariant WeighingsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
    if (role != Qt::DisplayRole)
        return {};
    const Page& rows = page(index.row() / PageSize);
    const int inPage = index.row() % PageSize;
    if (inPage >= rows.rows.size())
        return {};
    return cellText(rows.rows.at(inPage), index.column());
}

QVariant WeighingsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return weighingsColumnTitle(section);
    // The row indicator: a mark beside the current row instead of row numbers.
    return section == m_indicatorRow ? IndicatorMark : QString();
}

Qt::ItemFlags WeighingsModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void WeighingsModel::setTable(WeighingsTable* table) {
    m_table = table;
    m_filterKnown = false;
    resetView();
}

void WeighingsModel::setLocale(const QLocale& locale) {
    m_locale = locale;
    if (m_count > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, WeighingsColumnCount - 1));
    emit footersChanged();
}

void WeighingsModel::setFilter(QDate date, int component) {
    if (m_table) {
        m_table->setFilter(date, component);
        m_filterKnown = true;
        m_filterDate = date;
        m_filterComponent = component;
    }
    resetView();
}

void WeighingsModel::resetView() {
    beginResetModel();
    clearPages();
    m_indicatorRow = -1;
    m_lastError.clear();
    if (m_table)
        m_table->refresh();
    readCount();
    endResetModel();
    readSum();
    emit footersChanged();
}

void WeighingsModel::readCount() {
    m_count = 0;
    m_countKnown = true;
    m_lastRowid.reset();
    if (!m_table)
        return;
    const TableResult<qint64> count = m_table->RecordCount();
    if (!count.ok()) {
        m_countKnown = false;
        fail(count.error);
        return;
    }
    m_count = count.value;
    m_reportedError.clear();
    m_lastRowid = lastRowid();
}

void WeighingsModel::readSum() {
    ++m_sumGeneration; // a sum still on its way is of an older view
    m_sumPending = false;
    m_sum.reset(); // a view that could not be read has no sum rather than a wrong one
    if (!m_lastError.isEmpty())
        return;
    if (!m_table || m_count == 0) {
        m_sum = WeightSum{};
        return;
    }
    // The worker can take the view only when it knows the filter: set here, or none at all.
    if (m_count > SyncSumLimit && (m_filterKnown || !m_table->hasFilter())) {
        startSum();
        return;
    }
    const TableResult<WeightSum> sum = m_table->sumOfView();
    if (!sum.ok()) {
        fail(sum.error);
        return;
    }
    m_sum = sum.value;
}

void WeighingsModel::startSum() {
    m_sumPending = true;
    // Started from the event loop, so that views replaced at once (the table given, then its
    // filter set) never get a sum of their own.
    const quint64 generation = m_sumGeneration;
    QTimer::singleShot(0, this, [this, generation] {
        if (generation != m_sumGeneration || !m_table)
            return;
        const QString filePath = m_table->fileName();
        const bool filtered = m_filterKnown;
        const QDate date = m_filterDate;
        const int component = m_filterComponent;
        m_sumWorker.clear(); // sums queued for older views are not wanted any more
        m_sumWorker.start(QRunnable::create([this, generation, filePath, filtered, date,
                                             component] {
            const SumOutcome outcome = sumOnOwnConnection(filePath, filtered, date, component);
            QMetaObject::invokeMethod(
                this,
                [this, generation, outcome] { applySum(generation, outcome.sum, outcome.error); },
                Qt::QueuedConnection);
        }));
    });
}

void WeighingsModel::applySum(quint64 generation, const WeightSum& sum, const QString& error) {
    if (generation != m_sumGeneration)
        return; // the view changed while the worker summed
    m_sumPending = false;
    if (error.isEmpty())
        m_sum = sum;
    else
        fail(error);
    emit footersChanged();
}

WeighingsModel::Change WeighingsModel::refreshView() {
    if (!m_table) {
        resetView();
        return Change::Reset;
    }
    const qint64 oldCount = m_count;
    const std::optional<qint64> oldLast = m_lastRowid;
    m_table->refresh();
    const TableResult<qint64> count = m_table->RecordCount();
    bool appendedOnly = count.ok() && count.value >= oldCount &&
                        count.value <= std::numeric_limits<int>::max() && m_lastError.isEmpty();
    if (appendedOnly && oldCount > 0) {
        // The rows the grid knows are all still there exactly when the row it had last is still
        // at the same position: rowids only grow, so nothing before it can have come in.
        const QList<StoredWeighing> row = fetch(oldCount - 1, 1);
        appendedOnly = oldLast && row.size() == 1 && row.first().rowid == *oldLast;
    }
    if (!appendedOnly) {
        resetView();
        return Change::Reset;
    }

    clearPages(); // the last row's weight may have been corrected
    if (count.value > oldCount) {
        beginInsertRows({}, static_cast<int>(oldCount), static_cast<int>(count.value - 1));
        m_count = count.value;
        m_lastRowid = lastRowid();
        endInsertRows();
    }
    if (oldCount > 0)
        emit dataChanged(index(0, 0),
                         index(static_cast<int>(oldCount) - 1, WeighingsColumnCount - 1));
    readSum();
    emit footersChanged();
    return Change::Appended;
}

std::optional<qint64> WeighingsModel::lastRowid() const {
    if (m_count == 0)
        return std::nullopt;
    const QList<StoredWeighing> row = fetch(m_count - 1, 1);
    if (row.size() != 1)
        return std::nullopt;
    return row.first().rowid;
}

void WeighingsModel::clearPages() const {
    m_pages.clear();
    m_pageOrder.clear();
}

const WeighingsModel::Page& WeighingsModel::page(qint64 index) const {
    if (auto it = m_pages.constFind(index); it != m_pages.constEnd()) {
        if (m_pageOrder.constLast() != index) {
            m_pageOrder.removeOne(index);
            m_pageOrder.append(index);
        }
        return it.value();
    }
    if (m_pageOrder.size() >= CachedPages)
        m_pages.remove(m_pageOrder.takeFirst());
    m_pageOrder.append(index);
    // A page that cannot be read stays empty until the view is read anew: the failure is
    // reported once, not on every paint.
    return m_pages.insert(index, Page{fetch(index * PageSize, PageSize)}).value();
}

QList<StoredWeighing> WeighingsModel::fetch(qint64 offset, int limit) const {
    if (!m_table)
        return {};
    const TableResult<QList<StoredWeighing>> rows = m_table->rowsOfView(offset, limit);
    if (!rows.ok()) {
        fail(rows.error);
        return {};
    }
    m_fetchedRows += rows.value.size();
    return rows.value;
}

void WeighingsModel::fail(const QString& error) const {
    m_lastError = error;
    // A table that stays broken is reported once, not at every weighing or repaint.
    if (error == m_reportedError)
        return;
    m_reportedError = error;
    // Reads happen while the grid paints: the report waits for the event loop.
    auto* self = const_cast<WeighingsModel*>(this);
    QMetaObject::invokeMethod(
        self, [self, error] { emit self->tableFailed(error); }, Qt::QueuedConnection);
}

std::optional<StoredWeighing> WeighingsModel::rowAt(int position) const {
    if (position < 0 || position >= m_count)
        return std::nullopt;
    const Page& rows = page(position / PageSize);
    const int inPage = position % PageSize;
    if (inPage >= rows.rows.size())
        return std::nullopt;
    return rows.rows.at(inPage);
}

int WeighingsModel::positionOfRowid(qint64 rowid) const {
    // Positions follow rowid order: a binary search reads one row per step.
    qint64 low = 0;
    qint64 high = m_count - 1;
    while (low <= high) {
        const qint64 middle = low + (high - low) / 2;
        const QList<StoredWeighing> row = fetch(middle, 1);
        if (row.isEmpty())
            return -1;
        const qint64 found = row.first().rowid;
        if (found == rowid)
            return static_cast<int>(middle);
        if (found < rowid)
            low = middle + 1;
        else
            high = middle - 1;
    }
    return -1;
}

QList<qint64> WeighingsModel::rowidsAt(const QList<int>& positions) const {
    QList<int> sorted = positions;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    QList<qint64> rowids;
    rowids.reserve(sorted.size());
    // Runs of neighbouring positions are read together, a chunk at a time.
    qsizetype i = 0;
    while (i < sorted.size()) {
        const int first = sorted.at(i);
        if (first < 0 || first >= m_count) {
            ++i;
            continue;
        }
        int last = first;
        while (i + 1 < sorted.size() && sorted.at(i + 1) == last + 1 && last + 1 < m_count &&
               last - first + 1 < ChunkSize) {
            ++last;
            ++i;
        }
        ++i;
        for (const StoredWeighing& row : fetch(first, last - first + 1))
            rowids.append(row.rowid);
    }
    return rowids;
}

std::optional<int> WeighingsModel::findRow(const QString& text, const QList<int>& columns,
                                           int from) const {
    if (text.isEmpty() || m_count == 0)
        return std::nullopt;
    const qint64 count = rowCount();
    const qint64 start = std::clamp<qint64>(from, 0, count - 1);
    qint64 scanned = 0;
    while (scanned < count) {
        const qint64 position = (start + scanned) % count;
        // A chunk never runs past the end of the view; the next one starts at the top.
        const int length = static_cast<int>(
            std::min<qint64>({static_cast<qint64>(ChunkSize), count - position, count - scanned}));
        const QList<StoredWeighing> rows = fetch(position, length);
        if (rows.size() != length)
            return std::nullopt;
        for (int i = 0; i < length; ++i) {
            for (const int column : columns) {
                if (cellText(rows.at(i), column).contains(text, Qt::CaseInsensitive))
                    return static_cast<int>(position + i);
            }
        }
        scanned += length;
    }
    return std::nullopt;
}

TableResult<int> WeighingsModel::deleteRows(const QList<int>& positions) {
    if (!m_table)
        return {0, {}};
    const QList<qint64> rowids = rowidsAt(positions);
    const TableResult<int> deleted = m_table->deleteRows(rowids);
    resetView();
    if (!deleted.ok())
        fail(deleted.error);
    return deleted;
}

QString WeighingsModel::cellText(const StoredWeighing& row, int column) const {
    switch (column) {
    case ColumnDateTime:
        return weighingDateTimeDisplay(row.row.DateTime, m_locale);
    case ColumnWeight:
        return weightDisplay(row.row.Weight, m_locale);
    case ColumnComponent:
        return QString::number(row.row.Component);
    case ColumnID:
        return QString::number(row.row.ID);
    case ColumnCompDateTime:
        return storingDateDisplay(row.row.CompDateTime);
    default:
        return {};
    }
}

QString WeighingsModel::sumText() const {
    return m_sum ? weighingsSumDisplay(*m_sum, m_locale) : QString();
}

QString WeighingsModel::countText() const {
    return m_countKnown ? QString::number(m_count) : QString();
}

void WeighingsModel::setIndicatorRow(int row) {
    if (row == m_indicatorRow)
        return;
    const int old = m_indicatorRow;
    m_indicatorRow = row;
    for (const int section : {old, row}) {
        if (section >= 0 && section < rowCount())
            emit headerDataChanged(Qt::Vertical, section, section);
    }
}
