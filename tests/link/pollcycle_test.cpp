// The poll cycle driven by hand: every handler is called directly with a fake port, fake timers
// and a fake terminal whose replies carry correct CRCs; nothing waits on a timer.
#include "link/replytexts.h"
#include "support/pollcycle_fakes.h"

#include <QTest>

#include <cmath>
#include <limits>

using enum PollState;

namespace {

using Reply = PollHarness::Reply;

// One row of the transition table: the state to start from, the requests the cycle must send
// (one exchange each, answered as `replies` says, else normally), where it must end up, and what
// else must have happened. Everything starts from baseline().
struct Transition {
    std::function<void(PollCycleState&)> from = {}; // changes to the cycle's baseline state
    std::function<void(PollHarness&)> setup = {};   // the terminal, sink, view before the run
    QStringList requests;
    std::vector<Reply> replies = {};
    PollState state = psIdle;
    qint32 index = -1; // PollIndex afterwards; -1 leaves it unchecked
    std::function<void(PollHarness&)> verify = {};
    // Called before exchange i (0-based): the terminal changes while the cycle runs.
    std::function<void(PollHarness&, int i)> before = {};
};

constexpr int BaseHead = 7;
constexpr quint32 BaseCounter = 100;

float slotWeight(int slot) {
    return 10.0f + 0.25f * float(slot);
}

FakeTerminal::Date slotDate(int slot) {
    return {14, 9, 10, 10, 20, quint8(slot)};
}

// Collecting, link up, 100 weighings stored and the terminal at 100 with its newest in slot 7.
void baseline(PollHarness& h) {
    h.change([](PollCycleState& s) {
        s.Polling = true;
        s.PollState = psReadWeight;
        s.LinkState = LinkState::Exchanging;
        s.StoredCounter = BaseCounter;
        // The counters as last read, for the steps that follow a counters read.
        s.Terminal.image.setWord(TerminalMap::CountersRow, 0, BaseHead);
        s.Terminal.image.setWord(TerminalMap::CountersRow, 1, quint16(BaseCounter));
        s.LastSeenWeight = slotWeight(BaseHead);
    });
    h.sink.lastId = BaseCounter;
    h.terminal.setWeight(12.5f);
    for (int slot = 0; slot < TerminalMap::RingSize; ++slot)
        h.terminal.setWeighing(slot, slotWeight(slot), 0, slotDate(slot));
    for (int i = 0; i < TerminalMap::ComponentCount; ++i)
        h.terminal.setComponent(i, 100.0f * float(i + 1) + 0.5f, qint16(i * 3),
                                {5, 9, 10, quint8(i), 3, 9});
    h.terminal.setCounters(BaseHead, BaseCounter);
    h.terminal.coils = 0xA5;
    h.terminal.inputs = 0x3C;
}

QStringList repeated(const QString& request, int times) {
    QStringList list;
    for (int i = 0; i < times; ++i)
        list.append(request);
    return list;
}

// The batch reads: the first read, then the N new weighings in rising slot order.
QStringList batchRequests(int h, int N) {
    QStringList list;
    for (int k = 0; k <= N; ++k)
        list.append(slotRequest(WrapRingIndex(h - N + k)));
    return list;
}

std::vector<quint32> range(quint32 first, quint32 last) {
    std::vector<quint32> v;
    for (quint32 i = first; i <= last; ++i)
        v.push_back(i);
    return v;
}

std::vector<int> rowRange(int first, int last) {
    std::vector<int> v;
    for (int i = first; i <= last; ++i)
        v.push_back(i);
    return v;
}

} // namespace

Q_DECLARE_METATYPE(Transition)
Q_DECLARE_METATYPE(PollState)

class PollCycleTest : public QObject {
    Q_OBJECT

private slots:
    void transitions_data();
    void transitions();

    void receiveFraming_shiftsNewestFirstAndCountsPast128();
    void sendStep_armsTimeoutEvenWhenNothingIsSent();
    void sendStep_refusedByte_tracesPartialFrameAndReopensNextTick();
    void replyEnd_restartsSendTimerOnlyWhileCollecting();
    void replyEnd_takesBytesThePortAlreadyHolds();
    void watchdog_restartsStalledCycle();
    void openPort_data();
    void openPort();
    void collectionSwitch_logsAndAppliesState();
    void startWithUnavailablePort_startsOnceThePortOpens();
    void portSetup_stopsReopensAndResumes();
    void manualPress_data();
    void manualPress();
    void alarmDispatch_replacesPendingManualCommand();
    void completion_reenteredFromItsMessageBox();
    void lateReplies_areNeverTakenForTheNextRequest();
};

