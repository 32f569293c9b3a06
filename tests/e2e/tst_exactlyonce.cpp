// Every weighing the terminal records is stored exactly once, with its own number, weight,
// component and date-time: the real program polls the terminal simulator over a pty pair while
// the line misbehaves, the terminal's counter is reset, the newest weight changes in place and the
// table file refuses writes for a while. The table is then compared with the simulator's ground
// truth.

#include "e2e_support.h"
#include "support/immutablefiles.h"

#include <QDeadlineTimer>
#include <QRandomGenerator>
#include <QtTest>

#include <unistd.h>

using namespace e2e;

namespace {

// How long the weighings come at random moments with random faults of the line.
constexpr int RandomPhaseMs = 60000;
// At most this many weighings between two moments at which the program is seen to have stored
// all of them. Far below the ring's 40, so no weighing can leave the ring unread by accident.
constexpr int WeighingsBetweenCatchUps = 15;

const QStringList FaultKinds{QStringLiteral("drop"), QStringLiteral("badcrc"),
                             QStringLiteral("exception"), QStringLiteral("split"),
                             QStringLiteral("otheraddr")};

double randomWeight(QRandomGenerator& rng) {
    // The terminal's steps of 0.1 kg, up to 2 t.
    return double(rng.bounded(1, 20001)) / 10.0;
}

int linesContaining(const QStringList& lines, const QString& text) {
    return int(std::count_if(lines.cbegin(), lines.cend(),
                             [&](const QString& line) { return line.contains(text); }));
}

} // namespace

class ExactlyOnceTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void faultyLine_storesEveryWeighingOnce();
    void correctionBackToEarlierWeight_reachesTable();
    void outageMidBatch_storesNoOverwrittenSlot();
    void everyReplySplit_weighingsStillStored();
    void storageFailure_reportedAndStoredOnceWritable();

private:
    void randomFaults(Rig& rig, QRandomGenerator& rng);
    void corrections(Rig& rig);
    void counterResets(Rig& rig, QRandomGenerator& rng);
    void overrunWhileClosed(Rig& rig, std::set<TruthKey>& lost);

    quint32 m_seed = 0;
};

void ExactlyOnceTest::initTestCase() {
    m_seed = testSeed();
}

void ExactlyOnceTest::faultyLine_storesEveryWeighingOnce() {
    QRandomGenerator rng(m_seed);
    Rig rig;
    const QDate firstDay = QDate::currentDate();
    // The terminal has counted 200 weighings; its ring holds 161..200, and a program that starts
    // with an empty table stores those 40.
    const QString why = rig.setUp(200, m_seed);
    QVERIFY2(why.isEmpty(), qPrintable(why));
    QVERIFY(rig.program.start());
    QVERIFY2(rig.waitCaughtUp(), rig.program.diagnostics().constData());

    randomFaults(rig, rng);
    if (QTest::currentTestFailed())
        return;
    corrections(rig);
    if (QTest::currentTestFailed())
        return;
    counterResets(rig, rng);
    if (QTest::currentTestFailed())
        return;
    std::set<TruthKey> lost;
    overrunWhileClosed(rig, lost);
    if (QTest::currentTestFailed())
        return;

    for (int i = 0; i < 5; ++i) {
        QVERIFY(rig.weigh());
        QTest::qWait(300 + int(rng.bounded(700)));
    }
    QVERIFY2(rig.waitCaughtUp(), rig.program.diagnostics().constData());
    QVERIFY2(rig.program.terminate(), rig.program.diagnostics().constData());

    // Every weighing the terminal recorded is expected, except those that left the ring while
    // the program was closed.
    QStringList truthProblems;
    TruthMap expected = readTruth(rig.truthPath(), rig.epochStarts, &truthProblems);
    QVERIFY2(truthProblems.isEmpty(), qPrintable(truthProblems.join(u'\n')));
    for (const TruthKey& key : lost)
        expected.erase(key);
    const TableLook look = lookAtTable(rig.install.dbFile(), true);
    QVERIFY2(look.ok(), qPrintable(look.error));
    QCOMPARE(look.integrity, QStringLiteral("ok"));
    const QStringList faults = compareWithTruth(look.rows, expected, {}, rig.epochLastRowid,
                                                firstDay, QDate::currentDate());
    QVERIFY2(faults.isEmpty(),
             (faultReport(faults) + "\n--- table ---\n" + idRuns(look.rows) +
              "\nresets after rowids " + QByteArray::number(rig.epochLastRowid.value(0)) + ", " +
              QByteArray::number(rig.epochLastRowid.value(1)))
                 .constData());
    QCOMPARE(qsizetype(look.rows.size()), qsizetype(expected.size()));
    QCOMPARE(look.storedCounter, std::optional<qint64>(look.last()->id));

    // The faults did happen, and the program saw them as faults rather than data.
    const QString simLog = rig.sim.log();
    for (const QString& kind : FaultKinds)
        QVERIFY2(simLog.contains(QStringLiteral("fault %1:").arg(kind)), qPrintable(kind));
    const QStringList log = rig.install.logLines();
    QVERIFY(linesContaining(log, QStringLiteral("Connection status: no response")) > 0);
    QCOMPARE(linesContaining(log, QStringLiteral("not stored")), 0);
    QCOMPARE(linesContaining(log, QStringLiteral("not corrected")), 0);
}

