#pragma once

// The terminal simulator on one end of a socat pty pair, started through the project's sim-pair
// script; the program's end is device(). Control lines go to the simulator through the script's
// stdin. Used by the end-to-end tests and the timing benchmark.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <vector>

// One weighing as the simulator recorded it in its ground-truth file.
struct TruthWeighing {
    quint32 number = 0;
    int slot = 0;
    double weight = 0;
    int component = 0; // as the terminal numbers it, 1..16
    bool corrected = false;
};

class SimPair {
public:
    SimPair() = default;
    ~SimPair() { stop(); }
    SimPair(const SimPair&) = delete;
    SimPair& operator=(const SimPair&) = delete;

    static QString simulatorPath() {
        const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (env.contains(QStringLiteral("KDM_TERMINAL_SIM")))
            return env.value(QStringLiteral("KDM_TERMINAL_SIM"));
        return binaryDir() + QStringLiteral("/tools/terminal-sim/kdm-terminal-sim");
    }
    static QString scriptPath() {
        return sourceDir() + QStringLiteral("/tools/terminal-sim/sim-pair");
    }
    // Why the pair cannot run here; empty when it can.
    static QString unavailableReason() {
        if (!QFileInfo(simulatorPath()).isExecutable())
            return QStringLiteral("simulator not built: ") + simulatorPath();
        if (!QFileInfo::exists(scriptPath()))
            return QStringLiteral("no sim-pair script: ") + scriptPath();
        return {};
    }

    // Starts the pair with these simulator options (a truth file is always added) and waits until
    // the simulator serves.
    bool start(const QStringList& simulatorOptions, int timeoutMs = 15000) {
        if (!m_dir.isValid())
            return false;
        m_truthPath = m_dir.filePath(QStringLiteral("truth.jsonl"));
        QStringList args = {scriptPath(),
                            QStringLiteral("--sim"),
                            simulatorPath(),
                            QStringLiteral("--dir"),
                            m_dir.filePath(QStringLiteral("pair")),
                            QStringLiteral("--"),
                            QStringLiteral("--truth"),
                            m_truthPath};
        args += simulatorOptions;
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("bash"), args);
        if (!m_process.waitForStarted(timeoutMs))
            return false;
        const QDeadlineTimer deadline(timeoutMs);
        while (!m_process.canReadLine()) {
            if (deadline.hasExpired() || m_process.state() != QProcess::Running)
                return false;
            m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        }
        m_device = QString::fromLocal8Bit(m_process.readLine()).trimmed();
        return QFileInfo::exists(m_device);
    }

    // One control line ("weigh 3 12.5", "fault drop 4", ...).
    void command(const QString& line) {
        m_process.write(line.toUtf8() + '\n');
        m_process.waitForBytesWritten(1000);
    }

    // Closing stdin makes sim-pair quit the simulator after the commands already sent.
    void stop() {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(10000)) {
            m_process.terminate();
            m_process.waitForFinished(5000);
        }
    }

    QString device() const { return m_device; }

    // The weighings recorded so far, in recording order (corrections included, marked).
    std::vector<TruthWeighing> truth() const {
        std::vector<TruthWeighing> list;
        QFile file(m_truthPath);
        if (!file.open(QIODevice::ReadOnly))
            return list;
        while (!file.atEnd()) {
            const QJsonObject o = QJsonDocument::fromJson(file.readLine()).object();
            if (o.isEmpty())
                continue;
            TruthWeighing w;
            w.number = quint32(o.value(QStringLiteral("number")).toInteger());
            w.slot = o.value(QStringLiteral("slot")).toInt();
            w.weight = o.value(QStringLiteral("weight")).toDouble();
            w.component = o.value(QStringLiteral("component")).toInt();
            w.corrected = o.value(QStringLiteral("corrected")).toBool();
            list.push_back(w);
        }
        return list;
    }

private:
    static QString sourceDir() {
        const QString dir = qEnvironmentVariable("KDM_SOURCE_DIR");
#ifdef KDM_SOURCE_DIR_DEFAULT
        if (dir.isEmpty())
            return QStringLiteral(KDM_SOURCE_DIR_DEFAULT);
#endif
        return dir;
    }
    static QString binaryDir() {
        const QString dir = qEnvironmentVariable("KDM_BINARY_DIR");
#ifdef KDM_BINARY_DIR_DEFAULT
        if (dir.isEmpty())
            return QStringLiteral(KDM_BINARY_DIR_DEFAULT);
#endif
        return dir;
    }

    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_device;
    QString m_truthPath;
};
