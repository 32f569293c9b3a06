#pragma once

#include <QtGlobal>

// The line to the terminal as the operator sets it in "Интерфейс RS-232" and the configuration
// file keeps it in [Settings]: which COM port, how fast, which terminal, how often a request goes
// out. The port dialog edits one, the poll cycle applies one, the settings file stores one.
struct PortSettings {
    qint32 ComportIndex = 0;   // 0 = COM1 ... 8 = COM9
    qint32 BaudrateIndex = 1;  // index into 4800 ... 115200; 1 = 9600
    qint32 DeviceNumber = 1;   // the terminal's network number; its low byte is sent
    qint32 SendInterval = 250; // milliseconds between two requests

    bool operator==(const PortSettings&) const = default;
};
