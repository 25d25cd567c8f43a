#include "tcp_front.h"

#include <cerrno>
#include <cstdlib>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sim {

namespace {

// Reads exactly `n` bytes; false on a close, an error or `waitMs` of silence.
bool readExactly(int fd, uint8_t *out, size_t n, int waitMs, bool &closed) {
    size_t got = 0;
    while (got < n) {
        const ssize_t r = ::recv(fd, out + got, n - got, MSG_DONTWAIT);
        if (r > 0) {
            got += size_t(r);
            continue;
        }
        if (r == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            closed = true;
            return false;
        }
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, waitMs) <= 0)
            return false;
    }
    return true;
}

} // namespace

bool splitHostPort(const std::string &text, std::string &host, int &port) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size())
        return false;
    host = text.substr(0, colon);
    if (host.front() == '[') {
        if (host.back() != ']')
            return false;
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string::npos) {
        return false;
    }
    char *end = nullptr;
    const long p = std::strtol(text.c_str() + colon + 1, &end, 10);
    if (*end || p < 0 || p > 65535)
        return false;
    port = int(p);
    return !host.empty();
}

int listenOn(const std::string &host, int port, int &boundPort) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo *found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
        errno = EADDRNOTAVAIL;
        return -1;
    }
    int fd = -1;
    for (addrinfo *a = found; a && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            continue;
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, 8) != 0) {
            const int saved = errno;
            ::close(fd);
            fd = -1;
            errno = saved;
        }
    }
    ::freeaddrinfo(found);
    if (fd < 0)
        return -1;
    sockaddr_storage bound{};
    socklen_t len = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&bound), &len);
    boundPort = bound.ss_family == AF_INET6
                    ? ntohs(reinterpret_cast<sockaddr_in6 *>(&bound)->sin6_port)
                    : ntohs(reinterpret_cast<sockaddr_in *>(&bound)->sin_port);
    return fd;
}

MbapRead readMbap(int fd, int waitMs, uint16_t &transaction, Frame &rtu) {
    uint8_t header[7];
    bool closed = false;
    if (!readExactly(fd, header, sizeof header, waitMs, closed))
        return closed ? MbapRead::Closed : MbapRead::Garbage;
    const int protocol = header[2] << 8 | header[3];
    const int length = header[4] << 8 | header[5];
    if (protocol != 0 || length < 2 || length > 254)
        return MbapRead::Garbage;
    transaction = uint16_t(header[0] << 8 | header[1]);
    rtu.assign(size_t(length), 0);
    rtu[0] = header[6];
    if (!readExactly(fd, rtu.data() + 1, size_t(length - 1), waitMs, closed))
        return closed ? MbapRead::Closed : MbapRead::Garbage;
    appendCrc(rtu);
    return MbapRead::Request;
}

Frame toMbap(uint16_t transaction, const Frame &rtu) {
    const size_t n = rtu.size() >= 2 ? rtu.size() - 2 : 0;
    Frame out(6 + n);
    putWord(out, 0, transaction);
    putWord(out, 4, uint16_t(n));
    for (size_t i = 0; i < n; ++i)
        out[6 + i] = rtu[i];
    return out;
}

} // namespace sim
