#include "shell/singleinstance.h"

#include <QDir>

SingleInstanceGuard::SingleInstanceGuard(const QString& folder)
    : m_lock(QDir(folder).filePath(QStringLiteral("KDM_mutex"))) {
    // An instance runs for months: the lock must never count as stale by its age, only when
    // the process that holds it is gone.
    m_lock.setStaleLockTime(0);
}

bool SingleInstanceGuard::acquire() {
    m_owned = m_owned || m_lock.tryLock(0);
    return m_owned;
}
