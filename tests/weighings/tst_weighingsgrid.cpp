#include "rawdatabase.h"
#include "weighings/tweighingsfooter.h"
#include "weighings/tweighingsgrid.h"
#include "weighings/weighingstable.h"

#include <QHeaderView>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// The weighings grid over a real table file: filter, footers, rows stored while it shows, marks and
// deletion, search, widths by position, fonts, a table that fails.
class WeighingsGridTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void filter_showsRowsCountAndSumOfDateAndComponent_data();
    void filter_showsRowsCountAndSumOfDateAndComponent();
    void storedWeighing_appearsAtEndAndCurrentRowAndMarksStay();
    void rowsDeletedBehindGrid_currentRowFollowsItsWeighing();
    void ctrlDelete_asksOnceAndDeletesMarkedOrCurrentRows_data();
    void ctrlDelete_asksOnceAndDeletesMarkedOrCurrentRows();
    void ctrlF_findsTextInVisibleColumnsFromCurrentRowOn();
    void widths_storedByPositionAfterMove();
    void font_appliesToRowsTitlesAndFooters();
    void failingTable_isReportedOnceAndShowsNoFigures();

private:
    qint64 append(QDate stored, int component, double weight, int id = 0);
    QString cell(int row, int column) const;
    QStringList weights() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<WeighingsTable> m_table;
    std::unique_ptr<TWeighingsGrid> m_grid;
    QStringList m_questions;
    QStringList m_messages;
    bool m_answer = true;
    std::optional<QString> m_searchText;
};

namespace {

const QDate Day1(2024, 5, 1);
const QDate Day2(2024, 5, 2);

} // namespace

void WeighingsGridTest::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_table =
        std::make_unique<WeighingsTable>(m_dir->filePath(QStringLiteral("db/weights_data.DB")));
    QVERIFY(m_table->Open().ok());
    m_grid = std::make_unique<TWeighingsGrid>();
    m_grid->weighingsModel()->setLocale(QLocale::c());
    m_questions.clear();
    m_messages.clear();
    m_answer = true;
    m_searchText.reset();
    WeighingsGridPrompts prompts;
    prompts.confirm = [this](QWidget*, const QString& question) {
        m_questions << question;
        return m_answer;
    };
    prompts.inform = [this](QWidget*, const QString& message) { m_messages << message; };
    prompts.searchText = [this](QWidget*, const QString&) { return m_searchText; };
    prompts.chooseFont = [](QWidget*, const QFont&) -> std::optional<QFont> {
        return QFont(QStringLiteral("DejaVu Sans"), 15);
    };
    m_grid->setPrompts(prompts);
    m_grid->setTable(m_table.get());
}

void WeighingsGridTest::cleanup() {
    m_grid.reset();
    m_table.reset();
    m_dir.reset();
}

qint64 WeighingsGridTest::append(QDate stored, int component, double weight, int id) {
    WeighingRow row;
    row.DateTime = QDateTime(stored, QTime(8, 30, id % 60), Qt::UTC);
    row.Weight = weight;
    row.Component = component;
    row.ID = id;
    row.CompDateTime = stored;
    const TableResult<qint64> appended = m_table->append(row);
    if (!appended.ok())
        qFatal("%s", qPrintable(appended.error));
    return appended.value;
}

QString WeighingsGridTest::cell(int row, int column) const {
    const WeighingsModel* model = m_grid->weighingsModel();
    return model->data(model->index(row, column)).toString();
}

QStringList WeighingsGridTest::weights() const {
    QStringList texts;
    for (int row = 0; row < m_grid->weighingsModel()->rowCount(); ++row)
        texts << cell(row, ColumnWeight);
    return texts;
}

void WeighingsGridTest::filter_showsRowsCountAndSumOfDateAndComponent_data() {
    QTest::addColumn<QDate>("date");
    QTest::addColumn<int>("component");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("sum");
    QTest::addColumn<QString>("firstDateTime");

    QTest::newRow("day 1, component 3")
        << Day1 << 3 << QStringList{"1.5", "2.25", ".125"} << QStringLiteral("3.875")
        << QStringLiteral("01 May 2024,  8:30:01");
    QTest::newRow("day 1, component 4") << Day1 << 4 << QStringList{"10"} << QStringLiteral("10")
                                        << QStringLiteral("01 May 2024,  8:30:02");
    QTest::newRow("day 2, component 3") << Day2 << 3 << QStringList{"7"} << QStringLiteral("7")
                                        << QStringLiteral("02 May 2024,  8:30:04");
    QTest::newRow("nothing stored that day")
        << QDate(2024, 5, 3) << 3 << QStringList{} << QStringLiteral("0") << QString();
    QTest::newRow("component outside 1..16")
        << Day1 << 17 << QStringList{} << QStringLiteral("0") << QString();
}

