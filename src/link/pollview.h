#pragma once

#include "base/alarmflags.h"
#include "link/pollstate.h"
#include "link/terminalimage.h"

#include <QString>
#include <QtGlobal>

#include <optional>

// What the poll cycle shows. Implemented by the main window (and by fakes in the tests). Every
// call returns at once; boxes are not shown through here (the poll cycle emits them as signals).
class PollView {
public:
    virtual ~PollView() = default;

    // LabelWeight in the group "Текущий Вес".
    virtual void setWeightText(const QString& text) = 0;
    // LabelShippingWeight in the group "Последний отвес".
    virtual void setLastWeighingText(const QString& text) = 0;
    // Row `row` (0..15) of the component totals list: its sum, count and reset date cells.
    virtual void setComponentRow(int row, const QString& sum, const QString& count,
                                 const QString& date) = 0;
    // Status panel 0: the port and its speed, or that it is unavailable.
    virtual void setPortStatusText(const QString& text) = 0;
    // Status panel 1: the link status.
    virtual void setLinkStatusText(const QString& text) = 0;
    // Colours status panel 1.
    virtual void setLinkState(LinkState state) = 0;
    // The exchange lamp: bright green after an accepted reply, button face when a request leaves.
    virtual void setExchangeLamp(bool active) = 0;
    // tbSuper can be used (the port is open).
    virtual void setCollectionAvailable(bool available) = 0;
    // Collection is switched on: tbSuper down, "Начать опрос" disabled, "Остановить опрос" enabled;
    // the reverse when off.
    virtual void setCollectionRunning(bool running) = 0;
    // Input and output lamps of the I/O window, from the bits just read.
    virtual void showInputs(quint8 InputBits) = 0;
    virtual void showOutputs(quint8 OutputBits) = 0;
    // The menu item "Состояние входов/выходов" is ticked: coils and inputs are read.
    virtual bool isIoStateTicked() const = 0;
    // One line appended to the exchange console.
    virtual void appendConsoleLine(const QString& line) = 0;
    // The extra buttons get the default cursor back (a command was completed).
    virtual void resetButtonCursors() = 0;
};

// Outcome of a call into the weighings store; an empty error means success.
struct StoreResult {
    QString error;
    bool ok() const { return error.isEmpty(); }
};

// Where new weighings go: the weighings table.
class WeighingsSink {
public:
    virtual ~WeighingsSink() = default;
    // Appends the weighing `record` (a ring slot) as number `id`. `terminalCounter` is the
    // terminal's WeighingCounter as last read, for the record-count panel. Only a result that is
    // ok() counts the weighing as stored.
    virtual StoreResult StoreWeighing(const WeighingRecord& record, quint32 id,
                                      quint32 terminalCounter) = 0;
    // Replaces the Weight of the table's last row (the terminal changed its newest weighing).
    virtual StoreResult CorrectLastWeighing(float weight) = 0;
    // ID of the table's last row; empty when the table holds no row or cannot be read.
    virtual std::optional<quint32> lastStoredId() const = 0;
    // The terminal's counter went back to `counter`: show the table's row count beside it.
    virtual void refreshRecordCount(quint32 counter) = 0;
};

// The configuration file, as far as the poll cycle writes it between start and exit.
class PollSettingsWriter {
public:
    virtual ~PollSettingsWriter() = default;
    // [ID] ID_old: the number of the last weighing stored.
    virtual void writeStoredCounter(quint32 StoredCounter) = 0;
};

// The event log ("log.txt").
class PollEventLog {
public:
    virtual ~PollEventLog() = default;
    virtual void WriteLog(const QString& text) = 0;
};
