#include "weighings/tweighingsfooter.h"

#include <QHeaderView>
#include <QPainter>

TWeighingsFooter::TWeighingsFooter(QHeaderView* header, QWidget* parent)
    : QWidget(parent)
    , m_header(header) {
    setObjectName(QStringLiteral("Footer"));
    setAutoFillBackground(false);
    const auto repaint = [this] { update(); };
    connect(m_header, &QHeaderView::sectionResized, this, repaint);
    connect(m_header, &QHeaderView::sectionMoved, this, repaint);
    connect(m_header, &QHeaderView::geometriesChanged, this, repaint);
    connect(m_header, &QHeaderView::sectionCountChanged, this, repaint);
}

void TWeighingsFooter::setColumnTexts(int logicalColumn, const QString& title,
                                      const QString& value) {
    if (logicalColumn < 0)
        return;
    if (m_cells.size() <= logicalColumn)
        m_cells.resize(logicalColumn + 1);
    m_cells[logicalColumn] = {title, value};
    update();
}

QString TWeighingsFooter::title(int logicalColumn) const {
    return logicalColumn >= 0 && logicalColumn < m_cells.size() ? m_cells.at(logicalColumn).title
                                                                : QString();
}

QString TWeighingsFooter::value(int logicalColumn) const {
    return logicalColumn >= 0 && logicalColumn < m_cells.size() ? m_cells.at(logicalColumn).value
                                                                : QString();
}

int TWeighingsFooter::rowHeight() const {
    return fontMetrics().height() + 6;
}

int TWeighingsFooter::stripHeight() const {
    return 2 * rowHeight();
}

QSize TWeighingsFooter::sizeHint() const {
    return {m_header->length(), stripHeight()};
}

void TWeighingsFooter::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPalette& colors = palette();
    painter.fillRect(rect(), colors.color(QPalette::Button));
    painter.setPen(colors.color(QPalette::Mid));
    painter.drawLine(0, 0, width() - 1, 0);

    // Section positions are relative to the header, which sits right above the grid's viewport
    // just as this strip sits below it.
    const int originX = m_header->x() - x();
    const int row = rowHeight();
    for (int logical = 0; logical < m_header->count(); ++logical) {
        if (m_header->isSectionHidden(logical))
            continue;
        const int left = originX + m_header->sectionViewportPosition(logical);
        const int width = m_header->sectionSize(logical);
        if (left + width < originX || left > this->width())
            continue;
        const QRect titleCell(left, 1, width, row - 1);
        const QRect valueCell(left, row, width, row);
        const Cell cell = logical < m_cells.size() ? m_cells.at(logical) : Cell{};

        painter.save();
        painter.setClipRect(QRect(originX, 0, this->width() - originX, height()));
        painter.fillRect(valueCell.adjusted(1, 1, -1, -1), colors.color(QPalette::Base));
        painter.setPen(colors.color(QPalette::Mid));
        painter.drawLine(titleCell.right(), 0, titleCell.right(), height());
        painter.drawLine(left, row, left + width - 1, row);
        painter.setPen(colors.color(QPalette::ButtonText));
        painter.drawText(titleCell.adjusted(3, 0, -3, 0), Qt::AlignLeft | Qt::AlignVCenter,
                         cell.title);
        painter.setPen(colors.color(QPalette::Text));
        painter.drawText(valueCell.adjusted(3, 0, -3, 0), Qt::AlignRight | Qt::AlignVCenter,
                         cell.value);
        painter.restore();
    }
}
