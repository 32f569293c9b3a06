#include "weighings/tstatusbar.h"

#include "weighings/statuspanels.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace {
constexpr int BarHeight = 19;
}

TStatusBar::TStatusBar(QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("StatusBar"));
    setMouseTracking(true);
    setFixedHeight(BarHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    StatusBarMouseMove(0);
}

void TStatusBar::setPanelText(StatusPanel panel, const QString& text) {
    QString& shown = m_texts[size_t(panel)];
    if (shown == text)
        return;
    shown = text;
    update(panelRect(panel));
}

QString TStatusBar::panelText(StatusPanel panel) const {
    return m_texts[size_t(panel)];
}

void TStatusBar::setLinkState(LinkState linkState) {
    if (m_linkState == linkState)
        return;
    m_linkState = linkState;
    update(panelRect(StatusPanel::Link));
}

QSize TStatusBar::sizeHint() const {
    int width = 0;
    for (const int w : StatusPanels::Widths)
        width += w;
    return {width, BarHeight};
}

QRect TStatusBar::panelRect(StatusPanel panel) const {
    const int index = int(panel);
    int left = 0;
    for (int i = 0; i < index; ++i)
        left += StatusPanels::Widths[size_t(i)];
    return {left, 0, StatusPanels::Widths[size_t(index)], height()};
}

void TStatusBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPalette& pal = palette();
    painter.fillRect(rect(), pal.button());
    for (int index = 0; index < int(m_texts.size()); ++index) {
        const auto panel = StatusPanel(index);
        const QRect outer = panelRect(panel).adjusted(0, 1, -2, -1);
        // Panels are lowered but for the spare one at the right, which has no frame.
        if (panel != StatusPanel::Spare) {
            painter.setPen(pal.color(QPalette::Dark));
            painter.drawLine(outer.topLeft(), outer.topRight());
            painter.drawLine(outer.topLeft(), outer.bottomLeft());
            painter.setPen(pal.color(QPalette::Light));
            painter.drawLine(outer.bottomLeft(), outer.bottomRight());
            painter.drawLine(outer.topRight(), outer.bottomRight());
        }
        const QRect inner = outer.adjusted(2, 1, -2, 0);
        QColor colour = pal.color(QPalette::ButtonText);
        Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
        if (panel == StatusPanel::Link) {
            if (const auto rgb = StatusPanels::linkTextColour(m_linkState))
                colour = QColor::fromRgb(*rgb);
        } else if (panel == StatusPanel::RecordCount) {
            alignment = Qt::AlignRight | Qt::AlignVCenter;
        }
        painter.setPen(colour);
        painter.drawText(inner, alignment, m_texts[size_t(index)]);
    }
}

void TStatusBar::mouseMoveEvent(QMouseEvent* event) {
    StatusBarMouseMove(int(event->position().x()));
    QWidget::mouseMoveEvent(event);
}

void TStatusBar::StatusBarMouseMove(int x) {
    if (const auto tip = StatusPanels::tooltipAt(x))
        setToolTip(*tip);
}
