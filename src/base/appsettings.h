#pragma once

#include "base/buttons_t.h"
#include "base/portsettings.h"

#include <QDate>
#include <QString>

#include <array>

// Every setting the configuration file keeps, with the defaults a first start uses. The names
// follow the file's keys and the main window's fields that receive them.

struct WindowBounds {
    qint32 Top = 0;
    qint32 Left = 0;
    qint32 Width = 0;
    qint32 Height = 0;

    bool operator==(const WindowBounds&) const = default;
};

// [Font]: the font of the component totals list.
struct ListFont {
    qint32 Size = 10;
    quint32 Color = 0x000000; // clBlack; 0x00BBGGRR or a system colour
    QString Name = QStringLiteral("MS Sans Serif");
    bool StyleBold = false;
    bool StyleItalic = false;
    bool StyleUnderline = false;
    bool StyleStrikeOut = false;

    bool operator==(const ListFont&) const = default;
};

// Button n (1..8) as a first start has it: icon n, input n, no alarm. Its DateTime is left at the
// zero date-time; loading takes today's date for it.
buttons_t defaultButton(int n);

struct AppSettings {
    // [Settings]
    PortSettings Port;
    bool ShowConsole = false;
    bool Autoscan = false;
    bool ShowComponents = true;
    // [ID] ID_old: running number of the last weighing stored
    quint32 StoredCounter = 0;
    // [MainWindow], [ConsoleForm]
    WindowBounds MainWindow{106, 192, 785, 480};
    WindowBounds ConsoleForm{100, 100, 600, 340};
    // [Font]
    ListFont ComponentsFont;
    // [Components]: widths of the totals list's four columns and of the list
    std::array<qint32, 4> ComponentColumns{24, 135, 46, 140};
    qint32 ComponentsWidth = 400;
    // [ExtButton1] .. [ExtButton8]
    std::array<buttons_t, ExtraButtonCount> Buttons{
        defaultButton(1), defaultButton(2), defaultButton(3), defaultButton(4),
        defaultButton(5), defaultButton(6), defaultButton(7), defaultButton(8)};
    // [DB]: widths of the weighings grid's first four columns
    std::array<qint32, 4> GridColumnWidths{150, 110, 100, 90};
    // [Settings], written last
    bool AllowMultiple = false;
    bool Autorun = false;

    bool operator==(const AppSettings&) const = default;
};

struct SettingsLoad {
    AppSettings settings;
    QString error; // non-empty: the file holds a value that ends the start-up (a bad colour)
};

// Each function below is one pass on the configuration file at path. The writers return an
// error text naming the file, or an empty text when the file was written.

// Every key except [ConsoleForm], in the order the main window's construction reads them;
// today is the date a button without a stored DateTime gets.
SettingsLoad loadSettings(const QString& path, QDate today);
// [ConsoleForm], read when the console window is created.
WindowBounds loadConsoleBounds(const QString& path);
// [Settings] AllowMultiple, read by the program entry before the single-instance check.
bool readAllowMultiple(const QString& path);

// Every key, in the order the main window's close writes them.
QString saveSettings(const QString& path, const AppSettings& settings);
// [ID] ID_old, each time the poll cycle advances the counter, before the weighing is stored.
QString writeStoredCounter(const QString& path, quint32 storedCounter);
// [Settings] AllowMultiple, then Autorun, after the program settings dialog.
QString writeProgramSettings(const QString& path, bool allowMultiple, bool autorun);