void PollCycleTest::transitions_data() {
    QTest::addColumn<Transition>("t");

    QTest::newRow("weight -> weight, shows it and counts the cycle") << Transition{
        .requests = {weightRequest()}, .state = psReadWeight, .verify = [](PollHarness& h) {
            QCOMPARE(h.view.weightText, QStringLiteral("12.5"));
            QCOMPARE(h.cycle.state().PollCycleCount, 1u);
            QCOMPARE(h.view.linkStatus.last(), LinkStatusCollecting.toString());
            QCOMPARE(h.view.linkState, LinkState::Exchanging);
            QVERIFY(h.view.lamp);
        }};

    QTest::newRow("weight -> coils at 2 (ticked) -> weight")
        << Transition{.from = [](PollCycleState& s) { s.PollCycleCount = 1; },
                      .requests = {weightRequest(), QStringLiteral("1:0:8")},
                      .state = psReadWeight,
                      .verify =
                          [](PollHarness& h) {
                              QCOMPARE(h.view.outputs, std::vector<quint8>{0xA5});
                              QVERIFY(h.view.inputs.empty());
                          }};

    QTest::newRow("weight -> inputs at 5 (ticked) -> weight")
        << Transition{.from = [](PollCycleState& s) { s.PollCycleCount = 4; },
                      .requests = {weightRequest(), QStringLiteral("2:0:8")},
                      .state = psReadWeight,
                      .verify =
                          [](PollHarness& h) {
                              QCOMPARE(h.view.inputs, std::vector<quint8>{0x3C});
                              QVERIFY(h.view.outputs.empty());
                          }};

    QTest::newRow("not ticked: no coils at 2, no inputs at 5") << Transition{
        .from = [](PollCycleState& s) { s.PollCycleCount = 1; },
        .setup = [](PollHarness& h) { h.view.ioTicked = false; },
        .requests = repeated(weightRequest(), 5),
        .state = psReadWeight,
        .verify = [](PollHarness& h) { QCOMPARE(h.cycle.state().PollCycleCount, 6u); }};

    QTest::newRow("weight -> counters at 8 -> check of the newest slot") << Transition{
        .from = [](PollCycleState& s) { s.PollCycleCount = 7; },
        .requests = {weightRequest(), countersRequest()},
        .state = psCheckLastWeighing,
        .index = TerminalMap::ringRow(BaseHead),
        .verify = [](PollHarness& h) { QCOMPARE(h.cycle.state().PollCycleCount, 0u); }};

    QTest::newRow("weight -> all 16 component rows -> counters") << Transition{
        .from = [](PollCycleState& s) { s.TotalsDirty = true; },
        .requests =
            QStringList{weightRequest()} + allComponentRequests() + QStringList{countersRequest()},
        .state = psCheckLastWeighing,
        .index = TerminalMap::ringRow(BaseHead),
        .verify =
            [](PollHarness& h) {
                QCOMPARE(h.view.rowOrder, rowRange(0, 15));
                QCOMPARE(h.view.componentRows[0].sum, QStringLiteral("100.5"));
                QCOMPARE(h.view.componentRows[15].count, QStringLiteral("45"));
                QCOMPARE(h.view.componentRows[4].date,
                         QStringLiteral("05 Сентябрь 2010, 04:03:09"));
                QVERIFY(h.view.linkStatus.contains(LinkStatusReadingTotals.toString()));
                QVERIFY(!h.cycle.state().TotalsDirty);
            }};

    QTest::newRow("one component row (not dirty) -> weight")
        << Transition{.from =
                          [](PollCycleState& s) {
                              s.PollState = psReadComponent;
                              s.PollIndex = 5;
                          },
                      .requests = {rowRequest(5)},
                      .state = psReadWeight,
                      .index = 6,
                      .verify =
                          [](PollHarness& h) {
                              QCOMPARE(h.view.rowOrder, std::vector<int>{5});
                              QCOMPARE(h.view.componentRows[5].sum, QStringLiteral("600.5"));
                          }};

    QTest::newRow("component row with a command pending -> command")
        << Transition{.from =
                          [](PollCycleState& s) {
                              s.PollState = psReadComponent;
                              s.PollIndex = 3;
                              s.TotalsDirty = true;
                              s.CommandPending = true;
                              s.CommandCode = 7;
                          },
                      .requests = {rowRequest(3), QStringLiteral("16:2:1=0701")},
                      .state = psReadComponent,
                      .index = 0};

    QTest::newRow("weight with a command pending -> command -> completion, all totals")
        << Transition{.from =
                          [](PollCycleState& s) {
                              s.CommandPending = true;
                              s.CommandCode = 7;
                          },
                      .requests = QStringList{weightRequest(), QStringLiteral("16:2:1=0701")} +
                                  allComponentRequests() + QStringList{countersRequest()},
                      .state = psCheckLastWeighing,
                      .index = TerminalMap::ringRow(BaseHead),
                      .verify =
                          [](PollHarness& h) {
                              const QString text =
                                  QStringLiteral("Команда \"Старт Входа 8\" успешно выполнена.");
                              QCOMPARE(h.view.completed,
                                       QStringList{QStringLiteral("Сообщение РД-718/24К|") + text});
                              QCOMPARE(h.log.lines, QStringList{text});
                              QCOMPARE(h.view.cursorResets, 1);
                              QVERIFY(!h.cycle.state().CommandPending);
                              QCOMPARE(h.terminal.commands, std::vector<quint16>{0x0701});
                              QCOMPARE(int(h.view.rowOrder.size()), 16);
                          }};

    QTest::newRow("counters with a command pending -> command") << Transition{
        .from =
            [](PollCycleState& s) {
                s.PollState = psReadCounters;
                s.CommandPending = true;
                s.TotalsRefreshCount = 5;
            },
        .requests = {countersRequest()},
        .state = psSendCommand,
        .index = TerminalMap::CountersRow,
        .verify = [](PollHarness& h) { QCOMPARE(h.cycle.state().TotalsRefreshCount, 5u); }};

    QTest::newRow("every 102nd counters reply asks for all totals")
        << Transition{.from =
                          [](PollCycleState& s) {
                              s.PollState = psReadCounters;
                              s.TotalsRefreshCount = 101;
                          },
                      .requests = {countersRequest()},
                      .state = psCheckLastWeighing,
                      .index = TerminalMap::ringRow(BaseHead),
                      .verify =
                          [](PollHarness& h) {
                              QVERIFY(h.cycle.state().TotalsDirty);
                              QCOMPARE(h.cycle.state().TotalsRefreshCount, 0u);
                          }};

    QTest::newRow("batch 100 -> 103 at head 7: slots 4..7, IDs 101..103") << Transition{
        .from = [](PollCycleState& s) { s.PollState = psReadCounters; },
        .setup = [](PollHarness& h) { h.terminal.setCounters(7, 103); },
        .requests =
            QStringList{countersRequest()} + batchRequests(7, 3) + QStringList{rowRequest(0)},
        .state = psReadWeight,
        .index = 1,
        .verify =
            [](PollHarness& h) {
                QCOMPARE(h.sink.ids(), range(101, 103));
                QCOMPARE(h.sink.stored[0].weight, slotWeight(5));
                QCOMPARE(h.sink.stored[2].weight, slotWeight(7));
                QCOMPARE(h.sink.stored[2].terminalCounter, 103u);
                QCOMPARE(h.sink.corrections, std::vector<float>{slotWeight(4)});
                QCOMPARE(h.settings.written, range(101, 103));
                QCOMPARE(h.cycle.state().StoredCounter, 103u);
                const QStringList progress = {QStringLiteral("Считывание новых отвесов 0/3"),
                                              QStringLiteral("Считывание новых отвесов 1/3"),
                                              QStringLiteral("Считывание новых отвесов 2/3"),
                                              QStringLiteral("Считывание новых отвесов 3/3")};
                QCOMPARE(h.view.linkStatus.mid(0, 4), progress);
                QCOMPARE(h.view.lastWeighingText, QStringLiteral("#1\t11.75\t10:20:07"));
            }};

    QTest::newRow("table's last row is another weighing: the first read corrects nothing")
        << Transition{.from = [](PollCycleState& s) { s.PollState = psReadCounters; },
                      .setup =
                          [](PollHarness& h) {
                              h.sink.lastId = 55;
                              h.terminal.setCounters(7, 102);
                          },
                      .requests = QStringList{countersRequest()} + batchRequests(7, 2) +
                                  QStringList{rowRequest(0)},
                      .state = psReadWeight,
                      .index = 1,
                      .verify =
                          [](PollHarness& h) {
                              QCOMPARE(h.sink.ids(), range(101, 102));
                              QVERIFY(h.sink.corrections.empty());
                          }};

    QTest::newRow("first start 0 -> 1000: 40 weighings 961..1000, no correction") << Transition{
        .from =
            [](PollCycleState& s) {
                s.PollState = psReadCounters;
                s.StoredCounter = 0;
            },
        .setup =
            [](PollHarness& h) {
                h.sink.lastId.reset();
                h.terminal.setCounters(19, 1000);
            },
        .requests =
            QStringList{countersRequest()} + batchRequests(19, 40) + QStringList{rowRequest(0)},
        .state = psReadWeight,
        .index = 1,
        .verify =
            [](PollHarness& h) {
                QCOMPARE(h.sink.ids(), range(961, 1000));
                for (const FakeSink::Stored& s : h.sink.stored)
                    QCOMPARE(s.weight, slotWeight(FakeTerminal::slotOf(19, 1000, s.id)));
                QVERIFY(h.sink.corrections.empty());
                QCOMPARE(h.cycle.state().StoredCounter, 1000u);
            }};

    QTest::newRow("batch of 40 corrects nothing, even when the last row matches")
        << Transition{.from =
                          [](PollCycleState& s) {
                              s.PollState = psReadCounters;
                              s.StoredCounter = 900;
                          },
                      .setup =
                          [](PollHarness& h) {
                              h.sink.lastId = 900;
                              h.terminal.setCounters(3, 940);
                          },
                      .requests = QStringList{countersRequest()} + batchRequests(3, 40) +
                                  QStringList{rowRequest(0)},
                      .state = psReadWeight,
                      .index = 1,
                      .verify =
                          [](PollHarness& h) {
                              QCOMPARE(h.sink.ids(), range(901, 940));
                              QVERIFY(h.sink.corrections.empty());
                          }};

    QTest::newRow("counter went back: lowered, panel refreshed, check corrects nothing")
        << Transition{.from =
                          [](PollCycleState& s) {
                              s.PollState = psReadCounters;
                              s.StoredCounter = 500;
                          },
                      .setup =
                          [](PollHarness& h) {
                              h.sink.lastId = 500;
                              h.terminal.setCounters(9, 10);
                              h.terminal.setWeighing(9, 3.5f, 2);
                          },
                      .requests = {countersRequest(), slotRequest(9), rowRequest(2)},
                      .state = psReadWeight,
                      .index = 3,
                      .verify =
                          [](PollHarness& h) {
                              QCOMPARE(h.cycle.state().StoredCounter, 10u);
                              QCOMPARE(h.sink.refreshes, std::vector<quint32>{10});
                              QVERIFY(h.sink.stored.empty());
                              QVERIFY(h.sink.corrections.empty());
                              QCOMPARE(h.view.lastWeighingText,
                                       QStringLiteral("#3\t3.5\t00:00:00"));
                          }};

    QTest::newRow("check: newest weight changed -> shown, corrected, its component read")
        << Transition{.from =
                          [](PollCycleState& s) {
                              s.PollState = psCheckLastWeighing;
                              s.PollIndex = TerminalMap::ringRow(BaseHead);
                          },
                      .setup =
                          [](PollHarness& h) {
                              h.terminal.setWeighing(BaseHead, 7.5f, 2, slotDate(BaseHead));
                          },
                      .requests = {slotRequest(BaseHead), rowRequest(2)},
                      .state = psReadWeight,
                      .index = 3,
                      .verify =
                          [](PollHarness& h) {
                              QCOMPARE(h.sink.corrections, std::vector<float>{7.5f});
                              QCOMPARE(h.cycle.state().LastSeenWeight, 7.5f);
                              QCOMPARE(h.view.lastWeighingText,
                                       QStringLiteral("#3\t7.5\t10:20:07"));
                          }};

    QTest::newRow("check: changed, but the last row is another weighing -> no correction")
        << Transition{.from =
                          [](PollCycleState& s) {
                              s.PollState = psCheckLastWeighing;
                              s.PollIndex = TerminalMap::ringRow(BaseHead);
                          },
                      .setup =
                          [](PollHarness& h) {
                              h.sink.lastId = 77;
                              h.terminal.setWeighing(BaseHead, 7.5f, 2);
                          },
                      .requests = {slotRequest(BaseHead), rowRequest(2)},
                      .state = psReadWeight,
                      .index = 3,
                      .verify = [](PollHarness& h) { QVERIFY(h.sink.corrections.empty()); }};

    QTest::newRow("check: unchanged -> weight")
        << Transition{.from =
                          [](PollCycleState& s) {
                              s.PollState = psCheckLastWeighing;
                              s.PollIndex = TerminalMap::ringRow(BaseHead);
                          },
                      .requests = {slotRequest(BaseHead)},
                      .state = psReadWeight,
                      .verify = [](PollHarness& h) { QVERIFY(h.sink.corrections.empty()); }};

    QTest::newRow("check: a NaN weight counts as unchanged") << Transition{
        .from =
            [](PollCycleState& s) {
                s.PollState = psCheckLastWeighing;
                s.PollIndex = TerminalMap::ringRow(BaseHead);
            },
        .setup =
            [](PollHarness& h) {
                h.terminal.setWeighing(BaseHead, std::numeric_limits<float>::quiet_NaN(), 0);
            },
        .requests = {slotRequest(BaseHead)},
        .state = psReadWeight,
        .verify = [](PollHarness& h) { QVERIFY(h.sink.corrections.empty()); }};

    QTest::newRow("check with a command pending -> command")
        << Transition{.from =
                          [](PollCycleState& s) {
                              s.PollState = psCheckLastWeighing;
                              s.PollIndex = TerminalMap::ringRow(BaseHead);
                              s.CommandPending = true;
                          },
                      .requests = {slotRequest(BaseHead)},
                      .state = psSendCommand};

    QTest::newRow("check: component outside 0..15 -> all rows, no row beyond the list")
        << Transition{.from =
                          [](PollCycleState& s) {
                              s.PollState = psCheckLastWeighing;
                              s.PollIndex = TerminalMap::ringRow(BaseHead);
                          },
                      .setup = [](PollHarness& h) { h.terminal.setWeighing(BaseHead, 8.0f, 99); },
                      .requests = QStringList{slotRequest(BaseHead)} + allComponentRequests() +
                                  QStringList{countersRequest()},
                      .state = psCheckLastWeighing,
                      .index = TerminalMap::ringRow(BaseHead),
                      .verify =
                          [](PollHarness& h) {
                              QCOMPARE(int(h.view.componentRows.size()), 16);
                              QCOMPARE(h.view.componentRows.rbegin()->first, 15);
                              QVERIFY(h.view.lastWeighingText.startsWith(u"#100\t8\t"));
                          }};

    QTest::newRow("new component in a batch -> all 16 rows, then counters")
        << Transition{.from = [](PollCycleState& s) { s.PollState = psReadCounters; },
                      .setup =
                          [](PollHarness& h) {
                              h.terminal.setCounters(7, 102);
                              h.terminal.setWeighing(7, 1.0f, 4);
                          },
                      .requests = QStringList{countersRequest()} + batchRequests(7, 2) +
                                  allComponentRequests() + QStringList{countersRequest()},
                      .state = psCheckLastWeighing,
                      .index = TerminalMap::ringRow(7),
                      .verify =
                          [](PollHarness& h) {
                              QCOMPARE(h.sink.ids(), range(101, 102));
                              QCOMPARE(h.cycle.state().LastComponent, 4);
                          }};

    QTest::newRow("batch keeping a component outside 0..15 -> all rows") << Transition{
        .from =
            [](PollCycleState& s) {
                s.PollState = psReadCounters;
                s.LastComponent = 300;
            },
        .setup =
            [](PollHarness& h) {
                h.terminal.setCounters(7, 101);
                h.terminal.setWeighing(7, 1.0f, 300);
            },
        .requests = QStringList{countersRequest()} + batchRequests(7, 1) + allComponentRequests() +
                    QStringList{countersRequest()},
        .state = psCheckLastWeighing,
        .index = TerminalMap::ringRow(7),
        .verify = [](PollHarness& h) { QCOMPARE(h.view.componentRows.rbegin()->first, 15); }};

    QTest::newRow("ring head outside the ring: nothing read, weight next")
        << Transition{.from = [](PollCycleState& s) { s.PollState = psReadCounters; },
                      .setup = [](PollHarness& h) { h.terminal.setCounters(45, 200); },
                      .requests = {countersRequest(), weightRequest()},
                      .state = psReadWeight,
                      .verify =
                          [](PollHarness& h) {
                              QCOMPARE(h.cycle.state().StoredCounter, BaseCounter);
                              QVERIFY(h.sink.stored.empty());
                              QVERIFY(h.sink.refreshes.empty());
                              QVERIFY(h.view.console.contains(QStringLiteral(
                                  "Counters ignored: ring head 45 is outside 0..39.")));
                          }};

    QTest::newRow("store fails twice: told once, retried from the same weighing") << Transition{
        .from = [](PollCycleState& s) { s.PollState = psReadCounters; },
        .setup =
            [](PollHarness& h) {
                h.terminal.setCounters(7, 103);
                h.sink.failStores = 2;
                h.view.ioTicked = false;
            },
        .requests = QStringList{countersRequest(), slotRequest(4), slotRequest(5)} +
                    repeated(weightRequest(), 8) +
                    QStringList{countersRequest(), slotRequest(4), slotRequest(5)} +
                    repeated(weightRequest(), 8) + QStringList{countersRequest()} +
                    batchRequests(7, 3) + QStringList{rowRequest(0)},
        .state = psReadWeight,
        .index = 1,
        .verify =
            [](PollHarness& h) {
                QCOMPARE(h.sink.ids(), range(101, 103));
                QCOMPARE(h.sink.storeCalls, 5);
                QCOMPARE(h.settings.written, range(101, 103));
                const QString failure =
                    QStringLiteral("Database: weighing 101 not stored: disk full");
                QCOMPARE(h.log.lines, (QStringList{failure, LogStorageResumed.toString()}));
                QCOMPARE(h.view.storageFailures, QStringList{failure});
            }};

    QTest::newRow("an outage inside a batch: next reply unused, fresh counters restart it")
        << Transition{.from = [](PollCycleState& s) { s.PollState = psReadCounters; },
                      .setup = [](PollHarness& h) { h.terminal.setCounters(7, 103); },
                      .requests = QStringList{countersRequest(), slotRequest(4), slotRequest(5),
                                              slotRequest(6), slotRequest(6), slotRequest(6),
                                              slotRequest(6), slotRequest(6), countersRequest()} +
                                  batchRequests(12, 40) + QStringList{rowRequest(0)},
                      .replies = {Reply::Answer, Reply::Answer, Reply::Answer, Reply::Drop,
                                  Reply::Drop, Reply::Drop, Reply::Drop},
                      .state = psReadWeight,
                      .index = 1,
                      .verify =
                          [](PollHarness& h) {
                              // 102..108 left the ring unread; nothing newer is stored under their
                              // numbers.
                              std::vector<quint32> expected = {101};
                              const std::vector<quint32> newer = range(109, 148);
                              expected.insert(expected.end(), newer.begin(), newer.end());
                              QCOMPARE(h.sink.ids(), expected);
                              QCOMPARE(h.sink.stored[0].weight, slotWeight(5));
                              for (size_t i = 1; i < h.sink.stored.size(); ++i)
                                  QCOMPARE(h.sink.stored[i].weight,
                                           500.0f + float(FakeTerminal::slotOf(
                                                        12, 148, h.sink.stored[i].id)));
                              QCOMPARE(h.sink.corrections, std::vector<float>{slotWeight(4)});
                          },
                      .before =
                          [](PollHarness& h, int i) {
                              if (i != 4)
                                  return;
                              // During the outage the terminal recorded 45 more weighings.
                              for (int slot = 0; slot < TerminalMap::RingSize; ++slot)
                                  h.terminal.setWeighing(slot, 500.0f + float(slot), 0);
                              h.terminal.setCounters(12, 148);
                          }};

    QTest::newRow("an outage before the check: its reply unused, no foreign correction")
        << Transition{.from =
                          [](PollCycleState& s) {
                              s.PollState = psCheckLastWeighing;
                              s.PollIndex = TerminalMap::ringRow(BaseHead);
                          },
                      .requests = QStringList{slotRequest(BaseHead), slotRequest(BaseHead),
                                              slotRequest(BaseHead), slotRequest(BaseHead),
                                              slotRequest(BaseHead), countersRequest()} +
                                  batchRequests(8, 40) + QStringList{rowRequest(0)},
                      .replies = {Reply::Drop, Reply::Drop, Reply::Drop, Reply::Drop},
                      .state = psReadWeight,
                      .index = 1,
                      .verify =
                          [](PollHarness& h) {
                              QVERIFY(h.sink.corrections.empty());
                              QCOMPARE(h.sink.ids(), range(102, 141));
                          },
                      .before =
                          [](PollHarness& h, int i) {
                              if (i != 1)
                                  return;
                              // 41 weighings later slot 7 holds weighing 141, not the stored 100.
                              for (int slot = 0; slot < TerminalMap::RingSize; ++slot)
                                  h.terminal.setWeighing(slot, 500.0f + float(slot), 0);
                              h.terminal.setCounters(8, 141);
                          }};

    QTest::newRow("a split reply inside a batch: the joined reply is used, the batch goes on")
        << Transition{
               .from = [](PollCycleState& s) { s.PollState = psReadCounters; },
               .setup = [](PollHarness& h) { h.terminal.setCounters(7, 103); },
               .requests = {countersRequest(), slotRequest(4), slotRequest(5), slotRequest(6),
                            slotRequest(7), rowRequest(0)},
               .replies = {Reply::Answer, Reply::Split, Reply::Split, Reply::Split, Reply::Split},
               .state = psReadWeight,
               .index = 1,
               .verify =
                   [](PollHarness& h) {
                       QCOMPARE(h.sink.ids(), (std::vector<quint32>{101, 102, 103}));
                   }};

    QTest::newRow("newest weight changed back to the weight seen before the batch: corrected")
        << Transition{.from =
                          [](PollCycleState& s) {
                              s.PollState = psReadCounters;
                              s.PollCycleCount = 7;
                          },
                      .setup =
                          [](PollHarness& h) {
                              h.sink.lastId = 77; // the first read corrects nothing
                              h.terminal.setCounters(8, 101);
                              h.terminal.setWeighing(8, 25.0f, 0);
                          },
                      .requests = {countersRequest(), slotRequest(7), slotRequest(8), rowRequest(0),
                                   weightRequest(), countersRequest(), slotRequest(8),
                                   rowRequest(0)},
                      .state = psReadWeight,
                      .index = 1,
                      .verify =
                          [](PollHarness& h) {
                              QCOMPARE(h.sink.ids(), std::vector<quint32>{101});
                              QCOMPARE(h.sink.corrections, std::vector<float>{slotWeight(7)});
                              QCOMPARE(h.cycle.state().LastSeenWeight, slotWeight(7));
                          },
                      .before =
                          [](PollHarness& h, int i) {
                              if (i == 4) // the terminal's newest weight goes back to 11.75
                                  h.terminal.setWeighing(8, slotWeight(7), 0);
                          }};

    QTest::newRow("command not acknowledged -> written again")
        << Transition{.from =
                          [](PollCycleState& s) {
                              s.PollState = psSendCommand;
                              s.CommandPending = true;
                          },
                      .setup = [](PollHarness& h) { h.terminal.acknowledgeCommands = false; },
                      .requests = repeated(QStringLiteral("16:2:1=0001"), 2),
                      .state = psSendCommand,
                      .verify =
                          [](PollHarness& h) {
                              QVERIFY(h.view.completed.isEmpty());
                              QVERIFY(h.cycle.state().CommandPending);
                          }};

    QTest::newRow("command acknowledged while stopped -> idle, send timer off") << Transition{
        .from =
            [](PollCycleState& s) {
                s.Polling = false;
                s.PollState = psSendCommand;
                s.CommandCode = 23;
            },
        .requests = {QStringLiteral("16:2:1=1701")},
        .state = psIdle,
        .verify =
            [](PollHarness& h) {
                QVERIFY(!h.timers.isActive(PollTimer::TimerSend));
                QCOMPARE(h.view.completed.size(), 1);
                QVERIFY(h.view.completed[0].endsWith(u"\"Старт Входа 24\" успешно выполнена."));
            }};

    QTest::newRow("command of the daily alarm of button 3")
        << Transition{.from =
                          [](PollCycleState& s) {
                              s.PollState = psSendCommand;
                              s.AlarmButton = 3;
                          },
                      .setup =
                          [](PollHarness& h) {
                              ButtonAlarm alarm;
                              alarm.flags = {true, true, false};
                              alarm.AlarmHours = 8;
                              alarm.AlarmMinutes = 30;
                              h.alarms.alarms[3] = alarm;
                          },
                      .requests = {QStringLiteral("16:2:1=0001")},
                      .state = psReadComponent,
                      .index = 0,
                      .verify =
                          [](PollHarness& h) {
                              const QString text =
                                  QStringLiteral("Активация кнопки №3 по таймеру в [08:30]\n"
                                                 "Команда \"Старт Входа 1\" успешно выполнена.");
                              QCOMPARE(h.log.lines, QStringList{text});
                              QCOMPARE(h.view.completed,
                                       QStringList{QStringLiteral("Сообщение РД-718/24К|") + text});
                              QCOMPARE(h.alarms.cleared, std::vector<int>{3});
                              QCOMPARE(h.cycle.state().AlarmButton, 0);
                          }};

    QTest::newRow("command of the one-time alarm of button 2") << Transition{
        .from =
            [](PollCycleState& s) {
                s.PollState = psSendCommand;
                s.AlarmButton = 2;
            },
        .setup =
            [](PollHarness& h) {
                ButtonAlarm alarm;
                alarm.flags = {true, false, true};
                alarm.DateTime = QDateTime(QDate(2010, 9, 14), QTime(15, 0));
                h.alarms.alarms[2] = alarm;
            },
        .requests = {QStringLiteral("16:2:1=0001")},
        .state = psReadComponent,
        .index = 0,
        .verify =
            [](PollHarness& h) {
                const QString when = QLocale::system().toString(
                    QDateTime(QDate(2010, 9, 14), QTime(15, 0)), u"dd MMMM yyyy hh:mm");
                QCOMPARE(h.log.lines,
                         QStringList{QStringLiteral("Активация кнопки №2 по таймеру [%1]\n"
                                                    "Команда \"Старт Входа 1\" успешно выполнена.")
                                         .arg(when)});
            }};

    QTest::newRow("4 missing replies: down and logged once; the 5th logs resumed") << Transition{
        .requests = repeated(weightRequest(), 5),
        .replies = {Reply::Drop, Reply::Drop, Reply::Drop, Reply::Drop},
        .state = psReadWeight,
        .verify = [](PollHarness& h) {
            using enum LinkState;
            QCOMPARE(h.linkStateAfter, (std::vector<LinkState>{Exchanging, Exchanging, Exchanging,
                                                               NoAnswer, Exchanging}));
            QCOMPARE(h.failCountAfter, (std::vector<quint32>{1, 2, 3, 4, 0}));
            QCOMPARE(h.view.console.count(ConsoleNoResponse.toString()), 4);
            QCOMPARE(h.log.lines, (QStringList{LogNoResponse.toString(), LogResumed.toString()}));
            QCOMPARE(h.view.linkStatus,
                     (QStringList{LinkStatusNoAnswer.toString(), LinkStatusCollecting.toString()}));
        }};

    QTest::newRow("corrupt reply spoils the next three; buffer kept until the 4th failure")
        << Transition{.requests = repeated(weightRequest(), 5),
                      .replies = {Reply::Corrupt},
                      .state = psReadWeight,
                      .verify = [](PollHarness& h) {
                          QCOMPARE(h.rxCountAfter, (std::vector<qint32>{9, 18, 27, 0, 0}));
                          QCOMPARE(h.failCountAfter, (std::vector<quint32>{1, 2, 3, 4, 0}));
                          QCOMPARE(h.view.console.count(ConsoleIncorrectData.toString()), 4);
                          QCOMPARE(h.log.lines,
                                   (QStringList{LogNoResponse.toString(), LogResumed.toString()}));
                          QCOMPARE(h.view.weightText, QStringLiteral("12.5"));
                      }};

    QTest::newRow("reply split by a pause: first part fails, joined bytes accepted")
        << Transition{.requests = {weightRequest()},
                      .replies = {Reply::Split},
                      .state = psReadWeight,
                      .verify = [](PollHarness& h) {
                          QCOMPARE(h.view.console.count(ConsoleIncorrectData.toString()), 1);
                          QCOMPARE(h.failCountAfter, std::vector<quint32>{0});
                          QCOMPARE(h.view.weightText, QStringLiteral("12.5"));
                      }};
}

