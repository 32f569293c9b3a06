#include "shell/programpaths.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

namespace {

// QFileInfo::isWritable() only reads the permission bits; a read-only mount or an ACL can still
// refuse. Creating a file is the test that matches what the program will do later.
bool folderAcceptsFiles(const QString& folder) {
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".kdm-write-probe-XXXXXX")));
    return probe.open();
}

} // namespace

ProgramPaths resolveProgramPaths(const QString& exePath, const QString& userDataFolder) {
    const QFileInfo exe(exePath);
    QString folder = exe.absolutePath();
    if (!folderAcceptsFiles(folder) && !userDataFolder.isEmpty()) {
        QDir().mkpath(userDataFolder);
        folder = QDir(userDataFolder).absolutePath();
    }
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');

    ProgramPaths paths;
    paths.programFolder = folder;
    paths.IniFileName = folder + exe.completeBaseName() + QStringLiteral(".ini");
    paths.dbFolder = folder + QStringLiteral("db/");
    paths.dbFile = paths.dbFolder + QStringLiteral("weights_data.DB");
    return paths;
}
