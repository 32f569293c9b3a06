#include "terminalserver.h"

#include "rtureply.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

volatile sig_atomic_t g_stopSignal = 0;

void noteStopSignal(int signal) {
    g_stopSignal = signal;
}

// The pause inside a split reply: longer than the master's 20 ms end-of-reply silence, so the
// master sees two replies.
constexpr auto SplitPause = std::chrono::milliseconds(40);
// A gap this long inside a request ends it; short, so that after line noise the next request is
// not swallowed into the broken one.
constexpr uint32_t RequestByteTimeoutUs = 100000;

[[gnu::format(printf, 1, 2)]] void say(const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    std::fprintf(stderr, "kdm-terminal-sim: %s\n", buffer);
}

std::string weighingText(const RecordedWeighing& w) {
    return "weighing " + std::to_string(w.number) + " slot " + std::to_string(w.slot) +
           " component " + std::to_string(w.component) + " weight " +
           TruthLog::weightText(w.weight) + " at " + w.at.text();
}

int registerAt(std::span<const uint8_t> request, std::size_t at) {
    return (request[at] << 8) | request[at + 1];
}

} // namespace

TerminalServer::TerminalServer(SimOptions options)
    : m_options(std::move(options))
    , m_model(LocalDateTime::now()) {}

TerminalServer::~TerminalServer() {
    if (m_context) {
        modbus_close(m_context);
        modbus_free(m_context);
    }
    if (m_control)
        ::close(m_control->fd());
    if (m_removeControlFifo)
        ::unlink(m_options.controlPath.c_str());
}

sigset_t TerminalServer::takeStopSignals() {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &stopSignals, &previous);

    struct sigaction action {};
    action.sa_handler = noteStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    // A reader of stdout that went away must not kill the terminal.
    std::signal(SIGPIPE, SIG_IGN);

    sigdelset(&previous, SIGTERM);
    sigdelset(&previous, SIGINT);
    return previous;
}

ServerStart TerminalServer::start() {
    const uint64_t seed = m_options.seed ? *m_options.seed : std::random_device{}();
    m_random.seed(seed);
    say("seed %llu (repeat with --seed %llu)", static_cast<unsigned long long>(seed),
        static_cast<unsigned long long>(seed));

    if (!m_options.truthPath.empty()) {
        const TruthOpen truth = m_truth.open(m_options.truthPath);
        if (!truth.ok)
            return ServerStart{false, "cannot write the ground-truth file " + truth.error};
    }

    if (!m_options.controlPath.empty()) {
        const char* path = m_options.controlPath.c_str();
        struct stat info {};
        if (::stat(path, &info) == 0) {
            if (!S_ISFIFO(info.st_mode))
                return ServerStart{false, m_options.controlPath + " exists and is not a FIFO"};
        } else if (::mkfifo(path, 0600) == 0) {
            m_removeControlFifo = true;
        } else {
            return ServerStart{false, "cannot create the control FIFO " + m_options.controlPath +
                                          ": " + std::strerror(errno)};
        }
        // Opened for writing too, so that the FIFO never reads as ended when a writer leaves.
        const int fd = ::open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return ServerStart{false, "cannot open the control FIFO " + m_options.controlPath +
                                          ": " + std::strerror(errno)};
        m_control.emplace(fd);
        m_controlOpen = true;
    }
    if (m_options.readStdin) {
        m_stdin.emplace(STDIN_FILENO);
        m_stdinOpen = true;
    }

    m_context = modbus_new_rtu(m_options.device.c_str(), m_options.baud, 'N', 8, 1);
    if (!m_context)
        return ServerStart{false,
                           "cannot set up the RTU line: " + std::string(modbus_strerror(errno))};
    modbus_set_slave(m_context, m_options.slave);
    modbus_set_byte_timeout(m_context, 0, RequestByteTimeoutUs);
    if (modbus_connect(m_context) != 0)
        return ServerStart{false, "cannot open " + m_options.device + ": " +
                                      std::string(modbus_strerror(errno))};

    // A terminal that has counted N weighings holds the last 40 of them in its ring.
    const uint32_t history = std::min<uint32_t>(m_options.counter, TerminalModel::RingSize);
    m_model.startCounterAt(m_options.counter - history);
    const std::time_t now = std::time(nullptr);
    for (uint32_t k = 1; k <= history; ++k) {
        const auto minutesAgo = static_cast<std::time_t>(history - k + 1);
        recordWeighing(randomComponent(), randomWeight(),
                       LocalDateTime::fromTime(now - 60 * minutesAgo), false);
    }
    if (history > 0)
        say("ring holds weighings %u..%u, RingHead %d", m_options.counter - history + 1,
            m_options.counter, m_model.ringHead());

    say("slave %d on %s at %d baud, counter %u%s", m_options.slave, m_options.device.c_str(),
        m_options.baud, m_model.weighingCounter(),
        m_options.scheduleMs
            ? (", a weighing every " + std::to_string(m_options.scheduleMs) + " ms").c_str()
            : "");
    return ServerStart{true, {}};
}

