#pragma once

// Runs tools/terminal-sim/sim-pair from a test: a socat pty pair with kdm-terminal-sim on one
// end. The test opens device() as the program would, drives the simulator with control() and
// reads the ground-truth file with readTruth(). Needs the environment kdm_add_test sets
// (KDM_SOURCE_DIR, KDM_BINARY_DIR).

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

class SimPair {
public:
    SimPair() = default;
    ~SimPair() { stop(); }
    SimPair(const SimPair&) = delete;
    SimPair& operator=(const SimPair&) = delete;

    static QString simulatorPath() {
        return qEnvironmentVariable("KDM_BINARY_DIR") +
               QStringLiteral("/tools/terminal-sim/kdm-terminal-sim");
    }
    static QString scriptPath() {
        return qEnvironmentVariable("KDM_SOURCE_DIR") +
               QStringLiteral("/tools/terminal-sim/sim-pair");
    }

    // Starts the pair; simulatorArgs are kdm-terminal-sim options (not --device). pairArgs go
    // to sim-pair itself, such as {"--dir", path}. True once the simulator serves.
    bool start(const QStringList& simulatorArgs, const QStringList& pairArgs = {},
               int timeoutMs = 20000) {
        if (!QFileInfo(scriptPath()).isExecutable() || !QFileInfo(simulatorPath()).isExecutable()) {
            m_log = QStringLiteral("sim-pair or kdm-terminal-sim not found (%1, %2); run the test "
                                   "through ctest, which sets KDM_SOURCE_DIR and KDM_BINARY_DIR")
                        .arg(scriptPath(), simulatorPath());
            return false;
        }
        m_process.setProgram(scriptPath());
        m_process.setArguments(QStringList(pairArgs) << QStringLiteral("--sim") << simulatorPath()
                                                     << QStringLiteral("--") << simulatorArgs);
        m_process.start();
        const QDeadlineTimer deadline(timeoutMs);
        while (!m_process.canReadLine()) {
            if (deadline.hasExpired() || !pump(50))
                return false;
        }
        m_device = QString::fromLocal8Bit(m_process.readLine()).trimmed();
        return !m_device.isEmpty();
    }

    // The program's end of the line.
    const QString& device() const { return m_device; }

    // Everything sim-pair and the simulator have written on stderr so far.
    const QString& log() {
        pump(0);
        return m_log;
    }

    // Sends one control line and returns the simulator's answer ("done..." or "refused: ..."),
    // an empty string when none came in time. The answer is printed after the command took
    // effect, so what follows sees its result.
    QString control(const QString& line, int timeoutMs = 5000) {
        pump(0);
        const qsizetype from = m_log.size();
        m_process.write((line + QLatin1Char('\n')).toUtf8());
        const QString marker = QStringLiteral("control \"%1\" ").arg(line);
        const QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            const qsizetype at = m_log.indexOf(marker, from);
            if (at >= 0) {
                const qsizetype end = m_log.indexOf(QLatin1Char('\n'), at);
                if (end > at)
                    return m_log.mid(at + marker.size(), end - at - marker.size());
            }
            if (deadline.hasExpired() || !pump(20))
                return {};
        }
    }

    // Closes sim-pair's stdin, which stops the pair after the commands already sent, and
    // returns sim-pair's exit code; -1 when it did not end normally in time.
    int stop(int timeoutMs = 10000) {
        if (m_process.state() != QProcess::NotRunning)
            m_process.closeWriteChannel();
        return waitForExit(timeoutMs);
    }

    // Waits until sim-pair ends by itself; its exit code, -1 when it did not end normally.
    int waitForExit(int timeoutMs = 10000) {
        if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(timeoutMs)) {
            m_process.kill();
            m_process.waitForFinished(5000);
            return -1;
        }
        return finished();
    }

    QProcess& process() { return m_process; }

    // The ground-truth file, one object per line.
    static QList<QJsonObject> readTruth(const QString& path) {
        QList<QJsonObject> lines;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return lines;
        for (const QByteArray& line : file.readAll().split('\n')) {
            if (!line.trimmed().isEmpty())
                lines.append(QJsonDocument::fromJson(line).object());
        }
        return lines;
    }

private:
    // Collects output for up to waitMs; false once the process has ended and nothing is left.
    bool pump(int waitMs) {
        if (m_process.state() != QProcess::NotRunning)
            m_process.waitForReadyRead(waitMs);
        if (m_process.isOpen())
            m_log += QString::fromLocal8Bit(m_process.readAllStandardError());
        return m_process.state() != QProcess::NotRunning;
    }

    int finished() {
        pump(0);
        if (m_process.exitStatus() != QProcess::NormalExit)
            return -1;
        return m_process.exitCode();
    }

    QProcess m_process;
    QString m_device;
    QString m_log;
};
