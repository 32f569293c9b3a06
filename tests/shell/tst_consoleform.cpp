// The exchange console: shown exactly while "Обмен данными" is checked, closing only hides it,
// lines are appended at the end with the caret following them, and only the newest are kept.

#include "shell/tconsoleform.h"

#include <QAction>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>

class ConsoleFormTest : public QObject {
    Q_OBJECT

private slots:
    void visibility_followsTheMenuCheck_andClosingOnlyHides() {
        QWidget owner;
        QAction showConsole;
        showConsole.setCheckable(true);
        showConsole.setChecked(true);
        TConsoleForm console(&showConsole, &owner);
        console.FormCreate({120, 130, 640, 300});
        QVERIFY(console.isVisible());
        QCOMPARE(console.bounds(), (WindowBounds{120, 130, 640, 300}));

        console.appendLine(QStringLiteral(">> 01 03 00 00 00 02 C4 0B "));
        console.close();
        QVERIFY(!console.isVisible());
        QVERIFY(!showConsole.isChecked());

        // Chosen again from the menu: the same window, at the same place, with its lines.
        showConsole.trigger();
        console.Showconsolewindow1Click();
        QVERIFY(console.isVisible());
        QCOMPARE(console.lines(), QStringList{QStringLiteral(">> 01 03 00 00 00 02 C4 0B ")});
        QCOMPARE(console.bounds().Left, 130);
    }

    void uncheckedAtStart_keepsTheConsoleHidden() {
        QWidget owner;
        QAction showConsole;
        showConsole.setCheckable(true);
        TConsoleForm console(&showConsole, &owner);
        console.FormCreate({100, 100, 600, 340});
        QVERIFY(!console.isVisible());
        console.appendLine(QStringLiteral("Connection fail: no response."));
        QCOMPARE(console.lines().size(), 1);
    }

    void appendedLines_keepTheNewest_andTheCaretFollows() {
        QWidget owner;
        QAction showConsole;
        showConsole.setCheckable(true);
        showConsole.setChecked(true);
        TConsoleForm console(&showConsole, &owner);
        console.FormCreate({100, 100, 600, 340});
        const int total = TConsoleForm::MaxLines + 25;
        for (int i = 0; i < total; ++i)
            console.appendLine(QStringLiteral("<< line %1 ").arg(i));

        const QStringList lines = console.lines();
        QCOMPARE(lines.size(), TConsoleForm::MaxLines);
        QCOMPARE(lines.first(), QStringLiteral("<< line 25 "));
        QCOMPARE(lines.last(), QStringLiteral("<< line %1 ").arg(total - 1));

        auto* memo = console.findChild<QPlainTextEdit*>(QStringLiteral("Memo1"));
        QVERIFY(memo);
        QVERIFY(memo->textCursor().atEnd());
        QCOMPARE(memo->verticalScrollBar()->value(), memo->verticalScrollBar()->maximum());
        QVERIFY(memo->isReadOnly());
    }
};

QTEST_MAIN(ConsoleFormTest)
#include "tst_consoleform.moc"
