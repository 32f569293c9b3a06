#pragma once

// The real program against the terminal simulator, for the tests that prove every weighing is
// stored exactly once: a portable install of the program whose COM1 is the program's end of a
// pty pair, a raw look into the table it writes (through a connection of the test's own, never
// through the program's code), the ground-truth file of the simulator with the counter resets the
// test made, and the comparison of the two.

#include "support/programinstall.h"
#include "support/simpair.h"

#include <QDate>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

#include <cmath>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <utility>

namespace e2e {

// The request interval the tests run the program with: the fastest that makes sense.
constexpr int SendIntervalMs = 100;
// How long the program may take for anything the tests wait for. Generous: the machines that run
// the tests are shared, and a sanitizer build is several times slower.
constexpr int PatienceMs = 45000;

// A seed for the test's own random choices: KDM_E2E_SEED repeats a run, otherwise a fresh one.
// The seed is printed, so a failure can be replayed.
inline quint32 testSeed() {
    bool ok = false;
    const quint32 given = qEnvironmentVariable("KDM_E2E_SEED").toUInt(&ok);
    const quint32 seed = ok ? given : QRandomGenerator::global()->generate();
    qInfo("random choices from seed %u (repeat with KDM_E2E_SEED=%u)", seed, seed);
    return seed;
}

// Waits, with the event loop running, until done() holds; checks every pollMs.
template <typename Done> bool waitUntil(Done done, int timeoutMs = PatienceMs, int pollMs = 100) {
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (done())
            return true;
        if (deadline.hasExpired())
            return false;
        QTest::qWait(pollMs);
    }
}

// ---- The table, as the file holds it -------------------------------------------------------

struct TableRow {
    qint64 rowid = 0;
    QString dateTime;
    QVariant weight; // null when SQLite holds no number
    qint64 component = 0;
    qint64 id = 0;
    QString compDateTime;
};

struct TableLook {
    QString error; // empty when the file could be read
    QList<TableRow> rows;
    std::optional<qint64> storedCounter; // kdm_state: the number of the last weighing stored
    QString integrity;                   // PRAGMA integrity_check, when asked for

    bool ok() const { return error.isEmpty(); }
    const TableRow* last() const { return rows.isEmpty() ? nullptr : &rows.last(); }
};

