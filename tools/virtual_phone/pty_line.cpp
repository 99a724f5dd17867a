// Creating and tearing down the virtual phone's pseudo-terminal.
#include "tools/virtual_phone/pty_line.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vphone {

bool Pty_Line::plug_in(std::string* error, std::string* warning) {
    unplug();
    auto fail = [&](const char* what) {
        *error = std::string(what) + ": " + std::strerror(errno);
        unplug();
        return false;
    };
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0) {
        return fail("posix_openpt");
    }
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        return fail("grantpt/unlockpt");
    }
    char name[128] = {};
    if (ptsname_r(m_master, name, sizeof name) != 0) {
        return fail("ptsname_r");
    }
    m_slave_path = name;
    m_slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0) {
        return fail("open slave");
    }
    // Owning the slave as controlling terminal keeps a hang-up of the host's
    // side from being reported over and over to whoever else watches the line.
    if (m_controlling_terminal && ioctl(m_slave, TIOCSCTTY, 0) != 0) {
        *warning = std::string("TIOCSCTTY: ") + std::strerror(errno);
    }
    termios line{};
    if (tcgetattr(m_slave, &line) == 0) {
        cfmakeraw(&line);
        cfsetispeed(&line, B115200);
        cfsetospeed(&line, B115200);
        line.c_cflag |= CLOCAL | CREAD;
        tcsetattr(m_slave, TCSANOW, &line);
    }
    int flags = fcntl(m_master, F_GETFL);
    if (flags < 0 || fcntl(m_master, F_SETFL, flags | O_NONBLOCK) != 0 ||
        fcntl(m_master, F_SETFD, FD_CLOEXEC) != 0) {
        return fail("fcntl");
    }
    return true;
}

bool Pty_Line::reply_unread() const {
    int waiting = 0;
    return m_slave >= 0 && ioctl(m_slave, FIONREAD, &waiting) == 0 && waiting > 0;
}

void Pty_Line::unplug() {
    if (m_slave >= 0) {
        close(m_slave);
        m_slave = -1;
    }
    if (m_master >= 0) {
        close(m_master);
        m_master = -1;
    }
}

}  // namespace vphone