// Weighings at random moments 0.3 to 1 s apart; now and then a few spoiled replies of one kind,
// a spell of 1 to 3.5 s in which every reply is spoiled, or a change of the newest weight.
void ExactlyOnceTest::randomFaults(Rig& rig, QRandomGenerator& rng) {
    const QDeadlineTimer end(RandomPhaseMs);
    std::optional<QDeadlineTimer> spellEnds;
    int nextKind = 0;
    int sinceCatchUp = 0;
    while (!end.hasExpired()) {
        QVERIFY(rig.weigh());
        ++sinceCatchUp;
        const quint32 dice = rng.bounded(100);
        if (!spellEnds && dice < 30) {
            // Kinds in turn, so that every kind is met in every run.
            rig.control(QStringLiteral("fault %1 %2")
                            .arg(FaultKinds[nextKind++ % FaultKinds.size()])
                            .arg(1 + rng.bounded(6)));
        } else if (!spellEnds && dice < 42) {
            rig.control(QStringLiteral("fault ") + FaultKinds[rng.bounded(FaultKinds.size())]);
            spellEnds = QDeadlineTimer(1000 + rng.bounded(2500));
        } else if (dice >= 92) {
            QVERIFY(rig.setNewestWeight(randomWeight(rng)));
        }
        QTest::qWait(300 + int(rng.bounded(700)));
        if (spellEnds && spellEnds->hasExpired()) {
            rig.control(QStringLiteral("fault none"));
            spellEnds.reset();
        }
        if (!spellEnds && sinceCatchUp >= WeighingsBetweenCatchUps) {
            QVERIFY2(rig.waitCaughtUp(), rig.program.diagnostics().constData());
            sinceCatchUp = 0;
        }
    }
    rig.control(QStringLiteral("fault none"));
    QVERIFY2(rig.waitCaughtUp(), rig.program.diagnostics().constData());
}

// The newest weighing changes its weight in place; the table follows, for that row only.
void ExactlyOnceTest::corrections(Rig& rig) {
    // Already stored: the check of the newest weighing takes the new weight over.
    QVERIFY(rig.setNewestWeight(1234.5));
    QVERIFY2(rig.waitCaughtUp(), rig.program.diagnostics().constData());

    // Changed between two weighings in quick succession: stored with the new weight at once, or
    // corrected by the first read of the next batch, which reads this weighing's slot again.
    QVERIFY(rig.weigh());
    QVERIFY(rig.setNewestWeight(777.7));
    QVERIFY(rig.weigh());
    QVERIFY2(rig.waitCaughtUp(), rig.program.diagnostics().constData());

    // Changed while the terminal does not answer: taken over once it answers again.
    rig.control(QStringLiteral("fault drop"));
    QTest::qWait(800);
    QVERIFY(rig.setNewestWeight(55.5));
    QTest::qWait(800);
    rig.control(QStringLiteral("fault none"));
    QVERIFY2(rig.waitCaughtUp(), rig.program.diagnostics().constData());
}

// The terminal's counter goes back twice: to 0, and then to 2 while the table holds numbers 1 to
// 6 of the epoch before, so that numbers repeat. Each reset is made with the program caught up
// (see Rig::resetCounter).
void ExactlyOnceTest::counterResets(Rig& rig, QRandomGenerator& rng) {
    for (const quint32 to : {0u, 2u}) {
        QVERIFY2(rig.waitCaughtUp(), rig.program.diagnostics().constData());
        QVERIFY2(rig.resetCounter(to), rig.program.diagnostics().constData());
        for (int i = 0; i < 6; ++i) {
            QVERIFY(rig.weigh());
            QTest::qWait(300 + int(rng.bounded(400)));
        }
        QVERIFY2(rig.waitCaughtUp(), rig.program.diagnostics().constData());
    }
}

