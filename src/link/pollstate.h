#pragma once

// The step of the poll cycle, i.e. which request the send step issues next. It is kept as a plain
// 32-bit integer by the poll cycle: a value outside this list is possible (a stray assignment, a
// future step) and means "send no request".
enum PollState : int {
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
