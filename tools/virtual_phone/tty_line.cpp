// Opening and closing the tty device the virtual phone serves.
#include "tools/virtual_phone/tty_line.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vphone {

bool Tty_Line::plug_in(std::string* error, std::string* warning) {
    unplug();
    m_fd = open(m_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) {
        *error = "open " + m_path + ": " + std::strerror(errno);
        return false;
    }
    termios line{};
    if (!isatty(m_fd) || tcgetattr(m_fd, &line) != 0) {
        *error = m_path + " is not a terminal device";
        unplug();
        return false;
    }
    // Raw: a gadget tty starts in canonical mode with echo, which would send
    // the host's own bytes back to it.
    cfmakeraw(&line);
    cfsetispeed(&line, B115200);
    cfsetospeed(&line, B115200);
    line.c_cflag |= CLOCAL | CREAD;
    line.c_cflag &= ~static_cast<tcflag_t>(HUPCL);
    line.c_cc[VMIN] = 0;
    line.c_cc[VTIME] = 0;
    if (tcsetattr(m_fd, TCSANOW, &line) != 0)
        *warning = "tcsetattr " + m_path + ": " + std::strerror(errno);
    // Whatever the line held from before this plug-in is not for this host.
    tcflush(m_fd, TCIOFLUSH);
    return true;
}

void Tty_Line::unplug() {
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
}

bool Tty_Line::reply_unread() const {
    int queued = 0;
    return m_fd >= 0 && ioctl(m_fd, TIOCOUTQ, &queued) == 0 && queued > 0;
}

}  // namespace vphone
