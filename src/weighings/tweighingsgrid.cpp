#include "weighings/tweighingsgrid.h"

#include "weighings/tweighingsfooter.h"
#include "weighings/weighingsformat.h"

#include <QEvent>
#include <QFontDialog>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QScrollBar>

#include <algorithm>

namespace {

// Width of the row indicator column.
const int IndicatorWidth = 16;

} // namespace

WeighingsGridPrompts TWeighingsGrid::defaultPrompts() {
    WeighingsGridPrompts prompts;
    prompts.confirm = [](QWidget* parent, const QString& question) {
        return QMessageBox::question(parent, QStringLiteral("Confirm"), question,
                                     QMessageBox::Ok | QMessageBox::Cancel,
                                     QMessageBox::Cancel) == QMessageBox::Ok;
    };
    prompts.searchText = [](QWidget* parent, const QString& previous) -> std::optional<QString> {
        bool ok = false;
        const QString text =
            QInputDialog::getText(parent, QStringLiteral("Поиск"), QStringLiteral("Найти текст:"),
                                  QLineEdit::Normal, previous, &ok);
        if (!ok)
            return std::nullopt;
        return text;
    };
    prompts.inform = [](QWidget* parent, const QString& message) {
        QMessageBox::warning(parent, QStringLiteral("KDM"), message);
    };
    prompts.chooseFont = [](QWidget* parent, const QFont& current) -> std::optional<QFont> {
        bool ok = false;
        const QFont font = QFontDialog::getFont(&ok, current, parent);
        if (!ok)
            return std::nullopt;
        return font;
    };
    return prompts;
}

TWeighingsGrid::TWeighingsGrid(QWidget* parent)
    : QTableView(parent)
    , m_model(new WeighingsModel(this))
    , m_prompts(defaultPrompts()) {
    setObjectName(QStringLiteral("DBGridEh1"));
    setModel(m_model);
    m_footer = new TWeighingsFooter(horizontalHeader(), this);

    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(true);
    setWordWrap(false);
    setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_Hover);

    QHeaderView* titles = horizontalHeader();
    titles->setSectionsMovable(true);
    titles->setSectionResizeMode(QHeaderView::Interactive);
    titles->setStretchLastSection(false);
    titles->setHighlightSections(false);

    // The row indicator: narrow, one text line per row, rows not resizable.
    QHeaderView* indicator = verticalHeader();
    indicator->setSectionResizeMode(QHeaderView::Fixed);
    indicator->setFixedWidth(IndicatorWidth);
    indicator->setDefaultAlignment(Qt::AlignCenter);

    for (int column = 0; column < WeighingsColumnCount; ++column)
        setColumnWidth(column, m_hiddenWidths[column]);
    for (int column = ColumnComponent; column < WeighingsColumnCount; ++column)
        setColumnHidden(column, true);

    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    applyRowHeight();

    connect(m_model, &WeighingsModel::footersChanged, this, &TWeighingsGrid::updateFooters);
    connect(m_model, &WeighingsModel::tableFailed, this, &TWeighingsGrid::reportFailure);
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, m_footer,
            qOverload<>(&QWidget::update));
    updateFooters();
}

TWeighingsGrid::~TWeighingsGrid() = default;

void TWeighingsGrid::setTable(WeighingsTable* table) {
    m_model->setTable(table);
    makeCurrent(0);
}

void TWeighingsGrid::SetFilterExecute(QDate date, int component) {
    // The same date and component chosen again change nothing visible: the rows are read again,
    // the current row and the marks stay.
    if (m_model->isFilter(date, component)) {
        tableChanged();
        return;
    }
    m_model->setFilter(date, component);
    makeCurrent(0);
}

void TWeighingsGrid::tableChanged() {
    const std::optional<qint64> kept = m_currentRowid;
    const int keptRow = currentIndex().row();
    if (m_model->refreshView() == WeighingsModel::Change::Appended)
        return; // current row, marks and scroll position are untouched
    if (!kept) {
        makeCurrent(0);
        return;
    }
    // The rows moved under the grid: find the weighing that was current.
    const std::optional<StoredWeighing> same = m_model->rowAt(keptRow);
    const int position = same && same->rowid == *kept ? keptRow : m_model->positionOfRowid(*kept);
    makeCurrent(position >= 0 ? position : std::min(keptRow, m_model->rowCount() - 1));
}

void TWeighingsGrid::goToLastRow() {
    makeCurrent(m_model->rowCount() - 1);
}

void TWeighingsGrid::makeCurrent(int row) {
    if (row < 0 || row >= m_model->rowCount()) {
        m_model->setIndicatorRow(-1);
        return;
    }
    const int column = std::max(0, currentIndex().column());
    const QModelIndex target = m_model->index(row, isColumnHidden(column) ? 0 : column);
    selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect |
                                                  QItemSelectionModel::Rows);
    scrollTo(target);
}

void TWeighingsGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    m_model->setIndicatorRow(current.isValid() ? current.row() : -1);
    // The weighing the operator sees as current, kept by its rowid: when rows move under the grid
    // it is found again by that.
    m_currentRowid.reset();
    if (const std::optional<StoredWeighing> row = m_model->rowAt(current.row()))
        m_currentRowid = row->rowid;
}

