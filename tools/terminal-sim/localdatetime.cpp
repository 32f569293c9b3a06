#include "localdatetime.h"

#include <cstdio>

LocalDateTime LocalDateTime::fromTime(std::time_t t) {
    std::tm parts{};
    localtime_r(&t, &parts);
    return LocalDateTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                         parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

std::string LocalDateTime::text() const {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", 2000 + twoDigitYear(),
                  month, day, hour, minute, second);
    return buffer;
}
