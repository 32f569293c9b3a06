// The end-to-end tests' own helpers: the ground-truth reader gives the simulator's weighings
// exactly as it wrote them, and a pty pair never hands a test a line of another pair, even when a
// link left by a killed socat names that pair's pty.
#include "support/groundtruth.h"
#include "support/simpair.h"
#include "support/socatpair.h"

#include <QDir>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <bit>
#include <fcntl.h>
#include <limits>
#include <poll.h>
#include <unistd.h>

Q_DECLARE_METATYPE(TruthRecord)

namespace {

// One end of a pty, opened raw and non-blocking.
class Tty {
public:
    explicit Tty(const QString& path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    ~Tty() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Tty(const Tty&) = delete;
    Tty& operator=(const Tty&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    bool write(const QByteArray& bytes) const {
        return ::write(m_fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }
    // What arrives within `ms`, ending early once `enough` bytes are there.
    QByteArray read(int ms, qsizetype enough = std::numeric_limits<qsizetype>::max()) const {
        QByteArray got;
        const QDeadlineTimer deadline(ms);
        do {
            pollfd in{m_fd, POLLIN, 0};
            if (::poll(&in, 1, int(deadline.remainingTime())) <= 0)
                continue;
            char buffer[256];
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n > 0)
                got.append(buffer, n);
        } while (got.size() < enough && !deadline.hasExpired());
        return got;
    }

private:
    int m_fd;
};

// Both links of a pair named after the ptys of `other`, as a killed socat leaves them when the
// system has since given its pty numbers to `other`; or links into nothing.
void plantStaleLinks(const QString& first, const QString& second, const SocatPair* other) {
    const QString firstTarget = other ? other->ptys().value(0) : QStringLiteral("/dev/pts/99999");
    const QString secondTarget = other ? other->ptys().value(1) : QStringLiteral("/dev/pts/99998");
    QVERIFY(QFile::link(firstTarget, first));
    QVERIFY(QFile::link(secondTarget, second));
    QCOMPARE(SocatPair::linkTarget(first), firstTarget);
}

// Reads WeighingCounter and RingHead (registers 666..668) of slave 1.
const QByteArray ReadCounters = QByteArray::fromHex("0103029a0003245c");

} // namespace

class TestSupport : public QObject {
    Q_OBJECT
private slots:
    void truthRecords_data();
    void truthRecords();

    void socatPairUsesOnlyItsOwnPtys_data();
    void socatPairUsesOnlyItsOwnPtys();
    void killedSocatPairLeavesNoLinks();
    void simPairUsesOnlyItsOwnPtys();

private:
    QTemporaryDir m_dir;
};

void TestSupport::truthRecords_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QList<TruthRecord>>("expected");
    QTest::addColumn<int>("problems");

    const QByteArray line =
        R"({"number":39,"slot":38,"weight":12.5,"component":3,"datetime":"2026-12-11 11:16:48"})";
    const TruthRecord record{39, 38, 12.5, 3, QStringLiteral("2026-12-11 11:16:48"), false};
    QTest::newRow("a weighing") << line + '\n' << QList<TruthRecord>{record} << 0;

    // The weight is the terminal's single, bit for bit, however it rounds in decimal.
    QTest::newRow("single not exact in decimal")
        << QByteArray(R"({"number":1,"slot":0,"weight":0.10000000149011612,"component":16,)"
                      R"("datetime":"2026-01-02 03:04:05"})"
                      "\n")
        << QList<TruthRecord>{{1, 0, double(0.1f), 16, QStringLiteral("2026-01-02 03:04:05")}} << 0;
    QTest::newRow("largest single, smallest single, last counter")
        << QByteArray(R"({"number":4294967295,"slot":39,"weight":3.4028234663852886e+38,)"
                      R"("component":1,"datetime":"2099-12-31 23:59:59"})"
                      "\n"
                      R"({"number":0,"slot":0,"weight":1.4012984643248171e-45,"component":2})"
                      "\n")
        << QList<TruthRecord>{{4294967295u, 39, double(std::numeric_limits<float>::max()), 1,
                               QStringLiteral("2099-12-31 23:59:59")},
                              {0, 0, double(std::numeric_limits<float>::denorm_min()), 2, {}}}
        << 0;