int TerminalServer::run(const sigset_t& waitMask) {
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::milliseconds(m_options.scheduleMs);
    m_nextWeighing = Clock::now() + period;
    const int serialFd = modbus_get_socket(m_context);

    while (!m_quit && g_stopSignal == 0) {
        std::vector<pollfd> fds{{serialFd, POLLIN, 0}};
        if (m_controlOpen)
            fds.push_back({m_control->fd(), POLLIN, 0});
        if (m_stdinOpen)
            fds.push_back({m_stdin->fd(), POLLIN, 0});

        timespec wait{};
        timespec* waitFor = nullptr;
        if (m_options.scheduleMs > 0) {
            const auto left = std::max(Clock::duration::zero(), m_nextWeighing - Clock::now());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            wait.tv_sec = static_cast<time_t>(ns / 1000000000);
            wait.tv_nsec = static_cast<long>(ns % 1000000000);
            waitFor = &wait;
        }
        const int ready = ::ppoll(fds.data(), fds.size(), waitFor, &waitMask);
        if (ready < 0 && errno != EINTR) {
            say("poll failed: %s", std::strerror(errno));
            return 1;
        }
        if (ready > 0) {
            // With a descriptor always ready, ppoll may return before taking the signal.
            sigset_t pending;
            sigpending(&pending);
            if (sigismember(&pending, SIGTERM) || sigismember(&pending, SIGINT)) {
                g_stopSignal = sigismember(&pending, SIGTERM) ? SIGTERM : SIGINT;
                break;
            }
            // Checked before the data: a pty whose other side has gone stays readable for ever.
            const short serial = fds[0].revents;
            if ((serial & (POLLHUP | POLLERR | POLLNVAL)) ||
                ((serial & POLLIN) && !serveRequest())) {
                say("the line %s hung up; stopping", m_options.device.c_str());
                return 1;
            }
            std::size_t next = 1;
            if (m_controlOpen && (fds[next++].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)))
                readControl(*m_control, m_controlOpen, "control FIFO");
            if (m_stdinOpen && (fds[next++].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)))
                readControl(*m_stdin, m_stdinOpen, "stdin");
        }
        if (m_options.scheduleMs > 0 && Clock::now() >= m_nextWeighing) {
            recordWeighing(randomComponent(), randomWeight(), LocalDateTime::now(), true);
            m_nextWeighing += period;
            // After a long stall, go on from now rather than catching up in a burst.
            if (m_nextWeighing < Clock::now())
                m_nextWeighing = Clock::now() + period;
        }
    }
    if (g_stopSignal != 0)
        say("stopped by signal %d", static_cast<int>(g_stopSignal));
    else
        say("stopped by quit");
    return 0;
}

bool TerminalServer::serveRequest() {
    uint8_t request[MODBUS_RTU_MAX_ADU_LENGTH];
    const int length = modbus_receive(m_context, request);
    if (length > 0) {
        handleRequest(std::span<const uint8_t>(request, static_cast<std::size_t>(length)));
        return true;
    }
    if (length < 0 && (errno == ECONNRESET || errno == EIO || errno == EBADF || errno == ENXIO))
        return false; // the line itself is gone
    if (length < 0) {
        // libmodbus's own server loop would stop here; a terminal forgets the broken frame and
        // waits for the next request. Only the input is flushed: a reply still on its way out
        // must not be lost.
        say("bad request ignored: %s", modbus_strerror(errno));
        tcflush(modbus_get_socket(m_context), TCIFLUSH);
    }
    // 0: a whole request for another slave, which this one does not answer.
    return true;
}