void WeighingsGridTest::filter_showsRowsCountAndSumOfDateAndComponent() {
    QFETCH(QDate, date);
    QFETCH(int, component);
    QFETCH(QStringList, rows);
    QFETCH(QString, sum);
    QFETCH(QString, firstDateTime);

    append(Day1, 3, 1.5, 1);
    append(Day1, 4, 10, 2);
    append(Day1, 3, 2.25, 3);
    append(Day2, 3, 7, 4);
    append(Day1, 3, 0.125, 5);

    m_grid->SetFilterExecute(date, component);

    QCOMPARE(weights(), rows);
    QCOMPARE(m_grid->footerText(0, ColumnDateTime), QStringLiteral("Количество отвесов"));
    QCOMPARE(m_grid->footerText(0, ColumnWeight), QStringLiteral("Сумма отвесов"));
    QCOMPARE(m_grid->footerText(1, ColumnDateTime), QString::number(rows.size()));
    QCOMPARE(m_grid->footerText(1, ColumnWeight), sum);
    QCOMPARE(m_grid->currentIndex().row(), rows.isEmpty() ? -1 : 0);
    QCOMPARE(cell(0, ColumnDateTime), firstDateTime);
}

void WeighingsGridTest::storedWeighing_appearsAtEndAndCurrentRowAndMarksStay() {
    const QDate today = QDate::currentDate();
    append(today, 3, 1, 1);
    const qint64 second = append(today, 3, 2, 2);
    append(today, 3, 3, 3);
    m_grid->SetFilterExecute(today, 3);
    m_grid->selectRow(0);
    m_grid->selectionModel()->setCurrentIndex(m_grid->weighingsModel()->index(1, 0),
                                              QItemSelectionModel::Select |
                                                  QItemSelectionModel::Rows);
    const auto markedRows = [this] {
        QList<int> rows;
        for (const QModelIndex& index : m_grid->selectionModel()->selectedRows())
            rows << index.row();
        std::sort(rows.begin(), rows.end());
        return rows;
    };
    QCOMPARE(markedRows(), (QList<int>{0, 1}));

    // A weighing of the shown component: at the end, the rest untouched.
    append(today, 3, 4.5, 4);
    m_grid->tableChanged();
    QCOMPARE(weights(), (QStringList{"1", "2", "3", "4.5"}));
    QCOMPARE(m_grid->currentIndex().row(), 1);
    QCOMPARE(m_grid->weighingsModel()->rowAt(1)->rowid, second);
    QCOMPARE(markedRows(), (QList<int>{0, 1}));
    QCOMPARE(m_grid->footerText(1, ColumnDateTime), QStringLiteral("4"));
    QCOMPARE(m_grid->footerText(1, ColumnWeight), QStringLiteral("10.5"));

    // A weighing of another component, then its weight corrected: the grid does not change.
    append(today, 5, 100, 5);
    m_grid->tableChanged();
    QVERIFY(m_table->updateLastWeight(200).value);
    m_grid->tableChanged();
    QCOMPARE(weights(), (QStringList{"1", "2", "3", "4.5"}));
    QCOMPARE(m_grid->footerText(1, ColumnWeight), QStringLiteral("10.5"));

    // A weighing of the shown component whose weight the terminal then corrects.
    append(today, 3, 6, 6);
    m_grid->tableChanged();
    QVERIFY(m_table->updateLastWeight(6.25).value);
    m_grid->tableChanged();
    QCOMPARE(weights(), (QStringList{"1", "2", "3", "4.5", "6.25"}));
    QCOMPARE(m_grid->footerText(1, ColumnDateTime), QStringLiteral("5"));
    QCOMPARE(m_grid->footerText(1, ColumnWeight), QStringLiteral("16.75"));
    QCOMPARE(m_grid->currentIndex().row(), 1);

    // A weighing stored on the next day is not shown under today.
    append(today.addDays(1), 3, 8, 7);
    m_grid->tableChanged();
    QCOMPARE(m_grid->weighingsModel()->rowCount(), 5);

    // The same component chosen again in the filter box: nothing visible changes.
    m_grid->SetFilterExecute(today, 3);
    QCOMPARE(m_grid->currentIndex().row(), 1);
    QCOMPARE(markedRows(), (QList<int>{0, 1}));
    // Another one: its rows, from the first.
    m_grid->SetFilterExecute(today, 5);
    QCOMPARE(weights(), QStringList{"200"});
    QCOMPARE(m_grid->currentIndex().row(), 0);
}