    TruthRecord corrected = record;
    corrected.weight = 7.25;
    corrected.corrected = true;
    QTest::newRow("weight changed in place")
        << line + '\n' + line.chopped(1).replace("12.5", "7.25") + R"(,"corrected":true})" + '\n'
        << QList<TruthRecord>{record, corrected} << 0;

    // The simulator may be writing a line while the test reads: that line counts next time.
    QTest::newRow("line still being written")
        << line + '\n' + line.left(30) << QList<TruthRecord>{record} << 0;
    QTest::newRow("blank lines") << "\n" + line + "\n\n" << QList<TruthRecord>{record} << 0;
    // A broken line still takes its place, so that indexes stay line numbers.
    QTest::newRow("broken line and a line without a component")
        << R"({"number":)" + QByteArray("\n") + line + '\n' +
               R"({"number":40,"slot":39,"weight":1,"datetime":"2026-12-11 11:16:49"})" + '\n'
        << QList<TruthRecord>{{}, record, {40, 39, 1.0, -1, QStringLiteral("2026-12-11 11:16:49")}}
        << 2;
}

void TestSupport::truthRecords() {
    QFETCH(QByteArray, file);
    QFETCH(QList<TruthRecord>, expected);
    QFETCH(int, problems);
    QVERIFY(m_dir.isValid());
    const QString path = m_dir.filePath(QStringLiteral("truth.jsonl"));
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(out.write(file), file.size());
    out.close();

    QStringList found;
    const QList<TruthRecord> records = readTruthRecords(path, &found);
    QCOMPARE(found.size(), problems);
    QCOMPARE(records.size(), expected.size());
    for (qsizetype i = 0; i < records.size(); ++i) {
        const TruthRecord& got = records[i];
        const TruthRecord& want = expected[i];
        QCOMPARE(got.number, want.number);
        QCOMPARE(got.slot, want.slot);
        QCOMPARE(std::bit_cast<quint64>(got.weight), std::bit_cast<quint64>(want.weight));
        QCOMPARE(got.component, want.component);
        QCOMPARE(got.dateTime, want.dateTime);
        QCOMPARE(got.corrected, want.corrected);
    }
}

void TestSupport::socatPairUsesOnlyItsOwnPtys_data() {
    QTest::addColumn<bool>("toLivePair");
    QTest::newRow("stale links into nothing") << false;
    QTest::newRow("stale links to another live pair's ptys") << true;
}

void TestSupport::socatPairUsesOnlyItsOwnPtys() {
    QFETCH(bool, toLivePair);
    if (!SocatPair::available())
        QSKIP("socat is not installed");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SocatPair other(dir.filePath(QStringLiteral("other-near")),
                    dir.filePath(QStringLiteral("other-far")));
    QVERIFY2(other.start(), qPrintable(other.log()));
    QCOMPARE(other.ptys().size(), 2);
    Tty otherNear(other.nearLink());
    Tty otherFar(other.farLink());
    QVERIFY(otherNear.isOpen() && otherFar.isOpen());

    const QString nearLink = dir.filePath(QStringLiteral("near"));
    const QString farLink = dir.filePath(QStringLiteral("far"));
    plantStaleLinks(nearLink, farLink, toLivePair ? &other : nullptr);
    if (QTest::currentTestFailed())
        return;

    SocatPair pair(nearLink, farLink);
    QVERIFY2(pair.start(), qPrintable(pair.log()));
    // Ready means: both links name the ptys of this pair, none of the other's.
    QCOMPARE(pair.ptys().size(), 2);
    QVERIFY(!other.ptys().contains(pair.ptys()[0]) && !other.ptys().contains(pair.ptys()[1]));
    QCOMPARE(SocatPair::linkTarget(nearLink), pair.ptys()[0]);
    QCOMPARE(SocatPair::linkTarget(farLink), pair.ptys()[1]);

    Tty near(nearLink);
    Tty far(farLink);
    QVERIFY(near.isOpen() && far.isOpen());
    QVERIFY(far.write("ping"));
    QCOMPARE(near.read(2000, 4), QByteArray("ping"));
    QVERIFY(near.write("pong"));
    QCOMPARE(far.read(2000, 4), QByteArray("pong"));
    // Nothing of it reached the other pair.
    QCOMPARE(otherNear.read(200), QByteArray());
    QCOMPARE(otherFar.read(50), QByteArray());
}

// socat removes its links only when it ends in order; after a kill the pair removes them.
void TestSupport::killedSocatPairLeavesNoLinks() {
    if (!SocatPair::available())
        QSKIP("socat is not installed");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SocatPair pair(dir.filePath(QStringLiteral("near")), dir.filePath(QStringLiteral("far")));
    QVERIFY2(pair.start(), qPrintable(pair.log()));
    pair.kill();
    QVERIFY(SocatPair::linkTarget(pair.nearLink()).isEmpty());
    QVERIFY(SocatPair::linkTarget(pair.farLink()).isEmpty());
}

// sim-pair in a folder whose links, left from a killed run, name the ptys of another live pair,
// with a socat that is slow to make its own.
void TestSupport::simPairUsesOnlyItsOwnPtys() {
    const QString reason = SimPair::unavailableReason();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SocatPair other(dir.filePath(QStringLiteral("other-near")),
                    dir.filePath(QStringLiteral("other-far")));
    QVERIFY2(other.start(), qPrintable(other.log()));
    Tty otherNear(other.nearLink());
    Tty otherFar(other.farLink());
    QVERIFY(otherNear.isOpen() && otherFar.isOpen());

    const QString pairDir = dir.filePath(QStringLiteral("line"));
    QVERIFY(QDir().mkpath(pairDir));
    plantStaleLinks(pairDir + QStringLiteral("/terminal"), pairDir + QStringLiteral("/kdm"),
                    &other);
    if (QTest::currentTestFailed())
        return;

    // A socat that starts late, as on a loaded machine: for a while the stale links are all
    // there is in the folder.
    const QString slowBin = dir.filePath(QStringLiteral("slow-bin"));
    QVERIFY(QDir().mkpath(slowBin));
    QFile slowSocat(slowBin + QStringLiteral("/socat"));
    QVERIFY(slowSocat.open(QIODevice::WriteOnly));
    slowSocat.write("#!/bin/sh\nsleep 0.5\nexec " +
                    QFile::encodeName(QStandardPaths::findExecutable(QStringLiteral("socat"))) +
                    " \"$@\"\n");
    slowSocat.close();
    QVERIFY(slowSocat.setPermissions(slowSocat.permissions() | QFileDevice::ExeOwner));
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(slowBin) + ':' + path);
    const auto restorePath = qScopeGuard([&path] { qputenv("PATH", path); });

