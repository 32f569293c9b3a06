#include "base/appsettings.h"

#include "base/datetimevalue.h"
#include "base/profilefile.h"

namespace {

const QString Settings = QStringLiteral("Settings");
const QString Id = QStringLiteral("ID");
const QString MainWindow = QStringLiteral("MainWindow");
const QString ConsoleForm = QStringLiteral("ConsoleForm");
const QString Font = QStringLiteral("Font");
const QString Components = QStringLiteral("Components");
const QString Db = QStringLiteral("DB");

QString buttonSection(int n) {
    return QStringLiteral("ExtButton%1").arg(n);
}

QString componentColumnKey(int i) {
    return QStringLiteral("Column%1").arg(i + 1);
}

QString gridColumnKey(int i) {
    return QStringLiteral("Column%1Width").arg(i + 1);
}

WindowBounds readBounds(const ProfileFile& file, const QString& section,
                        const WindowBounds& defaults) {
    WindowBounds bounds;
    bounds.Top = file.ReadInteger(section, QStringLiteral("Top"), defaults.Top);
    bounds.Left = file.ReadInteger(section, QStringLiteral("Left"), defaults.Left);
    bounds.Width = file.ReadInteger(section, QStringLiteral("Width"), defaults.Width);
    bounds.Height = file.ReadInteger(section, QStringLiteral("Height"), defaults.Height);
    return bounds;
}

void writeBounds(ProfileFile& file, const QString& section, const WindowBounds& bounds) {
    file.WriteInteger(section, QStringLiteral("Top"), bounds.Top);
    file.WriteInteger(section, QStringLiteral("Left"), bounds.Left);
    file.WriteInteger(section, QStringLiteral("Width"), bounds.Width);
    file.WriteInteger(section, QStringLiteral("Height"), bounds.Height);
}

// The alarm's hour and minute are 16-bit fields: the value read keeps its low 16 bits.
quint16 readWord(const ProfileFile& file, const QString& section, const QString& key) {
    return static_cast<quint16>(file.ReadInteger(section, key, 0) & 0xFFFF);
}

buttons_t readButton(const ProfileFile& file, int n, QDate today) {
    const QString section = buttonSection(n);
    const buttons_t defaults = defaultButton(n);
    buttons_t button;
    button.Show = file.ReadBool(section, QStringLiteral("Show"), defaults.Show);
    button.Image = file.ReadInteger(section, QStringLiteral("Image"), defaults.Image);
    button.Name = file.ReadString(section, QStringLiteral("Name"), defaults.Name);
    button.Command = file.ReadInteger(section, QStringLiteral("Command"), defaults.Command);
    button.DailyAlarm = file.ReadBool(section, QStringLiteral("DailyAlarm"), defaults.DailyAlarm);
    button.AlarmHours = readWord(file, section, QStringLiteral("AlarmHours"));
    button.AlarmMinutes = readWord(file, section, QStringLiteral("AlarmMinutes"));
    button.OneTimeAlarm =
        file.ReadBool(section, QStringLiteral("OneTimeAlarm"), defaults.OneTimeAlarm);
    button.DateTime = file.ReadDateTime(section, QStringLiteral("DateTime"), dateValue(today));
    return button;
}

void writeButton(ProfileFile& file, int n, const buttons_t& button) {
    const QString section = buttonSection(n);
    file.WriteBool(section, QStringLiteral("Show"), button.Show);
    file.WriteInteger(section, QStringLiteral("Image"), button.Image);
    file.WriteString(section, QStringLiteral("Name"), button.Name);
    file.WriteInteger(section, QStringLiteral("Command"), button.Command);
    file.WriteBool(section, QStringLiteral("DailyAlarm"), button.DailyAlarm);
    file.WriteInteger(section, QStringLiteral("AlarmHours"), button.AlarmHours);
    file.WriteInteger(section, QStringLiteral("AlarmMinutes"), button.AlarmMinutes);
    file.WriteBool(section, QStringLiteral("OneTimeAlarm"), button.OneTimeAlarm);
    file.WriteDateTime(section, QStringLiteral("DateTime"), button.DateTime);
}

// The network number is read and written under "DeviceNumber". Earlier versions wrote it as
// "Device" (and read "DeviceNumber", so a number set in the port dialog was lost at the next
// start); a file that has only "Device" still gives its number.
qint32 readDeviceNumber(const ProfileFile& file, qint32 defaultValue) {
    const QString key = QStringLiteral("DeviceNumber");
    if (file.ValueExists(Settings, key) || !file.ValueExists(Settings, QStringLiteral("Device")))
        return file.ReadInteger(Settings, key, defaultValue);
    return file.ReadInteger(Settings, QStringLiteral("Device"), defaultValue);
}

} // namespace