void PollCycleTest::transitions() {
    QFETCH(Transition, t);
    PollHarness h;
    baseline(h);
    if (t.from)
        h.change(t.from);
    if (t.setup)
        t.setup(h);
    for (int i = 0; i < t.requests.size(); ++i) {
        if (t.before)
            t.before(h, i);
        h.exchange(size_t(i) < t.replies.size() ? t.replies[size_t(i)] : Reply::Answer);
    }

    QCOMPARE(h.requests, t.requests);
    QCOMPARE(h.cycle.state().PollState, t.state);
    if (t.index >= 0)
        QCOMPARE(h.cycle.state().PollIndex, t.index);
    if (t.verify)
        t.verify(h);
}

void PollCycleTest::receiveFraming_shiftsNewestFirstAndCountsPast128() {
    PollHarness h;
    h.change([](PollCycleState& s) {
        s.Polling = true;
        s.PollState = psReadWeight;
    });
    h.cycle.TimerSendTimer();
    QVERIFY(h.timers.isActive(PollTimer::TimerTimeout));

    std::vector<quint8> bytes;
    for (int i = 0; i < 130; ++i)
        bytes.push_back(quint8(i));
    h.port.feed(bytes);

    QCOMPARE(h.cycle.state().RxCount, 130);
    QCOMPARE(h.cycle.state().RxBuffer[0], quint8(129));
    QCOMPARE(h.cycle.state().RxBuffer[127], quint8(2));
    QVERIFY(!h.timers.isActive(PollTimer::TimerTimeout));
    QVERIFY(h.timers.isActive(PollTimer::TimerMB));
    QCOMPARE(h.timers.interval(PollTimer::TimerMB), ReplySilenceInterval);
    // Stopped and started again by every byte: the 20 ms run from the newest byte.
    QCOMPARE(h.timers.state(PollTimer::TimerMB).starts, 130);

    // More than the 128 bytes kept: rejected, nothing read beyond the buffer.
    h.cycle.TimerProcessMessage();
    QCOMPARE(h.cycle.state().FailCount, 1u);
    QCOMPARE(h.view.console.last(), ConsoleIncorrectData.toString());
}

