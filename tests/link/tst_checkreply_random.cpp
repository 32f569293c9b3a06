// Arbitrary byte strings with arbitrary counts through the reply check. Half of them are shaped
// like replies (known function codes, matching byte counts, good CRC) so that the decoding paths
// run as often as the rejections. Meant to run under the KDM_SANITIZE build, where a read or write
// outside the buffer or the image stops the test.
#include "replyinvariants.h"

#include <QRandomGenerator>
#include <QTest>

#include <limits>

using enum PollState;

class TestCheckReplyRandom : public QObject {
    Q_OBJECT
private slots:
    void arbitraryRepliesKeepTheInvariants();
};

void TestCheckReplyRandom::arbitraryRepliesKeepTheInvariants() {
    // KDM_RANDOM_ITERATIONS and KDM_RANDOM_SEED repeat or lengthen a run.
    const qint64 iterations = qEnvironmentVariableIsSet("KDM_RANDOM_ITERATIONS")
                                  ? qEnvironmentVariable("KDM_RANDOM_ITERATIONS").toLongLong()
                                  : 300000;
    const quint32 seed = qEnvironmentVariableIsSet("KDM_RANDOM_SEED")
                             ? qEnvironmentVariable("KDM_RANDOM_SEED").toUInt()
                             : 20240611u;
    QRandomGenerator rng(seed);
    // With two values outside the list, which send no request.
    const PollState states[] = {psIdle,         psReadCoils,         psReadDiscreteInputs,
                                psReadWeight,   psReadComponent,     psReadWeighing,
                                psReadCounters, psCheckLastWeighing, psSendCommand,
                                PollState(-1),  PollState(7)};
    const quint8 functions[] = {1, 2, 3, 3, 3, 16, 0x83, 5};
    qint64 accepted = 0;

    for (qint64 it = 0; it < iterations; ++it) {
        const int length = rng.bounded(301);
        std::vector<quint8> stream(static_cast<size_t>(length));
        for (quint8& b : stream)
            b = quint8(rng.bounded(256));

        const bool shaped = length >= 2 && rng.bounded(2) == 0;
        if (shaped) {
            // The reply sits at the end of the stream: address, function, data, CRC.
            const int replyLength = std::min(length, 2 + rng.bounded(129));
            const size_t first = size_t(length - replyLength);
            stream[first + 1] = functions[rng.bounded(int(std::size(functions)))];
            if (stream[first + 1] == 3 && replyLength >= 3 && rng.bounded(4) != 0)
                stream[first + 2] = quint8(replyLength - 5);
            if (replyLength >= 4 && rng.bounded(8) != 0) {
                const std::span<const quint8> body(stream.data() + first, size_t(replyLength - 2));
                const quint16 crc = Crc16(body);
                stream[size_t(length - 2)] = quint8(crc & 0xFF);
                stream[size_t(length - 1)] = quint8(crc >> 8);
            }
            if (rng.bounded(4) != 0)
                stream.erase(stream.begin(), stream.begin() + qsizetype(first));
        }

        qint32 count = qint32(stream.size());
        switch (rng.bounded(8)) {
        case 0:
            count = rng.bounded(-10, 400);
            break;
        case 1:
            count = rng.bounded(2) ? std::numeric_limits<qint32>::max()
                                   : std::numeric_limits<qint32>::min();
            break;
        default:
            break;
        }
        const PollState state = states[rng.bounded(int(std::size(states)))];
        const qint32 index = rng.bounded(-2, 60);

        const auto outcome = ReplyInvariants::check(stream, count, state, index);
        if (!outcome.broken.isEmpty())
            QFAIL(qPrintable(QStringLiteral("seed %1 iteration %2 count %3 state %4 index %5: %6")
                                 .arg(seed)
                                 .arg(it)
                                 .arg(count)
                                 .arg(qint32(state))
                                 .arg(index)
                                 .arg(outcome.broken)));
        accepted += outcome.accepted;
    }
    qInfo("%lld replies checked, %lld accepted", iterations, accepted);
    // Most random strings are rejected; the shaped ones must reach the decoding often enough.
    QVERIFY(accepted * 20 > iterations);
}

QTEST_GUILESS_MAIN(TestCheckReplyRandom)
#include "tst_checkreply_random.moc"
