// Timing of the poll cycle against the terminal simulator on a socat pty pair: how long after its
// last byte a reply is handled (should be 20 ms), how long after a request a missing reply is
// handled (should be 95 ms), and the CPU use of this process while it polls every 100 ms.
//
//   poll_timing [cpu-seconds]      (default 30)
//
// The simulator is found through KDM_TERMINAL_SIM, else in this build's tools/terminal-sim.
#include "link/polltimers.h"
#include "link/replytexts.h"
#include "link/tcomport.h"
#include "support/pollcycle_fakes.h"
#include "support/simpair.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int RequestInterval = 100;

struct Figures {
    double min = 0, median = 0, p95 = 0, max = 0;
    size_t count = 0;
};

Figures figuresOf(std::vector<double> ms) {
    Figures f;
    f.count = ms.size();
    if (ms.empty())
        return f;
    std::sort(ms.begin(), ms.end());
    f.min = ms.front();
    f.max = ms.back();
    f.median = ms[ms.size() / 2];
    f.p95 = ms[std::min(ms.size() - 1, ms.size() * 95 / 100)];
    return f;
}

void print(const char* what, const Figures& f, double expected) {
    const bool within = f.count > 0 && f.median >= expected - 5 && f.median <= expected + 5;
    std::printf("%-40s n=%-4zu min %6.2f  median %6.2f  p95 %6.2f  max %6.2f ms  (expected %.0f "
                "+-5: %s)\n",
                what, f.count, f.min, f.median, f.p95, f.max, expected,
                within ? "median within" : "MEDIAN OUTSIDE");
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop for `ms` milliseconds.
void run(int ms) {
    QTimer::singleShot(ms, QCoreApplication::instance(), &QCoreApplication::quit);
    QCoreApplication::exec();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int cpuSecondsToRun =
        argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 30;

    const QString reason = SimPair::unavailableReason();
    if (!reason.isEmpty()) {
        std::fprintf(stderr, "poll_timing: %s\n", qPrintable(reason));
        return 2;
    }
    SimPair sim;
    sim.setEchoLog(true);
    if (!sim.start({QStringLiteral("--seed"), QStringLiteral("1")})) {
        std::fprintf(stderr, "poll_timing: the simulator did not start\n");
        return 2;
    }

    const QString device = sim.device();
    TComPort port([device](int) { return device; });
    QtPollTimers timers;
    FakeView view;
    FakeSink sink;
    FakeSettings settings;
    FakeLog log;
    FakeAlarms alarms;
    PollCycle cycle({port, timers, view, sink, settings, log, alarms});

    QElapsedTimer clock;
    clock.start();
    qint64 lastByteAt = 0;
    qint64 requestAt = 0;
    bool measuring = false;
    std::vector<double> replyDelays;
    std::vector<double> timeoutDelays;
    // Connected before the cycle, so the byte's time is taken before it is handled.
    QObject::connect(&port, &SerialPort::byteReceived, &cycle,
                     [&](quint8) { lastByteAt = clock.nsecsElapsed(); });
    QObject::connect(&port, &SerialPort::byteReceived, &cycle, &PollCycle::OnCommByte);
    timers.connectTo(cycle);
    timers.setInterval(PollTimer::TimerSend, RequestInterval);
    view.onConsoleLine = [&](const QString& line) {
        const qint64 now = clock.nsecsElapsed();
        if (line.startsWith(u">> ")) {
            requestAt = now;
        } else if (!measuring) {
            return;
        } else if (line.startsWith(u"<< ")) {
            replyDelays.push_back(double(now - lastByteAt) / 1e6);
        } else if (line == ConsoleNoResponse) {
            timeoutDelays.push_back(double(now - requestAt) / 1e6);
        }
    };

    cycle.OpenPort();
    cycle.Start(true);
    if (!cycle.state().Polling) {
        std::fprintf(stderr, "poll_timing: cannot open %s\n", qPrintable(device));
        return 2;
    }
    run(3000); // the 16 totals and the first counters
    std::printf("Polling %s every %d ms (simulator through socat, 9600 baud).\n",
                qPrintable(device), RequestInterval);

    measuring = true;
    run(10000);
    print("reply handled after its last byte", figuresOf(replyDelays), ReplySilenceInterval);

    replyDelays.clear();
    sim.command(QStringLiteral("fault drop 40"));
    run(40 * (RequestInterval + TimeoutInterval) + 1000);
    print("missing reply handled after the request", figuresOf(timeoutDelays), TimeoutInterval);
    measuring = false;
    sim.command(QStringLiteral("fault none"));
    run(1000);

    const std::size_t requestsBefore = size_t(view.console.size());
    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    run(cpuSecondsToRun * 1000);
    const double cpu = cpuSeconds() - cpuBefore;
    const double elapsed = double(wall.elapsed()) / 1000.0;
    std::printf("CPU while polling: %.3f s in %.1f s = %.2f %% of one core (%zu console lines)\n",
                cpu, elapsed, 100.0 * cpu / elapsed, size_t(view.console.size()) - requestsBefore);
    std::printf("failures during the CPU run: %u consecutive at the end, log lines: %lld\n",
                cycle.state().FailCount, qint64(log.lines.size()));
    return 0;
}
