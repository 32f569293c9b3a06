#pragma once

#include <QLoggingCategory>

// Diagnostics of the program's life: start-up, close, the Alarm timer.
Q_DECLARE_LOGGING_CATEGORY(lcShell)