void PollCycleTest::sendStep_armsTimeoutEvenWhenNothingIsSent() {
    PollHarness h;
    h.change([](PollCycleState& s) { s.PollState = psIdle; });
    h.cycle.TimerSendTimer();
    QVERIFY(h.port.written().empty());
    QVERIFY(h.view.console.isEmpty());
    QVERIFY(h.timers.isActive(PollTimer::TimerTimeout));
    QCOMPARE(h.timers.interval(PollTimer::TimerTimeout), TimeoutInterval);

    h.cycle.TimerTimeoutTimer();
    QCOMPARE(h.view.console, QStringList{ConsoleNoResponse.toString()});
    QVERIFY(!h.timers.isActive(PollTimer::TimerTimeout));
}

void PollCycleTest::sendStep_refusedByte_tracesPartialFrameAndReopensNextTick() {
    PollHarness h;
    h.change([](PollCycleState& s) {
        s.Polling = true;
        s.PollState = psReadWeight;
    });
    h.port.refuseByte(3);
    // The box may run a nested event loop: the trace and the timeout are in place before it.
    h.view.onPortWriteError = [&h] {
        QCOMPARE(h.view.console, QStringList{QStringLiteral(">> 01 03 ")});
        QVERIFY(h.timers.isActive(PollTimer::TimerTimeout));
    };
    h.cycle.TimerSendTimer();
    QCOMPARE(h.view.portWriteErrors, 1);
    QVERIFY(!h.port.IsOpen());

    h.cycle.TimerProcessMessage();
    h.port.clearWritten();
    h.cycle.TimerSendTimer();
    QVERIFY(h.port.IsOpen());
    QCOMPARE(PollHarness::describe(h.port.written()), weightRequest());
}

