#include "weighings/weighingstable.h"

#include <QAtomicInteger>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const QString TableName = QStringLiteral("weights_data");
const QStringList ColumnNames{QStringLiteral("DateTime"), QStringLiteral("Weight"),
                              QStringLiteral("Component"), QStringLiteral("ID"),
                              QStringLiteral("CompDateTime")};
const int BusyTimeoutMs = 5000;

const QString CreateWeighingsTable =
    QStringLiteral("CREATE TABLE weights_data (DateTime TEXT, Weight REAL, Component INTEGER, "
                   "ID INTEGER, CompDateTime TEXT)");
const QString CreateFilterIndex =
    QStringLiteral("CREATE INDEX IF NOT EXISTS weights_data_CompDateTime_Component "
                   "ON weights_data (CompDateTime, Component)");
// One row (id 1) holding the number of the last weighing stored.
const QString CreateStateTable =
    QStringLiteral("CREATE TABLE IF NOT EXISTS kdm_state "
                   "(id INTEGER PRIMARY KEY CHECK (id = 1), stored_counter INTEGER NOT NULL)");
const QString WriteStoredCounter =
    QStringLiteral("INSERT INTO kdm_state (id, stored_counter) VALUES (1, ?) "
                   "ON CONFLICT (id) DO UPDATE SET stored_counter = excluded.stored_counter");

const QString SelectRows =
    QStringLiteral("SELECT rowid, DateTime, Weight, Component, ID, CompDateTime FROM weights_data");

// Ten-thousandths held by a qint64: a single weight at or beyond this cannot be summed exactly.
const double FixedPointLimit = 9.2e14;

QAtomicInteger<quint64> connectionSerial;

QString reasonOf(const QSqlError& error) {
    QString reason = error.databaseText();
    if (reason.isEmpty())
        reason = error.driverText();
    return reason.isEmpty() ? QStringLiteral("unknown error") : reason;
}

// SQLite's primary result codes that say why a file cannot be used.
constexpr int SqlitePerm = 3;
constexpr int SqliteReadOnly = 8;
constexpr int SqliteCorrupt = 11;
constexpr int SqliteCantOpen = 14;
constexpr int SqliteAuth = 23;
constexpr int SqliteNotADatabase = 26;

OpenFault faultOf(int sqliteCode) {
    switch (sqliteCode & 0xFF) { // the extended codes keep the primary one in the low byte
    case SqlitePerm:
    case SqliteReadOnly:
    case SqliteCantOpen:
    case SqliteAuth:
        return OpenFault::NoAccess;
    case SqliteCorrupt:
    case SqliteNotADatabase:
        return OpenFault::NotADatabase;
    default:
        return OpenFault::Other;
    }
}

WeighingRow rowFromQuery(const QSqlQuery& query) {
    WeighingRow row;
    row.DateTime = weighingDateTimeFromText(query.value(1).toString());
    const QVariant weight = query.value(2);
    // SQLite keeps a NaN weight as NULL.
    row.Weight = weight.isNull() ? std::numeric_limits<double>::quiet_NaN() : weight.toDouble();
    row.Component = query.value(3).toInt();
    row.ID = static_cast<qint32>(query.value(4).toLongLong());
    row.CompDateTime = weighingDateTimeFromText(query.value(5).toString()).date();
    return row;
}

} // namespace

QString tableOpenFailureText(const QString& filePath, OpenFault fault) {
    QString reason;
    switch (fault) {
    case OpenFault::DriverMissing:
        reason = QStringLiteral("в системе не установлен драйвер SQLite для Qt");
        break;
    case OpenFault::NoAccess:
        reason = QStringLiteral("нет доступа к файлу или к его папке (открыть, создать или "
                                "записать не удаётся)");
        break;
    case OpenFault::NotADatabase:
        reason = QStringLiteral("файл не является базой данных SQLite или повреждён");
        break;
    case OpenFault::ForeignFile:
        reason = QStringLiteral("в файле нет таблицы отвесов weights_data, он принадлежит другой "
                                "программе");
        break;
    case OpenFault::ForeignColumns:
        reason = QStringLiteral("столбцы таблицы weights_data не те, что нужны программе");
        break;
    case OpenFault::None:
    case OpenFault::Other:
        reason = QStringLiteral("ошибка SQLite, подробности в журнале log.txt");
        break;
    }
    return QStringLiteral("Не удалось открыть таблицу отвесов\n%1\n\nПричина: %2.")
        .arg(QDir::toNativeSeparators(filePath), reason);
}

