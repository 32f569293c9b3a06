#pragma once

// A pair of connected pseudo terminals made by socat, reached through two symbolic links:
// whatever is written to one end is read at the other, like a null-modem cable.

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QThread>

class SocatPair {
public:
    SocatPair(QString nearLink, QString farLink)
        : m_near(std::move(nearLink))
        , m_far(std::move(farLink)) {}
    ~SocatPair() { kill(); }
    SocatPair(const SocatPair&) = delete;
    SocatPair& operator=(const SocatPair&) = delete;

    static bool available() { return !QStandardPaths::findExecutable("socat").isEmpty(); }

    // Starts socat and waits (at most `timeoutMs`) until both links exist.
    bool start(int timeoutMs = 5000) {
        m_process.setProgram(QStringLiteral("socat"));
        m_process.setArguments({QStringLiteral("pty,raw,echo=0,link=") + m_near,
                                QStringLiteral("pty,raw,echo=0,link=") + m_far});
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        if (!m_process.waitForStarted(timeoutMs))
            return false;
        const QDeadlineTimer deadline(timeoutMs);
        while (!(QFileInfo::exists(m_near) && QFileInfo::exists(m_far))) {
            if (deadline.hasExpired() || m_process.state() != QProcess::Running)
                return false;
            QThread::msleep(5);
        }
        return true;
    }

    // Ends socat at once, as a pulled cable or a crashed peer would; its ptys vanish.
    void kill() {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    const QString& nearLink() const { return m_near; }
    const QString& farLink() const { return m_far; }

private:
    QString m_near;
    QString m_far;
    QProcess m_process;
};
