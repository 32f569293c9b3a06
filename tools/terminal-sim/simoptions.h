#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The simulator's command line.
struct SimOptions {
    std::string device;           // --device PATH, the terminal's end of the line
    int slave = 1;                // --slave N, the terminal's network number 1..247
    int baud = 9600;              // --baud N
    std::optional<uint64_t> seed; // --seed N; random when absent
    unsigned scheduleMs = 0;      // --schedule MS, 0 = no scheduled weighings
    uint32_t counter = 0;         // --counter N, the starting WeighingCounter
    std::string truthPath;        // --truth PATH
    std::string controlPath;      // --control PATH
    bool readStdin = false;       // --stdin, or stdin is not a terminal
};

struct OptionsParse {
    std::optional<SimOptions> options; // empty when the program should not run
    std::string message;               // the error, or the help text for --help
    bool help = false;
};

OptionsParse parseOptions(int argc, const char* const* argv, bool stdinIsTerminal);

std::string usageText();