void TerminalServer::handleRequest(std::span<const uint8_t> request) {
    const bool broadcast = request[0] == MODBUS_BROADCAST_ADDRESS;
    const int function = request[1];
    const FaultMode fault = broadcast ? FaultMode::None : takeFault();

    if (fault == FaultMode::Exception) {
        // The terminal refused the request: a command is not carried out.
        say("fault exception: function %d answered with exception 4", function);
        modbus_reply_exception(m_context, request.data(), MODBUS_EXCEPTION_SLAVE_OR_SERVER_FAILURE);
        return;
    }

    const WriteCheck write = checkWrite(request);
    if (write.isWrite && !write.allowed)
        say("refused a write (function %d) outside the command register", function);
    if (write.commandWord)
        carryOutCommand(*write.commandWord);

    if (broadcast)
        return; // a broadcast is never answered
    if (fault == FaultMode::Drop) {
        say("fault drop: no reply to function %d", function);
        return;
    }
    if (fault == FaultMode::None) {
        if (write.isWrite && !write.allowed)
            modbus_reply_exception(m_context, request.data(),
                                   MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
        else
            modbus_reply(m_context, request.data(), static_cast<int>(request.size()),
                         m_model.mapping());
        return;
    }
    sendSpoiled(write.isWrite && !write.allowed
                    ? rtureply::exceptionFrame(request, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS)
                    : rtureply::normalFrame(*m_model.mapping(), request),
                fault);
}

TerminalServer::WriteCheck TerminalServer::checkWrite(std::span<const uint8_t> request) const {
    WriteCheck check;
    switch (request[1]) {
    case MODBUS_FC_WRITE_SINGLE_REGISTER:
        check.isWrite = true;
        check.allowed =
            request.size() >= 8 && registerAt(request, 2) == TerminalModel::CommandRegister;
        if (check.allowed)
            check.commandWord = static_cast<uint16_t>(registerAt(request, 4));
        break;
    case MODBUS_FC_WRITE_MULTIPLE_REGISTERS:
        check.isWrite = true;
        check.allowed = request.size() >= 9 &&
                        registerAt(request, 2) == TerminalModel::CommandRegister &&
                        registerAt(request, 4) == 1;
        // A malformed write of the command register gets libmodbus's own exception reply.
        if (check.allowed && request[6] == 2 && request.size() >= 11)
            check.commandWord = static_cast<uint16_t>(registerAt(request, 7));
        break;
    case MODBUS_FC_WRITE_SINGLE_COIL:
    case MODBUS_FC_WRITE_MULTIPLE_COILS:
    case MODBUS_FC_MASK_WRITE_REGISTER:
    case MODBUS_FC_WRITE_AND_READ_REGISTERS:
        // The outputs and the records belong to the terminal; a stray write would also make the
        // image disagree with the ground-truth file.
        check.isWrite = true;
        check.allowed = false;
        break;
    default:
        break;
    }
    return check;
}

void TerminalServer::carryOutCommand(uint16_t word) {
    m_model.setCommandWord(word);
    const int code = word & 0xFF;
    const int input = word >> 8;
    if (code != 1) {
        say("command 0x%04X: unknown command code %d, nothing done", word, code);
        return;
    }
    if (input > 23) {
        say("command 0x%04X: start input %d, but the terminal has inputs 1..24; nothing done", word,
            input + 1);
        return;
    }
    // The started input shows on its output, and its dosing ends in a weighing.
    const int output = input % TerminalModel::CoilCount;
    m_model.setOutputs(static_cast<uint8_t>(1u << output));
    const RecordedWeighing weighing = recordWeighing(input % TerminalModel::ComponentCount + 1,
                                                     randomWeight(), LocalDateTime::now(), false);
    say("command 0x%04X: start input %d; output %d on; %s", word, input + 1, output + 1,
        weighingText(weighing).c_str());
}

FaultMode TerminalServer::takeFault() {
    const FaultMode fault = m_fault;
    if (fault != FaultMode::None && m_faultLeft > 0 && --m_faultLeft == 0)
        m_fault = FaultMode::None;
    return fault;
}

void TerminalServer::sendSpoiled(std::vector<uint8_t> frame, FaultMode fault) {
    const int function = frame[1];
    switch (fault) {
    case FaultMode::BadCrc:
        frame[frame.size() - 2] ^= 0xFF;
        frame[frame.size() - 1] ^= 0xFF;
        writeAll(frame);
        say("fault badcrc: reply to function %d sent with a corrupted CRC", function);
        break;
    case FaultMode::OtherAddr:
        frame[0] = static_cast<uint8_t>(m_options.slave + 1);
        frame.resize(frame.size() - 2);
        rtureply::appendCrc(frame);
        writeAll(frame);
        say("fault otheraddr: reply to function %d sent from address %d", function, frame[0]);
        break;
    case FaultMode::Split: {
        const std::size_t first = frame.size() / 2;
        const std::span<const uint8_t> bytes(frame);
        if (writeAll(bytes.first(first))) {
            std::this_thread::sleep_for(SplitPause);
            writeAll(bytes.subspan(first));
        }
        say("fault split: reply to function %d sent as %zu + %zu bytes", function, first,
            frame.size() - first);
        break;
    }
    case FaultMode::None:
    case FaultMode::Drop:
    case FaultMode::Exception:
        break;
    }
}

bool TerminalServer::writeAll(std::span<const uint8_t> bytes) {
    const int fd = modbus_get_socket(m_context);
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written > 0) {
            bytes = bytes.subspan(static_cast<std::size_t>(written));
        } else if (written < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd out{fd, POLLOUT, 0};
            ::poll(&out, 1, 100);
        } else {
            say("cannot write to %s: %s", m_options.device.c_str(), std::strerror(errno));
            return false;
        }
    }
    return true;
}

