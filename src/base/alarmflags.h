#pragma once

#include "base/buttons_t.h"

#include <QDateTime>
#include <QtGlobal>

#include <optional>

// The alarm flags of one extra button, all false at start and never stored.
struct AlarmFlags {
    // An alarm of the button fired and its command has not been completed yet.
    bool AlarmFired = false;
    // The daily alarm matched the current hour and minute (stops a second firing in that minute).
    bool DailyAlarmLatch = false;
    // The one-time alarm matched (stops a second firing in that minute).
    bool OneTimeAlarmLatch = false;
};

// What the completion of an alarm's command tells the operator about button n: which alarm fired
// and when it was set.
struct ButtonAlarm {
    AlarmFlags flags;
    quint16 AlarmHours = 0;
    quint16 AlarmMinutes = 0;
    // The one-time alarm's moment as a local date and time (only its minute counts).
    QDateTime DateTime;
};

// The extra buttons' alarms as the poll cycle sees them when a command issued by an alarm is
// acknowledged. Owned by the buttons logic.
class ButtonAlarms {
public:
    virtual ~ButtonAlarms() = default;
    // Flags and alarm settings of button `button` (1..8); empty for any other number.
    virtual std::optional<ButtonAlarm> buttonAlarm(int button) const = 0;
    // The command of button `button` was completed: its AlarmFired flag goes back to false (the
    // latches stay; the alarm check releases them). Ignored for a number outside 1..8.
    virtual void clearAlarmFired(int button) = 0;
};
