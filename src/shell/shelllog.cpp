#include "shell/shelllog.h"

Q_LOGGING_CATEGORY(lcShell, "kdm.shell", QtInfoMsg)
