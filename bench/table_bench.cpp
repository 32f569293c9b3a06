// Times the weighings table store on tables of several sizes, each operation next to the same
// statements run directly through the sqlite3 library on the same file.
//
//   table_bench [rows ...] [--dir <folder>]
//
// rows: table sizes, 10000 and 1000000 when none is given. The tables are generated once (about 90
// rows per date and component, consecutive dates, 16 components) and kept in the folder for the
// next run. Times are medians, in milliseconds, with the file in the system's cache.

#include "weighings/weighingstable.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <variant>
#include <vector>

namespace {

const int RowsPerDay = 90 * 16;
const QDate FirstDay(2000, 1, 1);
const int Component = 7;
const int Screen = 40;

double medianMs(int runs, const std::function<void()>& setup, const std::function<void()>& timed) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        setup();
        QElapsedTimer timer;
        timer.start();
        timed();
        times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

double medianMs(int runs, const std::function<void()>& timed) {
    return medianMs(
        runs, [] {}, timed);
}

[[noreturn]] void die(const QString& what) {
    std::fprintf(stderr, "table_bench: %s\n", qPrintable(what));
    std::exit(1);
}

void check(const QString& error) {
    if (!error.isEmpty())
        die(error);
}

// A direct sqlite3 connection; every statement is prepared, run to its end and finalized, as the
// store does it.
class Direct {
public:
    explicit Direct(const QString& path) {
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READWRITE,
                            nullptr) != SQLITE_OK)
            die(QStringLiteral("sqlite3_open %1").arg(path));
        sqlite3_busy_timeout(m_db, 5000);
    }
    ~Direct() { sqlite3_close(m_db); }
    Direct(const Direct&) = delete;
    Direct& operator=(const Direct&) = delete;

    // Runs sql with the values bound in order (qint64 or text), stepping over every row and
    // reading every column; gives the first column of the first row as an integer.
    qint64 run(const QByteArray& sql,
               const std::vector<std::variant<qint64, QByteArray>>& values = {}) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(m_db, sql.constData(), -1, &statement, nullptr) != SQLITE_OK)
            die(QStringLiteral("%1: %2").arg(QString::fromUtf8(sql), sqlite3_errmsg(m_db)));
        int index = 1;
        for (const auto& value : values) {
            if (std::holds_alternative<qint64>(value))
                sqlite3_bind_int64(statement, index++, std::get<qint64>(value));
            else
                sqlite3_bind_text(statement, index++, std::get<QByteArray>(value).constData(), -1,
                                  SQLITE_TRANSIENT);
        }
        qint64 first = 0;
        bool seen = false;
        int rc;
        while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
            for (int c = 0; c < sqlite3_column_count(statement); ++c) {
                if (sqlite3_column_type(statement, c) == SQLITE_TEXT)
                    sqlite3_column_text(statement, c);
                else
                    sqlite3_column_double(statement, c);
            }
            if (!seen)
                first = sqlite3_column_int64(statement, 0);
            seen = true;
        }
        if (rc != SQLITE_DONE)
            die(QStringLiteral("%1: %2").arg(QString::fromUtf8(sql), sqlite3_errmsg(m_db)));
        sqlite3_finalize(statement);
        return first;
    }

private:
    sqlite3* m_db = nullptr;
};

void removeTableFiles(const QString& path) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        QFile::remove(path + QLatin1String(suffix));
}

