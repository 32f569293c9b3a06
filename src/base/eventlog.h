#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// The event log: one time-stamped line per notable event, appended to "log.txt" in the current
// directory. Each entry opens, appends to and closes the file, so it is on disk when the call
// returns and a second instance's entries interleave entry by entry. A log that cannot be opened
// loses the entry silently: logging never stops the program.

// Appends the message, stamped with the local time now, to "log.txt" in the current directory.
void WriteLog(const QString& message);

// Appends the message, stamped with the given time, to the log file at path.
void WriteLog(const QString& path, const QDateTime& when, const QString& message);

// One entry as written: "[dd.MM.yyyy HH:mm:ss]: ", the message with each line break as CR LF,
// then CR LF; in the system code page.
QByteArray logEntry(const QDateTime& when, const QString& message);
