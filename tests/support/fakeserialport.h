#pragma once

#include "link/serialport.h"

#include <QByteArray>

#include <functional>
#include <vector>

// A scripted serial port for tests of the framing and the poll cycle. Header only and without
// signals of its own, so it needs no moc: it emits the signals of SerialPort.
//
//   FakeSerialPort port;
//   port.setOpenResult(false);      // the next Open calls fail
//   port.refuseByte(3);             // the 3rd SendByte from now is refused
//   port.feed({0x01, 0x03});        // emits byteReceived for each byte, in order
//   port.simulateLoss();            // closes and emits portLost, as an unplugged adapter
//   port.loseAtByte(3);             // the same from inside the 3rd SendByte from now
class FakeSerialPort : public SerialPort {
public:
    struct OpenCall {
        quint32 portIndex = 0;
        qint32 baudRate = 0;
        quint8 lineFlags = 0;
    };

    using SerialPort::SerialPort;

    bool Open(quint32 portIndex, qint32 baudRate, quint8 lineFlags) override {
        m_openCalls.push_back({portIndex, baudRate, lineFlags});
        m_open = m_openResult && portIndex < 9;
        return m_open;
    }

    void Close() override {
        ++m_closeCalls;
        m_open = false;
    }

    bool SendByte(quint8 b) override {
        if (!m_open)
            return false;
        ++m_sendCalls;
        if (m_refuseAt != 0 && m_sendCalls == m_refuseAt) {
            m_refuseAt = 0;
            return false;
        }
        if (m_loseAt != 0 && m_sendCalls == m_loseAt) {
            // As a real port whose device vanishes during a write: it closes and reports the loss
            // from inside this call.
            m_loseAt = 0;
            simulateLoss();
            return false;
        }
        m_written.push_back(b);
        if (m_onByteSent)
            m_onByteSent(b);
        return true;
    }

    bool IsOpen() const override { return m_open; }

    // Result of the following Open calls (true by default). An index of 9 or more always fails.
    void setOpenResult(bool result) { m_openResult = result; }
    // Refuse the n-th SendByte call from now on (1 = the next one); 0 refuses nothing.
    void refuseByte(int n) { m_refuseAt = n > 0 ? m_sendCalls + n : 0; }
    // The n-th SendByte call from now on finds the device gone: the port closes and emits portLost
    // before the call returns false.
    void loseAtByte(int n) { m_loseAt = n > 0 ? m_sendCalls + n : 0; }
    // Called with every byte the port accepted, e.g. to answer a complete request.
    void setOnByteSent(std::function<void(quint8)> hook) { m_onByteSent = std::move(hook); }

    // Delivers bytes as received from the line, oldest first.
    void feed(const std::vector<quint8>& bytes) {
        for (const quint8 b : bytes)
            emit byteReceived(b);
    }
    void feed(const QByteArray& bytes) {
        for (const char c : bytes)
            emit byteReceived(quint8(c));
    }
    // The device vanished while open: the port closes itself and reports it once.
    void simulateLoss() {
        if (!m_open)
            return;
        m_open = false;
        emit portLost();
    }

    const std::vector<quint8>& written() const { return m_written; }
    void clearWritten() { m_written.clear(); }
    const std::vector<OpenCall>& openCalls() const { return m_openCalls; }
    int closeCalls() const { return m_closeCalls; }
    int sendCalls() const { return m_sendCalls; }

private:
    bool m_open = false;
    bool m_openResult = true;
    int m_sendCalls = 0;
    int m_refuseAt = 0;
    int m_loseAt = 0;
    int m_closeCalls = 0;
    std::vector<quint8> m_written;
    std::vector<OpenCall> m_openCalls;
    std::function<void(quint8)> m_onByteSent;
};
