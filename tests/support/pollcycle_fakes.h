#pragma once

// Fakes around PollCycle: timers that only record, a view, a weighings sink, the settings writer,
// the event log, the buttons' alarms, and a terminal that answers requests with correct CRCs.

#include "link/modbus.h"
#include "link/pollcycle.h"
#include "link/polltimers.h"
#include "link/pollview.h"
#include "support/fakeserialport.h"

#include <QStringList>

#include <array>
#include <bit>
#include <functional>
#include <map>
#include <optional>
#include <utility>
#include <vector>

class FakePollTimers : public PollTimers {
public:
    struct State {
        bool active = false;
        int interval = 0;
        int starts = 0; // times a stopped timer was started
    };

    void start(PollTimer t) override {
        State& s = m_timers[index(t)];
        if (!s.active) {
            s.active = true;
            ++s.starts;
        }
    }
    void stop(PollTimer t) override { m_timers[index(t)].active = false; }
    bool isActive(PollTimer t) const override { return m_timers[index(t)].active; }
    void setInterval(PollTimer t, int ms) override { m_timers[index(t)].interval = ms; }
    int interval(PollTimer t) const override { return m_timers[index(t)].interval; }

    const State& state(PollTimer t) const { return m_timers[index(t)]; }

private:
    static size_t index(PollTimer t) { return size_t(t); }
    std::array<State, 3> m_timers{};
};

class FakeView : public PollView {
public:
    struct Row {
        QString sum, count, date;
    };

    void setWeightText(const QString& text) override { weightText = text; }
    void setLastWeighingText(const QString& text) override { lastWeighingText = text; }
    void setComponentRow(int row, const QString& sum, const QString& count,
                         const QString& date) override {
        componentRows[row] = {sum, count, date};
        rowOrder.push_back(row);
    }
    void setPortStatusText(const QString& text) override { portStatus = text; }
    void setLinkStatusText(const QString& text) override { linkStatus.append(text); }
    void setLinkState(LinkState state) override { linkState = state; }
    void setExchangeLamp(bool active) override { lamp = active; }
    void setCollectionAvailable(bool available) override { collectionAvailable = available; }
    void setCollectionRunning(bool running) override { collectionRunning = running; }
    void showInputs(quint8 bits) override { inputs.push_back(bits); }
    void showOutputs(quint8 bits) override { outputs.push_back(bits); }
    bool isIoStateTicked() const override { return ioTicked; }
    void appendConsoleLine(const QString& line) override {
        console.append(line);
        if (onConsoleLine)
            onConsoleLine(line);
    }
    void resetButtonCursors() override { ++cursorResets; }

    // Records the boxes `cycle` asks for when it asks: a hook (onCommandCompleted,
    // onPortWriteError) runs where the window's box would open.
    void watch(PollCycle& cycle) {
        QObject::connect(&cycle, &PollCycle::commandCompleted, &cycle,
                         [this](const QString& caption, const QString& text) {
                             completed.append(caption + u'|' + text);
                             if (onCommandCompleted)
                                 onCommandCompleted();
                         });
        QObject::connect(&cycle, &PollCycle::portWriteFailed, &cycle, [this] {
            ++portWriteErrors;
            if (onPortWriteError)
                onPortWriteError();
        });
        QObject::connect(&cycle, &PollCycle::commandRefused, &cycle, [this] { ++busyBoxes; });
        QObject::connect(&cycle, &PollCycle::storageFailed, &cycle,
                         [this](const QString& text) { storageFailures.append(text); });
    }

    QString weightText;
    QString lastWeighingText;
    std::map<int, Row> componentRows;
    std::vector<int> rowOrder;
    QString portStatus;
    QStringList linkStatus;
    std::optional<LinkState> linkState; // unset until the cycle colours the panel
    bool lamp = false;
    bool collectionAvailable = false;
    bool collectionRunning = false;
    std::vector<quint8> inputs, outputs;
    bool ioTicked = true;
    QStringList console;
    int cursorResets = 0;
    QStringList completed;
    int portWriteErrors = 0;
    int busyBoxes = 0;
    QStringList storageFailures;
    std::function<void(const QString&)> onConsoleLine;
    std::function<void()> onCommandCompleted;
    std::function<void()> onPortWriteError;
};

class FakeSink : public WeighingsSink {
public:
    struct Stored {
        quint32 id = 0;
        float weight = 0;
        qint16 component = 0;
        quint32 terminalCounter = 0;
    };