void PollCycleTest::replyEnd_restartsSendTimerOnlyWhileCollecting() {
    for (const bool polling : {true, false}) {
        PollHarness h;
        h.change([polling](PollCycleState& s) {
            s.Polling = polling;
            s.PollState = psReadWeight;
        });
        h.timers.start(PollTimer::TimerSend);
        h.timers.start(PollTimer::TimerTimeout);
        h.timers.start(PollTimer::TimerMB);
        h.cycle.TimerProcessMessage();
        QVERIFY(!h.timers.isActive(PollTimer::TimerTimeout));
        QVERIFY(!h.timers.isActive(PollTimer::TimerMB));
        QCOMPARE(h.timers.isActive(PollTimer::TimerSend), polling);
        // Stopped and enabled again: the next request leaves one interval after this reply.
        QCOMPARE(h.timers.state(PollTimer::TimerSend).starts, polling ? 2 : 1);
    }
}

void PollCycleTest::replyEnd_takesBytesThePortAlreadyHolds() {
    PollHarness h;
    baseline(h);
    h.cycle.TimerSendTimer();
    const std::vector<quint8> reply = h.terminal.reply(h.port.written());

    // The timeout fires while the platform holds the reply: the reply has begun after all, and
    // TimerMB will end it.
    h.port.pending = reply;
    h.cycle.TimerTimeoutTimer();
    QCOMPARE(h.cycle.state().RxCount, qint32(reply.size()));
    QCOMPARE(h.cycle.state().FailCount, 0u);
    QCOMPARE(h.view.console.size(), 1); // the request only
    QVERIFY(h.timers.isActive(PollTimer::TimerMB));
    h.cycle.TimerMBTimer();
    QCOMPARE(h.view.weightText, QStringLiteral("12.5"));

    // TimerMB runs before the read notifier of the reply's last bytes: they are taken first.
    h.terminal.setWeight(-3.25f);
    h.port.clearWritten();
    h.cycle.TimerSendTimer();
    const std::vector<quint8> second = h.terminal.reply(h.port.written());
    h.port.feed(std::vector<quint8>(second.begin(), second.begin() + 5));
    h.port.pending.assign(second.begin() + 5, second.end());
    h.cycle.TimerMBTimer();
    QCOMPARE(h.port.readPendingCalls, 3);
    QCOMPARE(h.cycle.state().FailCount, 0u);
    QCOMPARE(h.view.weightText, QStringLiteral("-3.25"));
}

