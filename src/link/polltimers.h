#pragma once

#include <QObject>
#include <QTimer>

class PollCycle;

// The three timers of the poll cycle.
enum class PollTimer {
    // One request per tick, every [Settings] SendInterval ms.
    TimerSend,
    // No reply: fires 95 ms after the send step when no byte arrived.
    TimerTimeout,
    // End of a reply: fires after 20 ms without a new byte.
    TimerMB,
};

// Default intervals in milliseconds.
constexpr int DefaultSendInterval = 250;
constexpr int TimeoutInterval = 95;
constexpr int ReplySilenceInterval = 20;

// The poll cycle's view of its timers, so that tests drive the handlers without waiting. The
// semantics are those of an enabled flag: start() on a running timer changes nothing (its period
// goes on), a restart is stop() then start().
class PollTimers {
public:
    virtual ~PollTimers() = default;
    virtual void start(PollTimer timer) = 0;
    virtual void stop(PollTimer timer) = 0;
    virtual bool isActive(PollTimer timer) const = 0;
    // A running timer restarts with the new interval.
    virtual void setInterval(PollTimer timer, int milliseconds) = 0;
    virtual int interval(PollTimer timer) const = 0;
};

// The real timers: three periodic precise QTimers named TimerSend, TimerTimeout and TimerMB, on
// the thread that creates them (the user-interface thread).
class QtPollTimers : public QObject, public PollTimers {
    Q_OBJECT
public:
    explicit QtPollTimers(QObject* parent = nullptr);

    // Routes the ticks to the cycle: TimerSend to TimerSendTimer, TimerTimeout to
    // TimerTimeoutTimer and TimerMB to TimerMBTimer (both end in TimerProcessMessage).
    void connectTo(PollCycle& cycle);

    void start(PollTimer timer) override;
    void stop(PollTimer timer) override;
    bool isActive(PollTimer timer) const override;
    void setInterval(PollTimer timer, int milliseconds) override;
    int interval(PollTimer timer) const override;

    QTimer& timer(PollTimer timer);

private:
    const QTimer& timerOf(PollTimer timer) const;

    QTimer* m_send;
    QTimer* m_timeout;
    QTimer* m_mb;
};
