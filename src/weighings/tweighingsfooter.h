#pragma once

#include <QString>
#include <QWidget>

class QHeaderView;

// The two footer rows under the weighings grid: titles in the first row, the view's count and sum
// in the second, each under its column. The strip follows the grid's columns as they are resized,
// moved, hidden or scrolled; it takes the grid's font.
class TWeighingsFooter : public QWidget {
    Q_OBJECT

public:
    // header: the grid's column header, whose sections the cells line up with.
    TWeighingsFooter(QHeaderView* header, QWidget* parent);

    // Texts of a column's two cells; a column without texts shows empty cells.
    void setColumnTexts(int logicalColumn, const QString& title, const QString& value);
    QString title(int logicalColumn) const;
    QString value(int logicalColumn) const;

    // Height of the two rows in the current font.
    int stripHeight() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Cell {
        QString title;
        QString value;
    };

    int rowHeight() const;

    QHeaderView* m_header;
    QList<Cell> m_cells; // by logical column
};
