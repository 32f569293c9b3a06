#pragma once

#include <QtGlobal>

// The step of the poll cycle, i.e. which request the send step issues next. A value outside this
// list (a state read back from elsewhere, a future step) sends no request.
enum class PollState : qint32 {
    psIdle = 0,
    psReadCoils = 1,
    psReadDiscreteInputs = 2,
    psReadWeight = 11,
    psReadComponent = 12,
    psReadWeighing = 13,
    psReadCounters = 14,
    psCheckLastWeighing = 15,
    psSendCommand = 100,
};

// What the link status shows (and how status panel 1 is coloured).
enum class LinkState : qint32 {
    NoAnswer = 0,   // the terminal does not answer
    Exchanging = 1, // replies arrive
    Stopped = 2,    // collection is switched off
};
