#include "rawdatabase.h"
#include "weighings/weighingstable.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <limits>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const QDate May1(2024, 5, 1);
const QDate May2(2024, 5, 2);

WeighingRow makeRow(qint32 id, int component, QDate stored, double weight,
                    QDateTime dateTime = QDateTime(QDate(2024, 4, 30), QTime(23, 59, 58),
                                                   Qt::UTC)) {
    return WeighingRow{dateTime, weight, component, id, stored};
}

QList<qint32> idsOf(const QList<StoredWeighing>& rows) {
    QList<qint32> ids;
    for (const StoredWeighing& r : rows)
        ids << r.row.ID;
    return ids;
}

QList<qint32> idRange(qint32 first, qint32 last, qint32 step = 1) {
    QList<qint32> ids;
    for (qint32 id = first; id <= last; id += step)
        ids << id;
    return ids;
}

// Makes a file read-only; for root, whom file modes do not stop, with the immutable attribute.
// False when this system offers neither.
bool setReadOnly(const QString& path, bool readOnly) {
#ifdef Q_OS_LINUX
    const QByteArray name = QFile::encodeName(path);
    if (geteuid() != 0)
        return chmod(name.constData(), readOnly ? 0444 : 0644) == 0;
    const int fd = open(name.constData(), O_RDONLY);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = readOnly ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    close(fd);
    return ok;
#else
    return QFile::setPermissions(path, readOnly ? QFileDevice::ReadOwner
                                                : QFileDevice::ReadOwner | QFileDevice::WriteOwner);
#endif
}

} // namespace

class TestWeighingsTable : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void firstOpenCreatesSecondOpens();
    void schemaAndStoredText();
    void openRefusesFilesOfOthers_data();
    void openRefusesFilesOfOthers();
    void createTableNeverOverwrites();

    void viewOfDateAndComponent_data();
    void viewOfDateAndComponent();
    void fixedPointText_data();
    void fixedPointText();
    void sumBeyondFixedPoint_data();
    void sumBeyondFixedPoint();

    void updateLastWeightTouchesOnlyLastRow();
    void deleteRowsByRowid();
    void rowsAtAnyOffset();

    void counterCommittedWithRow_data();
    void counterCommittedWithRow();
    void appendToReadOnlyFileFailsAndKeepsTable();
    void twoInstancesOnOneFile();

private:
    QString m_path;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestWeighingsTable::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_path = m_dir->filePath(QStringLiteral("db/weights_data.DB"));
}

void TestWeighingsTable::cleanup() {
    m_dir.reset();
}

void TestWeighingsTable::firstOpenCreatesSecondOpens() {
    {
        WeighingsTable table(m_path);
        QVERIFY(!table.Exists());
        const OpenResult opened = table.Open();
        QVERIFY2(opened.ok(), qPrintable(opened.error));
        QCOMPARE(opened.value, OpenOutcome::Created);
        QVERIFY(table.Exists());
        QCOMPARE(table.totalRowCount().value, 0);
        QVERIFY(table.append(makeRow(1, 1, May1, 2.5)).ok());
    }
    WeighingsTable again(m_path);
    QVERIFY(again.Exists());
    const OpenResult opened = again.Open();
    QVERIFY2(opened.ok(), qPrintable(opened.error));
    QCOMPARE(opened.value, OpenOutcome::Opened);
    QCOMPARE(again.totalRowCount().value, 1);
}