// Reads the whole table with a connection of its own, while the program may be writing to it
// (the file is in WAL mode, so readers never hold the writer up).
inline TableLook lookAtTable(const QString& path, bool checkIntegrity = false) {
    TableLook look;
    if (!QFile::exists(path)) {
        look.error = QStringLiteral("%1 does not exist").arg(path);
        return look;
    }
    static int serial = 0;
    const QString name = QStringLiteral("e2e_look_%1").arg(++serial);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        if (!db.open()) {
            look.error = db.lastError().text();
        } else {
            QSqlQuery query(db);
            query.setForwardOnly(true);
            if (query.exec(QStringLiteral("SELECT rowid, DateTime, Weight, Component, ID, "
                                          "CompDateTime FROM weights_data ORDER BY rowid"))) {
                while (query.next()) {
                    look.rows.append({query.value(0).toLongLong(), query.value(1).toString(),
                                      query.value(2), query.value(3).toLongLong(),
                                      query.value(4).toLongLong(), query.value(5).toString()});
                }
            } else {
                look.error = query.lastError().text();
            }
            query.finish();
            if (look.ok() &&
                query.exec(QStringLiteral("SELECT stored_counter FROM kdm_state WHERE id = 1")) &&
                query.next())
                look.storedCounter = query.value(0).toLongLong();
            query.finish();
            if (look.ok() && checkIntegrity &&
                query.exec(QStringLiteral("PRAGMA integrity_check")) && query.next())
                look.integrity = query.value(0).toString();
            query.finish();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return look;
}

// ---- The ground truth ------------------------------------------------------------------------

// A weighing the simulator recorded, in the state it was last left: a weight changed in place
// ("corrected" lines) replaces the weight it was recorded with.
struct TruthWeighing : TruthRecord {
    int epoch = 0; // counter resets before it
};

// Numbers repeat after a counter reset, so a weighing is known by (epoch, number).
using TruthKey = std::pair<int, quint32>;
using TruthMap = std::map<TruthKey, TruthWeighing>;

inline int truthLineCount(const QString& path) {
    return int(readTruthRecords(path).size());
}

// epochStarts: for every counter reset, the number of truth lines written before it.
inline TruthMap readTruth(const QString& path, const QList<int>& epochStarts,
                          QStringList* problems) {
    TruthMap map;
    const QList<TruthRecord> lines = readTruthRecords(path, problems);
    for (int i = 0; i < lines.size(); ++i) {
        int epoch = 0;
        while (epoch < epochStarts.size() && epochStarts[epoch] <= i)
            ++epoch;
        const TruthWeighing w{lines[i], epoch};
        if (!w.corrected) {
            map[{epoch, w.number}] = w;
            continue;
        }
        // A change in place belongs to the newest weighing with that number and slot, which
        // may be of an epoch before the latest reset.
        bool found = false;
        for (int e = epoch; e >= 0 && !found; --e) {
            const auto it = map.find({e, w.number});
            if (it != map.end() && it->second.slot == w.slot) {
                it->second.weight = w.weight;
                found = true;
            }
        }
        if (!found && problems)
            problems->append(QStringLiteral("truth line %1 corrects an unknown weighing").arg(i));
    }
    return map;
}

inline bool sameDouble(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Compares the table with the weighings it must hold, each exactly once with its ID, weight (bit
// for bit), component and date-time. mayBeMissing: weighings of `expected` that may be absent
// (the terminal overwrote them before the program could read them), but if present must be
// right. epochLastRowid: for every counter reset, the last rowid stored before it; the rows after
// it belong to the next epoch. storedFrom..storedTo: the days on which rows may have been stored
// (CompDateTime). Gives one line per fault found.
inline QStringList compareWithTruth(const QList<TableRow>& rows, const TruthMap& expected,
                                    const std::set<TruthKey>& mayBeMissing,
                                    const QList<qint64>& epochLastRowid, QDate storedFrom,
                                    QDate storedTo) {
    QStringList faults;
    std::map<TruthKey, qint64> seen; // key -> rowid
    for (const TableRow& row : rows) {
        int epoch = 0;
        while (epoch < epochLastRowid.size() && epochLastRowid[epoch] < row.rowid)
            ++epoch;
        const TruthKey key{epoch, quint32(row.id)};
        const QString where =
            QStringLiteral("row %1 (epoch %2, ID %3)").arg(row.rowid).arg(epoch).arg(row.id);
        if (const auto earlier = seen.find(key); earlier != seen.end()) {
            faults << where + QStringLiteral(": duplicate of row %1").arg(earlier->second);
            continue;
        }
        seen[key] = row.rowid;
        const auto it = expected.find(key);
        if (it == expected.end()) {
            faults << where + QStringLiteral(": no such weighing is expected");
            continue;
        }
        const TruthWeighing& w = it->second;
        const double weight = row.weight.isNull() ? std::nan("") : row.weight.toDouble();
        if (!sameDouble(weight, w.weight))
            faults << where + QStringLiteral(": weight %1, the terminal's is %2")
                                  .arg(weight, 0, 'g', 17)
                                  .arg(w.weight, 0, 'g', 17);
        if (row.component != w.component)
            faults << where + QStringLiteral(": component %1, the terminal's is %2")
                                  .arg(row.component)
                                  .arg(w.component);
        if (row.dateTime != w.dateTime)
            faults << where + QStringLiteral(": date-time \"%1\", the terminal's is \"%2\"")
                                  .arg(row.dateTime, w.dateTime);
        const QDate stored = QDate::fromString(row.compDateTime.left(10), Qt::ISODate);
        if (!row.compDateTime.endsWith(QStringLiteral(" 00:00:00")) || !stored.isValid() ||
            stored < storedFrom || stored > storedTo)
            faults << where + QStringLiteral(": storing date \"%1\" is not a day of the run")
                                  .arg(row.compDateTime);
    }
    for (const auto& [key, w] : expected) {
        if (!seen.contains(key) && !mayBeMissing.contains(key))
            faults << QStringLiteral("weighing %1 of epoch %2 (slot %3) is not in the table")
                          .arg(key.second)
                          .arg(key.first)
                          .arg(w.slot);
    }
    return faults;
}

// The first faults, enough to see what went wrong without drowning the output.
inline QByteArray faultReport(const QStringList& faults, int shown = 25) {
    QStringList head = faults.mid(0, shown);
    if (faults.size() > shown)
        head << QStringLiteral("... and %1 more").arg(faults.size() - shown);
    return head.join(u'\n').toUtf8();
}

// The table in short, as runs of consecutive IDs: "rowid 1-40: ID 161-200", one run a line.
inline QByteArray idRuns(const QList<TableRow>& rows) {
    QStringList runs;
    for (qsizetype i = 0; i < rows.size();) {
        qsizetype j = i;
        while (j + 1 < rows.size() && rows[j + 1].id == rows[j].id + 1)
            ++j;
        runs << QStringLiteral("rowid %1-%2: ID %3-%4")
                    .arg(rows[i].rowid)
                    .arg(rows[j].rowid)
                    .arg(rows[i].id)
                    .arg(rows[j].id);
        i = j + 1;
    }
    return runs.join(u'\n').toUtf8();
}

// ---- The program ---------------------------------------------------------------------------

// The configuration a first start needs: COM1 is the simulator's line, polling starts at once
// with the shortest sensible interval. Other keys are added by the program when it closes.
inline bool writeConfiguration(const ProgramInstall& install, const QString& device,
                               const QByteArray& extra = {}) {
    QFile file(install.iniFile());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray text =
        "[Ports]\r\nCOM1=" + device.toUtf8() +
        "\r\n[Settings]\r\nAutoscan=1\r\nSendInterval=" + QByteArray::number(SendIntervalMs) +
        "\r\n" + extra;
    return file.write(text) == text.size();
}

// [ID] ID_old as the configuration file holds it; nullopt when absent.
inline std::optional<qint64> storedCounterInIni(const ProgramInstall& install) {
    static const QRegularExpression key(QStringLiteral("^ID_old=(-?\\d+)\\s*$"),
                                        QRegularExpression::MultilineOption |
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match =
        key.match(QString::fromUtf8(install.readFile(install.iniFile())));
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1).toLongLong();
}

// Replaces [ID] ID_old in the configuration file, as an operator's editor would.
inline bool setStoredCounterInIni(const ProgramInstall& install, qint64 value) {
    QString text = QString::fromUtf8(install.readFile(install.iniFile()));
    static const QRegularExpression key(QStringLiteral("^ID_old=.*$"),
                                        QRegularExpression::MultilineOption |
                                            QRegularExpression::CaseInsensitiveOption);
    const QString line = QStringLiteral("ID_old=%1\r").arg(value);
    if (text.contains(key))
        text.replace(key, line);
    else
        text += QStringLiteral("\r\n[ID]\r\n") + line + u'\n';
    QFile file(install.iniFile());
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text.toUtf8()) > 0;
}

// The program, started from its install with its output kept in a file of the install (a pipe
// that nobody reads could fill up and stop it).
class Program {
public:
    explicit Program(const ProgramInstall& install)
        : m_install(install) {}
    ~Program() { kill(); }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    QString outputFile() const { return m_install.folder() + QStringLiteral("/kdm.out"); }

    bool start() {
        kill();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("TMPDIR"), m_install.tempFolder());
        m_process.setProcessEnvironment(env);
        m_process.setWorkingDirectory(m_install.folder());
        m_process.setStandardOutputFile(outputFile(), QIODevice::Append);
        m_process.setStandardErrorFile(outputFile(), QIODevice::Append);
        m_process.start(m_install.executable(), {});
        return m_process.waitForStarted(PatienceMs);
    }

    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }

    // SIGTERM, as a shutdown of the computer would send it: true when the program closed in
    // order (exit code 0) within the time.
    bool terminate() {
        if (!isRunning())
            return false;
        ProgramInstall::terminate(&m_process);
        if (!m_process.waitForFinished(PatienceMs)) {
            kill();
            return false;
        }
        return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }

    // SIGTERM without waiting: the program closes in order, or stops at a box on the way.
    void requestClose() {
        if (isRunning())
            ProgramInstall::terminate(&m_process);
    }

    // Waits until the program has ended: true when it ended normally with exit code 0.
    bool waitForEnd(int timeoutMs = PatienceMs) {
        if (isRunning() && !m_process.waitForFinished(timeoutMs))
            return false;
        return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }

    // SIGKILL: the program dies wherever it is, as in a crash or a power cut of the process.
    void kill() {
        if (!isRunning())
            return;
        m_process.kill();
        m_process.waitForFinished(PatienceMs);
    }

    // What the program wrote on stdout and stderr so far, and the end of its log: to explain a
    // failure.
    QByteArray diagnostics() const {
        const QByteArray log = m_install.readFile(m_install.logFile());
        return "--- program output ---\n" + m_install.readFile(outputFile()).right(3000) +
               "\n--- log.txt (end) ---\n" + log.right(3000);
    }

private:
    const ProgramInstall& m_install;
    QProcess m_process;
};