// The program is closed while the terminal records weighings; at the next start the table tells
// the program where it stopped. With exactly 40 new ones the ring holds them all, and the slot
// the first read of the batch finds is the newest weighing itself, not the one stored last: no
// stored row may take its weight. With 50, the oldest 10 have left the ring and only the newest
// 40 can be stored.
void ExactlyOnceTest::overrunWhileClosed(Rig& rig, std::set<TruthKey>& lost) {
    for (const quint32 closedFor : {40u, 50u}) {
        QVERIFY2(rig.waitCaughtUp(), rig.program.diagnostics().constData());
        QVERIFY2(rig.program.terminate(), rig.program.diagnostics().constData());
        const int epoch = int(rig.epochStarts.size());
        const quint32 first = rig.counter() + 1;
        for (quint32 i = 0; i < closedFor; ++i)
            QVERIFY(rig.weigh());
        for (quint32 number = first; number + 40 < first + closedFor; ++number)
            lost.insert({epoch, number});
        QVERIFY(rig.program.start());
        QVERIFY2(rig.waitCaughtUp(), rig.program.diagnostics().constData());
    }
}

// The newest weighing, already stored, is corrected back to the weight of the weighing before
// it. The check of the newest weighing compares the slot with the weight it last saw there; a
// weighing stored by a batch since then must count as seen, or this correction never reaches the
// table.
void ExactlyOnceTest::correctionBackToEarlierWeight_reachesTable() {
    Rig rig;
    const QString why = rig.setUp(0, m_seed);
    QVERIFY2(why.isEmpty(), qPrintable(why));
    QVERIFY(rig.program.start());
    QVERIFY(rig.weigh(QStringLiteral("1 100")));
    QVERIFY2(rig.waitCaughtUp(), rig.program.diagnostics().constData());
    // Long enough for several checks of the newest weighing, which now saw 100.
    QTest::qWait(3000);

    QVERIFY(rig.weigh(QStringLiteral("1 250")));
    const quint32 number = rig.counter();
    // Changed as soon as the row is there, before the program checks the newest weighing again.
    QVERIFY2(waitUntil(
                 [&] {
                     const TableLook look = lookAtTable(rig.install.dbFile());
                     return look.last() && look.last()->id == qint64(number);
                 },
                 PatienceMs, 20),
             rig.program.diagnostics().constData());
    QVERIFY(rig.setNewestWeight(100));

    const bool corrected = rig.waitCaughtUp(8000);
    const TableLook look = lookAtTable(rig.install.dbFile());
    QVERIFY(look.last());
    QVERIFY2(corrected, qPrintable(QStringLiteral("weighing %1 keeps weight %2 in the table; the "
                                                  "terminal's is 100")
                                       .arg(number)
                                       .arg(look.last()->weight.toDouble())));
}

// The line goes quiet half-way through a batch while the terminal records 45 more weighings,
// more than its ring holds. The slots the batch had still to read now hold newer weighings; the
// program must not store those under the old numbers. What it may lose are only the weighings
// that left the ring unread.
void ExactlyOnceTest::outageMidBatch_storesNoOverwrittenSlot() {
    Rig rig;
    const QDate firstDay = QDate::currentDate();
    const QString why = rig.setUp(0, m_seed);
    QVERIFY2(why.isEmpty(), qPrintable(why));
    QVERIFY(rig.program.start());
    QVERIFY(rig.weigh());
    QVERIFY2(rig.waitCaughtUp(), rig.program.diagnostics().constData());

    const quint32 first = rig.counter() + 1;
    for (int i = 0; i < 30; ++i)
        QVERIFY(rig.weigh());
    QVERIFY2(waitUntil(
                 [&] {
                     const TableLook look = lookAtTable(rig.install.dbFile());
                     return look.last() && look.last()->id >= qint64(first + 4);
                 },
                 PatienceMs, 20),
             rig.program.diagnostics().constData());
    rig.control(QStringLiteral("fault drop"));
    for (int i = 0; i < 45; ++i)
        QVERIFY(rig.weigh());
    rig.control(QStringLiteral("fault none"));
    QVERIFY2(rig.waitCaughtUp(), rig.program.diagnostics().constData());
    QVERIFY2(rig.program.terminate(), rig.program.diagnostics().constData());

    // Weighing n left the ring when n + 40 was recorded: first .. first + 34 may be missing
    // (those stored before the outage are there), first + 35 .. first + 74 must all be there.
    std::set<TruthKey> mayBeMissing;
    for (quint32 number = first; number <= first + 34; ++number)
        mayBeMissing.insert({0, number});
    const TruthMap expected = readTruth(rig.truthPath(), {}, nullptr);
    const TableLook look = lookAtTable(rig.install.dbFile(), true);
    QVERIFY2(look.ok(), qPrintable(look.error));
    QCOMPARE(look.integrity, QStringLiteral("ok"));
    const QStringList faults =
        compareWithTruth(look.rows, expected, mayBeMissing, {}, firstDay, QDate::currentDate());
    QVERIFY2(faults.isEmpty(), faultReport(faults).constData());
}

