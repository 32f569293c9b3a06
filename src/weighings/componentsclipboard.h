#pragma once

#include <QList>
#include <QString>

// The texts of one row of the component totals list: the component number and its three cells
// (sum, number of weighings, date of the last reset), empty until the terminal was read.
struct ComponentsListRow {
    QString caption;
    QString sum;
    QString count;
    QString resetDate;
};

// What "Копировать" puts on the clipboard for these rows, in the order given: each row is its
// caption followed by a tab and the text of each of the three cells (an empty cell still gives its
// tab); rows are separated by a line feed alone, and no line break follows the last row. No rows
// give an empty text.
QString componentsClipboardText(const QList<ComponentsListRow>& rows);