QString fixedPointText(qint64 tenThousandths, QChar decimalPoint) {
    if (tenThousandths == 0)
        return QStringLiteral("0");
    const bool negative = tenThousandths < 0;
    quint64 magnitude =
        negative ? 0 - static_cast<quint64>(tenThousandths) : static_cast<quint64>(tenThousandths);

    // At most 15 significant digits, rounded half away from zero; the integer part of a qint64
    // of ten-thousandths has at most 15 digits, so the rounding only ever reaches the fraction
    // or the integer's last digits, and never adds a digit in front.
    const int digits = static_cast<int>(QString::number(magnitude).size());
    if (digits > 15) {
        quint64 divisor = 1;
        for (int i = 15; i < digits; ++i)
            divisor *= 10;
        quint64 kept = magnitude / divisor;
        if ((magnitude % divisor) * 2 >= divisor)
            ++kept;
        magnitude = kept * divisor;
    }

    QString text = QString::number(magnitude / 10000);
    QString fraction = QStringLiteral("%1").arg(magnitude % 10000, 4, 10, QLatin1Char('0'));
    while (fraction.endsWith(u'0'))
        fraction.chop(1);
    if (!fraction.isEmpty())
        text += decimalPoint + fraction;
    return negative ? u'-' + text : text;
}

QString weightSumText(const WeightSum& sum, QChar decimalPoint) {
    if (sum.fits)
        return fixedPointText(sum.tenThousandths, decimalPoint);
    QString text = QString::number(sum.total, 'g', 15);
    text.replace(u'.', decimalPoint);
    return text;
}

WeighingsTable::WeighingsTable(QString filePath)
    : m_filePath(std::move(filePath))
    , m_connectionName(QStringLiteral("kdm_weighings_%1").arg(++connectionSerial)) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    db.setDatabaseName(m_filePath);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(BusyTimeoutMs));
}

WeighingsTable::~WeighingsTable() {
    Close();
    QSqlDatabase::removeDatabase(m_connectionName);
}

QString WeighingsTable::failure(const QString& what, const QString& reason) const {
    return QStringLiteral("Weighings table \"%1\": %2: %3")
        .arg(QDir::toNativeSeparators(m_filePath), what, reason);
}

QString WeighingsTable::failedWith(const QSqlError& error) {
    m_lastErrorCode = error.nativeErrorCode().toInt();
    return reasonOf(error);
}

QString WeighingsTable::notOpen(const QString& what) const {
    return failure(what, QStringLiteral("the table is not open"));
}

QString WeighingsTable::execute(const QString& sql, const QVariantList& values,
                                const std::function<void(QSqlQuery&)>& read) {
    // Each statement is prepared once per connection and run again with new values: the grid
    // reads a screen at every scroll, and preparing would cost as much as the reading.
    auto it = m_statements.find(sql);
    if (it == m_statements.end()) {
        QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
        query.setForwardOnly(true);
        if (!query.prepare(sql))
            return failedWith(query.lastError());
        it = m_statements.emplace(sql, std::move(query)).first;
    }
    QSqlQuery& query = it->second;
    for (int i = 0; i < values.size(); ++i)
        query.bindValue(i, values.at(i));
    QString reason;
    if (query.exec()) {
        if (read)
            read(query);
    } else {
        reason = failedWith(query.lastError());
    }
    // A statement left open would hold its read transaction, and this connection would not see
    // what other instances commit.
    query.finish();
    return reason;
}

