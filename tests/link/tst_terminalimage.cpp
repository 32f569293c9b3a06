// The terminal image: record layouts, counters, current weight, ring index rules, and that no
// index can reach outside the image or the ring.
#include "link/terminalimage.h"

#include <QTest>

namespace {

using Words = QList<quint16>;

TerminalImage withRow(int row, const Words& words) {
    TerminalImage image;
    for (int i = 0; i < words.size(); ++i)
        image.setWord(row, i, words[i]);
    return image;
}

// Every word of every row non-zero, so a zero record can only come from a refused index.
TerminalImage filled() {
    TerminalImage image;
    for (int r = 0; r < TerminalImage::RowCount; ++r)
        for (int i = 0; i < TerminalImage::WordsPerRow; ++i)
            image.setWord(r, i, quint16(0x4100 + r));
    return image;
}

using Opt = std::optional<int>;

} // namespace

Q_DECLARE_METATYPE(Opt)

class TestTerminalImage : public QObject {
    Q_OBJECT
private slots:
    void records_data();
    void records();
    void counters_data();
    void counters();
    void currentWeight_data();
    void currentWeight();
    void wrapRingIndex_data();
    void wrapRingIndex();
    void ringSlots_data();
    void ringSlots();
    void outOfRangeNeverLeavesTheImage();
};

// Both record kinds share one layout: float at bytes 0-3, six date/time bytes, signed 16-bit at
// bytes 10-11. Words are little-endian, so byte 4 (Day) is the low byte of word 2.
void TestTerminalImage::records_data() {
    QTest::addColumn<Words>("words");
    QTest::addColumn<float>("value");
    QTest::addColumn<QList<int>>("dateTime"); // day, month, year, hour, minute, second
    QTest::addColumn<int>("last");            // Count or Component

    QTest::newRow("typical") << Words{0x0000, 0x42F7, 0x0905, 0x0D0A, 0x072D, 0x0003} << 123.5f
                             << QList<int>{5, 9, 10, 13, 45, 7} << 3;
    QTest::newRow("count 0x8000 is negative")
        << Words{0x0000, 0x0000, 0x0C1F, 0x1763, 0x3B3B, 0x8000} << 0.0f
        << QList<int>{31, 12, 99, 23, 59, 59} << -32768;
    QTest::newRow("count 0xFFFE") << Words{0x0000, 0xC2C8, 0x0101, 0x0000, 0x0000, 0xFFFE}
                                  << -100.0f << QList<int>{1, 1, 0, 0, 0, 0} << -2;
    QTest::newRow("low word first") << Words{0x8000, 0x3FC0, 0xFF00, 0x00FF, 0x0000, 0x7FFF}
                                    << 1.50390625f << QList<int>{0, 255, 255, 0, 0, 0} << 32767;
}

void TestTerminalImage::records() {
    QFETCH(Words, words);
    QFETCH(float, value);
    QFETCH(QList<int>, dateTime);
    QFETCH(int, last);

    const int component = 11;
    const ComponentTotalRecord c = withRow(component, words).componentTotal(component);
    QCOMPARE(c.Sum, value);
    QCOMPARE((QList<int>{c.Day, c.Month, c.Year, c.Hour, c.Minute, c.Second}), dateTime);
    QCOMPARE(int(c.Count), last);

    const int slot = 39;
    const WeighingRecord w = withRow(TerminalMap::ringRow(slot), words).weighing(slot);
    QCOMPARE(w.Weight, value);
    QCOMPARE((QList<int>{w.Day, w.Month, w.Year, w.Hour, w.Minute, w.Second}), dateTime);
    QCOMPARE(int(w.Component), last);
}

void TestTerminalImage::counters_data() {
    QTest::addColumn<Words>("words");
    QTest::addColumn<int>("head");
    QTest::addColumn<quint32>("counter");
    QTest::addColumn<Opt>("validHead");

    QTest::newRow("zero at start") << Words{} << 0 << quint32(0) << Opt(0);
    QTest::newRow("low word first")
        << Words{7, 0x5678, 0x1234} << 7 << quint32(0x12345678) << Opt(7);
    QTest::newRow("full counter") << Words{39, 0xFFFF, 0xFFFF} << 39 << quint32(0xFFFFFFFF)
                                  << Opt(39);
    QTest::newRow("head 40 is no slot") << Words{40, 1, 0} << 40 << quint32(1) << Opt();
    QTest::newRow("negative head") << Words{0xFFFF, 1, 0} << -1 << quint32(1) << Opt();
    QTest::newRow("words past the third are never kept")
        << Words{3, 2, 1, 0xEEEE, 0xEEEE, 0xEEEE} << 3 << quint32(0x00010002) << Opt(3);
}

void TestTerminalImage::counters() {
    QFETCH(Words, words);
    QFETCH(int, head);
    QFETCH(quint32, counter);
    QFETCH(Opt, validHead);

    const TerminalImage image = withRow(TerminalMap::CountersRow, words);
    QCOMPARE(int(image.RingHead()), head);
    QCOMPARE(image.WeighingCounter(), counter);
    QCOMPARE(image.validRingHead(), validHead);
    for (int i = 3; i < TerminalImage::WordsPerRow; ++i)
        QCOMPARE(image.word(TerminalMap::CountersRow, i), quint16(0));
    // The counters row continues the record array without a gap.
    QCOMPARE(TerminalMap::recordStartAddress(TerminalMap::CountersRow),
             TerminalMap::CountersRegister);
}

