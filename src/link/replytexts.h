#pragma once

#include "base/alarmflags.h"
#include "link/terminalimage.h"

#include <QLocale>
#include <QString>
#include <QStringView>

#include <optional>

// Texts the poll cycle shows, logs and traces.

// Status panel 1.
inline constexpr QStringView LinkStatusCollecting = u"Статус соединения: идет сбор данных";
inline constexpr QStringView LinkStatusReadingTotals =
    u"Статус соединения: обновление сумм компонентов";
inline constexpr QStringView LinkStatusNoAnswer = u"Статус соединения: терминал не отвечает";
inline constexpr QStringView LinkStatusStopped = u"Статус соединения: сбор данных остановлен";
// Status panel 0 when the port cannot be opened.
inline constexpr QStringView PortUnavailableText = u"Com port: недоступен";
// LabelWeight while there is no current weight.
inline constexpr QStringView NoWeightText = u"--";
// LabelShippingWeight until the first weighing is shown.
inline constexpr QStringView InitialLastWeighingText = u"#1\t0\t--:--";

// Event log.
inline constexpr QStringView LogNoResponse = u"Connection status: no response";
inline constexpr QStringView LogResumed = u"Connection status: data retrieval resumed";
inline constexpr QStringView LogWatchdogRestart =
    u"Connection status: both timers turned off. Restarting...";
inline constexpr QStringView LogCollectionResumed = u"Data collection resumed.";
inline constexpr QStringView LogCollectionStopped = u"Data collection stopped.";
inline constexpr QStringView LogStorageResumed = u"Database: weighings stored again.";

// Exchange console.
inline constexpr QStringView ConsoleNoResponse = u"Connection fail: no response.";
inline constexpr QStringView ConsoleIncorrectData = u"Connection fail: incorrect data.";

// Boxes.
inline constexpr QStringView CommandCompletedCaption = u"Сообщение РД-718/24К";
inline constexpr QStringView BusyCommandText = u"Выполняется пуск. Дождитесь окончания операции.";
inline constexpr QStringView BusyCommandCaption = u"Сообщение";

// "0" before a number below 10: 7 gives "07", 12 gives "12", 100 gives "100".
QString TwoDigits(quint32 n);

// The general number format with 7 significant digits: the shortest text after rounding to 7
// significant digits, `decimalSeparator` only when fraction digits remain; fixed notation when at
// most 7 digits stand before the separator and the magnitude is at least 0.00001 (or 0), otherwise
// scientific with "E", the exponent's sign and at least 4 exponent digits ("1.5E+0010"). A value
// that is not a number gives "NAN", infinities "INF" and "-INF"; both zeros give "0".
QString WeightText(double value, QStringView decimalSeparator);
// The same with the decimal separator of the system locale.
QString WeightText(double value);

// "Январь".."Декабрь" for 1..12; "??" for a month the terminal cannot mean.
QString MonthName(int month);

// "#" + (Component + 1) + TAB + WeightText(Weight) + TAB + hh:mm:ss of the weighing.
QString LastWeighingText(const WeighingRecord& record);

// The three cells of a component's row in the totals list.
struct ComponentRowTexts {
    QString sum;   // WeightText(Sum)
    QString count; // Count, signed decimal
    QString date; // "05 Сентябрь 2010, 14:03:09": day, month name, 20 + year, time of reset
};
ComponentRowTexts componentRowTexts(const ComponentTotalRecord& record);

// "Считывание новых отвесов <done>/<total>".
QString batchProgressText(quint32 done, quint32 total);
// "Com port: <ComportIndex + 1> @<baud rate>", e.g. "Com port: 1 @9600".
QString portStatusText(qint32 ComportIndex, qint32 baudRate);

// The confirmation of a completed command. For a command issued by alarm button `AlarmButton`
// (1..8, 0 for a command issued by hand) it starts "Активация кнопки №n" followed by
// " по таймеру в [hh:mm]\n" when the daily alarm fired, else " по таймеру [dd MMMM yyyy hh:mm]\n"
// when the one-time alarm fired (the locale's month name), else "\n". Then
// "Команда \"<command list entry>\" успешно выполнена."; a CommandCode without an entry is named
// by its decimal value.
QString commandCompletedText(qint32 CommandCode, int AlarmButton,
                             const std::optional<ButtonAlarm>& alarm,
                             const QLocale& locale = QLocale::system());