QString WeighingsTable::inWriteTransaction(const std::function<QString()>& body) {
    // Taken at once (BEGIN IMMEDIATE), so that a second instance waits for its turn instead of
    // failing half-way.
    QString reason = execute(QStringLiteral("BEGIN IMMEDIATE"));
    if (!reason.isEmpty())
        return reason;
    reason = body();
    if (reason.isEmpty())
        reason = execute(QStringLiteral("COMMIT"));
    if (!reason.isEmpty())
        execute(QStringLiteral("ROLLBACK"));
    return reason;
}

bool WeighingsTable::Exists() const {
    return QFileInfo(m_filePath).isFile();
}

TableStatus WeighingsTable::ensureOpen(const QString& what) {
    if (m_open)
        return {};
    // The folder goes first: SQLite makes the file but not its folder. Whether that worked shows
    // in the open that follows.
    QDir().mkpath(QFileInfo(m_filePath).absolutePath());
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        if (!db.isValid())
            return {failure(what, QStringLiteral("the SQLite driver of Qt is not installed"))};
        if (!db.open())
            return {failure(what, failedWith(db.lastError()))};
    }
    m_open = true;

    // A first read tells a file that is no database at all before anything is written to it.
    for (const QString& sql : {QStringLiteral("PRAGMA busy_timeout = %1").arg(BusyTimeoutMs),
                               QStringLiteral("SELECT count(*) FROM sqlite_master")}) {
        if (const QString reason = execute(sql); !reason.isEmpty()) {
            Close();
            return {failure(what, reason)};
        }
    }
    return {};
}

TableStatus WeighingsTable::useDurableJournal(const QString& what) {
    // WAL lets a second instance read while this one writes; with synchronous FULL every commit
    // is on disk before it returns. A file that cannot take WAL (read-only) keeps its journal
    // mode, which is as durable.
    for (const QString& pragma : {QStringLiteral("PRAGMA journal_mode = WAL"),
                                  QStringLiteral("PRAGMA synchronous = FULL")}) {
        if (const QString reason = execute(pragma); !reason.isEmpty())
            return {failure(what, reason)};
    }
    return {};
}

TableStatus WeighingsTable::createSchema() {
    const QString reason = inWriteTransaction([this] {
        for (const QString& sql : {CreateWeighingsTable, CreateFilterIndex, CreateStateTable}) {
            if (const QString r = execute(sql); !r.isEmpty())
                return r;
        }
        return QString();
    });
    if (!reason.isEmpty())
        return {failure(QStringLiteral("cannot create the table"), reason)};
    m_hasStateTable = true;
    return {};
}

TableStatus WeighingsTable::CreateTable() {
    const QString what = QStringLiteral("cannot create the table");
    if (const TableStatus opened = ensureOpen(what); !opened.ok())
        return opened;
    if (const TableStatus journal = useDurableJournal(what); !journal.ok())
        return journal;
    return createSchema();
}

TableStatus WeighingsTable::checkSchema() {
    QStringList columns;
    const QString reason =
        execute(QStringLiteral("PRAGMA table_info(weights_data)"), {}, [&](QSqlQuery& query) {
            while (query.next())
                columns << query.value(1).toString();
        });
    const QString what = QStringLiteral("cannot open the table");
    if (!reason.isEmpty())
        return {failure(what, reason)};
    const bool same = columns.size() == ColumnNames.size() &&
                      std::equal(columns.cbegin(), columns.cend(), ColumnNames.cbegin(),
                                 [](const QString& a, const QString& b) {
                                     return a.compare(b, Qt::CaseInsensitive) == 0;
                                 });
    if (!same) {
        return {failure(what, QStringLiteral("its columns are %1 instead of %2")
                                  .arg(columns.join(u", "), ColumnNames.join(u", ")))};
    }
    return {};
}

