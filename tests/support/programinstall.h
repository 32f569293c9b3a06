#pragma once

// A portable install of the program in a temporary folder, for tests that start the real
// executable and look at what it leaves behind: the configuration file, log.txt and db/.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

class ProgramInstall {
public:
    ProgramInstall() {
        const QString built = qEnvironmentVariable("KDM_BINARY_DIR") + QStringLiteral("/kdm");
        m_ok = m_dir.isValid() && QDir().mkpath(tempFolder()) && QFile::copy(built, executable());
    }

    bool isValid() const { return m_ok; }
    QString folder() const { return m_dir.path(); }
    QString executable() const { return m_dir.filePath(QStringLiteral("kdm")); }
    QString iniFile() const { return m_dir.filePath(QStringLiteral("kdm.ini")); }
    QString logFile() const { return m_dir.filePath(QStringLiteral("log.txt")); }
    QString dbFile() const { return m_dir.filePath(QStringLiteral("db/weights_data.DB")); }
    // The single-instance guard lives in the temporary folder: each install gets its own, so
    // tests running side by side do not see each other.
    QString tempFolder() const { return m_dir.filePath(QStringLiteral("tmp")); }

    // Starts the program with the install folder as its current directory.
    QProcess* start(QObject* owner, const QStringList& extraEnv = {}) const {
        auto* process = new QProcess(owner);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("TMPDIR"), tempFolder());
        for (const QString& pair : extraEnv)
            env.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
        process->setProcessEnvironment(env);
        process->setWorkingDirectory(folder());
        process->setProcessChannelMode(QProcess::SeparateChannels);
        process->start(executable(), {});
        return process;
    }

    static void terminate(QProcess* process) { ::kill(pid_t(process->processId()), SIGTERM); }

    QByteArray readFile(const QString& path) const {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    void writeFile(const QString& path, const QByteArray& content) const {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }

    QStringList logLines() const {
        QStringList lines;
        for (const QByteArray& line : readFile(logFile()).split('\n')) {
            if (!line.trimmed().isEmpty())
                lines.append(QString::fromUtf8(line).trimmed());
        }
        return lines;
    }

private:
    QTemporaryDir m_dir;
    bool m_ok = false;
};