void PollCycleTest::watchdog_restartsStalledCycle() {
    PollHarness h;
    h.change([](PollCycleState& s) { s.Polling = false; });
    h.cycle.Watchdog();
    QVERIFY(h.log.lines.isEmpty());

    h.change([](PollCycleState& s) { s.Polling = true; });
    h.timers.start(PollTimer::TimerTimeout);
    h.cycle.Watchdog();
    QVERIFY(h.log.lines.isEmpty());
    QVERIFY(!h.timers.isActive(PollTimer::TimerSend));

    h.timers.stop(PollTimer::TimerTimeout);
    h.change([](PollCycleState& s) { s.PollState = psReadComponent; });
    h.cycle.Watchdog();
    QCOMPARE(h.log.lines, QStringList{LogWatchdogRestart.toString()});
    QVERIFY(h.timers.isActive(PollTimer::TimerSend));
    QCOMPARE(h.cycle.state().PollState, psReadComponent);
}

void PollCycleTest::openPort_data() {
    QTest::addColumn<qint32>("comport");
    QTest::addColumn<qint32>("baudIndex");
    QTest::addColumn<bool>("portAvailable");
    QTest::addColumn<qint32>("baudOpened"); // 0: Open must not be called
    QTest::addColumn<QString>("panel");

    QTest::newRow("COM1 at 9600") << 0 << 1 << true << 9600 << QStringLiteral("Com port: 1 @9600");
    QTest::newRow("COM3 at 19200")
        << 2 << 3 << true << 19200 << QStringLiteral("Com port: 3 @19200");
    QTest::newRow("COM9 at 115200")
        << 8 << 8 << true << 115200 << QStringLiteral("Com port: 9 @115200");
    QTest::newRow("port missing") << 0 << 1 << false << 9600
                                  << QStringLiteral("Com port: недоступен");
    QTest::newRow("COM10") << 9 << 1 << true << 9600 << QStringLiteral("Com port: недоступен");
    QTest::newRow("negative port")
        << -1 << 1 << true << 9600 << QStringLiteral("Com port: недоступен");
    QTest::newRow("baud index 9") << 0 << 9 << true << 0 << QStringLiteral("Com port: недоступен");
    QTest::newRow("baud index -1")
        << 0 << -1 << true << 0 << QStringLiteral("Com port: недоступен");
}

