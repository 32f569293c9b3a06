#include "base/colorvalue.h"
#include "weighings/tcomponentslist.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>

// The component totals list: the copied text, the double-click, the font and widths it keeps.
class ComponentsListTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void copy_putsSelectedRowsInListOrder_data();
    void copy_putsSelectedRowsInListOrder();
    void doubleClick_reportsFirstSelectedRow();
    void font_dialogChoiceAppliedAndStored_data();
    void font_dialogChoiceAppliedAndStored();
    void settings_badValuesGetSafeOnes();

private:
    std::unique_ptr<TComponentsList> m_list;
};

void ComponentsListTest::init() {
    m_list = std::make_unique<TComponentsList>();
    m_list->setComponentRow(0, QStringLiteral("12.5"), QStringLiteral("3"),
                            QStringLiteral("01.05.2024 8:00:00"));
    m_list->setComponentRow(2, QStringLiteral("1000"), QStringLiteral("40"),
                            QStringLiteral("30.04.2024 17:45:10"));
    m_list->setComponentRow(16, QStringLiteral("x"), QStringLiteral("x"), QStringLiteral("x"));
    QGuiApplication::clipboard()->setText(QStringLiteral("previous"));
}

void ComponentsListTest::copy_putsSelectedRowsInListOrder_data() {
    QTest::addColumn<QList<int>>("clicked");
    QTest::addColumn<QString>("text");

    QTest::newRow("rows 3 and 1, clicked in that order")
        << QList<int>{2, 0}
        << QStringLiteral("1\t12.5\t3\t01.05.2024 8:00:00\n3\t1000\t40\t30.04.2024 17:45:10");
    QTest::newRow("a row never read") << QList<int>{5} << QStringLiteral("6\t\t\t");
    QTest::newRow("last row, never read, after a read one")
        << QList<int>{15, 2} << QStringLiteral("3\t1000\t40\t30.04.2024 17:45:10\n16\t\t\t");
    QTest::newRow("nothing selected") << QList<int>{} << QString();
}

void ComponentsListTest::copy_putsSelectedRowsInListOrder() {
    QFETCH(QList<int>, clicked);
    QFETCH(QString, text);

    for (const int row : clicked)
        m_list->topLevelItem(row)->setSelected(true);
    m_list->CopyCClick();
    QCOMPARE(QGuiApplication::clipboard()->text(), text);
}

void ComponentsListTest::doubleClick_reportsFirstSelectedRow() {
    m_list->resize(400, 600);
    m_list->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_list.get()));
    QSignalSpy chosen(m_list.get(), &TComponentsList::componentDoubleClicked);

    const QRect row16 = m_list->visualItemRect(m_list->topLevelItem(15));
    QVERIFY(row16.isValid());
    QTest::mouseDClick(m_list->viewport(), Qt::LeftButton, {}, row16.center());
    QCOMPARE(chosen.count(), 1);
    QCOMPARE(chosen.first().first().toInt(), 15);

    // With several rows selected the first one in list order counts.
    m_list->SelectAllCClick();
    m_list->lvComponentsDblClick();
    QCOMPARE(chosen.last().first().toInt(), 0);
    // No row selected: nothing to choose.
    m_list->clearSelection();
    m_list->lvComponentsDblClick();
    QCOMPARE(chosen.count(), 2);
}

void ComponentsListTest::font_dialogChoiceAppliedAndStored_data() {
    QTest::addColumn<int>("chosenSize");
    QTest::addColumn<QColor>("chosenColor");
    QTest::addColumn<int>("size");
    QTest::addColumn<quint32>("colorValue");

    // Colour values are 0x00BBGGRR.
    QTest::newRow("size within bounds, maroon") << 12 << QColor(0x80, 0, 0) << 12 << 0x000080u;
    QTest::newRow("too large: 24") << 48 << QColor(Qt::blue) << 24 << 0xFF0000u;
    QTest::newRow("too small: 8") << 5 << QColor(Qt::black) << 8 << 0x000000u;
}

void ComponentsListTest::font_dialogChoiceAppliedAndStored() {
    QFETCH(int, chosenSize);
    QFETCH(QColor, chosenColor);
    QFETCH(int, size);
    QFETCH(quint32, colorValue);

    ListFontChoice offered;
    m_list->setFontChooser([&](QWidget*, const ListFontChoice& current) {
        offered = current;
        QFont font(QStringLiteral("DejaVu Serif"), chosenSize);
        font.setItalic(true);
        font.setStrikeOut(true);
        return std::optional<ListFontChoice>(ListFontChoice{font, chosenColor});
    });
    ListFont stored;
    stored.Size = 11;
    stored.Color = 0x008000; // green
    m_list->applyListFont(stored);

    m_list->FontClick();
    QCOMPARE(offered.font.pointSize(), 11);
    QCOMPARE(offered.color, QColor(0, 0x80, 0));

    const ListFont saved = m_list->listFont();
    QCOMPARE(saved.Size, size);
    QCOMPARE(saved.Color, colorValue);
    QVERIFY(saved.StyleItalic);
    QVERIFY(saved.StyleStrikeOut);
    QVERIFY(!saved.StyleBold);
    QCOMPARE(m_list->palette().color(QPalette::Text), chosenColor);

    // Cancelled: nothing changes.
    m_list->setFontChooser(
        [](QWidget*, const ListFontChoice&) { return std::optional<ListFontChoice>(); });
    m_list->FontClick();
    QCOMPARE(m_list->listFont(), saved);
}

void ComponentsListTest::settings_badValuesGetSafeOnes() {
    // A system colour (button text) stays a system colour through a dialog that keeps it.
    ListFont stored;
    stored.Color = 0x80000012;
    stored.Size = 0;
    stored.Name.clear();
    m_list->applyListFont(stored);
    m_list->setFontChooser([](QWidget*, const ListFontChoice& current) {
        return std::optional<ListFontChoice>(current);
    });
    m_list->FontClick();
    const ListFont saved = m_list->listFont();
    QCOMPARE(saved.Color, 0x80000012u);
    QCOMPARE(saved.Size, 10);
    QVERIFY(!saved.Name.isEmpty());

    m_list->setColumnWidths({5, 500, 50, 300});
    QCOMPARE(m_list->columnWidths(), (std::array<qint32, 4>{16, 200, 50, 200}));
    // The operator drags a title edge too far.
    m_list->header()->resizeSection(2, 150);
    QCOMPARE(m_list->columnWidth(2), 100);

    m_list->setListWidth(10);
    QCOMPARE(m_list->listWidth(), 64);
    QCOMPARE(m_list->topLevelItemCount(), 16);
}

QTEST_MAIN(ComponentsListTest)
#include "tst_componentslist.moc"