    StoreResult StoreWeighing(const WeighingRecord& record, quint32 id,
                              quint32 terminalCounter) override {
        ++storeCalls;
        if (failStores > 0) {
            --failStores;
            return {QStringLiteral("disk full")};
        }
        stored.push_back({id, record.Weight, record.Component, terminalCounter});
        lastId = id;
        return {};
    }
    StoreResult CorrectLastWeighing(float weight) override {
        corrections.push_back(weight);
        return {};
    }
    std::optional<quint32> lastStoredId() const override { return lastId; }
    void refreshRecordCount(quint32 counter) override { refreshes.push_back(counter); }

    std::vector<quint32> ids() const {
        std::vector<quint32> result;
        for (const Stored& s : stored)
            result.push_back(s.id);
        return result;
    }

    std::vector<Stored> stored;
    std::vector<float> corrections;
    std::vector<quint32> refreshes;
    std::optional<quint32> lastId;
    int failStores = 0;
    int storeCalls = 0;
};

class FakeSettings : public PollSettingsWriter {
public:
    void writeStoredCounter(quint32 counter) override { written.push_back(counter); }
    std::vector<quint32> written;
};

class FakeLog : public PollEventLog {
public:
    void WriteLog(const QString& text) override { lines.append(text); }
    QStringList lines;
};

class FakeAlarms : public ButtonAlarms {
public:
    std::optional<ButtonAlarm> buttonAlarm(int button) const override {
        const auto it = alarms.find(button);
        if (it == alarms.end())
            return std::nullopt;
        return it->second;
    }
    void clearAlarmFired(int button) override { cleared.push_back(button); }

    std::map<int, ButtonAlarm> alarms;
    std::vector<int> cleared;
};

// A serial port that also holds bytes "already received by the platform" until ReadPending.
class PendingBytesPort : public FakeSerialPort {
public:
    void ReadPending() override {
        ++readPendingCalls;
        const std::vector<quint8> bytes = std::move(pending);
        pending.clear();
        feed(bytes);
    }
    std::vector<quint8> pending;
    int readPendingCalls = 0;
};

// The terminal's register map with the answers it gives. Registers hold the words as the image
// keeps them, so a record's bytes are laid out exactly as the terminal lays them out.
// Date and time bytes of a record.
struct TerminalDate {
    quint8 day = 1, month = 1, year = 10, hour = 0, minute = 0, second = 0;
};

class FakeTerminal {
public:
    using Date = TerminalDate;

    FakeTerminal() { registers.fill(0); }

    void setWeight(float weight) {
        const quint32 bits = std::bit_cast<quint32>(weight);
        registers[0] = quint16(bits & 0xFFFF);
        registers[1] = quint16(bits >> 16);
    }
    void setRecord(int row, float value, const Date& d, qint16 last) {
        const quint32 bits = std::bit_cast<quint32>(value);
        const int base = TerminalMap::recordStartAddress(row);
        registers[size_t(base)] = quint16(bits & 0xFFFF);
        registers[size_t(base + 1)] = quint16(bits >> 16);
        registers[size_t(base + 2)] = quint16(d.day | (d.month << 8));
        registers[size_t(base + 3)] = quint16(d.year | (d.hour << 8));
        registers[size_t(base + 4)] = quint16(d.minute | (d.second << 8));
        registers[size_t(base + 5)] = quint16(last);
    }
    void setWeighing(int slot, float weight, qint16 component, const Date& d = {}) {
        setRecord(TerminalMap::ringRow(slot), weight, d, component);
    }
    void setComponent(int index, float sum, qint16 count, const Date& d = {}) {
        setRecord(index, sum, d, count);
    }
    void setCounters(qint16 ringHead, quint32 counter) {
        registers[666] = quint16(ringHead);
        registers[667] = quint16(counter & 0xFFFF);
        registers[668] = quint16(counter >> 16);
    }
    // Weighing number m of a ring whose newest weighing W lies in slot h.
    static int slotOf(int h, quint32 W, quint32 m) { return WrapRingIndex(h - int(W - m)); }

    // The reply to a request frame, or nothing for a frame the terminal would ignore.
    std::vector<quint8> reply(const std::vector<quint8>& request) {
        if (request.size() < 8 || Crc16(request) != 0)
            return {};
        const quint8 device = request[0];
        const quint8 function = request[1];
        const int start = request[2] << 8 | request[3];
        const int quantity = request[4] << 8 | request[5];
        std::vector<quint8> frame = {device, function};
        if (function == 3) {
            if (start + quantity > int(registers.size()))
                return {};
            frame.push_back(quint8(2 * quantity));
            for (int i = 0; i < quantity; ++i) {
                frame.push_back(quint8(registers[size_t(start + i)] >> 8));
                frame.push_back(quint8(registers[size_t(start + i)] & 0xFF));
            }
        } else if (function == 1 || function == 2) {
            frame.push_back(1);
            frame.push_back(function == 1 ? coils : inputs);
        } else if (function == 16) {
            commands.push_back(quint16(request[7] << 8 | request[8]));
            if (!acknowledgeCommands) {
                // Answers something else: a valid reply that is not the command's echo.
                frame = {device, 3, 2, 0, 0};
            } else {
                frame.insert(frame.end(), request.begin() + 2, request.begin() + 6);
            }
        } else {
            return {};
        }
        const quint16 crc = Crc16(frame);
        frame.push_back(quint8(crc & 0xFF));
        frame.push_back(quint8(crc >> 8));
        return frame;
    }