// Writes `rows` weighings in one transaction through one prepared statement: day after day, 1440
// a day, the 16 components in turn, so that every date and component holds 90 rows.
void generate(const QString& path, qint64 rows) {
    const QString part = path + QStringLiteral(".part");
    removeTableFiles(part);
    {
        WeighingsTable table(part);
        check(table.Open().error);
        check(table.setStoredCounter(static_cast<quint32>(rows)).error);
    }
    QElapsedTimer timer;
    timer.start();
    {
        sqlite3* db = nullptr;
        sqlite3_open_v2(QFile::encodeName(part).constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_exec(db,
                     "PRAGMA journal_mode = DELETE; PRAGMA synchronous = OFF; "
                     "PRAGMA cache_size = -262144; BEGIN",
                     nullptr, nullptr, nullptr);
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(db,
                           "INSERT INTO weights_data (DateTime, Weight, Component, ID, "
                           "CompDateTime) VALUES (?, ?, ?, ?, ?)",
                           -1, &insert, nullptr);
        quint32 noise = 12345;
        char dateTime[32];
        QByteArray day;
        for (qint64 r = 0; r < rows; ++r) {
            const qint64 inDay = r % RowsPerDay;
            if (inDay == 0 || day.isEmpty())
                day = FirstDay.addDays(r / RowsPerDay).toString(u"yyyy-MM-dd").toLatin1();
            const int seconds = 6 * 3600 + static_cast<int>(inDay) * 30;
            std::snprintf(dateTime, sizeof dateTime, "%s %02d:%02d:%02d", day.constData(),
                          seconds / 3600, seconds / 60 % 60, seconds % 60);
            const QByteArray stored = day + " 00:00:00";
            noise = noise * 1103515245u + 12345u;
            const float weight = static_cast<float>((noise >> 8) % 500000) / 1000.0f;
            sqlite3_bind_text(insert, 1, dateTime, -1, SQLITE_TRANSIENT);
            sqlite3_bind_double(insert, 2, static_cast<double>(weight));
            sqlite3_bind_int(insert, 3, static_cast<int>(inDay % 16) + 1);
            sqlite3_bind_int64(insert, 4, r + 1);
            sqlite3_bind_text(insert, 5, stored.constData(), -1, SQLITE_TRANSIENT);
            if (sqlite3_step(insert) != SQLITE_DONE)
                die(QStringLiteral("insert: %1").arg(sqlite3_errmsg(db)));
            sqlite3_reset(insert);
        }
        sqlite3_finalize(insert);
        if (sqlite3_exec(db, "COMMIT; PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr) !=
            SQLITE_OK)
            die(QStringLiteral("commit: %1").arg(sqlite3_errmsg(db)));
        sqlite3_close(db);
    }
    if (!QFile::rename(part, path))
        die(QStringLiteral("cannot rename %1").arg(part));
    std::printf("generated %lld rows in %.1f s (%.0f MB)\n", static_cast<long long>(rows),
                static_cast<double>(timer.elapsed()) / 1000.0,
                static_cast<double>(QFileInfo(path).size()) / 1e6);
}

struct Figure {
    QString operation;
    double store;
    double direct;
    double target; // 0: none
};

using Values = std::vector<std::variant<qint64, QByteArray>>;

QList<Figure> measure(const QString& path, qint64 rows) {
    QList<Figure> figures;
    const QDate date = FirstDay.addDays(rows / RowsPerDay / 2);
    const QByteArray dateText = weighingDateText(date).toLatin1();
    const QByteArray columns =
        "SELECT rowid, DateTime, Weight, Component, ID, CompDateTime FROM weights_data ";
    const std::function<void()> nothing = [] {};

    // Start-up: open (with the schema check), the stored counter, the record count.
    figures.append({QStringLiteral("open at start-up"),
                    medianMs(11,
                             [&] {
                                 WeighingsTable table(path);
                                 check(table.Open().error);
                                 check(table.storedCounter().error);
                                 check(table.totalRowCount().error);
                             }),
                    medianMs(11,
                             [&] {
                                 Direct db(path);
                                 for (const char* sql : {
                                          "PRAGMA busy_timeout = 5000",
                                          "SELECT count(*) FROM sqlite_master",
                                          "SELECT type, name FROM sqlite_master",
                                          "PRAGMA table_info(weights_data)",
                                          "PRAGMA journal_mode = WAL",
                                          "PRAGMA synchronous = FULL",
                                          "CREATE INDEX IF NOT EXISTS "
                                          "weights_data_CompDateTime_Component ON weights_data "
                                          "(CompDateTime, Component)",
                                          "SELECT count(*) FROM sqlite_master WHERE type = "
                                          "'table' AND name = 'kdm_state'",
                                          "SELECT stored_counter FROM kdm_state WHERE id = 1",
                                          "SELECT count(*) FROM weights_data",
                                      })
                                     db.run(sql);
                             }),
                    200});

    WeighingsTable table(path);
    check(table.Open().error);
    Direct db(path);
    db.run("PRAGMA synchronous = FULL");

    // One operation of the store next to the same statements run directly; each side gets its
    // own untimed setup before every run.
    auto compare = [&](const QString& name, int runs, const std::function<void()>& storeSetup,
                       const std::function<void()>& store, const std::function<void()>& directSetup,
                       const std::function<void()>& direct, double target) {
        figures.append(
            {name, medianMs(runs, storeSetup, store), medianMs(runs, directSetup, direct), target});
    };

    compare(
        QStringLiteral("record count of the whole table"), 25, nothing,
        [&] { check(table.totalRowCount().error); }, nothing,
        [&] { db.run("SELECT count(*) FROM weights_data"); }, 0);

    // The view of one date and one component. Reading it anew (count and bound) comes before
    // every screen, so that no screen is sought from rows seen before.
    table.setFilter(date, Component);
    const qint64 viewRows = table.RecordCount().value;
    const QByteArray filterCount = "SELECT count(*), max(rowid) FROM weights_data "
                                   "WHERE CompDateTime = ? AND Component = ?";
    const qint64 high = db.run("SELECT max(rowid) FROM weights_data WHERE CompDateTime = ? AND "
                               "Component = ?",
                               {dateText, qint64(Component)});
    const Values filter{dateText, qint64(Component), high};
    auto readView = [&] {
        table.refresh();
        check(table.RecordCount().error);
    };
    auto readViewDirect = [&] { db.run(filterCount, {dateText, qint64(Component)}); };

    compare(
        QStringLiteral("view: count (%1 rows)").arg(viewRows), 25, nothing,
        [&] {
            table.setFilter(date, Component);
            check(table.RecordCount().error);
        },
        nothing, readViewDirect, 20);
    compare(
        QStringLiteral("view: sum"), 25, nothing, [&] { check(table.sumOfView().error); }, nothing,
        [&] {
            db.run("SELECT SUM(CAST(ROUND(Weight * 10000) AS INTEGER)), MAX(ABS(Weight)) FROM "
                   "weights_data WHERE CompDateTime = ? AND Component = ? AND rowid <= ?",
                   filter);
        },
        20);
    compare(
        QStringLiteral("view: first screen"), 25, readView,
        [&] { check(table.rowsOfView(0, Screen).error); }, readViewDirect,
        [&] {
            db.run(columns + "WHERE CompDateTime = ? AND Component = ? AND rowid <= ? "
                             "ORDER BY rowid LIMIT 40 OFFSET 0",
                   filter);
        },
        20);
    compare(
        QStringLiteral("view: last screen"), 25, readView,
        [&] { check(table.rowsOfView(std::max<qint64>(0, viewRows - Screen), Screen).error); },
        readViewDirect,
        [&] {
            db.run(columns + "WHERE CompDateTime = ? AND Component = ? AND rowid <= ? "
                             "ORDER BY rowid DESC LIMIT 40 OFFSET 0",
                   filter);
        },
        20);

    // The whole table as one view, as before the first filter is set.
    table.clearFilter();
    const qint64 all = table.RecordCount().value;
    const qint64 top = db.run("SELECT max(rowid) FROM weights_data");
    auto readWholeDirect = [&] {
        db.run("BEGIN");
        db.run("SELECT max(rowid) FROM weights_data");
        db.run("SELECT count(*) FROM weights_data");
        db.run("COMMIT");
    };
    compare(
        QStringLiteral("whole table: count (%1 rows)").arg(all), 11, nothing,
        [&] {
            table.clearFilter();
            check(table.RecordCount().error);
        },
        nothing, readWholeDirect, 0);
    compare(
        QStringLiteral("whole table: last screen"), 25, readView,
        [&] { check(table.rowsOfView(all - Screen, Screen).error); }, readWholeDirect,
        [&] { db.run(columns + "WHERE rowid <= ? ORDER BY rowid DESC LIMIT 40 OFFSET 0", {top}); },
        0);
    compare(
        QStringLiteral("whole table: middle screen, unseen"), 5, readView,
        [&] { check(table.rowsOfView(all / 2, Screen).error); }, readWholeDirect,
        [&] {
            db.run(columns + "WHERE rowid <= ? ORDER BY rowid LIMIT 40 OFFSET ?", {top, all / 2});
        },
        0);
    // The screen after one already read is sought from that one's last row.
    compare(
        QStringLiteral("whole table: next screen"), 25,
        [&] {
            readView();
            check(table.rowsOfView(all / 2, Screen).error);
        },
        [&] { check(table.rowsOfView(all / 2 + Screen, Screen).error); },
        [&] {
            readWholeDirect();
            db.run(columns + "WHERE rowid <= ? ORDER BY rowid LIMIT 40 OFFSET ?", {top, all / 2});
        },
        [&] {
            db.run(columns + "WHERE rowid > ? AND rowid <= ? ORDER BY rowid LIMIT 40 OFFSET 0",
                   {top / 2 + Screen, top});
        },
        0);

    // A durable append of a weighing with its counter; the rows go again afterwards.
    const quint32 counter = table.storedCounter().value.value_or(0);
    quint32 next = counter;
    WeighingRow row = weighingRowFromRecord(12.5f, 1, 5, 24, 12, 0, 0, Component - 1, 0, date);
    compare(
        QStringLiteral("append with its durable commit"), 50, nothing,
        [&] {
            row.ID = static_cast<qint32>(++next);
            check(table.appendWeighing(row, next).error);
        },
        nothing,
        [&] {
            db.run("BEGIN IMMEDIATE");
            db.run("INSERT INTO weights_data (DateTime, Weight, Component, ID, CompDateTime) "
                   "VALUES (?, ?, ?, ?, ?)",
                   {QByteArray("2024-05-01 12:00:00"), qint64(12), qint64(Component),
                    qint64(++next), dateText});
            db.run("INSERT INTO kdm_state (id, stored_counter) VALUES (1, ?) ON CONFLICT (id) DO "
                   "UPDATE SET stored_counter = excluded.stored_counter",
                   {qint64(next)});
            db.run("COMMIT");
        },
        0);
    db.run("DELETE FROM weights_data WHERE rowid > ?", {top});
    check(table.setStoredCounter(counter).error);
    return figures;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString dir = QStringLiteral(KDM_BENCH_DATA);
    if (const qsizetype at = args.indexOf(QStringLiteral("--dir")); at >= 0) {
        dir = args.value(at + 1);
        args.remove(at, std::min<qsizetype>(2, args.size() - at));
    }
    QList<qint64> sizes;
    for (const QString& arg : args)
        sizes << arg.toLongLong();
    if (sizes.isEmpty())
        sizes = {10000, 1000000};
    QDir().mkpath(dir);

    std::printf("sqlite %s, times in ms (median)\n", sqlite3_libversion());
    for (const qint64 rows : sizes) {
        const QString path = QDir(dir).filePath(QStringLiteral("weights_%1.DB").arg(rows));
        if (!QFileInfo::exists(path))
            generate(path, rows);
        const QList<Figure> figures = measure(path, rows);
        std::printf("\n%lld rows\n%-42s %10s %10s %7s  %s\n", static_cast<long long>(rows),
                    "operation", "store", "sqlite3", "ratio", "target");
        for (const Figure& f : figures) {
            const double ratio = f.direct > 0 ? f.store / f.direct : 0;
            QString verdict;
            if (f.target > 0) {
                verdict = QStringLiteral("< %1 ms and < 2x: %2")
                              .arg(f.target)
                              .arg(f.store < f.target && ratio < 2 ? QStringLiteral("met")
                                                                   : QStringLiteral("MISSED"));
            }
            std::printf("%-42s %10.3f %10.3f %7.2f  %s\n", qPrintable(f.operation), f.store,
                        f.direct, ratio, qPrintable(verdict));
        }
    }
    return 0;
}
