// kdm-terminal-sim: plays the weighing and dosing terminal on a serial line, as a Modbus RTU
// slave, for the demo and the end-to-end tests.
#include "simoptions.h"
#include "terminalserver.h"

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv) {
    const sigset_t waitMask = TerminalServer::takeStopSignals();

    const OptionsParse parse = parseOptions(argc, argv, isatty(STDIN_FILENO) != 0);
    if (!parse.options) {
        if (parse.help) {
            std::fputs(parse.message.c_str(), stdout);
            return 0;
        }
        std::fprintf(stderr, "kdm-terminal-sim: %s (--help lists the options)\n",
                     parse.message.c_str());
        return 2;
    }

    TerminalServer server(*parse.options);
    const ServerStart started = server.start();
    if (!started.ok) {
        std::fprintf(stderr, "kdm-terminal-sim: %s\n", started.error.c_str());
        return 1;
    }
    // Scripts and tests wait for this line before they open the other end.
    std::puts("ready");
    std::fflush(stdout);
    return server.run(waitMask);
}
