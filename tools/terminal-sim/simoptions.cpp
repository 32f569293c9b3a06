#include "simoptions.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string_view>

namespace {

template <typename T> std::optional<T> parseNumber(std::string_view text, T low, T high) {
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high)
        return std::nullopt;
    return value;
}

// The rates a serial line to the terminal can run at.
constexpr std::array<int, 9> Bauds{1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};

OptionsParse fail(const std::string& message) {
    return OptionsParse{std::nullopt, message, false};
}

} // namespace

std::string usageText() {
    return "usage: kdm-terminal-sim --device PATH [options]\n"
           "Plays the weighing terminal as a Modbus RTU slave on a serial device.\n"
           "  --device PATH    serial device (for example one end of a socat pty pair)\n"
           "  --slave N        network number, 1..247 (default 1)\n"
           "  --baud N         baud rate (default 9600)\n"
           "  --seed N         seed of the random weights and components\n"
           "  --schedule MS    record a weighing every MS milliseconds (0 = never, default)\n"
           "  --counter N      starting weighing counter; the ring holds the last 40 of them\n"
           "  --truth PATH     write every recorded weighing to PATH, one JSON object a line\n"
           "  --control PATH   read control commands from the FIFO PATH (created if missing)\n"
           "  --stdin          read control commands from stdin even when it is a terminal\n"
           "Control commands: weigh [component] [weight], reset-counter [N],\n"
           "  set-newest-weight W, inputs HEX, weight W,\n"
           "  fault none|drop|badcrc|exception|split|otheraddr [count], quit\n";
}

OptionsParse parseOptions(int argc, const char* const* argv, bool stdinIsTerminal) {
    SimOptions options;
    options.readStdin = !stdinIsTerminal;
    for (int i = 1; i < argc; ++i) {
        std::string_view name = argv[i];
        std::optional<std::string_view> inlineValue;
        if (const auto eq = name.find('=');
            name.starts_with("--") && eq != std::string_view::npos) {
            inlineValue = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        if (name == "--help" || name == "-h")
            return OptionsParse{std::nullopt, usageText(), true};
        if (name == "--stdin") {
            if (inlineValue)
                return fail("--stdin takes no value");
            options.readStdin = true;
            continue;
        }
        std::string_view value;
        if (inlineValue) {
            value = *inlineValue;
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            return fail(std::string(name) + " needs a value");
        }
        const std::string bad =
            std::string("bad value for ") + std::string(name) + ": " + std::string(value);

        if (name == "--device") {
            if (value.empty())
                return fail(bad);
            options.device = value;
        } else if (name == "--slave") {
            const auto slave = parseNumber<int>(value, 1, 247);
            if (!slave)
                return fail(bad + " (1..247)");
            options.slave = *slave;
        } else if (name == "--baud") {
            const auto baud = parseNumber<int>(value, 1, 1000000);
            if (!baud || std::find(Bauds.begin(), Bauds.end(), *baud) == Bauds.end())
                return fail(bad + " (1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200 or "
                                  "230400)");
            options.baud = *baud;
        } else if (name == "--seed") {
            const auto seed = parseNumber<uint64_t>(value, 0, UINT64_MAX);
            if (!seed)
                return fail(bad);
            options.seed = *seed;
        } else if (name == "--schedule") {
            const auto ms = parseNumber<unsigned>(value, 0, 86400000u);
            if (!ms)
                return fail(bad + " (milliseconds, 0..86400000)");
            options.scheduleMs = *ms;
        } else if (name == "--counter") {
            const auto counter = parseNumber<uint32_t>(value, 0, UINT32_MAX);
            if (!counter)
                return fail(bad + " (0..4294967295)");
            options.counter = *counter;
        } else if (name == "--truth") {
            if (value.empty())
                return fail(bad);
            options.truthPath = value;
        } else if (name == "--control") {
            if (value.empty())
                return fail(bad);
            options.controlPath = value;
        } else {
            return fail("unknown option " + std::string(name));
        }
    }
    if (options.device.empty())
        return fail("--device PATH is required");
    return OptionsParse{options, {}, false};
}
