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

void TStatusBar::setPanelText(int panel, const QString& text) {
    if (panel < 0 || panel >= int(m_texts.size()) || m_texts[panel] == text)
        return;
    m_texts[panel] = text;
    update(panelRect(panel));
}

QString TStatusBar::panelText(int panel) const {
    return panel >= 0 && panel < int(m_texts.size()) ? m_texts[panel] : QString();
}

void TStatusBar::setLinkState(qint32 linkState) {
    if (m_linkState == linkState)
        return;
    m_linkState = linkState;
    update(panelRect(1));
}

QSize TStatusBar::sizeHint() const {
    int width = 0;
    for (const int w : StatusPanels::Widths)
        width += w;
    return {width, BarHeight};
}

QRect TStatusBar::panelRect(int panel) const {
    int left = 0;
    for (int i = 0; i < panel; ++i)
        left += StatusPanels::Widths[i];
    return {left, 0, StatusPanels::Widths[panel], height()};
}

void TStatusBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPalette& pal = palette();
    painter.fillRect(rect(), pal.button());
    for (int panel = 0; panel < int(m_texts.size()); ++panel) {
        const QRect outer = panelRect(panel).adjusted(0, 1, -2, -1);
        // Panels 0 to 2 are lowered; the spare panel at the right has no frame.
        if (panel < 3) {
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
        if (panel == 1) {
            if (const auto rgb = StatusPanels::linkTextColour(m_linkState))
                colour = QColor::fromRgb(*rgb);
        } else if (panel == 2) {
            alignment = Qt::AlignRight | Qt::AlignVCenter;
        }
        painter.setPen(colour);
        painter.drawText(inner, alignment, m_texts[panel]);
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
