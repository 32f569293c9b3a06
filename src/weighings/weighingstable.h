#pragma once

#include "weighings/weighingrow.h"

#include <QDate>
#include <QList>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

#include <functional>
#include <map>
#include <optional>

// What Open() found: the table was there, or the file was new (or empty) and the table was made.
enum class OpenOutcome { Opened, Created };

// Why Open() failed.
enum class OpenFault {
    None,
    DriverMissing,  // Qt's SQLite driver is not installed
    NoAccess,       // the file or its folder cannot be opened, created or written
    NotADatabase,   // the file is no SQLite database, or a damaged one
    ForeignFile,    // an SQLite file of something else: it holds no table weights_data
    ForeignColumns, // a table weights_data with other columns
    Other,
};

struct OpenResult {
    OpenOutcome value = OpenOutcome::Opened;
    QString error; // names the file and the reason, in English, for the log
    OpenFault fault = OpenFault::None;
    bool ok() const { return error.isEmpty(); }
};

// The operator's text for a table that cannot be opened: the file and the reason, in Russian.
QString tableOpenFailureText(const QString& filePath, OpenFault fault);

// Outcome of an operation on the table. An empty error means success; otherwise it names the file
// and SQLite's reason, ready to be shown to the operator.
struct TableStatus {
    QString error;
    bool ok() const { return error.isEmpty(); }
};

template <typename T> struct TableResult {
    T value{};
    QString error;
    bool ok() const { return error.isEmpty(); }
};

// A row of the view with its rowid, the key under which it can be deleted.
struct StoredWeighing {
    qint64 rowid = 0;
    WeighingRow row;
};

// The last row of the whole table, as the check of the newest weighing needs it.
struct LastWeighing {
    qint64 rowid = 0;
    qint32 ID = 0;
    double Weight = 0.0;
};

// Sum of the weights of the view, in fixed point with four decimals. A sum beyond the range of
// that fixed point (possible only with absurd weights) has fits false and the floating sum in
// total instead.
struct WeightSum {
    qint64 tenThousandths = 0;
    bool fits = true;
    double total = 0.0;
};

// A fixed-point value of ten-thousandths in the general number format: at most 15 significant
// digits, trailing zeros dropped, "0" for zero.
QString fixedPointText(qint64 tenThousandths, QChar decimalPoint = u'.');

// The footer text of a sum: fixedPointText(), or the floating sum with 15 significant digits when
// the fixed point cannot hold it.
QString weightSumText(const WeightSum& sum, QChar decimalPoint = u'.');

// The weighings table on disk (the system's Table1): an SQLite file holding the table
// `weights_data` with the columns DateTime, Weight, Component, ID, CompDateTime, an index on
// (CompDateTime, Component), and the table `kdm_state` that keeps the number of the last weighing
// stored. Every change is one transaction, on disk when the call returns (WAL with synchronous
// FULL), so a crash or power cut loses nothing that was reported stored. Two instances may use one
// file: a writer waits up to five seconds for the other.
//
// The view is the rows that the filter lets through (all rows while there is no filter), as of the
// moment it was last read: setFilter(), refresh() and this object's own changes re-read it, rows
// another instance adds show up at the next refresh(). Positions in the view follow rowid order,
// which is append order.
//
// Nothing here throws or asserts: every failure comes back as a result with its error text.
class WeighingsTable {
public:
    // filePath: the table file, <program folder>/db/weights_data.DB; its folder is made when
    // missing.
    explicit WeighingsTable(QString filePath);
    ~WeighingsTable();
    WeighingsTable(const WeighingsTable&) = delete;
    WeighingsTable& operator=(const WeighingsTable&) = delete;

    QString fileName() const { return m_filePath; }

    // Whether the table file exists.
    bool Exists() const;

    // Makes the folder and the table with its index and state table in a new or empty file. Never
    // touches a file that already holds a weighings table: that is an error.
    TableStatus CreateTable();

    // Opens the file; a new or empty file (a creation cut short, too) gets the table and gives
    // Created. A file that is not an SQLite database or holds some other table is refused and left
    // alone.
    OpenResult Open();
    void Close();
    bool isOpen() const { return m_open; }

    // The view: rows stored on `date` for component number `component`.
    void setFilter(QDate date, int component);
    void clearFilter();
    bool hasFilter() const { return m_filtered; }
    // Reads the view again, with every row committed until now.
    void refresh();

    TableResult<qint64> RecordCount();
    TableResult<WeightSum> sumOfView();
    // Rows offset .. offset + limit - 1 of the view. Fetches only those rows and seeks to them from
    // the nearest row already seen or from either end, so any position of a large view is quick.
    TableResult<QList<StoredWeighing>> rowsOfView(qint64 offset, int limit);

    TableResult<qint64> totalRowCount();
    TableResult<std::optional<LastWeighing>> lastRow();

    // The number of the last weighing stored, kept in the same transactions as the rows; absent in
    // a table made before it was kept there (the configuration file's ID_old holds it then).
    TableResult<std::optional<quint32>> storedCounter();

    // Appends a row; gives its rowid.
    TableResult<qint64> append(const WeighingRow& row);
    // Appends a weighing's row and records newStoredCounter as the last weighing stored, both in
    // one transaction: either both are on disk or neither is.
    TableResult<qint64> appendWeighing(const WeighingRow& row, quint32 newStoredCounter);
    // Records the last weighing stored without a row (the terminal's counter went back).
    TableStatus setStoredCounter(quint32 counter);

    // Sets Weight of the last row of the whole table, whatever the filter; false when the table is
    // empty.
    TableResult<bool> updateLastWeight(double weight);

    // Deletes the rows with these rowids in one transaction; gives how many went.
    TableResult<int> deleteRows(const QList<qint64>& rowids);

private:
    struct ViewSnapshot {
        bool valid = false;
        qint64 count = 0;
        qint64 highRowid = 0; // rows above it were committed after the view was read
    };

    QString failure(const QString& what, const QString& reason) const;
    QString notOpen(const QString& what) const;
    // Keeps SQLite's result code of `error` and returns its text.
    QString failedWith(const QSqlError& error);
    // Runs sql with values bound in order and hands the query to read; SQLite's reason on failure,
    // else an empty text.
    QString execute(const QString& sql, const QVariantList& values = {},
                    const std::function<void(QSqlQuery&)>& read = {});
    // Runs body in one write transaction; nothing of it stays in the file when it fails.
    QString inWriteTransaction(const std::function<QString()>& body);
    QVariantList filterValues() const;
    TableStatus ensureOpen(const QString& what);
    TableStatus useDurableJournal(const QString& what);
    TableStatus createSchema();
    TableStatus checkSchema();
    TableStatus readView();
    TableResult<qint64> appendRow(const WeighingRow& row, std::optional<quint32> storedCounter);
    void forgetPositions();
    void rememberPosition(qint64 position, qint64 rowid);

    QString m_filePath;
    QString m_connectionName;
    std::map<QString, QSqlQuery> m_statements; // prepared on this connection, by their text
    bool m_open = false;
    // SQLite's result code of the last statement or open that failed.
    int m_lastErrorCode = 0;
    bool m_hasStateTable = false;

    bool m_filtered = false;
    QString m_filterDate; // the storing date as the table keeps it
    int m_filterComponent = 0;

    ViewSnapshot m_view;
    // Rowids of view positions already fetched, to seek from when the next rows are fetched.
    std::map<qint64, qint64> m_positions;
};
