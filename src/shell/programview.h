#pragma once

#include "base/appsettings.h"
#include "link/pollview.h"

#include <QDate>
#include <QString>

#include <array>

class WeighingsTable;

// What the program core shows beyond the poll cycle's view: the steps of the start-up and the
// close that reach the windows. Implemented by the main window (and by a fake in the tests).
// Every call returns at once but showSettingsWriteError, which may block: the core calls it only
// when everything that runs by itself has stopped.
class ProgramView : public PollView {
public:
    // The settings the windows keep: the main window's bounds, the console's check mark, the
    // totals list's font and widths, the grid's column widths.
    virtual void applyWindowSettings(const AppSettings& settings) = 0;
    // The same settings as they are now, written into `settings` at close.
    virtual void collectWindowSettings(AppSettings& settings) const = 0;
    // The filter's date picker shows `today`.
    virtual void showFilterDate(QDate today) = 0;
    // Status panel 2: rows in the table and a weighing count of the terminal.
    virtual void setRecordCountText(const QString& text) = 0;
    // The grid shows the opened table through the filter and moves to its last row.
    virtual void showWeighings(WeighingsTable& table) = 0;
    // The check mark of "Автоматический запуск".
    virtual void setAutostartChecked(bool checked) = 0;
    // The extra tool buttons as their records say.
    virtual void ApplyButtons(const std::array<buttons_t, ExtraButtonCount>& buttons) = 0;
    // The component totals list shown or hidden, and the check mark of "Компоненты".
    virtual void ApplyShowComponents(bool show) = 0;
    // May block: the configuration file could not be written at close; `text` says why.
    virtual void showSettingsWriteError(const QString& text) = 0;
};
