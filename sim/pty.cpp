#include "pty.h"

#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

PseudoTerminal::~PseudoTerminal() {
    close();
}

bool PseudoTerminal::open() {
    close();
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0)
        return false;
    char name[128];
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0 ||
        ptsname_r(m_master, name, sizeof name) != 0) {
        close();
        return false;
    }
    m_slaveName = name;
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0) {
        close();
        return false;
    }
    // Raw from the start: no echo, no line editing, no CR/LF translation, so
    // that bytes pass unchanged even before a client sets the line up.
    termios tio{};
    if (tcgetattr(m_slave, &tio) == 0) {
        cfmakeraw(&tio);
        cfsetispeed(&tio, B115200);
        cfsetospeed(&tio, B115200);
        tcsetattr(m_slave, TCSANOW, &tio);
    }
    // Writes must never block the serving thread when no client drains the line.
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    return true;
}

int PseudoTerminal::speed() const {
    static constexpr struct {
        speed_t code;
        int baud;
    } kSpeeds[] = {{B1200, 1200},   {B2400, 2400},     {B4800, 4800},
                   {B9600, 9600},   {B19200, 19200},   {B38400, 38400},
                   {B57600, 57600}, {B115200, 115200}, {B230400, 230400}};
    termios tio{};
    if (m_slave < 0 || tcgetattr(m_slave, &tio) != 0)
        return 0;
    const speed_t code = cfgetospeed(&tio);
    for (const auto &s : kSpeeds)
        if (s.code == code)
            return s.baud;
    return 0;
}

void PseudoTerminal::close() {
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
    m_slave = m_master = -1;
    m_slaveName.clear();
}

} // namespace sim