void TerminalServer::readControl(LineInput& input, bool& open, const char* name) {
    const LineRead read = input.readAvailable();
    if (read.discarded > 0)
        say("%s: %d over-long line(s) ignored", name, read.discarded);
    for (const std::string& line : read.lines) {
        if (line.find_first_not_of(" \t") == std::string::npos)
            continue;
        handleControlLine(line);
    }
    if (read.ended) {
        open = false;
        // Silent for an input that never carried a line, such as /dev/null.
        if (input.deliveredAny())
            say("%s ended; still serving", name);
    }
}

void TerminalServer::handleControlLine(const std::string& line) {
    const ControlParse parse = parseControlLine(line);
    if (!parse.command) {
        say("control \"%s\" refused: %s", line.c_str(), parse.error.c_str());
        return;
    }
    const std::string outcome = carryOut(*parse.command);
    say("control \"%s\" %s", line.c_str(), outcome.c_str());
}

std::string TerminalServer::carryOut(const ControlCommand& command) {
    using Kind = ControlCommand::Kind;
    switch (command.kind) {
    case Kind::Weigh: {
        const int component = command.component ? *command.component : randomComponent();
        const float weight = command.weight ? *command.weight : randomWeight();
        const RecordedWeighing weighing =
            recordWeighing(component, weight, LocalDateTime::now(), false);
        return "done: " + weighingText(weighing);
    }
    case Kind::ResetCounter:
        m_model.resetCounter(command.counter);
        return "done: counter " + std::to_string(command.counter) + ", RingHead " +
               std::to_string(m_model.ringHead());
    case Kind::SetNewestWeight: {
        const auto corrected = m_model.setNewestWeight(*command.weight);
        if (!corrected)
            return "refused: the ring holds no weighing yet";
        if (!m_truth.write(*corrected, true))
            say("cannot write the ground-truth file: %s", std::strerror(errno));
        return "done: " + weighingText(*corrected);
    }
    case Kind::Inputs:
        m_model.setInputs(command.inputs);
        return "done";
    case Kind::Weight:
        m_model.setCurrentWeight(*command.weight);
        return "done";
    case Kind::Fault:
        m_fault = command.fault;
        m_faultLeft = command.faultCount;
        if (command.fault == FaultMode::None)
            return "done: replies are normal";
        return std::string("done: ") + faultModeName(command.fault) + " for " +
               (command.faultCount ? "the next " + std::to_string(command.faultCount) + " replies"
                                   : "every reply until fault none");
    case Kind::Quit:
        m_quit = true;
        return "done";
    }
    return "done";
}

RecordedWeighing TerminalServer::recordWeighing(int component, float weight,
                                                const LocalDateTime& at, bool announce) {
    const RecordedWeighing weighing = m_model.recordWeighing(component, weight, at);
    if (!m_truth.write(weighing))
        say("cannot write the ground-truth file: %s", std::strerror(errno));
    if (announce)
        say("%s", weighingText(weighing).c_str());
    return weighing;
}

float TerminalServer::randomWeight() {
    // The terminal weighs in steps of 0.1 kg, up to 2 t.
    return static_cast<float>(std::uniform_int_distribution<int>(1, 20000)(m_random)) / 10.0f;
}

int TerminalServer::randomComponent() {
    return std::uniform_int_distribution<int>(1, TerminalModel::ComponentCount)(m_random);
}