OpenResult WeighingsTable::Open() {
    const QString what = QStringLiteral("cannot open the table");
    m_lastErrorCode = 0;
    auto fail = [this](const QString& error, OpenFault fault) {
        Close();
        return OpenResult{OpenOutcome::Opened, error, fault};
    };
    // A failed statement says why through SQLite's result code.
    auto failSql = [this, &fail](const QString& error) {
        return fail(error, faultOf(m_lastErrorCode));
    };
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
        return fail(failure(what, QStringLiteral("the SQLite driver of Qt is not installed")),
                    OpenFault::DriverMissing);
    if (const TableStatus opened = ensureOpen(what); !opened.ok())
        return failSql(opened.error);

    QStringList tables;
    int objects = 0;
    const QString reason =
        execute(QStringLiteral("SELECT type, name FROM sqlite_master"), {}, [&](QSqlQuery& query) {
            while (query.next()) {
                ++objects;
                if (query.value(0).toString() == u"table")
                    tables << query.value(1).toString().toLower();
            }
        });
    if (!reason.isEmpty())
        return failSql(failure(what, reason));

    if (!tables.contains(TableName)) {
        // A file with nothing in it is new, or its creation was cut short: make the table. A file
        // with other things in it belongs to something else and is left as it is.
        if (objects != 0)
            return fail(failure(what, QStringLiteral("the file holds no table weights_data")),
                        OpenFault::ForeignFile);
        if (const TableStatus journal = useDurableJournal(what); !journal.ok())
            return failSql(journal.error);
        if (const TableStatus created = createSchema(); !created.ok())
            return failSql(created.error);
        return {OpenOutcome::Created, {}, OpenFault::None};
    }

    if (const TableStatus schema = checkSchema(); !schema.ok())
        return m_lastErrorCode ? failSql(schema.error)
                               : fail(schema.error, OpenFault::ForeignColumns);
    if (const TableStatus journal = useDurableJournal(what); !journal.ok())
        return failSql(journal.error);
    // The filter index of a table that lacks it is made now; a file that cannot be written is
    // still readable without it, only slower.
    execute(CreateFilterIndex);
    m_hasStateTable = tables.contains(QStringLiteral("kdm_state"));
    return {OpenOutcome::Opened, {}, OpenFault::None};
}

void WeighingsTable::Close() {
    // The statements go first: a connection closes only when none refers to it.
    m_statements.clear();
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        if (db.isValid() && db.isOpen())
            db.close();
    }
    m_open = false;
    m_hasStateTable = false;
    m_view = {};
    forgetPositions();
}

void WeighingsTable::setFilter(QDate date, int component) {
    m_filtered = true;
    m_filterDate = weighingDateText(date);
    m_filterComponent = component;
    refresh();
}

void WeighingsTable::clearFilter() {
    m_filtered = false;
    refresh();
}

void WeighingsTable::refresh() {
    m_view = {};
    forgetPositions();
}

void WeighingsTable::forgetPositions() {
    m_positions.clear();
}

void WeighingsTable::rememberPosition(qint64 position, qint64 rowid) {
    // A bound on the memory a long scroll through a huge view can take.
    if (m_positions.size() >= 100000)
        m_positions.clear();
    m_positions[position] = rowid;
}

QVariantList WeighingsTable::filterValues() const {
    return m_filtered ? QVariantList{m_filterDate, m_filterComponent} : QVariantList{};
}

