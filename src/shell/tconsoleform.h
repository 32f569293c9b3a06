#pragma once

#include "shell/appsettings.h"

#include <QWidget>

class QPlainTextEdit;
class TMainForm;

// The exchange console "MODBUS interface": every request and reply as hexadecimal bytes, and a
// line for each failed exchange. It lives from start-up to exit and is only shown and hidden.
class TConsoleForm : public QWidget {
    Q_OBJECT

public:
    // The console keeps this many of the newest lines: a program that runs for months must not
    // grow without bound.
    static constexpr int MaxLines = 10000;

    explicit TConsoleForm(TMainForm* mainForm);

    // FormCreate: visible exactly when the main window's "Обмен данными" is checked, bounds from
    // the configuration file.
    void FormCreate(const WindowBounds& bounds);

    void appendLine(const QString& line);
    QStringList lines() const;
    WindowBounds bounds() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    TMainForm* m_mainForm;
    QPlainTextEdit* Memo1;
};
