#pragma once

#include "link/serialport.h"

#include <QByteArray>
#include <QSerialPort>
#include <QString>

#include <functional>

// The serial port to the terminal: QSerialPort driven by the event loop of the thread that owns
// it (the user-interface thread), so received bytes need no locking. Every chunk that arrives is
// handed on byte by byte, oldest first, through byteReceived.
//
// A port that vanishes while open (USB adapter pulled, pty peer gone) is closed at the first read,
// write or resource error and reported once through portLost: the platform keeps reporting such
// errors at full speed while the device stays "open", which would spin a core.
class TComPort : public SerialPort {
    Q_OBJECT
public:
    // Device name of COMn for index n - 1 (0..8).
    using NameResolver = std::function<QString(int index)>;
    static constexpr quint32 PortCount = 9;

    // On Windows the ports are "COM1".."COM9" and `resolveName` is not used; elsewhere it maps an
    // index to a device (defaultPortName when none is given).
    explicit TComPort(NameResolver resolveName = {}, QObject* parent = nullptr);
    ~TComPort() override;

    // Line settings 8N1, no flow control, DTR and RTS raised unless lineFlags bit 2 asks for
    // explicit states (bit 0 RTS, bit 1 DTR; then both must be set successfully, else the open
    // fails). Both buffers are cleared after opening. Index 9 and above fails at once. An open port
    // is closed first.
    bool Open(quint32 portIndex, qint32 baudRate, quint8 lineFlags) override;
    void Close() override;
    // Queues the byte and starts writing it at once; false when the port is closed or the write
    // failed (a failed write also closes the port and emits portLost).
    bool SendByte(quint8 b) override;
    bool IsOpen() const override;
    // Polls the port without waiting and hands on whatever it holds.
    void ReadPending() override;

    // "COM1".."COM9" on Windows, "/dev/ttyS0".."/dev/ttyS8" elsewhere; empty outside 0..8.
    static QString defaultPortName(int index);
    // Index of the port last opened or tried.
    quint32 PortIndex() const { return m_portIndex; }
    // Device name of the port last opened or tried, and why that open failed (empty on success).
    QString portName() const;
    QString openError() const { return m_openError; }

private:
    void readAvailable();
    void handleError(QSerialPort::SerialPortError error);
    void release();
    QString resolve(int index) const;

    NameResolver m_resolveName;
    QSerialPort* m_port;
    quint32 m_portIndex = 0;
    QString m_openError;
    // Bytes read but not yet handed on; also keeps the order when a receiver of byteReceived runs
    // a nested event loop that reads the next chunk.
    QByteArray m_pending;
    qsizetype m_next = 0;
    bool m_delivering = false;
    bool m_releasing = false;
};