TableStatus WeighingsTable::readView() {
    const QString what = QStringLiteral("cannot read the weighings");
    if (!m_open)
        return {notOpen(what)};

    // Apart, the count and the bound are each fast (an index count, an index seek); in one
    // statement SQLite walks the rows for both. A read transaction holds them to one state of the
    // file.
    const QString where =
        m_filtered ? QStringLiteral(" WHERE CompDateTime = ? AND Component = ?") : QString();
    const QVariantList values = m_filtered ? filterValues() : QVariantList{};
    ViewSnapshot view;
    view.valid = true;
    QString reason = execute(QStringLiteral("BEGIN"));
    if (reason.isEmpty()) {
        reason = execute(QStringLiteral("SELECT max(rowid) FROM weights_data") + where, values,
                         [&](QSqlQuery& query) {
                             if (query.next())
                                 view.highRowid = query.value(0).toLongLong();
                         });
        if (reason.isEmpty()) {
            reason = execute(QStringLiteral("SELECT count(*) FROM weights_data") + where, values,
                             [&](QSqlQuery& query) {
                                 if (query.next())
                                     view.count = query.value(0).toLongLong();
                             });
        }
        execute(QStringLiteral("COMMIT"));
    }
    if (!reason.isEmpty())
        return {failure(what, reason)};
    m_view = view;
    return {};
}

TableResult<qint64> WeighingsTable::RecordCount() {
    if (!m_view.valid) {
        if (const TableStatus read = readView(); !read.ok())
            return {0, read.error};
    }
    return {m_view.count, {}};
}

TableResult<WeightSum> WeighingsTable::sumOfView() {
    if (!m_view.valid) {
        if (const TableStatus read = readView(); !read.ok())
            return {{}, read.error};
    }
    const QString where = m_filtered ? QStringLiteral(" WHERE CompDateTime = ? AND Component = ? "
                                                      "AND rowid <= ?")
                                     : QStringLiteral(" WHERE rowid <= ?");
    const QVariantList values = filterValues() << m_view.highRowid;

    WeightSum sum;
    QString reason = execute(QStringLiteral("SELECT SUM(CAST(ROUND(Weight * 10000) AS INTEGER)), "
                                            "MAX(ABS(Weight)) FROM weights_data") +
                                 where,
                             values, [&](QSqlQuery& query) {
                                 if (query.next()) {
                                     sum.tenThousandths = query.value(0).toLongLong();
                                     const QVariant largest = query.value(1);
                                     sum.fits =
                                         largest.isNull() || largest.toDouble() < FixedPointLimit;
                                 }
                             });
    if (reason.contains(QStringLiteral("integer overflow"), Qt::CaseInsensitive)) {
        sum.fits = false;
        reason.clear();
    }
    if (reason.isEmpty() && !sum.fits) {
        // Beyond the fixed point the sum is only shown, never used, so a floating one will do.
        reason = execute(QStringLiteral("SELECT TOTAL(Weight) FROM weights_data") + where, values,
                         [&](QSqlQuery& query) {
                             if (query.next())
                                 sum = {0, false, query.value(0).toDouble()};
                         });
    }
    if (!reason.isEmpty())
        return {{}, failure(QStringLiteral("cannot sum the weighings"), reason)};
    return {sum, {}};
}