buttons_t defaultButton(int n) {
    buttons_t button;
    button.Image = n;
    button.Command = n - 1;
    return button;
}

SettingsLoad loadSettings(const QString& path, QDate today) {
    const ProfileFile file(path);
    const AppSettings defaults;
    SettingsLoad result;
    AppSettings& s = result.settings;

    s.Port.ComportIndex =
        file.ReadInteger(Settings, QStringLiteral("Comport"), defaults.Port.ComportIndex);
    s.Port.BaudrateIndex =
        file.ReadInteger(Settings, QStringLiteral("Baudrate"), defaults.Port.BaudrateIndex);
    s.Port.DeviceNumber = readDeviceNumber(file, defaults.Port.DeviceNumber);
    s.Port.SendInterval =
        file.ReadInteger(Settings, QStringLiteral("SendInterval"), defaults.Port.SendInterval);
    s.ShowConsole = file.ReadBool(Settings, QStringLiteral("ShowConsole"), defaults.ShowConsole);
    s.Autoscan = file.ReadBool(Settings, QStringLiteral("Autoscan"), defaults.Autoscan);
    s.ShowComponents =
        file.ReadBool(Settings, QStringLiteral("ShowComponents"), defaults.ShowComponents);

    s.StoredCounter = static_cast<quint32>(file.ReadInteger(
        Id, QStringLiteral("ID_old"), static_cast<qint32>(defaults.StoredCounter)));

    s.MainWindow = readBounds(file, MainWindow, defaults.MainWindow);

    const ListFont& font = defaults.ComponentsFont;
    s.ComponentsFont.Size = file.ReadInteger(Font, QStringLiteral("Size"), font.Size);
    const ProfileFile::ColorRead color = file.ReadColor(Font, QStringLiteral("Color"), font.Color);
    if (!color.error.isEmpty()) {
        result.error = color.error;
        return result;
    }
    s.ComponentsFont.Color = color.value;
    s.ComponentsFont.Name = file.ReadString(Font, QStringLiteral("Name"), font.Name);
    s.ComponentsFont.StyleBold = file.ReadBool(Font, QStringLiteral("StyleBold"), font.StyleBold);
    s.ComponentsFont.StyleItalic =
        file.ReadBool(Font, QStringLiteral("StyleItalic"), font.StyleItalic);
    s.ComponentsFont.StyleUnderline =
        file.ReadBool(Font, QStringLiteral("StyleUnderline"), font.StyleUnderline);
    s.ComponentsFont.StyleStrikeOut =
        file.ReadBool(Font, QStringLiteral("StyleStrikeOut"), font.StyleStrikeOut);

    for (int i = 0; i < 4; ++i) {
        s.ComponentColumns[i] =
            file.ReadInteger(Components, componentColumnKey(i), defaults.ComponentColumns[i]);
    }
    s.ComponentsWidth =
        file.ReadInteger(Components, QStringLiteral("Width"), defaults.ComponentsWidth);

    for (int n = 1; n <= ExtraButtonCount; ++n)
        s.Buttons[n - 1] = readButton(file, n, today);

    for (int i = 0; i < 4; ++i)
        s.GridColumnWidths[i] =
            file.ReadInteger(Db, gridColumnKey(i), defaults.GridColumnWidths[i]);

    s.AllowMultiple =
        file.ReadBool(Settings, QStringLiteral("AllowMultiple"), defaults.AllowMultiple);
    s.Autorun = file.ReadBool(Settings, QStringLiteral("Autorun"), defaults.Autorun);
    return result;
}

