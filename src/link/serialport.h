#pragma once

#include <QObject>

// One serial line to the terminal, seen by the framing and the poll cycle. It knows nothing of
// Modbus. Implementations deliver every received byte, in arrival order, through byteReceived on
// the thread that owns the object; TComPort is the real port, tests use a fake.
class SerialPort : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~SerialPort() override;

    // Opens port `portIndex` (0..8 for COM1..COM9) at `baudRate`, 8N1. `lineFlags` bit 2 asks for
    // explicit modem line states: bit 0 raises RTS (else lowered), bit 1 raises DTR (else lowered);
    // without bit 2 both are raised. True when the port is open.
    virtual bool Open(quint32 portIndex, qint32 baudRate, quint8 lineFlags) = 0;
    // Closes the port; does nothing when it is not open.
    virtual void Close() = 0;
    // Hands one byte to the port for transmission; false when the port did not take it.
    virtual bool SendByte(quint8 b) = 0;
    virtual bool IsOpen() const = 0;
    // Delivers now, through byteReceived, the bytes the platform already holds for this port,
    // without waiting for the event loop to notice them: a timer that ends a reply may otherwise
    // run before the read notifier of its last bytes. Does nothing by default.
    virtual void ReadPending() {}

signals:
    // One received byte; emitted for every byte, oldest first.
    void byteReceived(quint8 b);
    // The port vanished while open (adapter unplugged, pty peer gone) and has been closed.
    // Emitted once per loss; a later Open may succeed again.
    void portLost();
};