void TestWeighingsTable::schemaAndStoredText() {
    {
        WeighingsTable table(m_path);
        QVERIFY(table.Open().ok());
        QVERIFY(table
                    .append(makeRow(7, 3, QDate(2024, 3, 1), static_cast<double>(0.1f),
                                    QDateTime(QDate(2024, 2, 29), QTime(23, 59, 58), Qt::UTC)))
                    .ok());
        QVERIFY(table.append(makeRow(8, 16, QDate(2024, 3, 1), 5, zeroWeighingDateTime())).ok());
    }
    RawDatabase raw(m_path);
    QList<QVariantList> columns;
    for (const QVariantList& c : raw.rows(QStringLiteral("PRAGMA table_info(weights_data)")))
        columns << QVariantList{c.at(1), c.at(2)};
    const QList<QVariantList> expected{{"DateTime", "TEXT"},
                                       {"Weight", "REAL"},
                                       {"Component", "INTEGER"},
                                       {"ID", "INTEGER"},
                                       {"CompDateTime", "TEXT"}};
    QCOMPARE(columns, expected);

    // The filter's index, on the storing date and then the component.
    const QList<QVariantList> indexes = raw.rows(QStringLiteral("PRAGMA index_list(weights_data)"));
    QCOMPARE(indexes.size(), 1);
    QStringList indexed;
    for (const QVariantList& c :
         raw.rows(QStringLiteral("PRAGMA index_info(%1)").arg(indexes.first().at(1).toString())))
        indexed << c.at(2).toString();
    QCOMPARE(indexed, QStringList({"CompDateTime", "Component"}));

    const QList<QVariantList> stored = raw.rows(QStringLiteral(
        "SELECT DateTime, typeof(DateTime), Weight, typeof(Weight), Component, typeof(Component), "
        "ID, CompDateTime FROM weights_data ORDER BY rowid"));
    QCOMPARE(stored.size(), 2);
    QCOMPARE(stored[0], (QVariantList{"2024-02-29 23:59:58", "text", static_cast<double>(0.1f),
                                      "real", 3, "integer", 7, "2024-03-01 00:00:00"}));
    QCOMPARE(stored[1].at(0), QVariant("1899-12-30 00:00:00"));
    QCOMPARE(stored[1].at(3), QVariant("real"));
    QCOMPARE(stored[1].at(4), QVariant(16));
    QCOMPARE(raw.scalar(QStringLiteral("PRAGMA journal_mode")), QVariant("wal"));
    QVERIFY(raw.integrityOk());
}

void TestWeighingsTable::openRefusesFilesOfOthers_data() {
    QTest::addColumn<QByteArray>("content"); // bytes of the file, or
    QTest::addColumn<QString>("schema");     // statements that make it
    QTest::addColumn<bool>("opens");
    QTest::addColumn<OpenFault>("fault");

    QTest::newRow("empty file: a creation cut short")
        << QByteArray() << QString() << true << OpenFault::None;
    static const char paradox[] = "\x05\x0b\x00\x00\x00\x08\x00\x00 Paradox table bytes";
    QTest::newRow("not a database (a table of another engine)")
        << QByteArray(paradox, sizeof paradox - 1) << QString() << false << OpenFault::NotADatabase;
    QTest::newRow("database of something else")
        << QByteArray() << QStringLiteral("CREATE TABLE customers (name TEXT)") << false
        << OpenFault::ForeignFile;
    QTest::newRow("weights_data with other columns")
        << QByteArray()
        << QStringLiteral("CREATE TABLE weights_data (DateTime TEXT, Weight REAL, ID INTEGER)")
        << false << OpenFault::ForeignColumns;
}

