#pragma once

#include <QString>

// Where the program keeps its files. The configuration file and the database folder sit beside the
// executable (a portable install); when that folder is not writable (an installed package) both
// move to the per-user data folder. The event log is always "log.txt" in the current directory.
struct ProgramPaths {
    QString programFolder; // folder holding the configuration file and db/, with a trailing '/'
    QString IniFileName;   // the executable's path with its extension replaced by ".ini"
    QString dbFolder;      // programFolder + "db/"
    QString dbFile;        // dbFolder + "weights_data.DB"
};

// exePath: full path of the executable. userDataFolder: the per-user data folder used when the
// executable's folder cannot be written.
ProgramPaths resolveProgramPaths(const QString& exePath, const QString& userDataFolder);