void WeighingsGridTest::rowsDeletedBehindGrid_currentRowFollowsItsWeighing() {
    const qint64 first = append(Day1, 3, 1, 1);
    append(Day1, 3, 2, 2);
    const qint64 third = append(Day1, 3, 3, 3);
    m_grid->SetFilterExecute(Day1, 3);
    m_grid->selectRow(2);

    // Another instance deletes the first row: positions shift, the grid stays on its weighing.
    RawDatabase raw(m_table->fileName());
    QCOMPARE(raw.exec(QStringLiteral("DELETE FROM weights_data WHERE rowid = %1").arg(first)),
             QString());
    m_grid->tableChanged();
    QCOMPARE(weights(), (QStringList{"2", "3"}));
    QCOMPARE(m_grid->currentIndex().row(), 1);
    QCOMPARE(m_grid->weighingsModel()->rowAt(1)->rowid, third);
    QCOMPARE(m_grid->footerText(1, ColumnWeight), QStringLiteral("5"));
}

void WeighingsGridTest::ctrlDelete_asksOnceAndDeletesMarkedOrCurrentRows_data() {
    QTest::addColumn<QList<int>>("marked");
    QTest::addColumn<int>("current");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<QString>("question");
    QTest::addColumn<QStringList>("remaining");

    const QStringList all{"1", "2", "3", "4", "5"};
    QTest::newRow("three marked") << QList<int>{0, 2, 3} << 3 << true
                                  << QStringLiteral("Delete all selected records?")
                                  << QStringList{"2", "5"};
    QTest::newRow("three marked, cancelled")
        << QList<int>{0, 2, 3} << 3 << false << QStringLiteral("Delete all selected records?")
        << all;
    QTest::newRow("one marked, not the current one")
        << QList<int>{4} << 1 << true << QStringLiteral("Delete record?")
        << QStringList{"1", "2", "3", "4"};
    QTest::newRow("none marked: the current row")
        << QList<int>{} << 1 << true << QStringLiteral("Delete record?")
        << QStringList{"1", "3", "4", "5"};
}