    SimPair sim;
    QVERIFY2(sim.start({}, {QStringLiteral("--dir"), pairDir}), qPrintable(sim.log()));
    QCOMPARE(sim.device(), pairDir + QStringLiteral("/kdm"));
    const QString device = SocatPair::linkTarget(sim.device());
    const QString terminal = SocatPair::linkTarget(pairDir + QStringLiteral("/terminal"));
    QVERIFY(device.startsWith(QLatin1String("/dev/pts/")));
    QVERIFY(terminal.startsWith(QLatin1String("/dev/pts/")));
    QVERIFY2(!other.ptys().contains(device) && !other.ptys().contains(terminal),
             qPrintable(device + u' ' + terminal));

    // The simulator answers on the device; the other pair hears nothing of it.
    Tty line(sim.device());
    QVERIFY(line.isOpen());
    QVERIFY(line.write(ReadCounters));
    const QByteArray reply = line.read(3000, 11);
    QCOMPARE(reply.toHex(' ').left(8), QByteArray("01 03 06"));
    QCOMPARE(reply.size(), 11);
    QCOMPARE(otherNear.read(200), QByteArray());
    QCOMPARE(otherFar.read(50), QByteArray());

    QCOMPARE(sim.stop(), 0);
    QVERIFY(!QFileInfo::exists(pairDir + QStringLiteral("/kdm")));
    // The other pair's line is untouched.
    QCOMPARE(SocatPair::linkTarget(other.nearLink()), other.ptys().value(0));
}

QTEST_GUILESS_MAIN(TestSupport)
#include "tst_support.moc"
