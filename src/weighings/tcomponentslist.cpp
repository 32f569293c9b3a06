#include "weighings/tcomponentslist.h"

#include "base/colorvalue.h"

#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFontDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QResizeEvent>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QStringList Captions{QStringLiteral("Номер компонента"), QStringLiteral("Сумма компонента"),
                           QStringLiteral("Количество отвесов компонента"),
                           QStringLiteral("Дата обнуления компонента")};

Qt::Alignment columnAlignment(int column) {
    return (column == 0 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter;
}

// The sixteen colours the font dialog offers, as in the usual font dialog's colour list.
struct NamedColor {
    const char* name;
    QRgb rgb;
};
const NamedColor DialogColors[] = {
    {"Черный", 0x000000},       {"Темно-бордовый", 0x800000}, {"Зеленый", 0x008000},
    {"Оливковый", 0x808000},    {"Темно-синий", 0x000080},    {"Фиолетовый", 0x800080},
    {"Сине-зеленый", 0x008080}, {"Серый", 0x808080},          {"Серебристый", 0xC0C0C0},
    {"Красный", 0xFF0000},      {"Лайм", 0x00FF00},           {"Желтый", 0xFFFF00},
    {"Синий", 0x0000FF},        {"Фуксия", 0xFF00FF},         {"Морская волна", 0x00FFFF},
    {"Белый", 0xFFFFFF},
};

QIcon swatch(const QColor& color) {
    QPixmap pixmap(16, 12);
    pixmap.fill(color);
    return QIcon(pixmap);
}

} // namespace

TComponentsList::TComponentsList(QWidget* parent)
    : QTreeWidget(parent)
    , m_chooseFont(&TComponentsList::chooseListFont) {
    setObjectName(QStringLiteral("lvComponents"));
    setColumnCount(Columns);
    setHeaderLabels(Captions);
    for (int column = 0; column < Columns; ++column)
        headerItem()->setTextAlignment(column, columnAlignment(column));
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setMinimumWidth(MinimumListWidth);
    setToolTip(QStringLiteral("Двойной клик для выбора компонента в окне компонентов справа"));

    QHeaderView* titles = header();
    titles->setStretchLastSection(false);
    titles->setSectionsMovable(false);
    titles->setMinimumSectionSize(*std::min_element(MinimumWidths.begin(), MinimumWidths.end()));
    titles->setMaximumSectionSize(*std::max_element(MaximumWidths.begin(), MaximumWidths.end()));
    connect(titles, &QHeaderView::sectionResized, this,
            [this](int column, int, int width) { keepWithinLimits(column, width); });

    for (int i = 0; i < ComponentCount; ++i) {
        auto* item = new QTreeWidgetItem(this);
        item->setText(0, QString::number(i + 1));
        for (int column = 0; column < Columns; ++column)
            item->setTextAlignment(column, columnAlignment(column));
    }
    setColumnWidths(DefaultWidths);
    applyListFont(ListFont{});
}

void TComponentsList::setComponentRow(int i, const QString& sum, const QString& count,
                                      const QString& resetDate) {
    QTreeWidgetItem* item = topLevelItem(i);
    if (i < 0 || i >= ComponentCount || !item)
        return;
    item->setText(1, sum);
    item->setText(2, count);
    item->setText(3, resetDate);
}

ComponentsListRow TComponentsList::componentRow(int i) const {
    const QTreeWidgetItem* item = topLevelItem(i);
    if (!item)
        return {};
    return {item->text(0), item->text(1), item->text(2), item->text(3)};
}

QList<ComponentsListRow> TComponentsList::selectedComponentRows() const {
    QList<ComponentsListRow> rows;
    for (int i = 0; i < topLevelItemCount(); ++i) {
        if (topLevelItem(i)->isSelected())
            rows.append(componentRow(i));
    }
    return rows;
}

int TComponentsList::firstSelectedRow() const {
    for (int i = 0; i < topLevelItemCount(); ++i) {
        if (topLevelItem(i)->isSelected())
            return i;
    }
    return -1;
}

void TComponentsList::CopyCClick() {
    QGuiApplication::clipboard()->setText(componentsClipboardText(selectedComponentRows()));
}

void TComponentsList::SelectAllCClick() {
    selectAll();
}

void TComponentsList::FontClick() {
    if (!m_chooseFont)
        return;
    const QColor current = palette().color(QPalette::Text);
    const std::optional<ListFontChoice> chosen = m_chooseFont(this, {font(), current});
    if (!chosen)
        return;
    QFont chosenFont = chosen->font;
    // A size outside the dialog's bounds makes 16 rows unreadable or the list unusable.
    const int size = chosenFont.pointSize();
    if (size > 0)
        chosenFont.setPointSize(std::clamp(size, MinimumFontSize, MaximumFontSize));
    else
        chosenFont.setPointSize(ListFont{}.Size);
    setFont(chosenFont);
    // An unchanged colour keeps its stored value, which may name a system colour.
    if (chosen->color.isValid() && chosen->color.rgb() != current.rgb()) {
        setTextColor(chosen->color);
        m_colorValue = valueFromColor(chosen->color);
    }
}

