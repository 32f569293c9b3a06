#pragma once

#include "controlcommand.h"
#include "lineinput.h"
#include "simoptions.h"
#include "terminalmodel.h"
#include "truthlog.h"

#include <modbus/modbus.h>
#include <signal.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

struct ServerStart {
    bool ok = false;
    std::string error;
};

// The terminal on its serial line: libmodbus receives the master's requests and sends the
// normal replies from the model's register image; the simulator writes the spoiled replies
// itself. Between requests it reads the control channels and records scheduled weighings, all
// in one poll loop, so nothing is shared between threads.
class TerminalServer {
public:
    explicit TerminalServer(SimOptions options);
    ~TerminalServer();
    TerminalServer(const TerminalServer&) = delete;
    TerminalServer& operator=(const TerminalServer&) = delete;

    // Blocks SIGTERM and SIGINT (they are taken only while the loop waits, so a request is never
    // cut in half) and returns the signal mask to wait with. Call before anything else.
    static sigset_t takeStopSignals();

    // Opens the device, the ground-truth file and the control FIFO and fills the ring's history.
    ServerStart start();
    // Serves until "quit", SIGTERM or SIGINT (exit code 0) or until the line hangs up (1).
    int run(const sigset_t& waitMask);

private:
    struct WriteCheck {
        bool isWrite = false;
        bool allowed = true; // only the command register may be written
        std::optional<uint16_t> commandWord;
    };

    // False when the line is gone.
    bool serveRequest();
    void handleRequest(std::span<const uint8_t> request);
    WriteCheck checkWrite(std::span<const uint8_t> request) const;
    void carryOutCommand(uint16_t word);
    FaultMode takeFault();
    void sendSpoiled(std::vector<uint8_t> frame, FaultMode fault);
    bool writeAll(std::span<const uint8_t> bytes);

    void readControl(LineInput& input, bool& open, const char* name);
    void handleControlLine(const std::string& line);
    std::string carryOut(const ControlCommand& command);

    RecordedWeighing recordWeighing(int component, float weight, const LocalDateTime& at,
                                    bool announce);
    float randomWeight();
    int randomComponent();

    SimOptions m_options;
    modbus_t* m_context = nullptr;
    TerminalModel m_model;
    TruthLog m_truth;
    std::mt19937_64 m_random;
    std::optional<LineInput> m_control;
    std::optional<LineInput> m_stdin;
    bool m_controlOpen = false;
    bool m_stdinOpen = false;
    bool m_removeControlFifo = false;
    bool m_quit = false;
    FaultMode m_fault = FaultMode::None;
    unsigned m_faultLeft = 0; // 0 with a fault set: until "fault none"
    std::chrono::steady_clock::time_point m_nextWeighing;
};
