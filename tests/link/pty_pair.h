#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

// A pseudo-terminal: the port under test opens the slave side by name, the
// test plays the far end on the master side.
class tPtyPair {
  public:
    tPtyPair() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0)
            slave = QString::fromLocal8Bit(ptsname(master));
    }
    ~tPtyPair() { hangUp(); }
    tPtyPair(const tPtyPair &) = delete;
    tPtyPair &operator=(const tPtyPair &) = delete;

    bool valid() const { return master >= 0 && !slave.isEmpty(); }
    QString name() const { return slave; }

    void send(const QByteArray &bytes) const {
        if (::write(master, bytes.constData(), size_t(bytes.size())) != bytes.size())
            std::abort();
    }

    // Whatever the port has written, waiting up to 10 s for `count` bytes.
    QByteArray receive(qsizetype count) const {
        QByteArray got;
        QDeadlineTimer deadline(10000);
        while (got.size() < count && !deadline.hasExpired()) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0)
                continue;
            char buf[4096];
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0)
                got.append(buf, n);
        }
        return got;
    }

    // The far end goes away, as an unplugged adapter does.
    void hangUp() {
        if (master >= 0)
            ::close(master);
        master = -1;
    }

  private:
    int master = -1;
    QString slave;
};

// While it lives, the process may not open the device `name`, as a user left
// out of the device's group: the device's mode is cleared and, for root (whom
// modes do not stop), the effective user becomes "nobody". The simulator's
// thread keeps the pty it already holds.
class tLockedOut {
  public:
    explicit tLockedOut(const QString &name) : path(name.toLocal8Bit()) {
        struct stat st {};
        if (::stat(path.constData(), &st) != 0 || ::chmod(path.constData(), 0) != 0)
            return;
        mode = st.st_mode & 07777;
        if (::geteuid() == 0) {
            const passwd *nobody = ::getpwnam("nobody");
            if (::seteuid(nobody ? nobody->pw_uid : 65534) != 0)
                return;
            dropped = true;
        }
        ok = true;
    }
    ~tLockedOut() {
        if (dropped && ::seteuid(0) != 0)
            std::abort();
        if (mode != mode_t(-1))
            ::chmod(path.constData(), mode);
    }
    tLockedOut(const tLockedOut &) = delete;
    tLockedOut &operator=(const tLockedOut &) = delete;

    bool valid() const { return ok; }

  private:
    QByteArray path;
    mode_t mode = mode_t(-1);
    bool dropped = false;
    bool ok = false;
};
