// libFuzzer entry for the reply check. Input: byte 0 picks the poll step, byte 1 the image row,
// byte 2 how the count relates to the bytes received, the rest is the received byte stream.
#include "replyinvariants.h"

#include <cstdio>
#include <cstdlib>
#include <limits>

using enum PollState;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3)
        return 0;
    static const PollState states[] = {psIdle,         psReadCoils,         psReadDiscreteInputs,
                                       psReadWeight,   psReadComponent,     psReadWeighing,
                                       psReadCounters, psCheckLastWeighing, psSendCommand,
                                       PollState(-1),  PollState(7)};
    const PollState state = states[data[0] % std::size(states)];
    const qint32 index = qint32(data[1] % 61) - 2;
    const std::vector<quint8> stream(data + 3, data + size);

    qint32 count = qint32(stream.size());
    if (data[2] >= 0xF0)
        count =
            (data[2] & 1) ? std::numeric_limits<qint32>::max() : std::numeric_limits<qint32>::min();
    else if (data[2] >= 0x80)
        count = qint32(data[2] & 0x7F) * 3 - 10; // -10 .. 371, independent of the length

    const auto outcome = ReplyInvariants::check(stream, count, state, index);
    if (!outcome.broken.isEmpty()) {
        std::fprintf(stderr, "count %d state %d index %d: %s\n", count, qint32(state), index,
                     qPrintable(outcome.broken));
        std::abort();
    }
    return 0;
}
