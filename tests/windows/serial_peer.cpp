// The far end of a pseudo-terminal for the serial tests that run under Wine.
//
// A Linux program (built for the host, not for Windows) that creates a pty,
// prints the slave's path on standard output and then obeys commands that the
// Windows test program writes through the port it opened, one text line each:
//
//   send N DELAY_MS GAP_MS  after DELAY_MS send N pattern bytes; with GAP_MS
//                           > 0 the first half, a pause, then the rest
//   take N                  read N raw bytes, reply with 8 bytes: the count of
//                           bytes that differ from the pattern and the 32-bit
//                           sum, both little-endian
//   line                    reply with 8 bytes: the line as the port driver
//                           set it (speed, then a flag word, little-endian)
//   mess                    set the line to 9600 7E2 with RTS/CTS and XON/XOFF,
//                           so that a test can see the port's open undo it
//   mute MS                 read nothing for MS (the test's writes pile up and
//                           block), then throw away whatever came meanwhile
//
// It becomes the session leader and takes the pty as its controlling
// terminal, and keeps the slave open itself, so the line outlives every open
// and close by the test and Wine's server sees no hang-up when tests end.
// Runs until SIGTERM.
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The pattern both sides agree on: every byte value occurs, including the
// line-control characters a cooked line would eat (CR, LF, XON, XOFF, NUL).
std::uint8_t Pattern_Byte(std::size_t index) {
    return static_cast<std::uint8_t>((index * 7 + 3) % 256);
}

int g_master = -1;

bool Read_Exact(std::uint8_t* data, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got = read(g_master, data + done, count - done);
        if (got > 0) {
            done += static_cast<std::size_t>(got);
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else if (got < 0 && errno == EIO) {
            usleep(20000);  // no slave open right now: wait for the next open
        } else {
            return false;
        }
    }
    return true;
}

bool Write_All(const std::uint8_t* data, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t put = write(g_master, data + done, count - done);
        if (put > 0) {
            done += static_cast<std::size_t>(put);
        } else if (put < 0 && errno != EINTR && errno != EAGAIN) {
            return false;
        }
    }
    return true;
}

void Sleep_Ms(long ms) {
    timespec pause{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

void Put32(std::uint8_t* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The flag word of "line": which settings the port driver left on the tty.
enum Line_Flag : std::uint32_t {
    kCs8 = 1u << 0,
    kParity = 1u << 1,
    kTwoStopBits = 1u << 2,
    kRtsCts = 1u << 3,
    kXonXoff = 1u << 4,
};

std::uint32_t Speed_Of(speed_t speed) {
    switch (speed) {
        case B9600:
            return 9600;
        case B19200:
            return 19200;
        case B57600:
            return 57600;
        case B115200:
            return 115200;
        default:
            return 0;
    }
}

void Run_Command(const std::string& line, int slave) {
    unsigned long n = 0, delay = 0, gap = 0;
    if (std::sscanf(line.c_str(), "send %lu %lu %lu", &n, &delay, &gap) == 3) {
        std::vector<std::uint8_t> bytes(n);
        for (std::size_t i = 0; i < n; ++i)
            bytes[i] = Pattern_Byte(i);
        Sleep_Ms(static_cast<long>(delay));
        if (gap == 0) {
            Write_All(bytes.data(), n);
        } else {
            Write_All(bytes.data(), n / 2);
            Sleep_Ms(static_cast<long>(gap));
            Write_All(bytes.data() + n / 2, n - n / 2);
        }
    } else if (std::sscanf(line.c_str(), "take %lu", &n) == 1) {
        std::vector<std::uint8_t> bytes(n);
        if (!Read_Exact(bytes.data(), n))
            return;
        std::uint32_t mismatches = 0, sum = 0;
        for (std::size_t i = 0; i < n; ++i) {
            if (bytes[i] != Pattern_Byte(i))
                ++mismatches;
            sum += bytes[i];
        }
        std::uint8_t reply[8];
        Put32(reply, mismatches);
        Put32(reply + 4, sum);
        Write_All(reply, sizeof reply);
    } else if (line == "line") {
        termios tio{};
        tcgetattr(slave, &tio);
        std::uint32_t flags = 0;
        if ((tio.c_cflag & CSIZE) == CS8)
            flags |= kCs8;
        if (tio.c_cflag & PARENB)
            flags |= kParity;
        if (tio.c_cflag & CSTOPB)
            flags |= kTwoStopBits;
        if (tio.c_cflag & CRTSCTS)
            flags |= kRtsCts;
        if (tio.c_iflag & (IXON | IXOFF))
            flags |= kXonXoff;
        std::uint8_t reply[8];
        Put32(reply, Speed_Of(cfgetospeed(&tio)));
        Put32(reply + 4, flags);
        Write_All(reply, sizeof reply);
    } else if (std::sscanf(line.c_str(), "mute %lu", &n) == 1) {
        Sleep_Ms(static_cast<long>(n));
        tcflush(slave, TCIFLUSH);
        std::uint8_t junk[4096];
        const int flags = fcntl(g_master, F_GETFL);
        fcntl(g_master, F_SETFL, flags | O_NONBLOCK);
        while (read(g_master, junk, sizeof junk) > 0) {
        }
        fcntl(g_master, F_SETFL, flags);
    } else if (line == "mess") {
        termios tio{};
        tcgetattr(slave, &tio);
        cfsetspeed(&tio, B9600);
        tio.c_cflag = (tio.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB | CRTSCTS;
        tio.c_iflag |= IXON | IXOFF;
        tcsetattr(slave, TCSANOW, &tio);
    }
}

}  // namespace

int main() {
    signal(SIGHUP, SIG_IGN);
    g_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (g_master < 0 || grantpt(g_master) != 0 || unlockpt(g_master) != 0) {
        std::perror("serial-peer: pty");
        return 1;
    }
    const char* slave_path = ptsname(g_master);
    if (slave_path == nullptr)
        return 1;
    const std::string path = slave_path;
    // Own the pty as the session's controlling terminal: Wine's server then
    // sees no stray hang-ups of a terminal without a session.
    setsid();
    const int slave = open(path.c_str(), O_RDWR);
    if (slave < 0) {
        std::perror("serial-peer: slave");
        return 1;
    }
    ioctl(slave, TIOCSCTTY, 0);
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);

    std::printf("%s\n", path.c_str());
    std::fflush(stdout);

    std::string line;
    for (;;) {
        std::uint8_t byte = 0;
        if (!Read_Exact(&byte, 1))
            return 0;
        if (byte == '\n') {
            Run_Command(line, slave);
            line.clear();
        } else if (line.size() < 200) {
            line.push_back(static_cast<char>(byte));
        }
    }
}
