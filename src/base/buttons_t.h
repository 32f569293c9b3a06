#pragma once

#include <QString>
#include <QtGlobal>

// Number of extra toolbar buttons, "tbex1" to "tbex8".
inline constexpr int ExtraButtonCount = 8;

// One extra toolbar button: whether it shows, its icon, the terminal input it starts and its two
// alarms. Stored in the configuration file as section "ExtButton" + n (n = 1..8).
struct buttons_t {
    bool Show = true;
    bool OneTimeAlarm = false;
    bool DailyAlarm = false;
    qint32 Image = 0;   // index of the icon in the toolbar's image list
    qint32 Command = 0; // index 0..23 into the command list: the button starts input Command + 1
    quint16 AlarmMinutes = 0;
    quint16 AlarmHours = 0;
    double DateTime = 0.0; // one-time alarm: days since 30 December 1899, fraction = time of day
    QString Name;          // caption and tooltip

    bool operator==(const buttons_t&) const = default;
};
