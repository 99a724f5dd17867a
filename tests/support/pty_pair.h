// A pseudo-terminal pair for tests that need a serial port: the test plays the
// phone on the master side, the code under test opens the slave path as its
// port. The line is put in raw mode from the master side, so bytes pass
// unchanged whoever opens the slave.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

class Pty_Pair {
  public:
    Pty_Pair() {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master < 0)
            return;
        char name[128] = {};
        termios tio{};
        if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0 ||
            ::ptsname_r(m_master, name, sizeof name) != 0 || ::tcgetattr(m_master, &tio) != 0) {
            Close_Master();
            return;
        }
        ::cfmakeraw(&tio);
        if (::tcsetattr(m_master, TCSANOW, &tio) != 0) {
            Close_Master();
            return;
        }
        m_slave_path = name;
    }
    ~Pty_Pair() { Close_Master(); }
    Pty_Pair(const Pty_Pair&) = delete;
    Pty_Pair& operator=(const Pty_Pair&) = delete;

    bool ok() const { return m_master >= 0; }
    int master_fd() const { return m_master; }
    const std::string& slave_path() const { return m_slave_path; }

    // The phone unplugged: the slave side sees a hang-up.
    void Close_Master() {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }

    // Writes every byte to the master side (the phone sends); false on error.
    bool Send(std::span<const std::uint8_t> bytes) const {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t put = ::write(m_master, bytes.data() + done, bytes.size() - done);
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                return false;
            done += static_cast<std::size_t>(put);
        }
        return true;
    }

    // Reads up to count bytes from the master side (what the port sent),
    // waiting at most timeout_ms in all; returns what arrived.
    std::vector<std::uint8_t> Receive(std::size_t count, int timeout_ms) const {
        std::vector<std::uint8_t> bytes(count);
        std::size_t done = 0;
        const long long deadline = Now_Ms() + timeout_ms;
        while (done < count) {
            const long long left = deadline - Now_Ms();
            if (left <= 0)
                break;
            pollfd pfd{m_master, POLLIN, 0};
            const int ready = ::poll(&pfd, 1, static_cast<int>(left));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0 || (pfd.revents & POLLIN) == 0)
                break;
            const ssize_t got = ::read(m_master, bytes.data() + done, count - done);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            done += static_cast<std::size_t>(got);
        }
        bytes.resize(done);
        return bytes;
    }

    // Throws away whatever the port sent so far (the master is non-blocking
    // for this read only).
    void Drain() const {
        std::uint8_t chunk[4096];
        for (;;) {
            pollfd pfd{m_master, POLLIN, 0};
            if (::poll(&pfd, 1, 20) <= 0 || (pfd.revents & POLLIN) == 0)
                return;
            if (::read(m_master, chunk, sizeof chunk) <= 0)
                return;
        }
    }

    static long long Now_Ms() {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    }

  private:
    int m_master = -1;
    std::string m_slave_path;
};