QList<int> TWeighingsGrid::markedRows() const {
    // Whole ranges, not selectedRows(): marking every row of a large view stays cheap to count.
    QList<int> rows;
    for (const QItemSelectionRange& range : selectionModel()->selection()) {
        for (int row = range.top(); row <= range.bottom(); ++row)
            rows.append(row);
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void TWeighingsGrid::deleteMarkedRows() {
    if (m_model->rowCount() == 0)
        return;
    QList<int> rows = markedRows();
    const QString question = rows.size() > 1 ? QStringLiteral("Delete all selected records?")
                                             : QStringLiteral("Delete record?");
    if (rows.isEmpty()) {
        if (!currentIndex().isValid())
            return;
        rows.append(currentIndex().row());
    }
    if (!m_prompts.confirm || !m_prompts.confirm(this, question))
        return;

    const TableResult<int> deleted = m_model->deleteRows(rows);
    for (int i = 0; i < deleted.value; ++i)
        emit recordDeleted();
    // The row that followed the first deleted one takes its place, as after any deletion.
    makeCurrent(std::min(rows.first(), m_model->rowCount() - 1));
}

void TWeighingsGrid::searchExecute() {
    if (!m_prompts.searchText)
        return;
    const std::optional<QString> text = m_prompts.searchText(this, m_lastSearch);
    if (!text || text->isEmpty())
        return;
    m_lastSearch = *text;
    if (!searchNext(*text) && m_prompts.inform)
        m_prompts.inform(this, QStringLiteral("Текст \"%1\" не найден.").arg(*text));
}

bool TWeighingsGrid::searchNext(const QString& text) {
    QList<int> columns;
    for (int column = 0; column < WeighingsColumnCount; ++column) {
        if (!isColumnHidden(column))
            columns.append(column);
    }
    const int from = currentIndex().isValid() ? currentIndex().row() + 1 : 0;
    const int count = m_model->rowCount();
    const std::optional<int> row = m_model->findRow(text, columns, count > 0 ? from % count : 0);
    if (!row)
        return false;
    makeCurrent(*row);
    return true;
}

void TWeighingsGrid::setGridFont(const QFont& font) {
    // Titles and footers are children without fonts of their own: they follow.
    setFont(font);
}

void TWeighingsGrid::WeightsFontExecute() {
    if (!m_prompts.chooseFont)
        return;
    if (const std::optional<QFont> chosen = m_prompts.chooseFont(this, font()))
        setGridFont(*chosen);
}

std::array<qint32, TWeighingsGrid::StoredColumns> TWeighingsGrid::columnWidths() const {
    std::array<qint32, StoredColumns> widths{};
    const QHeaderView* titles = horizontalHeader();
    for (int position = 0; position < StoredColumns; ++position) {
        const int logical = titles->logicalIndex(position);
        if (logical < 0 || logical >= WeighingsColumnCount)
            widths[position] = DefaultWidths[position];
        else
            widths[position] =
                isColumnHidden(logical) ? m_hiddenWidths[logical] : titles->sectionSize(logical);
    }
    return widths;
}

void TWeighingsGrid::setColumnWidths(const std::array<qint32, StoredColumns>& widths) {
    const QHeaderView* titles = horizontalHeader();
    for (int position = 0; position < StoredColumns; ++position) {
        const int logical = titles->logicalIndex(position);
        if (logical < 0 || logical >= WeighingsColumnCount)
            continue;
        const qint32 width = widths[position];
        const qint32 usable =
            width >= MinimumWidth && width <= MaximumWidth ? width : DefaultWidths[position];
        m_hiddenWidths[logical] = usable;
        setColumnWidth(logical, usable);
    }
}

QString TWeighingsGrid::footerText(int row, int column) const {
    return row == 0 ? m_footer->title(column) : m_footer->value(column);
}

void TWeighingsGrid::setPrompts(const WeighingsGridPrompts& prompts) {
    m_prompts = prompts;
}

void TWeighingsGrid::updateFooters() {
    m_footer->setColumnTexts(ColumnDateTime, weighingsCountTitle(), m_model->countText());
    m_footer->setColumnTexts(ColumnWeight, weighingsSumTitle(), m_model->sumText());
}

void TWeighingsGrid::reportFailure(const QString& error) {
    emit tableFailed(error);
    // A failure met while the operator still reads the previous one is not shown twice.
    if (m_informing || !m_prompts.inform)
        return;
    m_informing = true;
    m_prompts.inform(this, error);
    m_informing = false;
}

void TWeighingsGrid::keyPressEvent(QKeyEvent* event) {
    const bool control = event->modifiers() & Qt::ControlModifier;
    if (control && event->key() == Qt::Key_Delete) {
        deleteMarkedRows();
        return;
    }
    if (control && event->key() == Qt::Key_F) {
        searchExecute();
        return;
    }
    QTableView::keyPressEvent(event);
}

void TWeighingsGrid::changeEvent(QEvent* event) {
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        applyRowHeight();
}

void TWeighingsGrid::applyRowHeight() {
    // One text line per row, whatever the font.
    const int height = fontMetrics().height() + 4;
    verticalHeader()->setMinimumSectionSize(height);
    verticalHeader()->setDefaultSectionSize(height);
    updateGeometries();
}

void TWeighingsGrid::updateGeometries() {
    QTableView::updateGeometries();
    if (!m_footer)
        return;
    // The footer takes a strip of the viewport's margins at the bottom, as the titles take one at
    // the top, so it lines up with the columns and stays above the horizontal scroll bar.
    const QMargins margins = viewportMargins();
    const int height = m_footer->stripHeight();
    if (margins.bottom() != height)
        setViewportMargins(margins.left(), margins.top(), margins.right(), height);
    const QRect area = viewport()->geometry();
    const int left = contentsRect().left();
    m_footer->setGeometry(left, area.bottom() + 1, area.right() + 1 - left, height);
    m_footer->raise();
    m_footer->update();
}
