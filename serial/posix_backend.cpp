// The serial port on Linux and other POSIX systems: termios in raw mode, held
// exclusively, with reads and writes made synchronous over a non-blocking
// descriptor and poll().
//
// The phone's boot loader shows up as a USB CDC-ACM device (/dev/ttyACM*);
// tests use the slave side of a pseudo-terminal. Both behave the same here,
// except that a pseudo-terminal has no modem lines to drop.
//
// The port is held for the run and handed back as it was found: TIOCEXCL
// keeps ordinary users out and an flock() keeps out a second copy of this
// program even when it runs as root (the superuser passes TIOCEXCL). A port
// that another program holds exclusively is refused as in use, also to root:
// the port is asked whether a hold is in force (TIOCGEXCL) before one is set.
// On close the hold this program set is cleared, never another's, and the
// line settings found at open are put back. Only terminal devices are taken,
// and never this program's own terminal: raw mode there would leave the
// user's shell unusable.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <ctime>

#include "serial/port_backend.h"
#include "serial/stop_signal.h"

namespace {

// A read made before any time-out was given (callers always give one) still
// ends: after the longest wait any exchange with the boot loader needs.
constexpr std::uint32_t kUnsetReadTimeoutMs = 120000;

std::int64_t Now_Ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// A transfer's time limit, its clock read only once the transfer has to wait:
// most writes and many reads never do, and on some machines every reading
// of the clock is a system call. The first wait gets the whole limit.
class Deadline {
  public:
    static Deadline None() { return Deadline(-1); }
    explicit Deadline(std::int64_t limit_ms) : m_limit_ms(limit_ms) {}
    // Milliseconds a wait may take from now: -1 for no limit, 0 once passed.
    std::int64_t Left_Ms() {
        if (m_limit_ms < 0)
            return -1;
        if (!m_anchored) {
            m_end = Now_Ms() + m_limit_ms;
            m_anchored = true;
            return m_limit_ms;
        }
        const std::int64_t left = m_end - Now_Ms();
        return left > 0 ? left : 0;
    }

  private:
    std::int64_t m_limit_ms;
    bool m_anchored = false;
    std::int64_t m_end = 0;
};

// Errors that mean the device went away: the phone was unplugged, or the
// other side of a pseudo-terminal closed.
bool Is_Hang_Up_Error(int error) {
    return error == EIO || error == ENODEV || error == ENXIO;
}

// What one wait for the device found.
enum class Wait_Outcome { kReady, kHungUp, kDeadline, kStopped, kFailed };

bool Baud_To_Speed(std::int32_t baud, speed_t& speed) {
    struct Entry {
        std::int32_t baud;
        speed_t speed;
    };
    static constexpr Entry kSpeeds[] = {
        {1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},
        {19200, B19200},   {38400, B38400},   {57600, B57600},   {115200, B115200},
        {230400, B230400}, {460800, B460800}, {921600, B921600},
    };
    for (const Entry& entry : kSpeeds) {
        if (entry.baud == baud) {
            speed = entry.speed;
            return true;
        }
    }
    return false;
}

class Posix_Backend final : public Port_Backend {
  public:
    ~Posix_Backend() override { Close(); }
    Posix_Backend() = default;
    Posix_Backend(const Posix_Backend&) = delete;
    Posix_Backend& operator=(const Posix_Backend&) = delete;

