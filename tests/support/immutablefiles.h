#pragma once

// Files made immutable (what chattr +i does) for a test: every write to them fails, also for root
// and through a descriptor a program holds already; on a folder, nothing can be made in it.

#include <QFile>
#include <QString>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

// Makes files immutable (what chattr +i does) while it lives: every write to them fails, also
// through a descriptor the program holds already. Needs root and a file system that keeps the
// flag (ext4, xfs, btrfs; not tmpfs).
class ImmutableFiles {
public:
    explicit ImmutableFiles(const QStringList& paths) {
        for (const QString& path : paths) {
            m_error = setImmutable(path, true);
            if (!m_error.isEmpty()) {
                release();
                return;
            }
            m_locked << path;
        }
    }
    ~ImmutableFiles() { release(); }
    ImmutableFiles(const ImmutableFiles&) = delete;
    ImmutableFiles& operator=(const ImmutableFiles&) = delete;

    const QString& error() const { return m_error; }

    void release() {
        for (const QString& path : std::as_const(m_locked))
            setImmutable(path, false);
        m_locked.clear();
    }

private:
    static QString setImmutable(const QString& path, bool on) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        int flags = 0;
        QString error;
        if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) {
            error = path + QStringLiteral(": cannot read the file's flags: ") +
                    QString::fromLocal8Bit(std::strerror(errno));
        } else {
            flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
            if (::ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0)
                error = path + QStringLiteral(": cannot set the immutable flag: ") +
                        QString::fromLocal8Bit(std::strerror(errno));
        }
        ::close(fd);
        return error;
    }

    QStringList m_locked;
    QString m_error;
};
