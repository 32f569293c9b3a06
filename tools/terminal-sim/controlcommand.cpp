#include "controlcommand.h"

#include <charconv>
#include <cmath>
#include <vector>

namespace {

std::vector<std::string_view> splitWords(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (at < line.size()) {
        const std::size_t start = line.find_first_not_of(" \t\r", at);
        if (start == std::string_view::npos)
            break;
        const std::size_t end = std::min(line.find_first_of(" \t\r", start), line.size());
        words.push_back(line.substr(start, end - start));
        at = end;
    }
    return words;
}

template <typename T> std::optional<T> parseWhole(std::string_view text, int base = 10) {
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// A weight as a single-precision value; from_chars ignores the locale, so "12.5" is the same
// everywhere. allowNonFinite admits "nan" and "inf" for the live weight only: the ring and the
// ground-truth file hold real weighings.
std::optional<float> parseWeight(std::string_view text, bool allowNonFinite) {
    float value = 0.0f;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    if (!allowNonFinite && !std::isfinite(value))
        return std::nullopt;
    return value;
}

ControlParse refuse(std::string message) {
    return ControlParse{std::nullopt, std::move(message)};
}

std::optional<FaultMode> faultByName(std::string_view name) {
    for (const FaultMode mode : {FaultMode::None, FaultMode::Drop, FaultMode::BadCrc,
                                 FaultMode::Exception, FaultMode::Split, FaultMode::OtherAddr}) {
        if (name == faultModeName(mode))
            return mode;
    }
    return std::nullopt;
}

} // namespace

const char* faultModeName(FaultMode mode) {
    switch (mode) {
    case FaultMode::None:
        return "none";
    case FaultMode::Drop:
        return "drop";
    case FaultMode::BadCrc:
        return "badcrc";
    case FaultMode::Exception:
        return "exception";
    case FaultMode::Split:
        return "split";
    case FaultMode::OtherAddr:
        return "otheraddr";
    }
    return "?";
}

ControlParse parseControlLine(std::string_view line) {
    const std::vector<std::string_view> words = splitWords(line);
    if (words.empty())
        return refuse("empty command");
    const std::string_view verb = words[0];
    const std::size_t args = words.size() - 1;
    ControlCommand command;

    if (verb == "weigh") {
        if (args > 2)
            return refuse("usage: weigh [component 1..16] [weight]");
        command.kind = ControlCommand::Kind::Weigh;
        if (args >= 1) {
            const auto component = parseWhole<int>(words[1]);
            if (!component || *component < 1 || *component > 16)
                return refuse("component must be a number from 1 to 16");
            command.component = component;
        }
        if (args == 2) {
            command.weight = parseWeight(words[2], false);
            if (!command.weight)
                return refuse("weight must be a finite number such as 12.5");
        }
    } else if (verb == "reset-counter") {
        if (args > 1)
            return refuse("usage: reset-counter [N]");
        command.kind = ControlCommand::Kind::ResetCounter;
        if (args == 1) {
            const auto counter = parseWhole<uint32_t>(words[1]);
            if (!counter)
                return refuse("counter must be a number from 0 to 4294967295");
            command.counter = *counter;
        }
    } else if (verb == "set-newest-weight") {
        if (args != 1)
            return refuse("usage: set-newest-weight W");
        command.kind = ControlCommand::Kind::SetNewestWeight;
        command.weight = parseWeight(words[1], false);
        if (!command.weight)
            return refuse("weight must be a finite number such as 12.5");
    } else if (verb == "inputs") {
        if (args != 1)
            return refuse("usage: inputs HEX");
        command.kind = ControlCommand::Kind::Inputs;
        std::string_view digits = words[1];
        if (digits.starts_with("0x") || digits.starts_with("0X"))
            digits.remove_prefix(2);
        const auto bits = digits.size() <= 2 ? parseWhole<unsigned>(digits, 16) : std::nullopt;
        if (!bits)
            return refuse("inputs must be a hexadecimal byte, 00 to FF");
        command.inputs = static_cast<uint8_t>(*bits);
    } else if (verb == "weight") {
        if (args != 1)
            return refuse("usage: weight W");
        command.kind = ControlCommand::Kind::Weight;
        command.weight = parseWeight(words[1], true);
        if (!command.weight)
            return refuse("weight must be a number such as 12.5");
    } else if (verb == "fault") {
        if (args < 1 || args > 2)
            return refuse("usage: fault none|drop|badcrc|exception|split|otheraddr [count]");
        command.kind = ControlCommand::Kind::Fault;
        const auto mode = faultByName(words[1]);
        if (!mode)
            return refuse("fault must be one of none, drop, badcrc, exception, split, otheraddr");
        command.fault = *mode;
        if (args == 2) {
            const auto count = parseWhole<unsigned>(words[2]);
            if (*mode == FaultMode::None || !count || *count == 0)
                return refuse("count must be a positive number, and only after a fault");
            command.faultCount = *count;
        }
    } else if (verb == "quit") {
        if (args != 0)
            return refuse("usage: quit");
        command.kind = ControlCommand::Kind::Quit;
    } else {
        return refuse("unknown command; known: weigh, reset-counter, set-newest-weight, inputs, "
                      "weight, fault, quit");
    }
    return ControlParse{command, {}};
}