TableResult<QList<StoredWeighing>> WeighingsTable::rowsOfView(qint64 offset, int limit) {
    if (!m_view.valid) {
        if (const TableStatus read = readView(); !read.ok())
            return {{}, read.error};
    }
    if (offset < 0 || limit <= 0 || offset >= m_view.count)
        return {};
    const qint64 wanted = std::min<qint64>(limit, m_view.count - offset);
    const qint64 last = offset + wanted - 1;

    // Seek from the nearest position whose rowid is known, or from either end of the view: SQLite
    // steps over the rows in between inside the index, so the cost is the distance, never the
    // size of the view.
    qint64 forwardSkip = offset;
    std::optional<qint64> forwardFrom;
    if (auto it = m_positions.upper_bound(offset); it != m_positions.begin()) {
        --it;
        forwardSkip = offset - it->first;
        forwardFrom = it->second;
    }
    qint64 backwardSkip = m_view.count - 1 - last;
    qint64 backwardFrom = m_view.highRowid;
    if (auto it = m_positions.lower_bound(last); it != m_positions.end()) {
        backwardSkip = it->first - last;
        backwardFrom = it->second;
    }
    const bool backward = backwardSkip < forwardSkip;

    QString sql = SelectRows + QStringLiteral(" WHERE ");
    if (m_filtered)
        sql += QStringLiteral("CompDateTime = ? AND Component = ? AND ");
    QVariantList values = filterValues();
    if (backward) {
        sql += QStringLiteral("rowid <= ? ORDER BY rowid DESC");
        values << backwardFrom;
    } else if (forwardFrom) {
        sql += QStringLiteral("rowid >= ? AND rowid <= ? ORDER BY rowid");
        values << *forwardFrom << m_view.highRowid;
    } else {
        sql += QStringLiteral("rowid <= ? ORDER BY rowid");
        values << m_view.highRowid;
    }
    sql += QStringLiteral(" LIMIT ? OFFSET ?");
    values << wanted << (backward ? backwardSkip : forwardSkip);

    QList<StoredWeighing> rows;
    rows.reserve(wanted);
    const QString reason = execute(sql, values, [&](QSqlQuery& query) {
        while (query.next())
            rows.append({query.value(0).toLongLong(), rowFromQuery(query)});
    });
    if (!reason.isEmpty())
        return {{}, failure(QStringLiteral("cannot read the weighings"), reason)};
    if (backward)
        std::reverse(rows.begin(), rows.end());

    if (rows.size() == wanted) {
        rememberPosition(offset, rows.first().rowid);
        rememberPosition(last, rows.last().rowid);
    } else {
        // Rows went missing under the view (deleted by another instance): what is known of
        // positions no longer holds.
        forgetPositions();
    }
    return {rows, {}};
}

TableResult<qint64> WeighingsTable::totalRowCount() {
    const QString what = QStringLiteral("cannot count the weighings");
    if (!m_open)
        return {0, notOpen(what)};
    qint64 count = 0;
    const QString reason =
        execute(QStringLiteral("SELECT count(*) FROM weights_data"), {}, [&](QSqlQuery& query) {
            if (query.next())
                count = query.value(0).toLongLong();
        });
    if (!reason.isEmpty())
        return {0, failure(what, reason)};
    return {count, {}};
}

TableResult<std::optional<LastWeighing>> WeighingsTable::lastRow() {
    const QString what = QStringLiteral("cannot read the last weighing");
    if (!m_open)
        return {{}, notOpen(what)};
    std::optional<LastWeighing> last;
    const QString reason = execute(
        QStringLiteral("SELECT rowid, ID, Weight FROM weights_data ORDER BY rowid DESC LIMIT 1"),
        {}, [&](QSqlQuery& query) {
            if (!query.next())
                return;
            const QVariant weight = query.value(2);
            last = LastWeighing{
                query.value(0).toLongLong(), static_cast<qint32>(query.value(1).toLongLong()),
                weight.isNull() ? std::numeric_limits<double>::quiet_NaN() : weight.toDouble()};
        });
    if (!reason.isEmpty())
        return {{}, failure(what, reason)};
    return {last, {}};
}

TableResult<std::optional<quint32>> WeighingsTable::storedCounter() {
    const QString what = QStringLiteral("cannot read the number of the last weighing stored");
    if (!m_open)
        return {{}, notOpen(what)};
    // The state table may have been made by another instance since this one opened the file.
    bool hasState = false;
    QString reason = execute(
        QStringLiteral("SELECT count(*) FROM sqlite_master "
                       "WHERE type = 'table' AND name = 'kdm_state'"),
        {}, [&](QSqlQuery& query) { hasState = query.next() && query.value(0).toInt() > 0; });
    std::optional<qint64> value;
    bool isNumber = false;
    if (reason.isEmpty() && hasState) {
        reason = execute(QStringLiteral("SELECT stored_counter FROM kdm_state WHERE id = 1"), {},
                         [&](QSqlQuery& query) {
                             if (query.next())
                                 value = query.value(0).toLongLong(&isNumber);
                         });
    }
    if (!reason.isEmpty())
        return {{}, failure(what, reason)};
    // A value no counter can have (the file was edited) counts as absent, so ID_old is used.
    if (!value || !isNumber || *value < 0 || *value > std::numeric_limits<quint32>::max())
        return {std::nullopt, {}};
    return {static_cast<quint32>(*value), {}};
}

