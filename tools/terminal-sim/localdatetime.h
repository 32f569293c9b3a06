#pragma once

#include <ctime>
#include <string>

// A local calendar date and time as the terminal's clock shows it.
struct LocalDateTime {
    int year = 2000;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;

    static LocalDateTime fromTime(std::time_t t);
    static LocalDateTime now() { return fromTime(std::time(nullptr)); }

    // The terminal keeps a two-digit year; the full year is 2000 + that value.
    int twoDigitYear() const { return ((year % 100) + 100) % 100; }
    // "yyyy-MM-dd HH:mm:ss" with the year as the terminal reports it.
    std::string text() const;
};
