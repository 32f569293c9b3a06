// Times the weighings grid on a view of one million rows (one date, one component): the first
// paint after the filter is set, and the paint after a jump to the last row (Ctrl+End). Also shows
// how many rows the grid read and when the footer's sum arrived from its worker.
//
//   grid_bench [--runs <n>] [--dir <folder>]
//
// The table is generated once, in one transaction, and kept in the folder for the next run. The
// offscreen platform is used unless QT_QPA_PLATFORM says otherwise. Times are medians of the runs,
// in milliseconds, with the file in the system's cache.

#include "weighings/tweighingsgrid.h"
#include "weighings/weighingstable.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const qint64 Rows = 1000000;
const QDate Day(2024, 5, 1);
const int Component = 3;

[[noreturn]] void die(const QString& what) {
    std::fprintf(stderr, "grid_bench: %s\n", qPrintable(what));
    std::exit(1);
}

// Counts the paints of a widget.
class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++paints;
        return QObject::eventFilter(watched, event);
    }
};

qint64 rowsIn(const QString& path) {
    WeighingsTable table(path);
    if (!table.Exists() || !table.Open().ok())
        return -1;
    table.setFilter(Day, Component);
    const TableResult<qint64> count = table.RecordCount();
    return count.ok() ? count.value : -1;
}

void generate(const QString& path) {
    QFile::remove(path);
    QFile::remove(path + QStringLiteral("-wal"));
    QFile::remove(path + QStringLiteral("-shm"));
    {
        WeighingsTable table(path);
        if (const OpenResult opened = table.Open(); !opened.ok())
            die(opened.error);
    }
    QElapsedTimer timer;
    timer.start();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "generate");
        db.setDatabaseName(path);
        if (!db.open())
            die(db.lastError().text());
        QSqlQuery query(db);
        // One statement is one transaction; the rows are made inside SQLite.
        if (!query.exec(
                QStringLiteral("WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n "
                               "WHERE x < %1) "
                               "INSERT INTO weights_data (DateTime, Weight, Component, ID, "
                               "CompDateTime) SELECT strftime('%Y-%m-%d %H:%M:%S', '2024-05-01', "
                               "'+' || (x % 86400) || ' seconds'), (x % 1000) * 0.125, %2, x, "
                               "'2024-05-01 00:00:00' FROM n")
                    .arg(Rows)
                    .arg(Component)))
            die(query.lastError().text());
        query.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("generate"));
    std::printf("generated %lld rows in %.1f s\n", static_cast<long long>(Rows),
                static_cast<double>(timer.elapsed()) / 1000.0);
}

// Processes events until the grid's viewport has painted once more; gives the milliseconds since
// timer started.
double untilPainted(const QElapsedTimer& timer, const PaintCounter& counter, int before) {
    while (counter.paints == before) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (timer.elapsed() > 60000)
            die(QStringLiteral("the grid never painted"));
    }
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    int runs = 5;
    QString folder = QStringLiteral(KDM_BENCH_DATA);
    const QStringList arguments = app.arguments();
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments.at(i) == QStringLiteral("--runs") && i + 1 < arguments.size())
            runs = std::max(1, arguments.at(++i).toInt());
        else if (arguments.at(i) == QStringLiteral("--dir") && i + 1 < arguments.size())
            folder = arguments.at(++i);
        else
            die(QStringLiteral("usage: grid_bench [--runs <n>] [--dir <folder>]"));
    }
    QDir().mkpath(folder);
    const QString path = QDir(folder).filePath(QStringLiteral("weights_data.DB"));
    if (rowsIn(path) != Rows)
        generate(path);

    // The part of the first paint that is the table's own SQL: counting the view.
    std::vector<double> countOnly;
    for (int run = 0; run < runs; ++run) {
        WeighingsTable table(path);
        if (const OpenResult opened = table.Open(); !opened.ok())
            die(opened.error);
        QElapsedTimer timer;
        timer.start();
        table.setFilter(Day, Component);
        if (table.RecordCount().value != Rows)
            die(QStringLiteral("the table counts a different view"));
        countOnly.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }

    std::vector<double> startUp;
    std::vector<double> firstPaint;
    std::vector<double> lastRow;
    std::vector<double> sumArrived;
    qint64 fetched = 0;
    for (int run = 0; run < runs; ++run) {
        WeighingsTable table(path);
        if (const OpenResult opened = table.Open(); !opened.ok())
            die(opened.error);
        TWeighingsGrid grid;
        grid.resize(640, 480);
        PaintCounter counter;
        grid.viewport()->installEventFilter(&counter);

        // As at start-up: the table given, its filter set, the grid shown, until painted.
        QElapsedTimer timer;
        timer.start();
        grid.setTable(&table);
        grid.SetFilterExecute(Day.addDays(1), Component);
        grid.show();
        startUp.push_back(untilPainted(timer, counter, 0));

        // The operator picks the date of the million rows: until they are on screen.
        timer.restart();
        QElapsedTimer total;
        total.start();
        int before = counter.paints;
        grid.SetFilterExecute(Day, Component);
        firstPaint.push_back(untilPainted(timer, counter, before));
        if (grid.weighingsModel()->rowCount() != Rows)
            die(QStringLiteral("the view has %1 rows").arg(grid.weighingsModel()->rowCount()));

        // Ctrl+End, then until the last rows are on screen.
        timer.restart();
        before = counter.paints;
        QKeyEvent end(QEvent::KeyPress, Qt::Key_End, Qt::ControlModifier);
        QApplication::sendEvent(&grid, &end);
        lastRow.push_back(untilPainted(timer, counter, before));
        if (grid.currentIndex().row() != Rows - 1)
            die(QStringLiteral("Ctrl+End went to row %1").arg(grid.currentIndex().row()));

        while (grid.weighingsModel()->sumPending()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            if (timer.elapsed() > 60000)
                die(QStringLiteral("the sum never arrived"));
        }
        sumArrived.push_back(static_cast<double>(total.nsecsElapsed()) / 1e6);
        fetched = grid.weighingsModel()->fetchedRowCount();
        if (grid.footerText(1, ColumnWeight) != QStringLiteral("62437500"))
            die(QStringLiteral("sum %1").arg(grid.footerText(1, ColumnWeight)));
    }

    std::printf("view of %lld rows, %d runs, medians:\n", static_cast<long long>(Rows), runs);
    std::printf("  start-up on an empty view, painted:    %7.1f ms\n", median(startUp));
    std::printf("  first paint of the view once chosen:   %7.1f ms\n", median(firstPaint));
    std::printf("    of which the table counts the view:  %7.1f ms\n", median(countOnly));
    std::printf("  paint after Ctrl+End (last row):       %7.1f ms\n", median(lastRow));
    std::printf("  footer sum shown, from the choice on:  %7.1f ms\n", median(sumArrived));
    std::printf("  rows read from the table per run:      %7lld\n",
                static_cast<long long>(fetched));
    return 0;
}