TableResult<qint64> WeighingsTable::appendRow(const WeighingRow& row,
                                              std::optional<quint32> storedCounter) {
    const QString what = QStringLiteral("cannot store the weighing");
    if (!m_open)
        return {0, notOpen(what)};
    qint64 rowid = 0;
    const QString reason = inWriteTransaction([&] {
        if (storedCounter && !m_hasStateTable) {
            if (const QString r = execute(CreateStateTable); !r.isEmpty())
                return r;
        }
        QString r = execute(QStringLiteral("INSERT INTO weights_data "
                                           "(DateTime, Weight, Component, ID, CompDateTime) "
                                           "VALUES (?, ?, ?, ?, ?)"),
                            {weighingDateTimeText(row.DateTime), row.Weight, row.Component, row.ID,
                             weighingDateText(row.CompDateTime)},
                            [&](QSqlQuery& query) { rowid = query.lastInsertId().toLongLong(); });
        if (r.isEmpty() && storedCounter)
            r = execute(WriteStoredCounter, {static_cast<qint64>(*storedCounter)});
        return r;
    });
    if (!reason.isEmpty())
        return {0, failure(what, reason)};
    if (storedCounter)
        m_hasStateTable = true;
    // The row lands past every row of the view: positions already known stay right.
    m_view.valid = false;
    return {rowid, {}};
}

TableResult<qint64> WeighingsTable::append(const WeighingRow& row) {
    return appendRow(row, std::nullopt);
}

TableResult<qint64> WeighingsTable::appendWeighing(const WeighingRow& row,
                                                   quint32 newStoredCounter) {
    return appendRow(row, newStoredCounter);
}

TableStatus WeighingsTable::setStoredCounter(quint32 counter) {
    const QString what = QStringLiteral("cannot store the number of the last weighing");
    if (!m_open)
        return {notOpen(what)};
    const QString reason = inWriteTransaction([&] {
        const QString r = execute(CreateStateTable);
        return r.isEmpty() ? execute(WriteStoredCounter, {static_cast<qint64>(counter)}) : r;
    });
    if (!reason.isEmpty())
        return {failure(what, reason)};
    m_hasStateTable = true;
    return {};
}

TableResult<bool> WeighingsTable::updateLastWeight(double weight) {
    const QString what = QStringLiteral("cannot correct the last weighing");
    if (!m_open)
        return {false, notOpen(what)};
    // One statement is one transaction: the last row is found and changed under one lock.
    bool changed = false;
    const QString reason =
        execute(QStringLiteral("UPDATE weights_data SET Weight = ? "
                               "WHERE rowid = (SELECT max(rowid) FROM weights_data)"),
                {weight}, [&](QSqlQuery& query) { changed = query.numRowsAffected() > 0; });
    if (!reason.isEmpty())
        return {false, failure(what, reason)};
    return {changed, {}};
}

TableResult<int> WeighingsTable::deleteRows(const QList<qint64>& rowids) {
    const QString what = QStringLiteral("cannot delete the weighings");
    if (!m_open)
        return {0, notOpen(what)};
    if (rowids.isEmpty())
        return {0, {}};
    int deleted = 0;
    const QString reason = inWriteTransaction([&] {
        for (const qint64 rowid : rowids) {
            const QString r =
                execute(QStringLiteral("DELETE FROM weights_data WHERE rowid = ?"), {rowid},
                        [&](QSqlQuery& query) { deleted += query.numRowsAffected(); });
            if (!r.isEmpty())
                return r;
        }
        return QString();
    });
    if (!reason.isEmpty())
        return {0, failure(what, reason)};
    refresh();
    return {deleted, {}};
}
