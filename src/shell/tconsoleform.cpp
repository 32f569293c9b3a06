#include "shell/tconsoleform.h"

#include <QAction>
#include <QCloseEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QVBoxLayout>

TConsoleForm::TConsoleForm(QAction* showConsole, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_showConsole(showConsole)
    , Memo1(new QPlainTextEdit(this)) {
    setObjectName(QStringLiteral("ConsoleForm"));
    setWindowTitle(QStringLiteral("MODBUS interface"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/console.svg")));

    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->setMaximumBlockCount(MaxLines);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setUndoRedoEnabled(false);
    QFont font(QStringLiteral("MS Sans Serif"), 8);
    font.setBold(true);
    Memo1->setFont(font);
    Memo1->setStyleSheet(QStringLiteral("QPlainTextEdit { background: black; color: #00FF00; }"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Memo1);
}

void TConsoleForm::FormCreate(const WindowBounds& bounds) {
    setVisible(m_showConsole->isChecked());
    move(bounds.Left, bounds.Top);
    resize(bounds.Width, bounds.Height);
}

void TConsoleForm::Showconsolewindow1Click() {
    setVisible(m_showConsole->isChecked());
}

void TConsoleForm::appendLine(const QString& line) {
    Memo1->appendPlainText(line);
    // Follow the traffic: the caret goes after the new text and the view scrolls to it.
    Memo1->moveCursor(QTextCursor::End);
    Memo1->verticalScrollBar()->setValue(Memo1->verticalScrollBar()->maximum());
}

QStringList TConsoleForm::lines() const {
    return Memo1->toPlainText().split(QLatin1Char('\n'));
}

WindowBounds TConsoleForm::bounds() const {
    return {y(), x(), width(), height()};
}

void TConsoleForm::closeEvent(QCloseEvent* event) {
    // Closing only hides the console; its lines stay and it goes on receiving new ones.
    m_showConsole->setChecked(false);
    hide();
    event->ignore();
}
