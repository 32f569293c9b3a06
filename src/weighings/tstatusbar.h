#pragma once

#include "weighings/statuspanels.h"

#include <QString>
#include <QWidget>

#include <array>

// The main window's status bar. It is a plain widget rather than a QStatusBar, so that no hint
// or status tip of a tool button or menu entry can ever reach it: panel 0 always shows the port.
class TStatusBar : public QWidget {
    Q_OBJECT

public:
    explicit TStatusBar(QWidget* parent = nullptr);

    void setPanelText(StatusPanel panel, const QString& text);
    QString panelText(StatusPanel panel) const;

    // The link panel draws its text in the colour of the link state.
    void setLinkState(LinkState linkState);
    LinkState linkState() const { return m_linkState; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    QRect panelRect(StatusPanel panel) const;
    void StatusBarMouseMove(int x);

    std::array<QString, 4> m_texts;
    LinkState m_linkState = LinkState::NoAnswer;
};
