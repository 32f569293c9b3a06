#pragma once

#include "base/appsettings.h"

#include <QWidget>

class QAction;
class QPlainTextEdit;

// The exchange console "MODBUS interface": every request and reply as hexadecimal bytes, and a
// line for each failed exchange. It lives from start-up to exit and is only shown and hidden.
class TConsoleForm : public QWidget {
    Q_OBJECT

public:
    // The console keeps this many of the newest lines: a program that runs for months must not
    // grow without bound.
    static constexpr int MaxLines = 10000;

    // showConsole: the main window's checkable menu entry "Обмен данными"; the console is visible
    // exactly while it is checked.
    TConsoleForm(QAction* showConsole, QWidget* parent);

    // FormCreate: visible exactly when "Обмен данными" is checked, bounds from the configuration
    // file.
    void FormCreate(const WindowBounds& bounds);
    // Showconsolewindow1Click: the entry's check mark was toggled.
    void Showconsolewindow1Click();

    void appendLine(const QString& line);
    QStringList lines() const;
    WindowBounds bounds() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QAction* m_showConsole;
    QPlainTextEdit* Memo1;
};