void TestTerminalImage::currentWeight_data() {
    QTest::addColumn<quint16>("register0");
    QTest::addColumn<quint16>("register1");
    QTest::addColumn<float>("weight");
    QTest::newRow("zero") << quint16(0) << quint16(0) << 0.0f;
    QTest::newRow("10") << quint16(0x0000) << quint16(0x4120) << 10.0f;
    QTest::newRow("-100") << quint16(0x0000) << quint16(0xC2C8) << -100.0f;
    QTest::newRow("low word carries the fraction")
        << quint16(0x8000) << quint16(0x3FC0) << 1.50390625f;
}

void TestTerminalImage::currentWeight() {
    QFETCH(quint16, register0);
    QFETCH(quint16, register1);
    QFETCH(float, weight);
    TerminalData data;
    data.currentWeightWords = {register0, register1};
    QCOMPARE(data.CurrentWeight(), weight);
}

void TestTerminalImage::wrapRingIndex_data() {
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("wrapped");
    const QList<std::pair<int, int>> cases = {{-40, 0}, {-1, 39}, {0, 0},    {39, 39},
                                              {40, 0},  {79, 39}, {-41, -1}, {80, 40}};
    for (const auto& [x, wrapped] : cases)
        QTest::addRow("%d", x) << x << wrapped;
}

void TestTerminalImage::wrapRingIndex() {
    QFETCH(int, x);
    QFETCH(int, wrapped);
    // Corrects once only: outside -40..79 the result is still off the ring.
    QCOMPARE(WrapRingIndex(x), wrapped);
}

void TestTerminalImage::ringSlots_data() {
    QTest::addColumn<int>("head");
    QTest::addColumn<int>("newCount");
    QTest::addColumn<Opt>("firstRead");
    QTest::addColumn<QList<Opt>>("newSlots");

    QTest::newRow("h 3, N 5 wraps") << 3 << 5 << Opt(38) << QList<Opt>{39, 0, 1, 2, 3};
    QTest::newRow("h 7, N 3") << 7 << 3 << Opt(4) << QList<Opt>{5, 6, 7};
    // All 40 slots are new: the first read is the newest weighing itself.
    QTest::newRow("h 0, N 40") << 0 << 40 << Opt(0) << QList<Opt>{1, 2, 3};
    QTest::newRow("nothing new") << 12 << 0 << Opt(12) << QList<Opt>{};
    QTest::newRow("head outside the ring") << 40 << 1 << Opt() << QList<Opt>{Opt()};
    QTest::newRow("negative head") << -1 << 1 << Opt() << QList<Opt>{Opt()};
    QTest::newRow("more than the ring holds") << 5 << 41 << Opt() << QList<Opt>{Opt()};
}

void TestTerminalImage::ringSlots() {
    QFETCH(int, head);
    QFETCH(int, newCount);
    QFETCH(Opt, firstRead);
    QFETCH(QList<Opt>, newSlots);

    QCOMPARE(batchFirstReadSlot(head, newCount), firstRead);
    for (int k = 1; k <= newSlots.size(); ++k)
        QCOMPARE(batchWeighingSlot(head, newCount, k), newSlots[k - 1]);
    QCOMPARE(batchWeighingSlot(head, newCount, 0), Opt());
    QCOMPARE(batchWeighingSlot(head, newCount, newCount + 1), Opt());
    if (newCount > 0 && newCount <= TerminalMap::RingSize && firstRead) {
        // The last new weighing is the newest one, in slot h; rows follow in rising slot order.
        QCOMPARE(batchWeighingSlot(head, newCount, newCount), Opt(head));
        int row = TerminalMap::ringRow(*firstRead);
        for (const Opt& slot : newSlots) {
            row = nextRingRow(row);
            QCOMPARE(row, TerminalMap::ringRow(*slot));
        }
    }
}

void TestTerminalImage::outOfRangeNeverLeavesTheImage() {
    TerminalImage image = filled();
    const TerminalImage before = image;
    for (const auto& [row, index] : QList<std::pair<int, int>>{
             {-1, 0}, {57, 0}, {0, -1}, {0, 6}, {56, 3}, {56, 5}, {1000000, 0}})
        image.setWord(row, index, 0x0BAD);
    for (int r = 0; r < TerminalImage::RowCount; ++r)
        for (int i = 0; i < TerminalImage::WordsPerRow; ++i)
            QCOMPARE(image.word(r, i), before.word(r, i));
    QCOMPARE(image.word(57, 0), quint16(0));
    QCOMPARE(image.word(0, 6), quint16(0));

    // Neighbouring rows are full of data; a refused index gives a zero record, not theirs.
    for (const int index : {-1, 16, 40, std::numeric_limits<int>::min()}) {
        QCOMPARE(image.componentTotal(index).Sum, 0.0f);
        QCOMPARE(image.componentTotal(index).Count, qint16(0));
    }
    for (const int slot : {-1, 40, -16, std::numeric_limits<int>::max()}) {
        QCOMPARE(image.weighing(slot).Weight, 0.0f);
        QCOMPARE(image.weighing(slot).Component, qint16(0));
    }
    QVERIFY(image.componentTotal(15).Count != 0);
    QVERIFY(image.weighing(0).Component != 0);

    // Weighing numbers: only the newest 40 lie in the ring.
    QCOMPARE(slotOfWeighing(7, 103, 101), Opt(5));
    QCOMPARE(slotOfWeighing(3, 1000, 961), Opt(4));
    QCOMPARE(slotOfWeighing(3, 1000, 960), Opt());
    QCOMPARE(slotOfWeighing(3, 1000, 1001), Opt());
    QCOMPARE(slotOfWeighing(40, 1000, 1000), Opt());
    QCOMPARE(slotOfWeighing(0, 0xFFFFFFFF, 0), Opt());
}

QTEST_GUILESS_MAIN(TestTerminalImage)
#include "tst_terminalimage.moc"
