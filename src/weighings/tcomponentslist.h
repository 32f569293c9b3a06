#pragma once

#include "base/appsettings.h"
#include "weighings/componentsclipboard.h"

#include <QColor>
#include <QFont>
#include <QTreeWidget>

#include <array>
#include <functional>
#include <optional>

// A font with the colour its text is drawn in, as the list's font dialog offers them.
struct ListFontChoice {
    QFont font;
    QColor color;
};

// The component totals list lvComponents: one row per component of the terminal (16, captions
// "1".."16") with the component's sum, the number of weighings in it and the date of its last
// reset, as the poll cycle last read them. The operator copies rows, selects all, changes the font,
// and double-clicks a row to show that component's weighings in the grid.
class TComponentsList : public QTreeWidget {
    Q_OBJECT

public:
    static constexpr int ComponentCount = 16;
    static constexpr int Columns = 4;
    static constexpr std::array<qint32, Columns> MinimumWidths{16, 16, 16, 16};
    static constexpr std::array<qint32, Columns> MaximumWidths{100, 200, 100, 200};
    static constexpr std::array<qint32, Columns> DefaultWidths{24, 135, 46, 140};
    static constexpr qint32 MinimumListWidth = 64;
    static constexpr qint32 DefaultListWidth = 400;
    // The font dialog's size bounds, in points; a size chosen outside them is brought inside.
    static constexpr int MinimumFontSize = 8;
    static constexpr int MaximumFontSize = 24;

    using FontChooser = std::function<std::optional<ListFontChoice>(QWidget* parent,
                                                                    const ListFontChoice& current)>;

    explicit TComponentsList(QWidget* parent = nullptr);

    // Row i (0..15, component i + 1) gets the three texts of its component's totals. Any other i
    // is ignored.
    void setComponentRow(int i, const QString& sum, const QString& count, const QString& resetDate);
    ComponentsListRow componentRow(int i) const;
    // The selected rows in list order, whatever order they were selected in.
    QList<ComponentsListRow> selectedComponentRows() const;
    // The index of the first selected row in list order, or -1.
    int firstSelectedRow() const;

    // "Копировать": the selected rows as tab-separated text on the clipboard (empty text when no
    // row is selected).
    void CopyCClick();
    // "Выделить все".
    void SelectAllCClick();
    // "Изменить шрифт": the font dialog preset with the list's font and text colour; on OK the
    // list takes both.
    void FontClick();
    // A double-click: reports the first selected row through componentDoubleClicked().
    void lvComponentsDblClick();

    // [Font]: the list's font and text colour as the configuration file keeps them. A stored size
    // that no font can have (below 1 or above 200 points) or an empty name gets the default.
    void applyListFont(const ListFont& stored);
    ListFont listFont() const;
    // [Components] Column1..Column4: widths outside a column's limits are brought inside them.
    void setColumnWidths(const std::array<qint32, Columns>& widths);
    std::array<qint32, Columns> columnWidths() const;
    // [Components] Width: the list's width, at least 64 pixels; the width it is laid out with and
    // the one saved (the last width it had while shown).
    void setListWidth(qint32 width);
    qint32 listWidth() const { return m_listWidth; }

    QSize sizeHint() const override;

    void setFontChooser(FontChooser chooser);
    // The font dialog: family, style, size and the effects (underline, strike-out, colour).
    static std::optional<ListFontChoice> chooseListFont(QWidget* parent,
                                                        const ListFontChoice& current);

signals:
    // The operator double-clicked the list; row is the first selected row (0..15).
    void componentDoubleClicked(int row);

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                 const QModelIndex& index) const override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void keepWithinLimits(int column, int width);
    void setTextColor(const QColor& color);

    quint32 m_colorValue = 0; // the stored value of the text colour, a system colour kept as such
    qint32 m_listWidth = DefaultListWidth;
    FontChooser m_chooseFont;
};
