#include "link/polltimers.h"

#include "link/pollcycle.h"

namespace {

QTimer* makeTimer(QObject* parent, const char* name, int interval) {
    auto* timer = new QTimer(parent);
    timer->setObjectName(QString::fromLatin1(name));
    // The 20 ms end-of-reply silence is shorter than a coarse timer's slack.
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(interval);
    return timer;
}

} // namespace

QtPollTimers::QtPollTimers(QObject* parent)
    : QObject(parent)
    , m_send(makeTimer(this, "TimerSend", DefaultSendInterval))
    , m_timeout(makeTimer(this, "TimerTimeout", TimeoutInterval))
    , m_mb(makeTimer(this, "TimerMB", ReplySilenceInterval)) {}

void QtPollTimers::connectTo(PollCycle& cycle) {
    connect(m_send, &QTimer::timeout, &cycle, &PollCycle::TimerSendTimer);
    connect(m_timeout, &QTimer::timeout, &cycle, &PollCycle::TimerTimeoutTimer);
    connect(m_mb, &QTimer::timeout, &cycle, &PollCycle::TimerMBTimer);
}

QTimer& QtPollTimers::timer(PollTimer timer) {
    return const_cast<QTimer&>(timerOf(timer));
}

const QTimer& QtPollTimers::timerOf(PollTimer timer) const {
    switch (timer) {
    case PollTimer::TimerSend:
        return *m_send;
    case PollTimer::TimerTimeout:
        return *m_timeout;
    case PollTimer::TimerMB:
        break;
    }
    return *m_mb;
}

void QtPollTimers::start(PollTimer t) {
    QTimer& qtimer = timer(t);
    if (!qtimer.isActive())
        qtimer.start();
}

void QtPollTimers::stop(PollTimer t) {
    timer(t).stop();
}

bool QtPollTimers::isActive(PollTimer t) const {
    return timerOf(t).isActive();
}

void QtPollTimers::setInterval(PollTimer t, int milliseconds) {
    timer(t).setInterval(milliseconds);
}

int QtPollTimers::interval(PollTimer t) const {
    return timerOf(t).interval();
}
