#include "raw_line.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

RawLine::RawLine(const std::string &port) {
    m_fd = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_fd < 0)
        return;
    termios tio{};
    tcgetattr(m_fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(m_fd, TCSANOW, &tio);
    tcflush(m_fd, TCIOFLUSH);
}

RawLine::~RawLine() {
    if (m_fd >= 0)
        ::close(m_fd);
}

void RawLine::send(const QByteArray &bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n <= 0)
            return;
        done += n;
    }
}

QByteArray RawLine::receive(int firstMs, int quietMs, int *reads) {
    QByteArray out;
    int arrivals = 0;
    pollfd p{m_fd, POLLIN, 0};
    while (::poll(&p, 1, out.isEmpty() ? firstMs : quietMs) > 0) {
        char buf[512];
        const ssize_t n = ::read(m_fd, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, n);
        ++arrivals;
    }
    if (reads)
        *reads = arrivals;
    return out;
}

QByteArray RawLine::transact(const QByteArray &request, int firstMs) {
    tcflush(m_fd, TCIFLUSH);
    send(request);
    return receive(firstMs);
}

namespace {
quint16 crc16(const QByteArray &data, qsizetype n) {
    quint16 crc = 0xFFFF;
    for (qsizetype i = 0; i < n; ++i) {
        crc ^= quint8(data[i]);
        for (int b = 0; b < 8; ++b)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}
} // namespace

QByteArray withCrc(const QByteArray &body) {
    const quint16 crc = crc16(body, body.size());
    return body + QByteArray{1, char(crc & 0xFF)} + QByteArray{1, char(crc >> 8)};
}

bool crcHolds(const QByteArray &frame) {
    if (frame.size() < 3)
        return false;
    const quint16 crc = crc16(frame, frame.size() - 2);
    return quint8(frame[frame.size() - 2]) == (crc & 0xFF) && quint8(frame.back()) == (crc >> 8);
}
