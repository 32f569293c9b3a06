#include "rawdatabase.h"
#include "weighings/tweighingsgrid.h"
#include "weighings/weighingstable.h"

#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// The grid on a view of about a million rows: it opens, jumps to the end, scrolls and takes a new
// weighing while reading only the rows it shows.
class WeighingsGridLargeViewTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void millionRows_openJumpScrollAndStoreReadOnlyWhatIsShown();

private:
    QTemporaryDir m_dir;
    QString m_path;
};

namespace {

const QDate Day(2024, 5, 1);
const qint64 Rows = 1000000;
// Every 250000th row is of component 4, the rest of component 3.
const qint64 Matching = Rows - 4;
// A screenful is a few dozen rows; a bound far below the view's size, far above what is shown.
const qint64 FetchBound = 5000;

} // namespace

void WeighingsGridLargeViewTest::initTestCase() {
    QVERIFY(m_dir.isValid());
    m_path = m_dir.filePath(QStringLiteral("db/weights_data.DB"));
    {
        WeighingsTable table(m_path);
        QVERIFY(table.Open().ok());
    }
    // One statement, one transaction: the rows are made inside SQLite.
    RawDatabase raw(m_path);
    QCOMPARE(
        raw.exec(QStringLiteral(
                     "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < %1) "
                     "INSERT INTO weights_data (DateTime, Weight, Component, ID, CompDateTime) "
                     "SELECT strftime('%Y-%m-%d %H:%M:%S', '2024-05-01', '+' || (x % 86400) || "
                     "' seconds'), (x % 1000) * 0.125, CASE WHEN x % 250000 = 0 THEN 4 ELSE 3 END, "
                     "x, '2024-05-01 00:00:00' FROM n")
                     .arg(Rows)),
        QString());
}

void WeighingsGridLargeViewTest::millionRows_openJumpScrollAndStoreReadOnlyWhatIsShown() {
    WeighingsTable table(m_path);
    QVERIFY(table.Open().ok());
    TWeighingsGrid grid;
    grid.weighingsModel()->setLocale(QLocale::c());
    grid.setTable(&table);
    grid.resize(500, 400);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    const WeighingsModel* model = grid.weighingsModel();
    const auto cell = [model](int row, int column) {
        return model->data(model->index(row, column)).toString();
    };

    grid.SetFilterExecute(Day, 3);
    QCoreApplication::processEvents();
    QCOMPARE(model->rowCount(), int(Matching));
    QCOMPARE(grid.footerText(1, ColumnDateTime), QString::number(Matching));
    QVERIFY2(model->fetchedRowCount() < FetchBound,
             qPrintable(QString::number(model->fetchedRowCount())));

    // Ctrl+End: the last matching row (weighing 999999), on screen.
    QTest::keyClick(&grid, Qt::Key_End, Qt::ControlModifier);
    QCoreApplication::processEvents();
    QCOMPARE(grid.currentIndex().row(), int(Matching - 1));
    QCOMPARE(cell(grid.currentIndex().row(), ColumnID), QStringLiteral("999999"));
    QCOMPARE(grid.verticalScrollBar()->value(), grid.verticalScrollBar()->maximum());

    // Pages back towards the middle, and a jump into it with the scroll bar.
    for (int i = 0; i < 20; ++i)
        QTest::keyClick(&grid, Qt::Key_PageUp);
    grid.verticalScrollBar()->setValue(grid.verticalScrollBar()->maximum() / 2);
    QCoreApplication::processEvents();
    const int middle = grid.rowAt(0);
    QVERIFY(middle > 400000 && middle < 600000);
    // Positions past 250000 lie one row behind the IDs (weighing 250000 is of component 4).
    QCOMPARE(cell(middle, ColumnID), QString::number(middle + 2));
    QVERIFY2(model->fetchedRowCount() < FetchBound,
             qPrintable(QString::number(model->fetchedRowCount())));

    // The sum of the whole view arrives from the worker: the weights repeat every 1000 rows.
    QTRY_COMPARE_WITH_TIMEOUT(grid.footerText(1, ColumnWeight), QStringLiteral("62437500"), 30000);

    // A new weighing of the view: shown at the end, the current row stays.
    const int current = grid.currentIndex().row();
    WeighingRow row;
    row.DateTime = QDateTime(Day, QTime(12, 0), Qt::UTC);
    row.Weight = 2.5;
    row.Component = 3;
    row.ID = int(Rows + 1);
    row.CompDateTime = Day;
    QVERIFY(table.append(row).ok());
    grid.tableChanged();
    QCOMPARE(model->rowCount(), int(Matching + 1));
    QCOMPARE(grid.currentIndex().row(), current);
    QCOMPARE(cell(int(Matching), ColumnWeight), QStringLiteral("2.5"));
    QTRY_COMPARE_WITH_TIMEOUT(grid.footerText(1, ColumnWeight), QStringLiteral("62437502.5"),
                              30000);
    QVERIFY2(model->fetchedRowCount() < FetchBound,
             qPrintable(QString::number(model->fetchedRowCount())));
}

QTEST_MAIN(WeighingsGridLargeViewTest)
#include "tst_weighingsgrid_largeview.moc"