    // The kernel's tty buffers are not sized from user space: the queues
    // are what the driver has.
    Port_Open_Result Open(const std::string& name) override {
        Close();
        const int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            const int error = errno;
            Open_Refusal refusal = Open_Refusal::kNone;
            if (error == EACCES || error == EPERM)
                refusal = Open_Refusal::kNoPermission;
            else if (error == EBUSY)  // held with TIOCEXCL by another program
                refusal = Open_Refusal::kInUse;
            else if (error == EISDIR)
                refusal = Open_Refusal::kNotASerialPort;
            return {false, error, refusal};
        }
        // Nothing is changed on the device until all of these pass.
        struct stat status {};
        if (::fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode) || ::isatty(fd) != 1)
            return Refuse(fd, ENOTTY, Open_Refusal::kNotASerialPort);
        if (Is_Own_Terminal(fd, status))
            return Refuse(fd, EINVAL, Open_Refusal::kOwnTerminal);
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
            return Refuse(fd, EBUSY, Open_Refusal::kInUse);
        if (Held_Exclusively(fd))
            return Refuse(fd, EBUSY, Open_Refusal::kInUse);
        // Share mode 0 on Windows: no other program opens the port while we
        // hold it (EBUSY for them).
        if (::ioctl(fd, TIOCEXCL) != 0)
            return Refuse(fd, errno, Open_Refusal::kNone);
        m_set_exclusive = true;
        m_saved_valid = ::tcgetattr(fd, &m_saved) == 0;
        m_fd = fd;
        m_read_deadline_ms = 0;  // a fresh port has the driver's defaults
        return {true, 0, Open_Refusal::kNone};
    }

    // The next program finds the port as this one found it: not exclusive,
    // with its old line settings. The lock goes with the descriptor.
    void Close() override {
        if (m_fd < 0)
            return;
        if (m_saved_valid)
            ::tcsetattr(m_fd, TCSANOW, &m_saved);
        if (m_set_exclusive)
            ::ioctl(m_fd, TIOCNXCL);
        ::close(m_fd);
        m_fd = -1;
        m_saved_valid = false;
        m_set_exclusive = false;
    }

    bool Set_Lines(std::int32_t baud) override {
        if (m_fd < 0)
            return false;
        speed_t speed{};
        if (!Baud_To_Speed(baud, speed))
            return false;
        termios tio{};
        if (::tcgetattr(m_fd, &tio) != 0)
            return false;
        ::cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
        tio.c_cflag |= CS8;
        tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0)
            return false;
        if (::tcsetattr(m_fd, TCSANOW, &tio) != 0)
            return false;
        // DTR and RTS off. A pseudo-terminal has no modem lines: not a failure.
        int lines = TIOCM_DTR | TIOCM_RTS;
        if (::ioctl(m_fd, TIOCMBIC, &lines) != 0 && errno != ENOTTY && errno != EINVAL) {
            return false;
        }
        return true;
    }

    Port_Io_Result Read(std::span<std::uint8_t> buffer, std::uint32_t deadline_ms) override {
        Port_Io_Result result;
        if (m_fd < 0)
            return result;
        if (deadline_ms != kDeadlineInForce)
            m_read_deadline_ms = deadline_ms;
        const std::uint32_t timeout =
            m_read_deadline_ms != 0 ? m_read_deadline_ms : kUnsetReadTimeoutMs;
        Deadline deadline(timeout);
        result.ok = true;
        bool hung_up = false;
        // Right after a write the answer is still on its way: waiting first
        // saves the read that would only find the queue empty.
        bool wait_first = m_wrote_since_read;
        m_wrote_since_read = false;
        while (result.count < buffer.size()) {
            // Take what is queued first, never more than still wanted, so that
            // bytes beyond the count stay queued for the next read. In raw mode
            // with VMIN 0 an empty queue reads as 0 bytes or EAGAIN.
            const ssize_t got = wait_first ? (errno = EAGAIN, -1)
                                           : ::read(m_fd, buffer.data() + result.count,
                                                    buffer.size() - result.count);
            wait_first = false;
            if (got > 0) {
                result.count += static_cast<std::size_t>(got);
                continue;
            }
            if (got < 0 && errno == EINTR)
                continue;
            if ((got < 0 && errno != EAGAIN && errno != EWOULDBLOCK) || hung_up) {
                // EIO, or a hang-up with nothing left to read: the phone was
                // unplugged or the pseudo-terminal's other side closed. Fail
                // at once rather than poll a descriptor that stays ready.
                return Ended(result, got < 0 && !Is_Hang_Up_Error(errno) && !hung_up
                                         ? Io_End::kFailed
                                         : Io_End::kHungUp);
            }
            switch (Wait_For(POLLIN, deadline)) {
                case Wait_Outcome::kReady:
                    break;
                case Wait_Outcome::kHungUp:
                    // Drain what is still queued after a hang-up, then give up.
                    hung_up = true;
                    break;
                case Wait_Outcome::kDeadline:
                    return result;  // a short count: the time-out passed
                case Wait_Outcome::kStopped:
                    return Ended(result, Io_End::kInterrupted);
                case Wait_Outcome::kFailed:
                    return Ended(result, Io_End::kFailed);
            }
        }
        return result;
    }

    Port_Io_Result Write(std::span<const std::uint8_t> buffer, std::uint32_t deadline_ms) override {
        Port_Io_Result result;
        if (m_fd < 0)
            return result;
        Deadline deadline = deadline_ms != 0 ? Deadline(deadline_ms) : Deadline::None();
        result.ok = true;
        while (result.count < buffer.size()) {
            const ssize_t put =
                ::write(m_fd, buffer.data() + result.count, buffer.size() - result.count);
            if (put > 0) {
                result.count += static_cast<std::size_t>(put);
                m_wrote_since_read = true;
                continue;
            }
            if (put < 0 && errno == EINTR)
                continue;
            if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                return Ended(result, Is_Hang_Up_Error(errno) ? Io_End::kHungUp : Io_End::kFailed);
            // The driver's queue is full: wait until it takes more.
            switch (Wait_For(POLLOUT, deadline)) {
                case Wait_Outcome::kReady:
                    break;
                case Wait_Outcome::kHungUp:
                    return Ended(result, Io_End::kHungUp);
                case Wait_Outcome::kDeadline:
                    return Ended(result, Io_End::kTimedOut);
                case Wait_Outcome::kStopped:
                    return Ended(result, Io_End::kInterrupted);
                case Wait_Outcome::kFailed:
                    return Ended(result, Io_End::kFailed);
            }
        }
        return result;
    }

    std::uint32_t Bytes_In_Queue() override {
        int waiting = 0;
        if (m_fd < 0 || ::ioctl(m_fd, FIONREAD, &waiting) != 0)
            return 0;
        return waiting > 0 ? static_cast<std::uint32_t>(waiting) : 0;
    }

    bool Purge() override { return m_fd >= 0 && ::tcflush(m_fd, TCIOFLUSH) == 0; }

    // A delay ends early only for a stop request.
    void Pause(std::int32_t ms) override {
        if (ms <= 0)
            return;
        const std::int64_t deadline = Now_Ms() + ms;
        for (;;) {
            const std::int64_t left = deadline - Now_Ms();
            if (left <= 0 || (Attached_Stop() != nullptr && Attached_Stop()->Interrupts()))
                return;
            pollfd stop{Stop_Descriptor(), POLLIN, 0};
            if (::poll(&stop, stop.fd >= 0 ? 1 : 0, static_cast<int>(left)) > 0 &&
                (stop.revents & POLLIN) != 0) {
                Attached_Stop()->Wake_Means_Stop();  // a stop ends the delay above; else drained
            }
        }
    }

  private:
    static Port_Open_Result Refuse(int fd, int error, Open_Refusal refusal) {
        ::close(fd);
        return {false, error, refusal};
    }

    // Whether another program holds the port exclusively. The superuser's
    // open passes such a hold, so the port is asked where the system tells
    // (TIOCGEXCL); elsewhere the open's EBUSY is all there is to know.
    static bool Held_Exclusively(int fd) {
#ifdef TIOCGEXCL
        int exclusive = 0;
        return ::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
#else
        static_cast<void>(fd);
        return false;
#endif
    }

    // The controlling terminal (TIOCGSID answers only for it), or the
    // terminal one of the standard streams is on. A standard descriptor
    // that is the port itself (the stream was closed when the program
    // started) is no terminal of the program's.
    static bool Is_Own_Terminal(int fd, const struct stat& status) {
        if (::tcgetsid(fd) != -1)
            return true;
        for (const int stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
            struct stat other {};
            if (stream != fd && ::fstat(stream, &other) == 0 && S_ISCHR(other.st_mode) &&
                other.st_rdev == status.st_rdev)
                return true;
        }
        return false;
    }

    static Port_Io_Result Ended(Port_Io_Result result, Io_End cause) {
        result.ok = cause == Io_End::kTimedOut || cause == Io_End::kInterrupted;
        result.cause = cause;
        return result;
    }

    // The stop pipe to watch beside the device; none while the last bytes of
    // a stopped exchange go out (the pipe stays readable then).
    int Stop_Descriptor() const {
        return Attached_Stop() != nullptr && !Attached_Stop()->Held_Back()
                   ? Attached_Stop()->Wait_Descriptor()
                   : -1;
    }

    // Waits until the device is ready for events, the deadline passes (if it
    // has one), the line hangs up or a stop is requested. A signal that
    // interrupts poll() only makes it look again.
    Wait_Outcome Wait_For(short events, Deadline& deadline) {
        for (;;) {
            if (Attached_Stop() != nullptr && Attached_Stop()->Interrupts())
                return Wait_Outcome::kStopped;
            const std::int64_t left = deadline.Left_Ms();
            if (left == 0)
                return Wait_Outcome::kDeadline;
            const int wait_ms = static_cast<int>(left);
            pollfd fds[2] = {{m_fd, events, 0}, {Stop_Descriptor(), POLLIN, 0}};
            const int ready = ::poll(fds, fds[1].fd >= 0 ? 2 : 1, wait_ms);
            if (ready < 0) {
                if (errno == EINTR)
                    continue;
                return Wait_Outcome::kFailed;
            }
            if (ready == 0)
                continue;  // the deadline check above decides
            // A stop ends the wait at the check above; a wake-up without one
            // is drained, and the device looked at all the same.
            if (fds[1].fd >= 0 && (fds[1].revents & POLLIN) != 0 &&
                Attached_Stop()->Wake_Means_Stop())
                continue;
            if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
                return Wait_Outcome::kHungUp;
            if (fds[0].revents == 0)
                continue;
            return Wait_Outcome::kReady;
        }
    }

    int m_fd = -1;
    termios m_saved{};  // the line settings found at open
    bool m_saved_valid = false;
    bool m_set_exclusive = false;          // the exclusive hold is this program's own
    std::uint32_t m_read_deadline_ms = 0;  // 0: no read has given one since the open
    bool m_wrote_since_read = false;       // bytes went out since the last read began
};

}  // namespace

std::unique_ptr<Port_Backend> Make_System_Backend() {
    return std::make_unique<Posix_Backend>();
}
