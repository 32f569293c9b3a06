#pragma once

#include <QString>

#include <array>
#include <optional>

// The status bar's four panels: port, link status, record count, and a spare one.
namespace StatusPanels {

inline constexpr std::array<int, 4> Widths{130, 279, 137, 50};

// Tooltip of the panel under the mouse at x; nullopt leaves the tooltip as it was (the spare
// panel at the right and beyond it).
std::optional<QString> tooltipAt(int x);

// "<rows in the table>/<a weighing count of the terminal>", both in plain decimal.
QString recordCountText(qint64 rows, quint32 counter);

// Colour of the link status text for a LinkState as 0xRRGGBB: red while the terminal does not
// answer, maroon while collection is stopped; nullopt means the system's button-text colour.
std::optional<quint32> linkTextColour(qint32 linkState);

} // namespace StatusPanels
