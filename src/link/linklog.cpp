#include "link/linklog.h"

Q_LOGGING_CATEGORY(lcLink, "kdm.link", QtInfoMsg)
