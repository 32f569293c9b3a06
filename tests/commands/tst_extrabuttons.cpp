// The alarm check of the extra buttons, tick by tick with a given clock.

#include "base/datetimevalue.h"
#include "commands/extrabuttons.h"

#include <QTest>

namespace {

QDateTime at(int hour, int minute, int second, QDate day = QDate(2010, 9, 14)) {
    return QDateTime(day, QTime(hour, minute, second));
}

// A poll cycle that takes one command at a time until it is completed.
struct FakeCycle {
    QList<int> dispatched; // buttons, in dispatch order
    bool sending = false;

    ExtraButtons::DispatchCommand dispatcher() {
        return [this](int button, qint32) {
            if (sending)
                return false;
            sending = true;
            dispatched.append(button);
            return true;
        };
    }
    void complete(ExtraButtons& buttons) {
        buttons.clearAlarmFired(dispatched.last());
        sending = false;
    }
};

} // namespace

class ExtraButtonsTest : public QObject {
    Q_OBJECT

private slots:
    void dailyAlarm_firesOncePerDay_andWaitsForItsCommand() {
        ExtraButtons buttons;
        buttons.Buttons[2].DailyAlarm = true;
        buttons.Buttons[2].AlarmHours = 8;
        buttons.Buttons[2].AlarmMinutes = 30;
        buttons.Buttons[2].Command = 6;
        FakeCycle cycle;

        buttons.AlarmTimer(at(8, 29, 59), cycle.dispatcher());
        QVERIFY(cycle.dispatched.isEmpty());
        buttons.AlarmTimer(at(8, 30, 1), cycle.dispatcher());
        QCOMPARE(cycle.dispatched, QList<int>{3});
        cycle.complete(buttons);
        // Later ticks of the same minute do not fire again.
        buttons.AlarmTimer(at(8, 30, 4), cycle.dispatcher());
        buttons.AlarmTimer(at(8, 30, 58), cycle.dispatcher());
        QCOMPARE(cycle.dispatched.size(), 1);
        // The latch rests after the minute; the next day fires again.
        buttons.AlarmTimer(at(8, 31, 0), cycle.dispatcher());
        QVERIFY(!buttons.Flags[2].DailyAlarmLatch);
        buttons.AlarmTimer(at(8, 30, 2, QDate(2010, 9, 15)), cycle.dispatcher());
        QCOMPARE(cycle.dispatched.size(), 2);
    }

    void outstandingCommand_keepsTheLatch_untilItIsCompleted() {
        ExtraButtons buttons;
        buttons.Buttons[0].DailyAlarm = true;
        buttons.Buttons[0].AlarmHours = 8;
        buttons.Buttons[0].AlarmMinutes = 30;
        FakeCycle cycle;
        buttons.AlarmTimer(at(8, 30, 0), cycle.dispatcher());
        buttons.AlarmTimer(at(8, 31, 0), cycle.dispatcher());
        QVERIFY(buttons.Flags[0].DailyAlarmLatch);
        QVERIFY(buttons.Flags[0].AlarmFired);
        cycle.complete(buttons);
        buttons.AlarmTimer(at(8, 31, 2), cycle.dispatcher());
        QVERIFY(!buttons.Flags[0].DailyAlarmLatch);
        QCOMPARE(cycle.dispatched.size(), 1);
    }

    void oneTimeAlarm_firesInItsMinuteOnly_andNeverAgain() {
        ExtraButtons buttons;
        buttons.Buttons[4].OneTimeAlarm = true;
        buttons.Buttons[4].DateTime = toDateTimeValue(at(15, 0, 0));
        FakeCycle cycle;
        buttons.AlarmTimer(at(14, 59, 59), cycle.dispatcher());
        buttons.AlarmTimer(at(15, 0, 2), cycle.dispatcher());
        QCOMPARE(cycle.dispatched, QList<int>{5});
        cycle.complete(buttons);
        buttons.AlarmTimer(at(15, 0, 30), cycle.dispatcher());
        buttons.AlarmTimer(at(15, 1, 1), cycle.dispatcher());
        QVERIFY(!buttons.Flags[4].OneTimeAlarmLatch);
        buttons.AlarmTimer(at(15, 0, 1, QDate(2010, 9, 15)), cycle.dispatcher());
        QCOMPARE(cycle.dispatched.size(), 1);
        QVERIFY(buttons.Buttons[4].OneTimeAlarm);
    }

    void twoButtonsAtOneTime_goOneAfterTheOther_inButtonOrder() {
        ExtraButtons buttons;
        for (const int index : {5, 1}) {
            buttons.Buttons[index].DailyAlarm = true;
            buttons.Buttons[index].AlarmHours = 6;
            buttons.Buttons[index].AlarmMinutes = 0;
        }
        FakeCycle cycle;
        buttons.AlarmTimer(at(6, 0, 1), cycle.dispatcher());
        QCOMPARE(cycle.dispatched, QList<int>{2});
        buttons.AlarmTimer(at(6, 0, 3), cycle.dispatcher());
        QCOMPARE(cycle.dispatched, QList<int>{2});
        cycle.complete(buttons);
        buttons.AlarmTimer(at(6, 0, 6), cycle.dispatcher());
        QCOMPARE(cycle.dispatched, (QList<int>{2, 6}));
    }

    void alarmTimes_outsideTheClock_neverMatch_andOtherButtonNumbersAreIgnored() {
        ExtraButtons buttons;
        buttons.Buttons[0].DailyAlarm = true;
        buttons.Buttons[0].AlarmHours = 65535;
        buttons.Buttons[0].AlarmMinutes = 61;
        FakeCycle cycle;
        for (int minute = 0; minute < 60; ++minute)
            buttons.AlarmTimer(at(23, minute, 0), cycle.dispatcher());
        QVERIFY(cycle.dispatched.isEmpty());
        QVERIFY(!buttons.buttonAlarm(0));
        QVERIFY(!buttons.buttonAlarm(9));
        buttons.clearAlarmFired(9);
        QCOMPARE(buttons.buttonAlarm(1)->AlarmHours, 65535);
    }
};

QTEST_GUILESS_MAIN(ExtraButtonsTest)
#include "tst_extrabuttons.moc"
