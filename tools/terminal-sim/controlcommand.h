#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// How the simulator spoils its next replies.
enum class FaultMode {
    None,
    Drop,      // no reply at all
    BadCrc,    // the correct reply with a corrupted CRC
    Exception, // exception reply, function | 0x80, code 4 (server failure)
    Split,     // the correct reply written in two parts with a pause between them
    OtherAddr, // the correct reply, but from the next slave address
};

const char* faultModeName(FaultMode mode);

// One line of the control channel, parsed.
struct ControlCommand {
    enum class Kind { Weigh, ResetCounter, SetNewestWeight, Inputs, Weight, Fault, Quit };

    Kind kind = Kind::Quit;
    std::optional<int> component; // Weigh: 1..16, random when absent
    std::optional<float> weight;  // Weigh (random when absent), SetNewestWeight, Weight
    uint32_t counter = 0;         // ResetCounter
    uint8_t inputs = 0;           // Inputs: bit k is input k + 1
    FaultMode fault = FaultMode::None;
    unsigned faultCount = 0; // Fault: number of replies to spoil, 0 = until "fault none"
};

struct ControlParse {
    std::optional<ControlCommand> command; // empty on error
    std::string error;                     // why the line was refused
};

// Parses "weigh [component] [weight]", "reset-counter [N]", "set-newest-weight W",
// "inputs HEX", "weight W", "fault none|drop|badcrc|exception|split|otheraddr [count]", "quit".
// Numbers are read the same way in every locale.
ControlParse parseControlLine(std::string_view line);