void TestWeighingsTable::openRefusesFilesOfOthers() {
    QFETCH(QByteArray, content);
    QFETCH(QString, schema);
    QFETCH(bool, opens);
    QFETCH(OpenFault, fault);

    QVERIFY(QDir().mkpath(QFileInfo(m_path).absolutePath()));
    {
        QFile file(m_path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    if (!schema.isEmpty()) {
        RawDatabase raw(m_path);
        QCOMPARE(raw.exec(schema), QString());
    }
    const QByteArray before = [this] {
        QFile file(m_path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();

    WeighingsTable table(m_path);
    const OpenResult opened = table.Open();
    QCOMPARE(opened.ok(), opens);
    QCOMPARE(opened.fault, fault);
    if (opens) {
        QCOMPARE(opened.value, OpenOutcome::Created);
        QVERIFY(table.append(makeRow(1, 1, May1, 1)).ok());
        return;
    }
    QVERIFY(opened.error.contains(QDir::toNativeSeparators(m_path)));
    // The operator is told which file and why, in Russian.
    const QString text = tableOpenFailureText(m_path, opened.fault);
    QVERIFY(text.contains(QDir::toNativeSeparators(m_path)));
    QVERIFY(text.contains(QStringLiteral("Причина: ")));
    QVERIFY(!table.isOpen());
    QVERIFY(!table.append(makeRow(1, 1, May1, 1)).ok());
    QFile file(m_path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), before);
}

void TestWeighingsTable::createTableNeverOverwrites() {
    WeighingsTable table(m_path);
    QVERIFY(table.Open().ok());
    QVERIFY(table.append(makeRow(1, 1, May1, 1)).ok());
    const TableStatus created = table.CreateTable();
    QVERIFY(!created.ok());
    QVERIFY(created.error.contains(QDir::toNativeSeparators(m_path)));
    QCOMPARE(table.totalRowCount().value, 1);
}

void TestWeighingsTable::viewOfDateAndComponent_data() {
    QTest::addColumn<bool>("filtered");
    QTest::addColumn<QDate>("date");
    QTest::addColumn<int>("component");
    QTest::addColumn<QList<qint32>>("ids");
    QTest::addColumn<QString>("sum");

    QTest::newRow("date and component, 0.1 + 0.2 + 0.0001 in fixed point")
        << true << May1 << 1 << QList<qint32>{1, 2, 5} << "0.3001";
    QTest::newRow("other component, same date") << true << May1 << 2 << QList<qint32>{3} << "5.5";
    QTest::newRow("other date, same component") << true << May2 << 1 << QList<qint32>{4} << "1.25";
    QTest::newRow("negative weight") << true << May1 << 16 << QList<qint32>{6} << "-2.5";
    QTest::newRow("date with nothing stored")
        << true << QDate(2024, 5, 3) << 1 << QList<qint32>{} << "0";
    QTest::newRow("no filter: every row")
        << false << QDate() << 0 << QList<qint32>{1, 2, 3, 4, 5, 6} << "4.5501";
}

void TestWeighingsTable::viewOfDateAndComponent() {
    QFETCH(bool, filtered);
    QFETCH(QDate, date);
    QFETCH(int, component);
    QFETCH(QList<qint32>, ids);
    QFETCH(QString, sum);

    WeighingsTable table(m_path);
    QVERIFY(table.Open().ok());
    // Weights as the terminal sends them: singles, widened.
    const QList<WeighingRow> rows{
        makeRow(1, 1, May1, static_cast<double>(0.1f)),
        makeRow(2, 1, May1, static_cast<double>(0.2f), zeroWeighingDateTime()),
        makeRow(3, 2, May1, 5.5),
        makeRow(4, 1, May2, 1.25),
        makeRow(5, 1, May1, static_cast<double>(0.0001f)),
        makeRow(6, 16, May1, -2.5),
    };
    for (const WeighingRow& row : rows)
        QVERIFY(table.append(row).ok());

    if (filtered)
        table.setFilter(date, component);
    QCOMPARE(table.RecordCount().value, ids.size());
    const TableResult<WeightSum> total = table.sumOfView();
    QVERIFY2(total.ok(), qPrintable(total.error));
    QVERIFY(total.value.fits);
    QCOMPARE(weightSumText(total.value), sum);

    const TableResult<QList<StoredWeighing>> view = table.rowsOfView(0, 100);
    QVERIFY2(view.ok(), qPrintable(view.error));
    QCOMPARE(idsOf(view.value), ids);
    for (const StoredWeighing& stored : view.value) {
        const WeighingRow& expected = rows.at(stored.row.ID - 1);
        QCOMPARE(stored.row.DateTime, expected.DateTime);
        QCOMPARE(stored.row.Weight, expected.Weight);
        QCOMPARE(stored.row.Component, expected.Component);
        QCOMPARE(stored.row.CompDateTime, expected.CompDateTime);
    }
}

void TestWeighingsTable::fixedPointText_data() {
    QTest::addColumn<qint64>("tenThousandths");
    QTest::addColumn<QString>("decimalPoint");
    QTest::addColumn<QString>("text");

    QTest::newRow("zero") << qint64(0) << "."
                          << "0";
    QTest::newRow("whole") << qint64(10000) << "."
                           << "1";
    QTest::newRow("trailing zeros dropped") << qint64(1234500) << "."
                                            << "123.45";
    QTest::newRow("smallest step") << qint64(1) << "."
                                   << "0.0001";
    QTest::newRow("negative below one") << qint64(-3000) << "."
                                        << "-0.3";
    QTest::newRow("system separator") << qint64(12500) << ","
                                      << "1,25";
    QTest::newRow("15 significant digits kept") << qint64(123456789012345) << "."
                                                << "12345678901.2345";
    QTest::newRow("16 digits: last rounded") << qint64(12345678901234567) << "."
                                             << "1234567890123.46";
    QTest::newRow("rounding carries") << qint64(99999999999999996) << "."
                                      << "10000000000000";
    QTest::newRow("largest") << std::numeric_limits<qint64>::max() << "."
                             << "922337203685478";
    QTest::newRow("smallest") << std::numeric_limits<qint64>::min() << "."
                              << "-922337203685478";
}

void TestWeighingsTable::fixedPointText() {
    QFETCH(qint64, tenThousandths);
    QFETCH(QString, decimalPoint);
    QFETCH(QString, text);
    QCOMPARE(::fixedPointText(tenThousandths, decimalPoint.at(0)), text);
}

void TestWeighingsTable::sumBeyondFixedPoint_data() {
    QTest::addColumn<QList<double>>("weights");
    QTest::addColumn<bool>("fits");
    QTest::addColumn<QString>("sum");

    const double nan = std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("NaN from the line counts as nothing")
        << QList<double>{nan, 0.5} << true << "0.5";
    QTest::newRow("one absurd weight") << QList<double>{1e30, 1} << false << "1e+30";
    QTest::newRow("each fits, their sum does not")
        << QList<double>{9.1e14, 9.1e14} << false << "1.82e+15";
    QTest::newRow("infinity") << QList<double>{std::numeric_limits<double>::infinity()} << false
                              << "inf";
}

void TestWeighingsTable::sumBeyondFixedPoint() {
    QFETCH(QList<double>, weights);
    QFETCH(bool, fits);
    QFETCH(QString, sum);

    WeighingsTable table(m_path);
    QVERIFY(table.Open().ok());
    for (const double weight : weights)
        QVERIFY(table.append(makeRow(1, 1, May1, weight)).ok());
    table.setFilter(May1, 1);
    const TableResult<WeightSum> total = table.sumOfView();
    QVERIFY2(total.ok(), qPrintable(total.error));
    QCOMPARE(total.value.fits, fits);
    QCOMPARE(weightSumText(total.value), sum);
    QCOMPARE(table.RecordCount().value, weights.size());
}

void TestWeighingsTable::updateLastWeightTouchesOnlyLastRow() {
    WeighingsTable table(m_path);
    QVERIFY(table.Open().ok());
    const TableResult<bool> onEmpty = table.updateLastWeight(9);
    QVERIFY(onEmpty.ok());
    QVERIFY(!onEmpty.value);
    QVERIFY(!table.lastRow().value.has_value());

    QVERIFY(table.append(makeRow(1, 1, May1, 1)).ok());
    QVERIFY(table.append(makeRow(2, 1, May1, 2)).ok());
    QVERIFY(table.append(makeRow(3, 4, May2, 3)).ok());
    // The view shows other rows: the last row of the whole table is changed all the same.
    table.setFilter(May1, 1);
    QCOMPARE(table.sumOfView().value.tenThousandths, 30000);

    const TableResult<bool> updated = table.updateLastWeight(7.25);
    QVERIFY(updated.ok());
    QVERIFY(updated.value);
    QCOMPARE(table.sumOfView().value.tenThousandths, 30000);
    const std::optional<LastWeighing> last = table.lastRow().value;
    QVERIFY(last.has_value());
    QCOMPARE(last->ID, 3);
    QCOMPARE(last->Weight, 7.25);

    table.clearFilter();
    QList<double> weights;
    for (const StoredWeighing& r : table.rowsOfView(0, 10).value)
        weights << r.row.Weight;
    QCOMPARE(weights, (QList<double>{1, 2, 7.25}));
}

void TestWeighingsTable::deleteRowsByRowid() {
    WeighingsTable table(m_path);
    QVERIFY(table.Open().ok());
    for (qint32 id = 1; id <= 5; ++id)
        QVERIFY(table.append(makeRow(id, 1, May1, id)).ok());
    table.setFilter(May1, 1);
    const QList<StoredWeighing> before = table.rowsOfView(0, 10).value;
    QCOMPARE(before.size(), 5);

    // A rowid already gone counts for nothing.
    const TableResult<int> deleted =
        table.deleteRows({before[1].rowid, before[3].rowid, before[3].rowid + 1000});
    QVERIFY2(deleted.ok(), qPrintable(deleted.error));
    QCOMPARE(deleted.value, 2);
    QCOMPARE(table.RecordCount().value, 3);
    QCOMPARE(idsOf(table.rowsOfView(0, 10).value), (QList<qint32>{1, 3, 5}));
    QCOMPARE(weightSumText(table.sumOfView().value), QStringLiteral("9"));
    QCOMPARE(table.totalRowCount().value, 3);
    // The last row is still the one appended last.
    QVERIFY(table.append(makeRow(6, 2, May1, 6)).ok());
    QCOMPARE(table.lastRow().value->ID, 6);
}

void TestWeighingsTable::rowsAtAnyOffset() {
    WeighingsTable table(m_path);
    QVERIFY(table.Open().ok());
    // Component 1 and 2 alternate: the view of component 1 holds every other row.
    QVERIFY(table.append(makeRow(0, 9, May2, 0)).ok());
    for (qint32 id = 1; id <= 1000; ++id)
        QVERIFY(table.append(makeRow(id, 2 - id % 2, May1, id)).ok());

    for (const bool filtered : {true, false}) {
        if (filtered)
            table.setFilter(May1, 1);
        else
            table.clearFilter();
        const QList<qint32> all = filtered ? idRange(1, 999, 2) : idRange(0, 1000);
        QCOMPARE(table.RecordCount().value, all.size());

        // Out of order, so that seeks go forward and backward from known rows and from the ends.
        const QList<QPair<qint64, int>> requests{{0, 40},   {460, 40},  {250, 40}, {290, 40},
                                                 {210, 40}, {480, 100}, {499, 1},  {3, 7},
                                                 {248, 5},  {-1, 5},    {10000, 5}};
        for (const auto& [offset, limit] : requests) {
            const TableResult<QList<StoredWeighing>> page = table.rowsOfView(offset, limit);
            QVERIFY2(page.ok(), qPrintable(page.error));
            const QList<qint32> expected = offset < 0 ? QList<qint32>{} : all.mid(offset, limit);
            QCOMPARE(idsOf(page.value), expected);
        }
    }

    // A deletion moves the rows after it; an append adds one at the end.
    table.setFilter(May1, 1);
    QCOMPARE(idsOf(table.rowsOfView(300, 3).value), (QList<qint32>{601, 603, 605}));
    const qint64 rowidOf11 = table.rowsOfView(5, 1).value.first().rowid;
    QCOMPARE(table.deleteRows({rowidOf11}).value, 1);
    QCOMPARE(idsOf(table.rowsOfView(300, 3).value), (QList<qint32>{603, 605, 607}));
    QVERIFY(table.append(makeRow(1001, 1, May1, 1)).ok());
    QCOMPARE(table.RecordCount().value, 500);
    QCOMPARE(idsOf(table.rowsOfView(497, 5).value), (QList<qint32>{997, 999, 1001}));
}

void TestWeighingsTable::counterCommittedWithRow_data() {
    QTest::addColumn<QString>("failingTable");
    // A trigger makes the write to one of the two tables fail, as a full disk would, after or
    // before the other one was written inside the same transaction.
    QTest::newRow("counter write fails after the row went in") << "kdm_state";
    QTest::newRow("row write fails") << "weights_data";
}

void TestWeighingsTable::counterCommittedWithRow() {
    QFETCH(QString, failingTable);

    WeighingsTable table(m_path);
    QVERIFY(table.Open().ok());
    QCOMPARE(table.storedCounter().value, std::nullopt);
    QVERIFY(table.appendWeighing(makeRow(41, 1, May1, 1), 41).ok());
    QCOMPARE(table.storedCounter().value, 41u);
    // The terminal's counter went back.
    QVERIFY(table.setStoredCounter(12).ok());
    QCOMPARE(table.storedCounter().value, 12u);
    QVERIFY(table.appendWeighing(makeRow(13, 1, May1, 2), 13).ok());

    {
        RawDatabase raw(m_path);
        for (const QString event : {"INSERT", "UPDATE"}) {
            QCOMPARE(raw.exec(QStringLiteral("CREATE TRIGGER fail_%1 BEFORE %1 ON %2 "
                                             "BEGIN SELECT RAISE(ABORT, 'disk full'); END")
                                  .arg(event, failingTable)),
                     QString());
        }
    }
    const TableResult<qint64> failed = table.appendWeighing(makeRow(14, 1, May1, 3), 14);
    QVERIFY(!failed.ok());
    QVERIFY(failed.error.contains(QDir::toNativeSeparators(m_path)));
    QVERIFY(failed.error.contains(QStringLiteral("disk full")));
    QCOMPARE(table.storedCounter().value, 13u);
    QCOMPARE(table.totalRowCount().value, 2);
    QCOMPARE(table.lastRow().value->ID, 13);

    RawDatabase raw(m_path);
    QVERIFY(raw.integrityOk());
}

void TestWeighingsTable::appendToReadOnlyFileFailsAndKeepsTable() {
    {
        WeighingsTable table(m_path);
        QVERIFY(table.Open().ok());
        QVERIFY(table.appendWeighing(makeRow(1, 1, May1, 1.5), 1).ok());
        QVERIFY(table.appendWeighing(makeRow(2, 1, May1, 2.5), 2).ok());
    }
    if (!setReadOnly(m_path, true))
        QSKIP("this system cannot make the file read-only for the user running the test");
    const auto writable = qScopeGuard([this] { setReadOnly(m_path, false); });

    {
        WeighingsTable table(m_path);
        // Readable: the view works, every change is refused with the reason.
        const OpenResult opened = table.Open();
        QVERIFY2(opened.ok(), qPrintable(opened.error));
        table.setFilter(May1, 1);
        QCOMPARE(table.RecordCount().value, 2);
        QCOMPARE(weightSumText(table.sumOfView().value), QStringLiteral("4"));
        for (const QString& error :
             {table.appendWeighing(makeRow(3, 1, May1, 9), 3).error,
              table.append(makeRow(3, 1, May1, 9)).error, table.setStoredCounter(3).error,
              table.updateLastWeight(9).error, table.deleteRows({1}).error}) {
            QVERIFY(error.contains(QDir::toNativeSeparators(m_path)));
            QVERIFY2(error.contains(QStringLiteral("readonly")), qPrintable(error));
        }
        QCOMPARE(table.storedCounter().value, 2u);
    }

    setReadOnly(m_path, false);
    WeighingsTable table(m_path);
    QVERIFY(table.Open().ok());
    QCOMPARE(table.totalRowCount().value, 2);
    QCOMPARE(table.storedCounter().value, 2u);
    QCOMPARE(table.lastRow().value->Weight, 2.5);
    RawDatabase raw(m_path);
    QVERIFY(raw.integrityOk());
}

void TestWeighingsTable::twoInstancesOnOneFile() {
    WeighingsTable first(m_path);
    WeighingsTable second(m_path);
    QCOMPARE(first.Open().value, OpenOutcome::Created);
    QCOMPARE(second.Open().value, OpenOutcome::Opened);

    first.setFilter(May1, 1);
    QCOMPARE(first.RecordCount().value, 0);
    for (qint32 id = 1; id <= 100; ++id) {
        WeighingsTable& table = id % 2 ? first : second;
        const TableResult<qint64> stored = table.appendWeighing(makeRow(id, 1, May1, 1), id);
        QVERIFY2(stored.ok(), qPrintable(stored.error));
    }
    QCOMPARE(second.storedCounter().value, 100u);
    QCOMPARE(first.storedCounter().value, 100u);
    QCOMPARE(first.totalRowCount().value, 100);

    // The view of one instance takes in the rows of the other when it is read again.
    QCOMPARE(second.append(makeRow(101, 1, May1, 1)).ok(), true);
    first.refresh();
    QCOMPARE(first.RecordCount().value, 101);
    QCOMPARE(idsOf(first.rowsOfView(0, 200).value), idRange(1, 101));
    QCOMPARE(first.sumOfView().value.tenThousandths, 101 * 10000);
    // Until then it keeps the rows it has read, so positions stay put under the grid.
    QVERIFY(second.append(makeRow(102, 1, May1, 1)).ok());
    QCOMPARE(first.RecordCount().value, 101);
    QCOMPARE(first.sumOfView().value.tenThousandths, 101 * 10000);
    first.refresh();
    QCOMPARE(first.RecordCount().value, 102);

    RawDatabase raw(m_path);
    QVERIFY(raw.integrityOk());
}

QTEST_GUILESS_MAIN(TestWeighingsTable)
#include "tst_weighingstable.moc"