// ---- The simulator -------------------------------------------------------------------------

// What "weigh" and "set-newest-weight" answer: "done: weighing N slot S component C weight W at
// yyyy-MM-dd HH:mm:ss".
struct SimWeighing {
    quint32 number = 0;
    int slot = 0;
    int component = 0;
    double weight = 0.0;
};

inline std::optional<SimWeighing> parseSimWeighing(const QString& answer) {
    static const QRegularExpression done(
        QStringLiteral("^done: weighing (\\d+) slot (\\d+) component (\\d+) weight (\\S+) at "));
    const QRegularExpressionMatch m = done.match(answer);
    if (!m.hasMatch())
        return std::nullopt;
    return SimWeighing{m.captured(1).toUInt(), m.captured(2).toInt(), m.captured(3).toInt(),
                       m.captured(4).toDouble()};
}

// The simulator on one end of the pair and the program's install pointed at the other end,
// with the bookkeeping the comparison needs: the counter and newest weight of the terminal as
// the test made them, and where each counter reset split the truth file and the table.
class Rig {
public:
    Rig()
        : program(install) {}

    // Starts the simulator with a ring that already holds `counter` weighings (the last 40 of
    // them) and writes the program's configuration. Empty on success, else why not.
    QString setUp(quint32 counter, quint32 seed, const QByteArray& extraIni = {}) {
        if (!install.isValid())
            return QStringLiteral("cannot make the program's install (is kdm built?)");
        const QStringList simArgs{QStringLiteral("--counter"), QString::number(counter),
                                  QStringLiteral("--seed"),    QString::number(seed),
                                  QStringLiteral("--truth"),   truthPath()};
        if (!sim.start(simArgs, {QStringLiteral("--dir"), install.folder() + "/line"}))
            return QStringLiteral("the simulator did not start: ") + sim.log();
        if (!writeConfiguration(install, sim.device(), extraIni))
            return QStringLiteral("cannot write the configuration file");
        m_counter = counter;
        m_epochHasWeighing = counter > 0;
        const QList<TruthRecord> lines = readTruthRecords(truthPath());
        if (!lines.isEmpty())
            m_newestWeight = lines.last().weight;
        return {};
    }