void PollCycleTest::openPort() {
    QFETCH(qint32, comport);
    QFETCH(qint32, baudIndex);
    QFETCH(bool, portAvailable);
    QFETCH(qint32, baudOpened);
    QFETCH(QString, panel);

    PollHarness h;
    h.port.Close();
    const size_t callsBefore = h.port.openCalls().size();
    h.port.setOpenResult(portAvailable);
    h.cycle.setPortSettings(PortSettings{.ComportIndex = comport, .BaudrateIndex = baudIndex});
    h.change([](PollCycleState& s) { s.RxCount = 5; });
    h.cycle.OpenPort();

    QCOMPARE(h.view.portStatus, panel);
    const bool opened = h.port.IsOpen();
    QCOMPARE(h.view.collectionAvailable, opened);
    QCOMPARE(h.cycle.state().RxCount, opened ? 0 : 5);
    if (baudOpened == 0) {
        QCOMPARE(h.port.openCalls().size(), callsBefore);
    } else {
        QCOMPARE(h.port.openCalls().back().baudRate, baudOpened);
        QCOMPARE(h.port.openCalls().back().lineFlags, quint8(0));
    }
}

void PollCycleTest::collectionSwitch_logsAndAppliesState() {
    PollHarness h;
    h.start(false);
    QVERIFY(!h.cycle.state().Polling); // autoscan off
    QVERIFY(h.cycle.state().TotalsDirty);
    QCOMPARE(h.cycle.state().LinkState, LinkState::Stopped);
    QCOMPARE(h.view.linkStatus.last(), LinkStatusStopped.toString());

    h.cycle.tbSuperClick();
    QVERIFY(h.cycle.state().Polling);
    QCOMPARE(h.cycle.state().PollState, psReadWeight);
    QVERIFY(h.timers.isActive(PollTimer::TimerSend));
    QVERIFY(h.view.collectionRunning);

    h.change([](PollCycleState& s) { s.RxCount = 3; });
    h.timers.start(PollTimer::TimerTimeout);
    h.cycle.tbSuperClick();
    QVERIFY(!h.cycle.state().Polling);
    QCOMPARE(h.cycle.state().PollState, psIdle);
    QVERIFY(!h.timers.isActive(PollTimer::TimerSend));
    QVERIFY(!h.timers.isActive(PollTimer::TimerTimeout));
    QVERIFY(!h.view.collectionRunning);
    QCOMPARE(h.view.weightText, NoWeightText.toString());
    QCOMPARE(h.cycle.state().LinkState, LinkState::Stopped);
    QCOMPARE(h.log.lines,
             (QStringList{LogCollectionResumed.toString(), LogCollectionStopped.toString()}));

    PollHarness autoscan;
    autoscan.start(true);
    QVERIFY(autoscan.cycle.state().Polling);
    QCOMPARE(autoscan.cycle.state().PollState, psReadWeight);
    QVERIFY(autoscan.log.lines.isEmpty());
}

void PollCycleTest::startWithUnavailablePort_startsOnceThePortOpens() {
    PollHarness h;
    h.port.Close();
    h.port.setOpenResult(false);
    h.start(false);
    QVERIFY(!h.view.collectionAvailable);

    h.cycle.tbSuperClick(); // "Начать опрос"
    QVERIFY(h.cycle.state().Polling);
    QCOMPARE(h.cycle.state().PollState, psIdle);
    // The controls show collection as switched on, so "Начать опрос" does not switch it off.
    QVERIFY(h.view.collectionRunning);

    h.cycle.Watchdog();
    QVERIFY(h.timers.isActive(PollTimer::TimerSend));
    h.cycle.TimerSendTimer(); // still no port: nothing sent, no timeout armed
    QVERIFY(h.port.written().empty());
    QVERIFY(!h.timers.isActive(PollTimer::TimerTimeout));
    QCOMPARE(h.view.portStatus, PortUnavailableText.toString());

    h.port.setOpenResult(true);
    h.terminal.setWeight(12.5f);
    h.cycle.TimerSendTimer();
    QCOMPARE(h.cycle.state().PollState, psReadWeight);
    QCOMPARE(PollHarness::describe(h.port.written()), weightRequest());
    QCOMPARE(h.view.portStatus, QStringLiteral("Com port: 1 @9600"));
    QVERIFY(h.timers.isActive(PollTimer::TimerTimeout));
    h.port.feed(h.terminal.reply(h.port.written()));
    h.cycle.TimerProcessMessage();
    QCOMPARE(h.view.weightText, QStringLiteral("12.5"));
    QCOMPARE(h.cycle.state().LinkState, LinkState::Exchanging);
}

void PollCycleTest::portSetup_stopsReopensAndResumes() {
    PollHarness h;
    h.start(true);
    h.change([](PollCycleState& s) { s.PollState = psReadCounters; });
    const int closesBefore = h.port.closeCalls();

    h.cycle.beginPortSetup();
    QVERIFY(!h.cycle.state().Polling);
    QVERIFY(!h.port.IsOpen());
    QCOMPARE(h.port.closeCalls(), closesBefore + 1);
    QVERIFY(!h.timers.isActive(PollTimer::TimerSend));

    h.cycle.setPortSettings(PortSettings{.ComportIndex = 2, .BaudrateIndex = 3});
    h.cycle.endPortSetup();
    QCOMPARE(h.port.openCalls().back().portIndex, 2u);
    QCOMPARE(h.port.openCalls().back().baudRate, 19200);
    QVERIFY(h.cycle.state().Polling);
    QCOMPARE(h.cycle.state().PollState, psReadWeight);
    QCOMPARE(h.view.portStatus, QStringLiteral("Com port: 3 @19200"));
    QVERIFY(h.log.lines.isEmpty());

    // Not collecting: the port is reopened, collection stays off.
    h.cycle.tbSuperClick();
    h.cycle.beginPortSetup();
    h.cycle.endPortSetup();
    QVERIFY(h.port.IsOpen());
    QVERIFY(!h.cycle.state().Polling);
    QCOMPARE(h.cycle.state().PollState, psIdle);
}

