#include "u_uart.h"

#include "port_name.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QtGlobal>

#include <cerrno>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int bufferSize = 8192;

// Longest a block write may take before the port is taken for dead: the
// frame's own wire time at the current speed, plus a second of slack.
int writeLimitMs(int32_t bytes, int32_t baud) {
    return 1000 + int(int64_t(bytes) * 10 * 1000 * 2 / qMax(baud, 1));
}

// The device behind a port name, as QSerialPort finds it: a bare name such
// as "ttyUSB0" lives under /dev.
QString systemLocation(const QString &name) {
    return name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1Char('.'))
               ? name
               : QStringLiteral("/dev/") + name;
}

// `error` and `savedErrno` are what the failed open left. QSerialPort calls a
// device another program has locked or holds exclusively a permission error,
// just as one the user may not open; only the device's own access rights tell
// them apart. Past the lock file, errno is the device open's own.
tOpenFailure classify(QSerialPort::SerialPortError error, int savedErrno, const QString &location) {
    if (error == QSerialPort::DeviceNotFoundError)
        return tOpenFailure::NoDevice;
    if (error != QSerialPort::PermissionError) {
        if (savedErrno == ENOENT || savedErrno == ENODEV || savedErrno == ENXIO)
            return tOpenFailure::NoDevice;
        return savedErrno == EBUSY ? tOpenFailure::InUse : tOpenFailure::Other;
    }
    if (::faccessat(AT_FDCWD, QFile::encodeName(location).constData(), R_OK | W_OK, AT_EACCESS) ==
        0)
        return tOpenFailure::InUse;
    switch (errno) {
    case EACCES:
    case EPERM:
    case EROFS:
        return tOpenFailure::NoPermission;
    case ENOENT:
    case ENOTDIR:
        return tOpenFailure::NoDevice;
    default:
        return tOpenFailure::InUse;
    }
}

} // namespace

tUART::tUART() : com(std::make_unique<QSerialPort>()) {
    // A vanished adapter or a hung-up pty shows as a resource, read or write
    // error; from then on every read and write fails at once instead of
    // spinning on a descriptor that is permanently readable and empty.
    QObject::connect(com.get(), &QSerialPort::errorOccurred, com.get(),
                     [this](QSerialPort::SerialPortError e) {
                         if (e == QSerialPort::ResourceError || e == QSerialPort::ReadError ||
                             e == QSerialPort::WriteError)
                             failed = true;
                     });
}

tUART::~tUART() {
    Close();
}

void tUART::MoveToThread(QThread *thread) {
    com->moveToThread(thread);
}

void tUART::SetBaud(int32_t rate) {
    baud = rate;
    if (com->isOpen())
        com->setBaudRate(rate);
}

bool tUART::Open(const QString &name) {
    if (!name.isEmpty())
        port = name;
    if (com->isOpen())
        Close();
    failed = false;
    com->setPortName(port);
    errno = 0;
    if (!com->open(QIODevice::ReadWrite)) {
        const int savedErrno = errno;
        openFailure = classify(com->error(), savedErrno, systemLocation(port));
        openFailureText = com->errorString();
        return false;
    }
    openFailure = tOpenFailure::None;
    openFailureText.clear();
    rxbuf.resize(bufferSize);
    txbuf.resize(bufferSize);
    rxcnt = rxpos = txpos = 0;
    deviceReads = 0;
    // Settings a device refuses (a pty has no modem lines) are not errors:
    // the port stays open with whatever it accepted.
    com->setBaudRate(baud);
    com->setDataBits(QSerialPort::Data8);
    com->setParity(QSerialPort::NoParity);
    com->setStopBits(QSerialPort::OneStop);
    com->setFlowControl(QSerialPort::NoFlowControl);
    com->setDataTerminalReady(false);
    com->setRequestToSend(false);
    Purge();
    return true;
}

void tUART::Close() {
    if (com->isOpen())
        com->close();
    rxbuf.clear();
    txbuf.clear();
    failed = false;
}

bool tUART::Active() const {
    return com->isOpen() && !failed;
}

void tUART::Purge() {
    if (com->isOpen()) {
        // Drops the device's queues and the bytes the port object had
        // already taken from the device.
        com->clear(QSerialPort::AllDirections);
    }
    rxcnt = 0;
}

// Reads and writes go to the descriptor directly: QSerialPort's buffers,
// signals and waits cost several times the system calls themselves, which
// counts where bytes arrive one by one. QSerialPort still opens, sets up,
// purges and closes the device.
int32_t tUART::Write(const uint8_t *buffer, int32_t n) {
    if (!Active() || n < 0)
        return -1;
    if (n == 0)
        return 0;
    const int fd = int(com->handle());
    QElapsedTimer t;
    t.start();
    const int limit = writeLimitMs(n, baud);
    int32_t done = 0;
    while (done < n) {
        const ssize_t w = ::write(fd, buffer + done, size_t(n - done));
        if (w > 0) {
            done += int32_t(w);
            continue;
        }
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0 && errno != EAGAIN) {
            failed = true;
            break;
        }
        const int left = limit - int(t.elapsed());
        if (left <= 0)
            break;
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, left) < 0 && errno != EINTR)
            break;
    }
    if (done != n) {
        ::tcflush(fd, TCOFLUSH);
        return -1;
    }
    return n;
}

