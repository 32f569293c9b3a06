#pragma once

#include <QLoggingCategory>

// Diagnostics of the terminal link: serial port, framing and poll cycle.
Q_DECLARE_LOGGING_CATEGORY(lcLink)
