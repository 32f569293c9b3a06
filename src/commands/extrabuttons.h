#pragma once

#include "base/alarmflags.h"
#include "base/buttons_t.h"

#include <QDateTime>

#include <array>
#include <functional>

// The eight extra toolbar buttons' records and their alarm flags, with the alarm check the
// Alarm timer runs every 2.5 seconds: a daily alarm at a set hour and minute, a one-time alarm at
// a set date and minute. A fired alarm is handed to the poll cycle until its command goes out;
// the latches keep it from firing twice in its minute or while its command is outstanding.
class ExtraButtons : public ButtonAlarms {
public:
    // Hands the command of button `button` (1..8) to the poll cycle; false when a command is
    // being sent, the alarm then waits for a later tick.
    using DispatchCommand = std::function<bool(int button, qint32 command)>;

    std::array<buttons_t, ExtraButtonCount> Buttons{};
    std::array<AlarmFlags, ExtraButtonCount> Flags{};

    // One tick of the alarm check at the local time `now`.
    void AlarmTimer(const QDateTime& now, const DispatchCommand& dispatch);

    std::optional<ButtonAlarm> buttonAlarm(int button) const override;
    void clearAlarmFired(int button) override;

private:
    static void checkOneTimeAlarm(const buttons_t& record, AlarmFlags& flags, const QDateTime& now);
    static void checkDailyAlarm(const buttons_t& record, AlarmFlags& flags, const QDateTime& now);
};