    std::array<quint16, 700> registers{};
    quint8 coils = 0;
    quint8 inputs = 0;
    bool acknowledgeCommands = true;
    std::vector<quint16> commands;
};

// A PollCycle wired to the fakes, with the port open and the port's bytes going to OnCommByte.
struct PollHarness {
    enum class Reply {
        Answer,  // the terminal's reply
        Drop,    // nothing comes back
        Corrupt, // the reply with its last byte altered
        Split,   // the reply in two parts, the first handled alone before the rest arrives
    };

    PollHarness() {
        QObject::connect(&port, &SerialPort::byteReceived, &cycle, &PollCycle::OnCommByte);
        view.watch(cycle);
        port.Open(0, 9600, 0);
    }

    // Changes the cycle's state: `edit` gets a copy of the present state, which is then restored.
    template <typename Edit> void change(Edit&& edit) {
        PollCycleState s = cycle.state();
        std::forward<Edit>(edit)(s);
        cycle.restoreState(s);
    }

    // Start-up as the program does it: the port is opened, then collection is set up.
    void start(bool autoscan) {
        cycle.OpenPort();
        cycle.Start(autoscan);
    }

    // One request and its reply: the send step, the reply's bytes, the end of the reply.
    void exchange(Reply mode = Reply::Answer) {
        port.clearWritten();
        cycle.TimerSendTimer();
        const std::vector<quint8> request = port.written();
        requests.append(describe(request));
        std::vector<quint8> answer = terminal.reply(request);
        if (mode == Reply::Drop)
            answer.clear();
        if (mode == Reply::Corrupt && !answer.empty())
            answer.back() ^= 0x5A;
        if (mode == Reply::Split && answer.size() > 4) {
            const std::vector<quint8> head(answer.begin(), answer.begin() + 4);
            answer.erase(answer.begin(), answer.begin() + 4);
            port.feed(head);
            cycle.TimerProcessMessage();
        }
        port.feed(answer);
        cycle.TimerProcessMessage();
        rxCountAfter.push_back(cycle.state().RxCount);
        failCountAfter.push_back(cycle.state().FailCount);
        linkStateAfter.push_back(cycle.state().LinkState);
    }

    // "function:start:quantity" of a request frame; "16:2:1=XXXX" with the command word; "" when
    // nothing was sent.
    static QString describe(const std::vector<quint8>& request) {
        if (request.size() < 8)
            return {};
        QString text = QStringLiteral("%1:%2:%3")
                           .arg(request[1])
                           .arg(request[2] << 8 | request[3])
                           .arg(request[4] << 8 | request[5]);
        if (request[1] == 16 && request.size() >= 9)
            text +=
                QStringLiteral("=%1").arg(request[7] << 8 | request[8], 4, 16, QLatin1Char('0'));
        return text.toUpper();
    }

    PendingBytesPort port;
    FakePollTimers timers;
    FakeView view;
    FakeSink sink;
    FakeSettings settings;
    FakeLog log;
    FakeAlarms alarms;
    PollCycle cycle{{port, timers, view, sink, settings, log, alarms}};
    FakeTerminal terminal;

    QStringList requests;
    std::vector<qint32> rxCountAfter;
    std::vector<quint32> failCountAfter;
    std::vector<LinkState> linkStateAfter;
};

// Expected request texts (see PollHarness::describe).
inline QString weightRequest() {
    return QStringLiteral("3:0:2");
}
inline QString countersRequest() {
    return QStringLiteral("3:666:3");
}
inline QString rowRequest(int row) {
    return QStringLiteral("3:%1:6").arg(TerminalMap::recordStartAddress(row));
}
inline QString slotRequest(int slot) {
    return rowRequest(TerminalMap::ringRow(slot));
}
inline QStringList allComponentRequests() {
    QStringList list;
    for (int i = 0; i < TerminalMap::ComponentCount; ++i)
        list.append(rowRequest(i));
    return list;
}