WindowBounds loadConsoleBounds(const QString& path) {
    return readBounds(ProfileFile(path), ConsoleForm, AppSettings().ConsoleForm);
}

bool readAllowMultiple(const QString& path) {
    return ProfileFile(path).ReadBool(Settings, QStringLiteral("AllowMultiple"),
                                      AppSettings().AllowMultiple);
}

QString saveSettings(const QString& path, const AppSettings& s) {
    ProfileFile file(path);
    file.WriteInteger(Settings, QStringLiteral("Comport"), s.Port.ComportIndex);
    file.WriteInteger(Settings, QStringLiteral("Baudrate"), s.Port.BaudrateIndex);
    file.WriteInteger(Settings, QStringLiteral("DeviceNumber"), s.Port.DeviceNumber);
    file.WriteInteger(Settings, QStringLiteral("SendInterval"), s.Port.SendInterval);
    file.WriteBool(Settings, QStringLiteral("ShowConsole"), s.ShowConsole);
    file.WriteBool(Settings, QStringLiteral("Autoscan"), s.Autoscan);
    file.WriteBool(Settings, QStringLiteral("ShowComponents"), s.ShowComponents);

    file.WriteInteger(Id, QStringLiteral("ID_old"), static_cast<qint32>(s.StoredCounter));

    writeBounds(file, MainWindow, s.MainWindow);
    writeBounds(file, ConsoleForm, s.ConsoleForm);

    const ListFont& font = s.ComponentsFont;
    file.WriteInteger(Font, QStringLiteral("Size"), font.Size);
    file.WriteColor(Font, QStringLiteral("Color"), font.Color);
    file.WriteString(Font, QStringLiteral("Name"), font.Name);
    file.WriteBool(Font, QStringLiteral("StyleBold"), font.StyleBold);
    file.WriteBool(Font, QStringLiteral("StyleItalic"), font.StyleItalic);
    file.WriteBool(Font, QStringLiteral("StyleUnderline"), font.StyleUnderline);
    file.WriteBool(Font, QStringLiteral("StyleStrikeOut"), font.StyleStrikeOut);

    for (int i = 0; i < 4; ++i)
        file.WriteInteger(Components, componentColumnKey(i), s.ComponentColumns[i]);
    file.WriteInteger(Components, QStringLiteral("Width"), s.ComponentsWidth);

    for (int n = 1; n <= ExtraButtonCount; ++n)
        writeButton(file, n, s.Buttons[n - 1]);

    for (int i = 0; i < 4; ++i)
        file.WriteInteger(Db, gridColumnKey(i), s.GridColumnWidths[i]);

    file.WriteBool(Settings, QStringLiteral("AllowMultiple"), s.AllowMultiple);
    file.WriteBool(Settings, QStringLiteral("Autorun"), s.Autorun);
    return file.save();
}

QString writeStoredCounter(const QString& path, quint32 storedCounter) {
    ProfileFile file(path);
    // Written as the signed 32-bit number it has always been stored as, so it reads back whole.
    file.WriteInteger(Id, QStringLiteral("ID_old"), static_cast<qint32>(storedCounter));
    return file.save();
}

QString writeProgramSettings(const QString& path, bool allowMultiple, bool autorun) {
    ProfileFile file(path);
    file.WriteBool(Settings, QStringLiteral("AllowMultiple"), allowMultiple);
    file.WriteBool(Settings, QStringLiteral("Autorun"), autorun);
    return file.save();
}