bool tUART::PutC(uint8_t c) {
    return Write(&c, 1) == 1;
}

int32_t tUART::PutS(const QString &s) {
    QByteArray bytes(s.size(), '\0');
    for (qsizetype i = 0; i < s.size(); ++i)
        bytes[i] = char(s.at(i).unicode() & 0xFF);
    return Write(reinterpret_cast<const uint8_t *>(bytes.constData()), int32_t(bytes.size()));
}

bool tUART::Push(uint8_t c) {
    if (txpos >= txbuf.size() - 1)
        return false;
    txbuf[txpos++] = char(c);
    return true;
}

bool tUART::Push(const QByteArray &buffer) {
    for (char c : buffer)
        if (!Push(uint8_t(c)))
            return false;
    return true;
}

bool tUART::Flush() {
    const int32_t n = txpos;
    txpos = 0;
    return Write(reinterpret_cast<const uint8_t *>(txbuf.constData()), n) == n;
}

bool tUART::GetC(uint8_t &c) {
    // The buffer is there exactly while the port is open.
    if (rxbuf.isEmpty())
        return false;
    c = 0;
    if (rxcnt <= 0 && !Refill())
        return false;
    c = uint8_t(rxbuf.constData()[rxpos]);
    ++rxpos;
    --rxcnt;
    return true;
}

// One device read into the receive buffer, once the device has bytes: a
// blocking wait for what is left of the byte wait rather than waking every
// millisecond, so arriving bytes end it at once.
bool tUART::Refill() {
    rxpos = 0;
    rxcnt = 0;
    // Bytes QSerialPort took from the device while the caller's event loop ran.
    if (com->bytesAvailable() > 0) {
        ++deviceReads;
        rxcnt = int32_t(qMax<qint64>(com->read(rxbuf.data(), rxbuf.size()), 0));
        return rxcnt > 0;
    }
    const int fd = int(com->handle());
    QElapsedTimer t;
    t.start();
    for (;;) {
        if (failed)
            return false;
        const qint64 left = Timeout + 1 - t.elapsed();
        if (left <= 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, int(left));
        if (ready == 0)
            return false;
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            failed = true;
            return false;
        }
        const ssize_t got = ::read(fd, rxbuf.data(), size_t(rxbuf.size()));
        ++deviceReads;
        if (got > 0) {
            rxcnt = int32_t(got);
            return true;
        }
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        // Ready yet nothing to read, or an error: the device has gone.
        failed = true;
        return false;
    }
}

int32_t tUART::Read(uint8_t *buffer, int32_t n) {
    QElapsedTimer t;
    t.start();
    int32_t i = 0;
    while (i < n) {
        if (!GetC(buffer[i]))
            break;
        ++i;
        if (t.elapsed() > Timeout)
            break;
    }
    return i;
}

QString tUART::GetS() {
    QString s;
    uint8_t c;
    while (GetC(c)) {
        s += QChar(char16_t(c));
        if (c == 13)
            break;
    }
    return s;
}

int32_t tUART::RXda() {
    if (!com->isOpen())
        return 0;
    int queued = 0;
    if (::ioctl(int(com->handle()), FIONREAD, &queued) < 0)
        queued = 0;
    com->clearError();
    return int32_t(queued + com->bytesAvailable());
}

void tUART::Exec(const QString &command, QString &reply) {
    if (!command.isEmpty())
        PutS(command + QChar(13));
    reply = GetS();
}

QList<tPortInfo> uart_GetCommInfo() {
    QList<tPortInfo> ports;
    auto known = [&ports](const QString &name) {
        for (const tPortInfo &p : ports)
            if (p.name == name)
                return true;
        return false;
    };
    for (const QString &name : SplitPortList(qEnvironmentVariable("TARVIK_PORTS")))
        if (!known(name))
            ports.append({name, QString()});
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        if (known(info.systemLocation()))
            continue;
        QStringList about;
        for (const QString &part : {info.manufacturer(), info.description(), info.serialNumber()})
            if (!part.isEmpty())
                about.append(part);
        ports.append({info.systemLocation(), about.join(QStringLiteral(" - "))});
    }
    return ports;
}

int32_t uart_GetCommList(QStringList &list) {
    return uart_GetCommList(list, QString(), true);
}

int32_t uart_GetCommList(QStringList &list, const QString &filter, bool clear) {
    if (clear)
        list.clear();
    int32_t added = 0;
    for (const tPortInfo &p : uart_GetCommInfo()) {
        if (!filter.isEmpty() && !p.name.contains(filter))
            continue;
        list.append(p.name);
        ++added;
    }
    return added;
}