void TComponentsList::lvComponentsDblClick() {
    const int row = firstSelectedRow();
    if (row >= 0)
        emit componentDoubleClicked(row);
}

void TComponentsList::applyListFont(const ListFont& stored) {
    const ListFont defaults;
    const int size = stored.Size >= 1 && stored.Size <= 200 ? stored.Size : defaults.Size;
    QFont listFont(stored.Name.trimmed().isEmpty() ? defaults.Name : stored.Name, size);
    listFont.setBold(stored.StyleBold);
    listFont.setItalic(stored.StyleItalic);
    listFont.setUnderline(stored.StyleUnderline);
    listFont.setStrikeOut(stored.StyleStrikeOut);
    setFont(listFont);
    setTextColor(colorFromValue(stored.Color));
    m_colorValue = stored.Color;
}

ListFont TComponentsList::listFont() const {
    const QFont current = font();
    ListFont stored;
    stored.Size = current.pointSize() > 0 ? current.pointSize() : stored.Size;
    stored.Color = m_colorValue;
    stored.Name = current.family();
    stored.StyleBold = current.bold();
    stored.StyleItalic = current.italic();
    stored.StyleUnderline = current.underline();
    stored.StyleStrikeOut = current.strikeOut();
    return stored;
}

void TComponentsList::setTextColor(const QColor& color) {
    QPalette colors = palette();
    colors.setColor(QPalette::Text, color);
    colors.setColor(QPalette::WindowText, color);
    setPalette(colors);
}

void TComponentsList::setColumnWidths(const std::array<qint32, Columns>& widths) {
    for (int column = 0; column < Columns; ++column)
        setColumnWidth(column,
                       std::clamp(widths[column], MinimumWidths[column], MaximumWidths[column]));
}

std::array<qint32, TComponentsList::Columns> TComponentsList::columnWidths() const {
    std::array<qint32, Columns> widths{};
    for (int column = 0; column < Columns; ++column)
        widths[column] = columnWidth(column);
    return widths;
}

void TComponentsList::keepWithinLimits(int column, int width) {
    if (column < 0 || column >= Columns)
        return;
    const int bounded = std::clamp(width, MinimumWidths[column], MaximumWidths[column]);
    if (bounded != width)
        setColumnWidth(column, bounded);
}

void TComponentsList::setListWidth(qint32 width) {
    m_listWidth = std::max(width, MinimumListWidth);
    updateGeometry();
    resize(m_listWidth, height());
}

QSize TComponentsList::sizeHint() const {
    return {m_listWidth, QTreeWidget::sizeHint().height()};
}

void TComponentsList::resizeEvent(QResizeEvent* event) {
    QTreeWidget::resizeEvent(event);
    // Only a width the operator can see is the list's width; a hidden list keeps the last one.
    if (isVisible())
        m_listWidth = std::max(event->size().width(), MinimumListWidth);
}

void TComponentsList::setFontChooser(FontChooser chooser) {
    m_chooseFont = std::move(chooser);
}

void TComponentsList::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeWidget::mouseDoubleClickEvent(event);
    lvComponentsDblClick();
}

void TComponentsList::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    QTreeWidget::drawRow(painter, option, index);
    // Grid lines between rows and between columns.
    painter->save();
    painter->setPen(palette().color(QPalette::Mid));
    const QRect row = option.rect;
    painter->drawLine(row.left(), row.bottom(), row.right(), row.bottom());
    for (int column = 0; column < Columns; ++column) {
        const int right =
            header()->sectionViewportPosition(column) + header()->sectionSize(column) - 1;
        painter->drawLine(right, row.top(), right, row.bottom());
    }
    painter->restore();
}

std::optional<ListFontChoice> TComponentsList::chooseListFont(QWidget* parent,
                                                              const ListFontChoice& current) {
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("fdComponents"));
    dialog.setWindowTitle(QStringLiteral("Шрифт"));

    // The font dialog as a part of this one, so that the colour sits beside its effects.
    auto* fonts = new QFontDialog(current.font, &dialog);
    fonts->setWindowFlags(Qt::Widget);
    fonts->setOptions(QFontDialog::NoButtons | QFontDialog::DontUseNativeDialog);

    auto* colors = new QComboBox(&dialog);
    int selected = -1;
    for (const NamedColor& named : DialogColors) {
        const QColor color(named.rgb);
        colors->addItem(swatch(color), QString::fromUtf8(named.name), color);
        if (color.rgb() == current.color.rgb())
            selected = colors->count() - 1;
    }
    if (selected < 0 && current.color.isValid()) {
        colors->addItem(swatch(current.color), QStringLiteral("Другой"), current.color);
        selected = colors->count() - 1;
    }
    colors->setCurrentIndex(std::max(selected, 0));

    auto* colorRow = new QHBoxLayout;
    colorRow->addWidget(new QLabel(QStringLiteral("Цвет:"), &dialog));
    colorRow->addWidget(colors, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(fonts);
    layout->addLayout(colorRow);
    layout->addWidget(buttons);

    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return ListFontChoice{fonts->currentFont(), colors->currentData().value<QColor>()};
}
