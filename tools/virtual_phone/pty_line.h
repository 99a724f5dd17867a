// The virtual phone's end of a pseudo-terminal: the "USB cable" to the host.
//
// The phone keeps its own descriptor of the slave side open for as long as it
// is plugged in, so the master never reads EIO while the host has the port
// closed, and the host may open and close the slave as often as it likes.
// Closing the master is pulling the cable: the host's open port hangs up.
#pragma once

#include <string>

namespace vphone {

class Pty_Line {
  public:
    Pty_Line() = default;
    ~Pty_Line() { unplug(); }
    Pty_Line(const Pty_Line&) = delete;
    Pty_Line& operator=(const Pty_Line&) = delete;

    // Creates a new pty in raw mode, 8N1. With controlling_terminal the slave
    // becomes this session's controlling terminal (the caller must be a session
    // leader); a failure of that part only fills warning. False with error
    // filled when the pty cannot be made.
    bool plug_in(bool controlling_terminal, std::string* error, std::string* warning);
    void unplug();
    bool plugged() const { return m_master >= 0; }

    int master() const { return m_master; }
    // The phone's own descriptor of the slave: what it holds unread is what
    // the host has not read yet.
    int slave() const { return m_slave; }
    const std::string& slave_path() const { return m_slave_path; }

  private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_slave_path;
};

}  // namespace vphone
