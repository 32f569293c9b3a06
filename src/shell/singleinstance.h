#pragma once

#include <QLockFile>
#include <QString>

// The single-instance guard: a lock file named "KDM_mutex" in the temporary folder. The system
// frees it when the process dies, so a crashed instance never blocks the next start.
class SingleInstanceGuard {
public:
    explicit SingleInstanceGuard(const QString& folder);

    // True when this process now owns the guard; false when another running instance holds it.
    bool acquire();
    bool owns() const { return m_owned; }

private:
    QLockFile m_lock;
    bool m_owned = false;
};
