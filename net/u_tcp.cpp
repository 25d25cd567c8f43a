#include "u_tcp.h"

#include "port_name.h"

#include <QElapsedTimer>

#include <algorithm>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Longest a request may take to leave before the connection is taken for
// stalled.
constexpr int writeLimitMs = 1000;

QString SystemText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

tOpenFailure ConnectFailure(int error) {
    switch (error) {
    case ECONNREFUSED:
        return tOpenFailure::Refused;
    case ETIMEDOUT:
        return tOpenFailure::NoAnswer;
    case EHOSTUNREACH:
    case ENETUNREACH:
    case EHOSTDOWN:
    case ENETDOWN:
        return tOpenFailure::Unreachable;
    default:
        return tOpenFailure::Other;
    }
}

// Waits for `events` on `fd` up to `ms`; 1 ready, 0 timed out, -1 failed.
int WaitFor(int fd, short events, int ms) {
    QElapsedTimer t;
    t.start();
    for (;;) {
        const int left = ms - int(t.elapsed());
        pollfd p{fd, events, 0};
        const int ready = ::poll(&p, 1, left > 0 ? left : 0);
        if (ready < 0 && errno == EINTR)
            continue;
        return ready;
    }
}

} // namespace

tTCP::~tTCP() {
    Close();
}

bool tTCP::Open(const QString &name) {
    Close();
    const tPortName p = ParsePortName(name);
    if (!p.network() || !p.error.isEmpty()) {
        openFailure = tOpenFailure::BadAddress;
        openFailureText = p.error.isEmpty() ? name : p.error;
        return false;
    }
    if (!Connect(p.host, p.port))
        return false;
    openFailure = tOpenFailure::None;
    openFailureText.clear();
    return true;
}

// Every address the name resolves to, in the resolver's order, until one
// accepts; the failure kept is the last address's.
bool tTCP::Connect(const QString &host, uint16_t port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo *found = nullptr;
    const int resolved = ::getaddrinfo(host.toUtf8().constData(),
                                       QByteArray::number(port).constData(), &hints, &found);
    if (resolved != 0) {
        openFailure = resolved == EAI_SYSTEM ? tOpenFailure::Other : tOpenFailure::HostNotFound;
        openFailureText = resolved == EAI_SYSTEM ? SystemText(errno)
                                                 : QString::fromLocal8Bit(::gai_strerror(resolved));
        return false;
    }
    QElapsedTimer t;
    t.start();
    int error = ETIMEDOUT;
    for (addrinfo *a = found; a && fd < 0; a = a->ai_next) {
        const int s =
            ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (s < 0) {
            error = errno;
            continue;
        }
        int result = ::connect(s, a->ai_addr, a->ai_addrlen);
        if (result < 0 && errno == EINPROGRESS) {
            const int ready = WaitFor(s, POLLOUT, std::max(connectTimeoutMs - int(t.elapsed()), 0));
            socklen_t len = sizeof error;
            if (ready > 0 && ::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &len) == 0)
                result = error == 0 ? 0 : -1;
            else
                error = ready == 0 ? ETIMEDOUT : errno;
        } else if (result < 0) {
            error = errno;
        }
        if (result == 0)
            fd = s;
        else
            ::close(s);
    }
    ::freeaddrinfo(found);
    if (fd < 0) {
        openFailure = ConnectFailure(error);
        openFailureText = SystemText(error);
        return false;
    }
    // Requests are small and each waits for its answer: none may wait for
    // more to fill a segment. Keepalive finds a peer that vanished while
    // idle, as a recorder's connection between readings may.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    const int idle = 10, interval = 5, probes = 3;
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
    rxpos = rxcnt = 0;
    lost.clear();
    return true;
}

void tTCP::Close() {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
    rxpos = rxcnt = 0;
    lost.clear();
}

// The words the user reads for a connection that ended under a transaction.
void tTCP::Fail(int error) {
    if (!lost.isEmpty())
        return;
    switch (error) {
    case 0:
        lost = QStringLiteral("o outro lado fechou a conexão");
        break;
    case ECONNRESET:
    case EPIPE:
        lost = QStringLiteral("a conexão foi interrompida pelo outro lado");
        break;
    case ETIMEDOUT:
        lost = QStringLiteral("a conexão parou de responder");
        break;
    default:
        lost = SystemText(error);
        break;
    }
}

void tTCP::Purge() {
    rxpos = rxcnt = 0;
    if (!Active())
        return;
    for (;;) {
        const ssize_t got = ::recv(fd, rx, sizeof rx, MSG_DONTWAIT);
        if (got > 0)
            continue;
        if (got == 0)
            Fail(0);
        else if (errno == EINTR)
            continue;
        else if (errno != EAGAIN && errno != EWOULDBLOCK)
            Fail(errno);
        return;
    }
}

int32_t tTCP::Write(const uint8_t *buffer, int32_t n) {
    if (!Active() || n < 0)
        return -1;
    QElapsedTimer t;
    t.start();
    int32_t done = 0;
    while (done < n) {
        const ssize_t w = ::send(fd, buffer + done, size_t(n - done), MSG_NOSIGNAL);
        if (w > 0) {
            done += int32_t(w);
            continue;
        }
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            Fail(errno);
            return -1;
        }
        const int left = writeLimitMs - int(t.elapsed());
        if (left <= 0 || WaitFor(fd, POLLOUT, left) <= 0)
            return -1;
    }
    return n;
}

bool tTCP::GetC(uint8_t &c) {
    if (rxcnt <= 0 && !Refill())
        return false;
    c = rx[rxpos++];
    --rxcnt;
    return true;
}

// One read of whatever the socket holds, once it holds something, waiting
// up to the byte wait.
bool tTCP::Refill() {
    rxpos = rxcnt = 0;
    if (!Active())
        return false;
    QElapsedTimer t;
    t.start();
    for (;;) {
        const ssize_t got = ::recv(fd, rx, sizeof rx, MSG_DONTWAIT);
        if (got > 0) {
            rxcnt = int32_t(got);
            return true;
        }
        if (got == 0) {
            Fail(0);
            return false;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            Fail(errno);
            return false;
        }
        const int left = byteWait + 1 - int(t.elapsed());
        if (left <= 0 || WaitFor(fd, POLLIN, left) == 0)
            return false;
    }
}
