#include "rawdatabase.h"
#include "weighings/weighingstable.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>

namespace {

const QString LoopProgram = QStringLiteral(KDM_APPEND_LOOP);

struct TableState {
    bool opened = false;
    QList<qint32> ids; // in append order
    std::optional<quint32> counter;
    bool integrityOk = false;
};

TableState inspect(const QString& path) {
    TableState state;
    {
        WeighingsTable table(path);
        if (!table.Open().ok())
            return state;
        state.opened = true;
        const qint64 rows = table.RecordCount().value;
        for (const StoredWeighing& r : table.rowsOfView(0, static_cast<int>(rows)).value)
            state.ids << r.row.ID;
        state.counter = table.storedCounter().value;
    }
    RawDatabase raw(path);
    state.integrityOk = raw.integrityOk();
    return state;
}

// The last number the loop reported stored: that weighing is committed.
qint32 lastReported(const QByteArray& output) {
    static const QRegularExpression stored(QStringLiteral("stored (\\d+)\\n"));
    qint32 last = 0;
    for (auto it = stored.globalMatch(QString::fromUtf8(output)); it.hasNext();)
        last = it.next().captured(1).toInt();
    return last;
}

QList<qint32> idRange(qint32 first, qint32 last) {
    QList<qint32> ids;
    for (qint32 id = first; id <= last; ++id)
        ids << id;
    return ids;
}

} // namespace

class TestWeighingsCrash : public QObject {
    Q_OBJECT

private slots:
    void killedAtRandomMomentsStoresEachWeighingOnce();
    void fullDiskFailsCleanly();
    void twoProcessesAppendAtOnce();
};

void TestWeighingsCrash::killedAtRandomMomentsStoresEachWeighingOnce() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("db/weights_data.DB"));
    const quint32 seed = QRandomGenerator::global()->generate();
    qInfo("seed %u", seed);
    QRandomGenerator random(seed);

    qint32 stored = 0;
    int killedWhileRunning = 0;
    for (int round = 0; round < 25; ++round) {
        QProcess loop;
        loop.start(LoopProgram, {path, QStringLiteral("counter"), QStringLiteral("100000000")});
        QVERIFY(loop.waitForStarted());
        if (round % 5 == 0) {
            // Now and then while it starts: opening, recovering the log of the last kill.
            QThread::msleep(random.bounded(30));
        } else {
            QByteArray seen;
            while (!seen.contains("ready") && loop.waitForReadyRead(10000))
                seen = loop.peek(1 << 16);
            QVERIFY2(seen.contains("ready"), seen.constData());
            QThread::msleep(5 + random.bounded(120));
        }
        killedWhileRunning += loop.state() == QProcess::Running;
        loop.kill();
        QVERIFY(loop.waitForFinished());
        const qint32 reported = lastReported(loop.readAllStandardOutput());

        const TableState state = inspect(path);
        QVERIFY2(state.opened, qPrintable(QStringLiteral("round %1").arg(round)));
        QVERIFY(state.integrityOk);
        const qint32 now = state.ids.isEmpty() ? 0 : state.ids.last();
        // No gap, no repeat, nothing reported stored missing, the counter names the last row.
        QCOMPARE(state.ids, idRange(1, now));
        QVERIFY2(now >= reported, qPrintable(QStringLiteral("%1 < %2").arg(now).arg(reported)));
        QVERIFY(now >= stored);
        QCOMPARE(state.counter.value_or(0), static_cast<quint32>(now));
        stored = now;
    }
    qInfo("%d weighings stored over 25 kills, %d of them while it ran", stored, killedWhileRunning);
    QVERIFY(stored > 0);
    QVERIFY(killedWhileRunning > 10);
}

void TestWeighingsCrash::fullDiskFailsCleanly() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("db/weights_data.DB"));

    QProcess loop;
    loop.start(LoopProgram, {path, QStringLiteral("counter"), QStringLiteral("100000"),
                             QStringLiteral("--file-size-limit"), QStringLiteral("262144")});
    QVERIFY(loop.waitForFinished(120000));
    QCOMPARE(loop.exitStatus(), QProcess::NormalExit);
    QCOMPARE(loop.exitCode(), 3);
    const QByteArray output = loop.readAllStandardOutput();
    QVERIFY2(output.contains("error: "), output.right(500).constData());
    QVERIFY(output.contains(QDir::toNativeSeparators(path).toUtf8()));
    const qint32 reported = lastReported(output);
    QVERIFY(reported > 0);

    TableState state = inspect(path);
    QVERIFY(state.opened);
    QVERIFY(state.integrityOk);
    QCOMPARE(state.ids, idRange(1, reported));
    QCOMPARE(state.counter.value_or(0), static_cast<quint32>(reported));

    // With room again, storing goes on from the next number.
    loop.start(LoopProgram, {path, QStringLiteral("counter"), QStringLiteral("3")});
    QVERIFY(loop.waitForFinished(60000));
    QCOMPARE(loop.exitCode(), 0);
    state = inspect(path);
    QCOMPARE(state.ids, idRange(1, reported + 3));
    QCOMPARE(state.counter.value_or(0), static_cast<quint32>(reported + 3));
}

void TestWeighingsCrash::twoProcessesAppendAtOnce() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("db/weights_data.DB"));
    // Made first, so that both programs open an existing table.
    QVERIFY(WeighingsTable(path).Open().ok());

    QProcess first;
    QProcess second;
    first.start(LoopProgram,
                {path, QStringLiteral("plain"), QStringLiteral("1"), QStringLiteral("200")});
    second.start(LoopProgram,
                 {path, QStringLiteral("plain"), QStringLiteral("1001"), QStringLiteral("200")});
    QVERIFY(first.waitForFinished(120000));
    QVERIFY(second.waitForFinished(120000));
    QCOMPARE(first.exitCode(), 0);
    QCOMPARE(second.exitCode(), 0);

    TableState state = inspect(path);
    QVERIFY(state.integrityOk);
    std::sort(state.ids.begin(), state.ids.end());
    QCOMPARE(state.ids, idRange(1, 200) + idRange(1001, 1200));
}

QTEST_GUILESS_MAIN(TestWeighingsCrash)
#include "tst_weighingscrash.moc"
