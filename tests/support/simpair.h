#pragma once

// The terminal simulator on one end of a socat pty pair, started through the project's
// tools/terminal-sim/sim-pair: the test (or benchmark) opens device() as the program would,
// drives the simulator with control lines (control() waits for the simulator's answer, command()
// does not) and reads the ground-truth file with truth().
//
// The paths come from the environment kdm_add_test sets (KDM_SOURCE_DIR, KDM_BINARY_DIR), so a
// test always runs the simulator of its own build. Elsewhere (poll_timing) they come from
// KDM_SOURCE_DIR_DEFAULT and KDM_BINARY_DIR_DEFAULT if the target defines them, and
// KDM_TERMINAL_SIM may name another simulator binary.

#include "groundtruth.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdio>

class SimPair {
public:
    SimPair() {
        QObject::connect(&m_process, &QProcess::readyReadStandardError, [this] { takeLog(); });
    }
    ~SimPair() {
        stop();
        QObject::disconnect(&m_process, nullptr, nullptr, nullptr);
    }
    SimPair(const SimPair&) = delete;
    SimPair& operator=(const SimPair&) = delete;

    static QString simulatorPath() {
        const QString given = qEnvironmentVariable("KDM_TERMINAL_SIM");
        if (!given.isEmpty() && qEnvironmentVariableIsEmpty("KDM_BINARY_DIR"))
            return given;
        return binaryDir() + QStringLiteral("/tools/terminal-sim/kdm-terminal-sim");
    }
    static QString scriptPath() {
        return sourceDir() + QStringLiteral("/tools/terminal-sim/sim-pair");
    }
    // Why the pair cannot run here; empty when it can.
    static QString unavailableReason() {
        if (!QFileInfo(simulatorPath()).isExecutable())
            return QStringLiteral("simulator not built: %1 (run the test through ctest, which "
                                  "sets KDM_SOURCE_DIR and KDM_BINARY_DIR)")
                .arg(simulatorPath());
        if (!QFileInfo::exists(scriptPath()))
            return QStringLiteral("no sim-pair script: ") + scriptPath();
        if (QStandardPaths::findExecutable(QStringLiteral("socat")).isEmpty())
            return QStringLiteral("socat is not installed");
        return {};
    }

    // Also writes what sim-pair and the simulator say on stderr of this process as it comes,
    // so that it shows in the output of a test or benchmark (log() has it either way).
    void setEchoLog(bool on) { m_echo = on; }

    // Starts the pair; simulatorArgs are kdm-terminal-sim options (not --device), pairArgs go to
    // sim-pair itself, such as {"--dir", path}. Without a --truth among simulatorArgs the
    // ground-truth file is one in a temporary folder of this pair. True once the simulator
    // serves; else log() says why.
    bool start(const QStringList& simulatorArgs, const QStringList& pairArgs = {},
               int timeoutMs = 20000) {
        m_log = unavailableReason();
        if (!m_log.isEmpty())
            return false;
        QStringList args =
            QStringList{scriptPath()} + pairArgs +
            QStringList{QStringLiteral("--sim"), simulatorPath(), QStringLiteral("--")} +
            simulatorArgs;
        m_truthPath = truthOption(simulatorArgs);
        if (m_truthPath.isEmpty()) {
            if (!m_dir.isValid()) {
                m_log = QStringLiteral("no temporary folder for the ground-truth file");
                return false;
            }
            m_truthPath = m_dir.filePath(QStringLiteral("truth.jsonl"));
            args << QStringLiteral("--truth") << m_truthPath;
        }
        // sim-pair prints the device on stdout once the simulator serves.
        m_process.start(QStringLiteral("bash"), args);
        const QDeadlineTimer deadline(timeoutMs);
        while (!m_process.canReadLine()) {
            if (deadline.hasExpired() || !pump(50))
                return false;
        }
        m_device = QString::fromLocal8Bit(m_process.readLine()).trimmed();
        return !m_device.isEmpty() && QFileInfo::exists(m_device);
    }

    // The program's end of the line.
    const QString& device() const { return m_device; }

    const QString& truthPath() const { return m_truthPath; }
    // The weighings recorded so far, in recording order (corrections included, marked).
    QList<TruthRecord> truth() const { return readTruthRecords(m_truthPath); }

    // Everything sim-pair and the simulator have written on stderr so far.
    const QString& log() {
        pump(0);
        return m_log;
    }

    // Sends one control line ("weigh 3 12.5", "fault drop 4", ...) and goes on at once.
    void command(const QString& line) {
        m_process.write(line.toUtf8() + '\n');
        m_process.waitForBytesWritten(1000);
    }

    // Sends one control line and returns the simulator's answer ("done..." or "refused: ..."),
    // an empty string when none came in time. The answer is printed after the command took
    // effect, so what follows sees its result. The log is looked at every 20 ms, so a control
    // line takes about that long: the end-to-end tests are paced by it (45 weighings in a spell
    // of dropped replies last long enough for the program to count the link as down).
    QString control(const QString& line, int timeoutMs = 5000) {
        pump(0);
        const qsizetype from = m_log.size();
        command(line);
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

    // Waits until sim-pair ends by itself; its exit code, -1 when it did not end normally in
    // time. One that does not end is stopped with SIGTERM, so that it still stops socat and the
    // simulator and removes its links; SIGKILL only when that fails too.
    int waitForExit(int timeoutMs = 10000) {
        if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(timeoutMs)) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000)) {
                m_process.kill();
                m_process.waitForFinished(5000);
            }
            takeLog();
            return -1;
        }
        takeLog();
        if (m_process.exitStatus() != QProcess::NormalExit)
            return -1;
        return m_process.exitCode();
    }

    QProcess& process() { return m_process; }

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

    // The value of --truth PATH or --truth=PATH; empty when not given.
    static QString truthOption(const QStringList& args) {
        for (qsizetype i = 0; i < args.size(); ++i) {
            if (args[i] == QLatin1String("--truth") && i + 1 < args.size())
                return args[i + 1];
            if (args[i].startsWith(QLatin1String("--truth=")))
                return args[i].mid(8);
        }
        return {};
    }

    // Collects output for up to waitMs (stdout, the read channel, says nothing after the device,
    // so this waits the whole time unless the process ends); false once the process has ended.
    bool pump(int waitMs) {
        if (m_process.state() != QProcess::NotRunning)
            m_process.waitForReadyRead(waitMs);
        takeLog();
        return m_process.state() != QProcess::NotRunning;
    }

    void takeLog() {
        if (!m_process.isOpen())
            return;
        const QByteArray text = m_process.readAllStandardError();
        if (text.isEmpty())
            return;
        if (m_echo) {
            std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
            std::fflush(stderr);
        }
        m_log += QString::fromLocal8Bit(text);
    }

    QTemporaryDir m_dir;
    QString m_device;
    QString m_truthPath;
    QString m_log;
    bool m_echo = false;
    // Last, so that it goes first: nothing of it can reach the members above once they are gone.
    QProcess m_process;
};