// Every reply arrives in two parts, the second after more than the 20 ms of silence that end a
// reply (as through a slow serial adapter): the first part fails as incorrect data, the joined
// bytes are accepted, and the weighings are stored all the same.
void ExactlyOnceTest::everyReplySplit_weighingsStillStored() {
    Rig rig;
    const QDate firstDay = QDate::currentDate();
    const QString why = rig.setUp(0, m_seed);
    QVERIFY2(why.isEmpty(), qPrintable(why));
    QVERIFY(rig.program.start());
    QVERIFY(rig.weigh());
    QVERIFY2(rig.waitCaughtUp(), rig.program.diagnostics().constData());

    rig.control(QStringLiteral("fault split"));
    for (int i = 0; i < 5; ++i) {
        QVERIFY(rig.weigh());
        QTest::qWait(300);
    }
    const bool stored = rig.waitCaughtUp(20000);
    const TableLook during = lookAtTable(rig.install.dbFile());
    rig.control(QStringLiteral("fault none"));
    QVERIFY2(stored, ("the table holds only\n" + idRuns(during.rows) + "\nof weighings 1-" +
                      QByteArray::number(rig.counter()))
                         .constData());
    QVERIFY2(rig.program.terminate(), rig.program.diagnostics().constData());

    const TableLook look = lookAtTable(rig.install.dbFile(), true);
    const QStringList faults = compareWithTruth(look.rows, readTruth(rig.truthPath(), {}, nullptr),
                                                {}, {}, firstDay, QDate::currentDate());
    QVERIFY2(faults.isEmpty(), faultReport(faults).constData());
}

// The table file refuses every write for a while (made immutable while the program runs): the
// program reports the failure once, in the log and to the operator, does not count the weighing
// as stored, and stores it, once and in order, as soon as the file takes writes again.
void ExactlyOnceTest::storageFailure_reportedAndStoredOnceWritable() {
    Rig rig;
    const QDate firstDay = QDate::currentDate();
    const QString why = rig.setUp(30, m_seed);
    QVERIFY2(why.isEmpty(), qPrintable(why));
    QVERIFY(rig.program.start());
    QVERIFY2(rig.waitCaughtUp(), rig.program.diagnostics().constData());
    QCOMPARE(storedCounterInIni(rig.install), std::optional<qint64>(30));

    const QString db = rig.install.dbFile();
    QStringList files{db};
    if (QFile::exists(db + QStringLiteral("-wal")))
        files << db + QStringLiteral("-wal");
    ImmutableFiles locked(files);
    if (!locked.error().isEmpty())
        QSKIP(qPrintable(QStringLiteral("cannot make the table file refuse writes here (needs "
                                        "root and a file system with the immutable flag): ") +
                         locked.error()));

    for (int i = 0; i < 3; ++i) {
        QVERIFY(rig.weigh());
        QTest::qWait(300);
    }
    const QString failure = QStringLiteral("Database: weighing 31 not stored: ");
    QVERIFY2(waitUntil([&] { return linesContaining(rig.install.logLines(), failure) > 0; }),
             rig.program.diagnostics().constData());
    // The program tries again at every counters read; the operator is told once.
    QTest::qWait(3000);
    const QStringList log = rig.install.logLines();
    QCOMPARE(linesContaining(log, QStringLiteral("not stored")), 1);
    // The line names the file, so the operator knows where to look.
    QCOMPARE(linesContaining(log, failure), 1);
    QCOMPARE(linesContaining(log, QStringLiteral("/db/weights_data.DB")), 1);
    QCOMPARE(storedCounterInIni(rig.install), std::optional<qint64>(30));

    locked.release();
    QVERIFY2(rig.waitCaughtUp(), rig.program.diagnostics().constData());
    QCOMPARE(linesContaining(rig.install.logLines(), QStringLiteral("Database: weighings stored "
                                                                    "again.")),
             1);
    QVERIFY(rig.weigh());
    QVERIFY2(rig.waitCaughtUp(), rig.program.diagnostics().constData());
    QVERIFY2(rig.program.terminate(), rig.program.diagnostics().constData());

    const TruthMap expected = readTruth(rig.truthPath(), {}, nullptr);
    QCOMPARE(expected.size(), size_t(34));
    const TableLook look = lookAtTable(db, true);
    QVERIFY2(look.ok(), qPrintable(look.error));
    QCOMPARE(look.integrity, QStringLiteral("ok"));
    const QStringList faults =
        compareWithTruth(look.rows, expected, {}, {}, firstDay, QDate::currentDate());
    QVERIFY2(faults.isEmpty(), faultReport(faults).constData());
    QCOMPARE(look.storedCounter, std::optional<qint64>(34));
    QCOMPARE(storedCounterInIni(rig.install), std::optional<qint64>(34));
}

QTEST_GUILESS_MAIN(ExactlyOnceTest)
#include "tst_exactlyonce.moc"
