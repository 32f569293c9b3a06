#pragma once

// A pair of connected pseudo terminals made by socat, reached through two symbolic links:
// whatever is written to one end is read at the other, like a null-modem cable.
//
// A link is only trusted once it points at a pty this socat reports ("PTY is /dev/pts/N" with
// -d -d). A link left from an earlier socat that was killed (socat removes its links only when it
// ends in order) may point at a pty number the system has given to another pair since; taking it
// would put the test on another test's line.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <climits>
#include <unistd.h>

class SocatPair {
public:
    SocatPair(QString nearLink, QString farLink)
        : m_near(std::move(nearLink))
        , m_far(std::move(farLink)) {}
    ~SocatPair() { kill(); }
    SocatPair(const SocatPair&) = delete;
    SocatPair& operator=(const SocatPair&) = delete;

    static bool available() { return !QStandardPaths::findExecutable("socat").isEmpty(); }

    // Removes whatever the two link names hold, starts socat and waits (at most `timeoutMs`)
    // until both links point at the two ptys socat made.
    bool start(int timeoutMs = 5000) {
        removeLink(m_near);
        removeLink(m_far);
        m_ptys.clear();
        m_log.clear();
        m_process.setProgram(QStringLiteral("socat"));
        m_process.setArguments({QStringLiteral("-d"), QStringLiteral("-d"),
                                QStringLiteral("pty,raw,echo=0,link=") + m_near,
                                QStringLiteral("pty,raw,echo=0,link=") + m_far});
        // socat writes nothing on stdout here; its messages are read for the pty names.
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start();
        if (!m_process.waitForStarted(timeoutMs))
            return false;
        const QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            readMessages();
            if (isOurs(m_near) && isOurs(m_far) && linkTarget(m_near) != linkTarget(m_far))
                return true;
            if (deadline.hasExpired() || m_process.state() != QProcess::Running)
                return false;
            m_process.waitForReadyRead(5);
        }
    }

    // Ends socat at once, as a pulled cable or a crashed peer would; its ptys vanish. A killed
    // socat leaves its links behind, so they are removed here, while their pty numbers cannot
    // have gone to another pair yet.
    void kill() {
        if (m_process.state() == QProcess::NotRunning)
            return;
        readMessages();
        const bool nearOurs = isOurs(m_near);
        const bool farOurs = isOurs(m_far);
        m_process.kill();
        m_process.waitForFinished(5000);
        if (nearOurs)
            removeLink(m_near);
        if (farOurs)
            removeLink(m_far);
    }

    const QString& nearLink() const { return m_near; }
    const QString& farLink() const { return m_far; }
    // The ptys socat reported, in the order of the links.
    const QStringList& ptys() const { return m_ptys; }
    // socat's messages so far.
    const QString& log() const { return m_log; }

    // Where a symbolic link points, as written in the link; empty when `path` is none.
    static QString linkTarget(const QString& path) {
        char target[PATH_MAX];
        const ssize_t n = ::readlink(QFile::encodeName(path).constData(), target, sizeof target);
        return n > 0 ? QFile::decodeName(QByteArray(target, n)) : QString();
    }

private:
    void readMessages() {
        if (!m_process.isOpen())
            return;
        m_log += QString::fromLocal8Bit(m_process.readAll());
        static const QRegularExpression ptyLine(QStringLiteral(" PTY is (\\S+)"));
        m_ptys.clear();
        for (auto it = ptyLine.globalMatch(m_log); it.hasNext();)
            m_ptys.append(it.next().captured(1));
    }

    bool isOurs(const QString& link) const {
        const QString target = linkTarget(link);
        return !target.isEmpty() && m_ptys.contains(target);
    }

    static void removeLink(const QString& path) { ::unlink(QFile::encodeName(path).constData()); }

    QString m_near;
    QString m_far;
    QStringList m_ptys;
    QString m_log;
    QProcess m_process;
};