void PollCycleTest::manualPress_data() {
    QTest::addColumn<PollState>("stateBefore");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<PollState>("stateAfter");
    QTest::addColumn<bool>("sendTimerStarted");

    QTest::newRow("stopped: sent at the next tick") << psIdle << true << psSendCommand << true;
    QTest::newRow("collecting: only marked pending")
        << psReadCounters << true << psReadCounters << false;
    QTest::newRow("a command is being sent: refused")
        << psSendCommand << false << psSendCommand << false;
}

void PollCycleTest::manualPress() {
    QFETCH(PollState, stateBefore);
    QFETCH(bool, accepted);
    QFETCH(PollState, stateAfter);
    QFETCH(bool, sendTimerStarted);

    PollHarness h;
    h.change([stateBefore](PollCycleState& s) {
        s.PollState = stateBefore;
        s.CommandCode = 2;
        s.RxCount = 4;
        s.Terminal.CommandAcknowledged = true;
    });
    QCOMPARE(h.cycle.tbexClick(5), accepted);

    QCOMPARE(h.cycle.state().PollState, stateAfter);
    QCOMPARE(h.timers.isActive(PollTimer::TimerSend), sendTimerStarted);
    QCOMPARE(h.cycle.state().RxCount, stateBefore == psIdle ? 0 : 4);
    QCOMPARE(h.cycle.state().CommandPending, accepted);
    QCOMPARE(h.cycle.state().CommandCode, accepted ? 5 : 2);
    QCOMPARE(h.cycle.state().Terminal.CommandAcknowledged, !accepted);
    QCOMPARE(h.view.busyBoxes, accepted ? 0 : 1);
    QCOMPARE(h.cycle.state().AlarmButton, 0);
}

void PollCycleTest::alarmDispatch_replacesPendingManualCommand() {
    PollHarness h;
    baseline(h);
    QVERIFY(h.cycle.tbexClick(1)); // pending while the cycle reads the weight
    QVERIFY(h.cycle.dispatchAlarmCommand(4, 6));
    QCOMPARE(h.cycle.state().PollState, psSendCommand);
    QCOMPARE(h.cycle.state().AlarmButton, 4);
    QCOMPARE(h.cycle.state().CommandCode, 6);
    QVERIFY(!h.cycle.dispatchAlarmCommand(5, 2)); // waits while a command is being sent
    QCOMPARE(h.cycle.state().AlarmButton, 4);

    h.exchange();
    QCOMPARE(h.requests, QStringList{QStringLiteral("16:2:1=0601")});
    QCOMPARE(h.terminal.commands.size(), size_t(1));
    QVERIFY(!h.cycle.state().CommandPending);
    QCOMPARE(h.view.completed.size(), 1);
    QVERIFY(h.view.completed[0].contains(u"Активация кнопки №4\nКоманда \"Старт Входа 7\""));
}

void PollCycleTest::completion_reenteredFromItsMessageBox() {
    PollHarness h;
    baseline(h);
    h.change([](PollCycleState& s) {
        s.PollState = psSendCommand;
        s.CommandPending = true;
        s.AlarmButton = 1;
    });
    ButtonAlarm alarm;
    alarm.flags = {true, true, false};
    h.alarms.alarms[1] = alarm;

    int nested = 0;
    h.view.onCommandCompleted = [&] {
        // While the box is open everything is settled already...
        QCOMPARE(h.cycle.state().PollState, psReadComponent);
        QCOMPARE(h.cycle.state().PollIndex, 0);
        QVERIFY(h.cycle.state().TotalsDirty);
        QVERIFY(!h.cycle.state().CommandPending);
        QCOMPARE(h.cycle.state().AlarmButton, 0);
        QCOMPARE(h.log.lines.size(), 1);
        QCOMPARE(h.view.cursorResets, 1);
        // ...and the cycle goes on: the next request and its reply are handled inside it.
        if (++nested == 1) {
            h.exchange();
            h.exchange();
        }
    };
    h.exchange();

    QCOMPARE(nested, 1);
    QCOMPARE(h.requests,
             (QStringList{QStringLiteral("16:2:1=0001"), rowRequest(0), rowRequest(1)}));
    QCOMPARE(h.cycle.state().PollState, psReadComponent);
    QCOMPARE(h.cycle.state().PollIndex, 2);
    QCOMPARE(h.view.rowOrder, (std::vector<int>{0, 1}));
    QCOMPARE(h.view.completed.size(), 1);
    QCOMPARE(h.alarms.cleared, std::vector<int>{1});
    QCOMPARE(h.log.lines.size(), 1);
}

QTEST_GUILESS_MAIN(PollCycleTest)
#include "pollcycle_test.moc"

// A slow terminal answers a repeated request twice: the second answer comes when the cycle has
// moved on. Bytes that no request waits for are dropped, and a reply of another request's shape is
// rejected before anything of it is decoded, so no ring slot is stored under the wrong number.
void PollCycleTest::lateReplies_areNeverTakenForTheNextRequest() {
    PollHarness h;
    baseline(h);
    h.change([](PollCycleState& s) { s.PollState = psReadCounters; });
    h.terminal.setCounters(7, 103);
    h.exchange(); // counters: a batch of 101..103 begins with the first read of slot 4
    h.exchange(); // slot 4, the first read
    const std::vector<quint8> slot5Request = [&] {
        h.port.clearWritten();
        h.cycle.TimerSendTimer();
        return h.port.written();
    }();
    const std::vector<quint8> slot5Reply = h.terminal.reply(slot5Request);
    h.port.feed(slot5Reply);
    h.cycle.TimerProcessMessage();
    QCOMPARE(h.sink.ids(), std::vector<quint32>{101});

    // The same answer again, before the next request: nobody waits for it.
    h.port.feed(slot5Reply);
    QCOMPARE(h.cycle.state().RxCount, 0);
    QVERIFY(!h.timers.isActive(PollTimer::TimerMB));

    // A counters reply (3 registers) while slot 6 (6 registers) is awaited: rejected, not decoded.
    h.port.clearWritten();
    h.cycle.TimerSendTimer();
    const TerminalImage before = h.cycle.state().Terminal.image;
    h.port.feed(h.terminal.reply(
        {1, 3, 0x02, 0x9A, 0x00, 0x03, 0x24, 0x5C})); // read 666, quantity 3, with its CRC
    h.cycle.TimerProcessMessage();
    QCOMPARE(h.cycle.state().FailCount, 1u);
    QCOMPARE(h.view.console.last(), ConsoleIncorrectData.toString());
    for (int word = 0; word < 6; ++word)
        QCOMPARE(h.cycle.state().Terminal.image.word(TerminalMap::ringRow(6), word),
                 before.word(TerminalMap::ringRow(6), word));
    QCOMPARE(h.sink.ids(), std::vector<quint32>{101});
}
