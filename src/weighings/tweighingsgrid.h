#pragma once

#include "weighings/weighingsformat.h"
#include "weighings/weighingsmodel.h"

#include <QDate>
#include <QFont>
#include <QTableView>

#include <array>
#include <functional>
#include <optional>

class TWeighingsFooter;
class WeighingsTable;

// What the weighings grid asks of the operator. Each has a default that opens the usual dialog;
// tests put their own answers in.
struct WeighingsGridPrompts {
    // A yes/no question with OK and Cancel; true on OK.
    std::function<bool(QWidget* parent, const QString& question)> confirm;
    // The text to search for, preset with the previous one; nothing when cancelled.
    std::function<std::optional<QString>(QWidget* parent, const QString& previous)> searchText;
    // A message the operator only acknowledges (a failure, a text not found).
    std::function<void(QWidget* parent, const QString& message)> inform;
    // A font, preset with the grid's; nothing when cancelled.
    std::function<std::optional<QFont>(QWidget* parent, const QFont& current)> chooseFont;
};

// The weighings grid DBGridEh1: the stored weighings of one date and one component, with two footer
// rows holding the view's count and the sum of its weights.
//
// Columns are the table's fields in its order; DateTime and Weight show, the others exist hidden.
// Rows are selected whole, several at once (the marks); nothing is edited in place. Ctrl+Delete
// deletes the marked rows (or the current one) after a confirmation, Ctrl+F searches the visible
// columns. The grid only reads the table through its model and deletes through it; storing rows is
// the poll cycle's, which calls tableChanged() afterwards.
class TWeighingsGrid : public QTableView {
    Q_OBJECT

public:
    static constexpr int StoredColumns = 4;
    static constexpr std::array<qint32, StoredColumns> DefaultWidths{150, 110, 100, 90};
    static constexpr int CompDateTimeWidth = 128;

    explicit TWeighingsGrid(QWidget* parent = nullptr);
    ~TWeighingsGrid() override;

    // The table to show; the grid does not own it. Until SetFilterExecute() the view is whatever
    // filter the table has.
    void setTable(WeighingsTable* table);
    WeighingsModel* weighingsModel() const { return m_model; }

    // Shows the weighings stored on `date` for component `component` (1..16; any other number
    // matches no row) and recomputes the footers. The first row becomes current; the filter shown
    // already only reads the rows again (tableChanged()).
    void SetFilterExecute(QDate date, int component);

    // The table changed behind the grid (a weighing stored, the last weight corrected): reads the
    // view again. The current row stays on the same weighing, new rows of the view show at the end.
    void tableChanged();

    // Makes the last row of the view current and scrolls to it (as Ctrl+End does).
    void goToLastRow();

    // Ctrl+Delete: asks "Delete record?" when at most one row is marked, "Delete all selected
    // records?" when several are; on OK deletes the marked rows, or the current row when none is
    // marked, and emits recordDeleted() once for every row that went.
    void deleteMarkedRows();

    // Ctrl+F: asks for a text and makes current the next row, after the current one and round to
    // the top, that shows it in a visible column.
    void searchExecute();
    // The search itself; false when no row shows the text.
    bool searchNext(const QString& text);

    // The font of the rows, the column titles and the footers alike; rows follow its height.
    void setGridFont(const QFont& font);
    // The action WeightsFont: the font dialog preset with the grid's font, applied on OK.
    void WeightsFontExecute();

    // Widths of positions 1..4 as the configuration file keeps them ([DB] Column1Width ..
    // Column4Width): by position, whatever column stands there now, hidden ones included. Stored
    // widths outside MinimumWidth..MaximumWidth get their position's default.
    std::array<qint32, StoredColumns> columnWidths() const;
    void setColumnWidths(const std::array<qint32, StoredColumns>& widths);
    static constexpr qint32 MinimumWidth = 8;
    static constexpr qint32 MaximumWidth = 2000;

    // The text of a footer cell: row 0 the titles, row 1 the count and sum; column is the field.
    QString footerText(int row, int column) const;
    TWeighingsFooter* footer() const { return m_footer; }

    void setPrompts(const WeighingsGridPrompts& prompts);
    // The dialogs a grid uses unless told otherwise.
    static WeighingsGridPrompts defaultPrompts();

signals:
    // One row was deleted from the table (emitted once per row).
    void recordDeleted();
    // Reading or changing the table failed; the operator has been told.
    void tableFailed(const QString& error);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void updateGeometries() override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    void updateFooters();
    void applyRowHeight();
    void makeCurrent(int row);
    QList<int> markedRows() const;
    void reportFailure(const QString& error);

    WeighingsModel* m_model;
    TWeighingsFooter* m_footer = nullptr;
    WeighingsGridPrompts m_prompts;
    // Widths of columns while they are hidden (a hidden section reports no width), by field.
    std::array<qint32, WeighingsColumnCount> m_hiddenWidths{150, 110, 100, 90, CompDateTimeWidth};
    std::optional<qint64> m_currentRowid; // rowid of the current row when it became current
    QString m_lastSearch;
    bool m_informing = false;
};
