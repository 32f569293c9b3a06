#pragma once

// What must hold for any reply given to CheckReply, whatever its bytes and count: shared by the
// randomized test and the libFuzzer target. Written from the reply's bytes in arrival order, not
// from the receive buffer, so it checks the buffer indexing too.

#include "link/modbus.h"
#include "link/pollstate.h"

#include <QString>

#include <algorithm>
#include <vector>

using enum PollState;

namespace ReplyInvariants {

inline TerminalData makePatterned() {
    TerminalData d;
    for (int r = 0; r < TerminalImage::RowCount; ++r)
        for (int i = 0; i < TerminalImage::WordsPerRow; ++i)
            d.image.setWord(r, i, quint16(0xA000 + r * 8 + i));
    d.currentWeightWords = {0xB001, 0xB002};
    d.InputBits = 0x11;
    d.OutputBits = 0x22;
    return d;
}

// Every word distinct, so a write to the wrong row or word shows.
inline const TerminalData& patterned() {
    static const TerminalData d = makePatterned();
    return d;
}

inline bool sameData(const TerminalData& a, const TerminalData& b) {
    for (int r = 0; r < TerminalImage::RowCount; ++r)
        for (int i = 0; i < TerminalImage::WordsPerRow; ++i)
            if (a.image.word(r, i) != b.image.word(r, i))
                return false;
    return a.currentWeightWords == b.currentWeightWords && a.InputBits == b.InputBits &&
           a.OutputBits == b.OutputBits && a.CommandAcknowledged == b.CommandAcknowledged;
}

struct Outcome {
    bool accepted = false;
    // Empty when every invariant holds, else what broke.
    QString broken;
};

// Runs CheckReply on `stream` (every byte received, oldest first) with `count`.
inline Outcome check(const std::vector<quint8>& stream, qint32 count, PollState state,
                     qint32 index) {
    RxBuffer rx{};
    const size_t kept = std::min(stream.size(), rx.size());
    for (size_t i = 0; i < kept; ++i)
        rx[i] = stream[stream.size() - 1 - i];

    TerminalData data = patterned();
    const ReplyCheck result = CheckReply(rx, count, state, index, data);

    // The reply is the newest min(count, 128) bytes; bytes never received read as zero.
    const int n = std::clamp(count, 0, 128);
    std::vector<quint8> reply(size_t(n), 0);
    for (int j = 0; j < n; ++j) {
        const qsizetype fromEnd = n - 1 - j; // 0 = newest
        if (size_t(fromEnd) < stream.size())
            reply[size_t(j)] = stream[stream.size() - 1 - size_t(fromEnd)];
    }

    QByteArray hex =
        QByteArray(reinterpret_cast<const char*>(reply.data()), n).toHex(' ').toUpper();
    if (n > 0)
        hex += ' ';
    const QString trace = QStringLiteral("<< ") + QString::fromLatin1(hex);
    if (result.trace != trace)
        return {result.accepted, QStringLiteral("trace %1, expected %2").arg(result.trace, trace)};

    TerminalData expected = patterned();
    bool shouldAccept = count >= 4 && count <= 128 && Crc16(reply) == 0 && !(reply[1] & 0x80);
    if (shouldAccept) {
        const quint8 f = reply[1];
        if (f == 3) {
            const int b = qint8(reply[2]);
            shouldAccept = b > 0 && b == n - 5;
            const int capacity = state == psReadWeight ? 2 : TerminalImage::rowCapacity(index);
            for (int i = 0; shouldAccept && i < std::min(b / 2, capacity); ++i) {
                const quint16 w =
                    quint16(reply[size_t(3 + 2 * i)] * 256 + reply[size_t(4 + 2 * i)]);
                if (state == psReadWeight)
                    expected.currentWeightWords[size_t(i)] = w;
                else
                    expected.image.setWord(index, i, w);
            }
        } else if (f == 1 || f == 2) {
            shouldAccept = n >= 6;
            (f == 1 ? expected.OutputBits : expected.InputBits) = reply[3];
        } else if (f == 16) {
            shouldAccept = n == 8;
            expected.CommandAcknowledged = state == psSendCommand;
        }
    }
    if (result.accepted != shouldAccept)
        return {result.accepted,
                QStringLiteral("accepted %1, expected %2").arg(result.accepted).arg(shouldAccept)};
    if (!sameData(data, shouldAccept ? expected : patterned()))
        return {result.accepted, QStringLiteral("terminal data changed where it must not")};
    return {result.accepted, {}};
}

} // namespace ReplyInvariants
