// The command word written to the terminal's command register, and the command list.
#include "commands/commandword.h"

#include <QTest>

#include <limits>

class TestCommandWord : public QObject {
    Q_OBJECT
private slots:
    void commandWord_data();
    void commandWord();
    void listEntries_data();
    void listEntries();
    void listHoldsEveryEntryInOrder();
};

void TestCommandWord::commandWord_data() {
    QTest::addColumn<qint32>("code");
    QTest::addColumn<quint16>("word");
    QTest::newRow("input 1") << 0 << quint16(0x0001);
    QTest::newRow("input 8") << 7 << quint16(0x0701);
    QTest::newRow("input 24") << 23 << quint16(0x1701);
    QTest::newRow("past the list") << 24 << quint16(0x1801);
    QTest::newRow("only the low 8 bits: 256") << 256 << quint16(0x0001);
    QTest::newRow("only the low 8 bits: 0x1234") << 0x1234 << quint16(0x3401);
    QTest::newRow("-1") << -1 << quint16(0xFF01);
    QTest::newRow("minimum") << std::numeric_limits<qint32>::min() << quint16(0x0001);
}

void TestCommandWord::commandWord() {
    QFETCH(qint32, code);
    QFETCH(quint16, word);
    QCOMPARE(CommandWord(code), word);
}

void TestCommandWord::listEntries_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("text");
    QTest::newRow("first") << 0 << QStringLiteral("Старт Входа 1");
    QTest::newRow("tenth") << 9 << QStringLiteral("Старт Входа 10");
    QTest::newRow("last") << 23 << QStringLiteral("Старт Входа 24");
    QTest::newRow("-1") << -1 << QString();
    QTest::newRow("24") << 24 << QString();
    QTest::newRow("256") << 256 << QString();
    QTest::newRow("minimum") << std::numeric_limits<int>::min() << QString();
}

void TestCommandWord::listEntries() {
    QFETCH(int, index);
    QFETCH(QString, text);
    QCOMPARE(commandListEntry(index), text);
}

void TestCommandWord::listHoldsEveryEntryInOrder() {
    const QStringList list = commandList();
    QCOMPARE(list.size(), CommandCount);
    for (int i = 0; i < CommandCount; ++i)
        QCOMPARE(list.at(i), QStringLiteral("Старт Входа %1").arg(i + 1));
}

QTEST_GUILESS_MAIN(TestCommandWord)
#include "tst_commandword.moc"