void WeighingsGridTest::ctrlDelete_asksOnceAndDeletesMarkedOrCurrentRows() {
    QFETCH(QList<int>, marked);
    QFETCH(int, current);
    QFETCH(bool, answer);
    QFETCH(QString, question);
    QFETCH(QStringList, remaining);

    for (int i = 1; i <= 5; ++i)
        append(Day1, 3, i, i);
    append(Day1, 4, 99, 6); // not in the view: never deleted
    m_grid->SetFilterExecute(Day1, 3);
    WeighingsModel* model = m_grid->weighingsModel();
    m_grid->selectionModel()->setCurrentIndex(model->index(current, 0), QItemSelectionModel::Clear);
    for (const int row : marked)
        m_grid->selectionModel()->select(model->index(row, 0),
                                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
    m_answer = answer;
    QSignalSpy deleted(m_grid.get(), &TWeighingsGrid::recordDeleted);

    QTest::keyClick(m_grid.get(), Qt::Key_Delete, Qt::ControlModifier);

    QCOMPARE(m_questions, QStringList{question});
    QCOMPARE(deleted.count(), 5 - remaining.size());
    QCOMPARE(weights(), remaining);
    QCOMPARE(m_grid->footerText(1, ColumnDateTime), QString::number(remaining.size()));
    QCOMPARE(m_table->totalRowCount().value, remaining.size() + 1);
    QVERIFY(m_messages.isEmpty());
}

void WeighingsGridTest::ctrlF_findsTextInVisibleColumnsFromCurrentRowOn() {
    append(Day1, 3, 12.5, 101);
    append(Day1, 3, 7, 102);
    append(Day1, 3, 12.5, 103);
    append(Day1, 3, 3, 777);
    m_grid->SetFilterExecute(Day1, 3);
    QCOMPARE(m_grid->currentIndex().row(), 0);

    // The search starts after the current row and comes round to the top.
    m_searchText = QStringLiteral("12.5");
    QTest::keyClick(m_grid.get(), Qt::Key_F, Qt::ControlModifier);
    QCOMPARE(m_grid->currentIndex().row(), 2);
    QTest::keyClick(m_grid.get(), Qt::Key_F, Qt::ControlModifier);
    QCOMPARE(m_grid->currentIndex().row(), 0);
    // The month name of the date column, in any case.
    m_grid->selectRow(3);
    m_searchText = QStringLiteral("MAY 2024");
    QTest::keyClick(m_grid.get(), Qt::Key_F, Qt::ControlModifier);
    QCOMPARE(m_grid->currentIndex().row(), 0);
    QVERIFY(m_messages.isEmpty());

    // 777 is only in the hidden ID column.
    m_searchText = QStringLiteral("777");
    QTest::keyClick(m_grid.get(), Qt::Key_F, Qt::ControlModifier);
    QCOMPARE(m_grid->currentIndex().row(), 0);
    QCOMPARE(m_messages.size(), 1);
    QVERIFY(m_messages.first().contains(QStringLiteral("777")));

    // Cancelled: nothing happens.
    m_searchText.reset();
    QTest::keyClick(m_grid.get(), Qt::Key_F, Qt::ControlModifier);
    QCOMPARE(m_messages.size(), 1);
}

void WeighingsGridTest::widths_storedByPositionAfterMove() {
    m_grid->setColumnWidths({150, 110, 100, 90});
    QCOMPARE(m_grid->columnWidths(), (std::array<qint32, 4>{150, 110, 100, 90}));

    // The operator moves the weight column in front of the date-time column and widens it.
    m_grid->horizontalHeader()->moveSection(ColumnWeight, 0);
    m_grid->setColumnWidth(ColumnWeight, 120);
    // A new filter resets the rows, not the columns.
    append(Day1, 3, 1, 1);
    m_grid->SetFilterExecute(Day1, 3);
    const std::array<qint32, 4> saved = m_grid->columnWidths();
    QCOMPARE(saved, (std::array<qint32, 4>{120, 150, 100, 90}));

    // Next start: the columns in their order, the widths by position.
    TWeighingsGrid restarted;
    restarted.setColumnWidths(saved);
    QCOMPARE(restarted.horizontalHeader()->logicalIndex(0), int(ColumnDateTime));
    QCOMPARE(restarted.columnWidth(ColumnDateTime), 120);
    QCOMPARE(restarted.columnWidth(ColumnWeight), 150);
    QVERIFY(restarted.isColumnHidden(ColumnComponent));
    QCOMPARE(restarted.columnWidths(), saved);

    // Widths no column can have get their position's default.
    restarted.setColumnWidths({0, -5, 100000, 60});
    QCOMPARE(restarted.columnWidths(), (std::array<qint32, 4>{150, 110, 100, 60}));
}

void WeighingsGridTest::font_appliesToRowsTitlesAndFooters() {
    append(Day1, 3, 1, 1);
    m_grid->SetFilterExecute(Day1, 3);
    const int rowHeight = m_grid->rowHeight(0);
    const int footerHeight = m_grid->footer()->stripHeight();

    m_grid->WeightsFontExecute(); // the injected dialog answers DejaVu Sans 15
    QCOMPARE(m_grid->font().pointSize(), 15);
    QCOMPARE(m_grid->horizontalHeader()->font().pointSize(), 15);
    QCOMPARE(m_grid->footer()->font().pointSize(), 15);
    QVERIFY(m_grid->rowHeight(0) > rowHeight);
    QVERIFY(m_grid->footer()->stripHeight() > footerHeight);

    m_grid->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_grid.get()));
    // The footer sits right under the rows, as tall as its two lines.
    QCOMPARE(m_grid->footer()->geometry().top(), m_grid->viewport()->geometry().bottom() + 1);
    QCOMPARE(m_grid->footer()->height(), m_grid->footer()->stripHeight());
}

void WeighingsGridTest::failingTable_isReportedOnceAndShowsNoFigures() {
    append(Day1, 3, 1, 1);
    m_grid->SetFilterExecute(Day1, 3);
    QSignalSpy failed(m_grid.get(), &TWeighingsGrid::tableFailed);

    m_table->Close();
    m_grid->tableChanged();
    m_grid->tableChanged();
    QTRY_COMPARE(failed.count(), 1);
    QCOMPARE(m_messages.size(), 1);
    QVERIFY(m_messages.first().contains(QStringLiteral("not open")));
    QCOMPARE(m_grid->weighingsModel()->rowCount(), 0);
    // An unknown count or sum is no count of 0.
    QCOMPARE(m_grid->footerText(1, ColumnDateTime), QString());
    QCOMPARE(m_grid->footerText(1, ColumnWeight), QString());
    QTest::keyClick(m_grid.get(), Qt::Key_Delete, Qt::ControlModifier);
    QVERIFY(m_questions.isEmpty());

    QVERIFY(m_table->Open().ok());
    m_grid->tableChanged();
    QCOMPARE(weights(), QStringList{"1"});
    QCOMPARE(m_grid->footerText(1, ColumnDateTime), QStringLiteral("1"));
}

QTEST_MAIN(WeighingsGridTest)
#include "tst_weighingsgrid.moc"
