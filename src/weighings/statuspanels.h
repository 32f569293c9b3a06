#pragma once

#include "link/pollstate.h"

#include <QString>

#include <array>
#include <optional>

// The status bar's four panels, left to right.
enum class StatusPanel {
    Port = 0,        // the port and its speed, or that it is unavailable
    Link = 1,        // the link status, coloured by LinkState
    RecordCount = 2, // rows in the table / weighings the terminal counted
    Spare = 3,
};

namespace StatusPanels {

inline constexpr std::array<int, 4> Widths{130, 279, 137, 50};

// Tooltip of the panel under the mouse at x; nullopt leaves the tooltip as it was (the spare
// panel at the right and beyond it).
std::optional<QString> tooltipAt(int x);

// "<rows in the table>/<a weighing count of the terminal>", both in plain decimal.
QString recordCountText(qint64 rows, quint32 counter);

// Colour of the link status text as 0xRRGGBB: red while the terminal does not answer, maroon
// while collection is stopped; nullopt means the system's button-text colour.
std::optional<quint32> linkTextColour(LinkState linkState);

} // namespace StatusPanels