    QString truthPath() const { return install.folder() + QStringLiteral("/truth.jsonl"); }

    // Sends a control line; the simulator's answer, which begins with "done" when it was done.
    QString control(const QString& line) {
        const QString answer = sim.control(line);
        if (!answer.startsWith(QStringLiteral("done")))
            qWarning("simulator refused \"%s\": \"%s\"", qPrintable(line), qPrintable(answer));
        return answer;
    }

    // Records one weighing; "weigh" alone lets the simulator choose component and weight.
    std::optional<SimWeighing> weigh(const QString& what = {}) {
        const auto w = parseSimWeighing(
            control(what.isEmpty() ? QStringLiteral("weigh") : QStringLiteral("weigh ") + what));
        if (w) {
            m_counter = w->number;
            m_newestWeight = w->weight;
            m_epochHasWeighing = true;
        }
        return w;
    }

    std::optional<SimWeighing> setNewestWeight(double weight) {
        const auto w = parseSimWeighing(
            control(QStringLiteral("set-newest-weight %1").arg(weight, 0, 'f', 1)));
        if (w)
            m_newestWeight = w->weight;
        return w;
    }

    // The program has stored the terminal's newest weighing, with its latest weight. After a
    // counter reset without a weighing since, it has taken the lower counter instead (it keeps
    // that in the table as well).
    bool caughtUp(const TableLook& look) const {
        if (!look.ok())
            return false;
        if (!m_epochHasWeighing)
            return !m_reset || look.storedCounter == qint64(m_counter);
        const TableRow* last = look.last();
        return last && last->id == qint64(m_counter) && last->rowid > lastBoundary() &&
               !last->weight.isNull() && sameDouble(last->weight.toDouble(), m_newestWeight);
    }

    bool waitCaughtUp(int timeoutMs = PatienceMs) {
        return waitUntil([this] { return caughtUp(lookAtTable(install.dbFile())); }, timeoutMs);
    }

    // Sets the terminal's counter back to `counter` and waits until the program has taken it:
    // only then do new weighings count from it in the program too. Call it caught up, so that
    // every weighing before the reset is in the table: the counter is the program's only way to
    // learn of a weighing, and a reset hides those it had not counted yet.
    bool resetCounter(quint32 counter) {
        const int linesBefore = truthLineCount(truthPath());
        if (!control(QStringLiteral("reset-counter %1").arg(counter)).startsWith(u"done"))
            return false;
        m_counter = counter;
        m_epochHasWeighing = false;
        m_reset = true;
        if (!waitCaughtUp())
            return false;
        const TableLook look = lookAtTable(install.dbFile());
        epochStarts.append(linesBefore);
        epochLastRowid.append(look.last() ? look.last()->rowid : 0);
        return true;
    }

    quint32 counter() const { return m_counter; }
    double newestWeight() const { return m_newestWeight; }

    ProgramInstall install;
    SimPair sim;
    Program program;
    QList<int> epochStarts;       // truth lines before each reset
    QList<qint64> epochLastRowid; // last table rowid before each reset

private:
    qint64 lastBoundary() const { return epochLastRowid.isEmpty() ? 0 : epochLastRowid.last(); }

    quint32 m_counter = 0;
    double m_newestWeight = 0.0;
    bool m_epochHasWeighing = true;
    bool m_reset = false; // the counter was reset at least once
};

} // namespace e2e
