#include "link/tcomport.h"

#include "link/linklog.h"

namespace {

constexpr quint8 ExplicitLinesFlag = 0x04;
constexpr quint8 RtsFlag = 0x01;
constexpr quint8 DtrFlag = 0x02;

} // namespace

TComPort::TComPort(NameResolver resolveName, QObject* parent)
    : SerialPort(parent)
    , m_resolveName(std::move(resolveName))
    , m_port(new QSerialPort(this)) {
    connect(m_port, &QSerialPort::readyRead, this, &TComPort::readAvailable);
    connect(m_port, &QSerialPort::errorOccurred, this, &TComPort::handleError);
}

TComPort::~TComPort() {
    release();
}

QString TComPort::defaultPortName(int index) {
    if (index < 0 || index >= int(PortCount))
        return {};
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(index + 1);
#else
    return QStringLiteral("/dev/ttyS%1").arg(index);
#endif
}

QString TComPort::resolve(int index) const {
#ifdef Q_OS_WIN
    return defaultPortName(index);
#else
    return m_resolveName ? m_resolveName(index) : defaultPortName(index);
#endif
}

QString TComPort::portName() const {
    return m_port->portName();
}

bool TComPort::Open(quint32 portIndex, qint32 baudRate, quint8 lineFlags) {
    release();
    m_openError.clear();
    if (portIndex >= PortCount) {
        m_openError = QStringLiteral("no port COM%1").arg(portIndex + 1);
        return false;
    }
    m_portIndex = portIndex;
    const QString name = resolve(int(portIndex));
    m_port->setPortName(name);
    if (name.isEmpty()) {
        m_openError = QStringLiteral("no device configured for COM%1").arg(portIndex + 1);
        return false;
    }
    if (baudRate <= 0) {
        m_openError = QStringLiteral("invalid baud rate %1").arg(baudRate);
        return false;
    }

    m_port->setBaudRate(baudRate);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port->open(QIODevice::ReadWrite)) {
        m_openError = m_port->errorString();
        m_port->clearError();
        qCInfo(lcLink) << "Cannot open" << name << ":" << m_openError;
        return false;
    }

    const bool explicitLines = lineFlags & ExplicitLinesFlag;
    const bool rts = !explicitLines || (lineFlags & RtsFlag);
    const bool dtr = !explicitLines || (lineFlags & DtrFlag);
    const bool linesSet = m_port->setRequestToSend(rts) && m_port->setDataTerminalReady(dtr);
    if (!linesSet) {
        // A line without modem control (a pty, some adapters) still carries data, so raising the
        // lines is best effort; states the caller asked for explicitly are not.
        if (explicitLines) {
            m_openError = m_port->errorString();
            release();
            return false;
        }
        m_port->clearError();
    }

    // The platform does not purge on open: drop whatever the line collected while nobody listened.
    m_port->clear(QSerialPort::AllDirections);
    return m_port->isOpen();
}

void TComPort::Close() {
    release();
}

void TComPort::release() {
    m_pending.clear();
    m_next = 0;
    if (!m_port->isOpen() || m_releasing)
        return;
    m_releasing = true;
    m_port->close();
    m_port->clearError();
    m_releasing = false;
}

bool TComPort::SendByte(quint8 b) {
    if (!m_port->isOpen())
        return false;
    const char c = char(b);
    if (m_port->write(&c, 1) != 1)
        return false;
    // Hand it to the driver now rather than at the next event loop pass; a vanished device shows
    // up here as a write error, which closes the port.
    m_port->flush();
    return m_port->isOpen();
}

bool TComPort::IsOpen() const {
    return m_port->isOpen();
}

void TComPort::ReadPending() {
    if (!m_port->isOpen())
        return;
    // A zero timeout only polls; bytes found are read and announced through readyRead at once.
    if (!m_port->waitForReadyRead(0) && m_port->error() == QSerialPort::TimeoutError)
        m_port->clearError();
    if (m_port->isOpen())
        readAvailable();
}

void TComPort::readAvailable() {
    m_pending += m_port->readAll();
    if (m_delivering)
        return;
    m_delivering = true;
    // A receiver may close the port (which drops the rest) or read more in a nested loop (which
    // appends behind the bytes still pending), so the position lives in the object.
    while (m_next < m_pending.size())
        emit byteReceived(quint8(m_pending.at(m_next++)));
    m_pending.clear();
    m_next = 0;
    m_delivering = false;
}

void TComPort::handleError(QSerialPort::SerialPortError error) {
    if (error != QSerialPort::ReadError && error != QSerialPort::WriteError &&
        error != QSerialPort::ResourceError)
        return;
    if (m_releasing || !m_port->isOpen())
        return;
    qCWarning(lcLink) << "Serial port" << m_port->portName() << "lost:" << error
                      << m_port->errorString();
    release();
    emit portLost();
}
