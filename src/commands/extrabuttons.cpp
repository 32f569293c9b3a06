#include "commands/extrabuttons.h"

#include "base/datetimevalue.h"

namespace {

// One minute in days as the terminal software has always held it: in single precision.
constexpr double OneMinute = double(0.00069444446f);

// The minute an alarm is set for and the minute of a clock reading compare as these texts.
QString minuteText(const QDateTime& moment) {
    return moment.toString(QStringLiteral("dd.MM.yy hh:mm"));
}

} // namespace

void ExtraButtons::AlarmTimer(const QDateTime& now, const DispatchCommand& dispatch) {
    for (int n = 1; n <= ExtraButtonCount; ++n) {
        const buttons_t& record = Buttons[n - 1];
        AlarmFlags& flags = Flags[n - 1];
        if (record.OneTimeAlarm && !flags.DailyAlarmLatch)
            checkOneTimeAlarm(record, flags, now);
        if (record.DailyAlarm)
            checkDailyAlarm(record, flags, now);
        if (flags.AlarmFired && dispatch)
            dispatch(n, record.Command);
    }
}

void ExtraButtons::checkOneTimeAlarm(const buttons_t& record, AlarmFlags& flags,
                                     const QDateTime& now) {
    if (!flags.OneTimeAlarmLatch) {
        const QDateTime alarmAt = fromDateTimeValue(record.DateTime);
        if (alarmAt.isValid() && minuteText(alarmAt) == minuteText(now)) {
            flags.AlarmFired = true;
            flags.OneTimeAlarmLatch = true;
        }
        return;
    }
    // The minute has passed and the command is done: the alarm may rest (it never matches again).
    if (record.DateTime + OneMinute < toDateTimeValue(now) && !flags.AlarmFired)
        flags.OneTimeAlarmLatch = false;
}

void ExtraButtons::checkDailyAlarm(const buttons_t& record, AlarmFlags& flags,
                                   const QDateTime& now) {
    const bool inMinute =
        record.AlarmHours == now.time().hour() && record.AlarmMinutes == now.time().minute();
    if (!flags.DailyAlarmLatch) {
        if (inMinute) {
            flags.AlarmFired = true;
            flags.DailyAlarmLatch = true;
        }
        return;
    }
    if (!inMinute && !flags.AlarmFired)
        flags.DailyAlarmLatch = false;
}

std::optional<ButtonAlarm> ExtraButtons::buttonAlarm(int button) const {
    if (button < 1 || button > ExtraButtonCount)
        return std::nullopt;
    const buttons_t& record = Buttons[button - 1];
    ButtonAlarm alarm;
    alarm.flags = Flags[button - 1];
    alarm.AlarmHours = record.AlarmHours;
    alarm.AlarmMinutes = record.AlarmMinutes;
    alarm.DateTime = fromDateTimeValue(record.DateTime);
    return alarm;
}

void ExtraButtons::clearAlarmFired(int button) {
    if (button >= 1 && button <= ExtraButtonCount)
        Flags[button - 1].AlarmFired = false;
}
