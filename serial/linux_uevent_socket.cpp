// The kernel's uevent socket: one datagram a device event, read without
// waiting. Only messages from the kernel itself (sender port 0) are taken.
#include "serial/linux_uevent_socket.h"

#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace serial {
namespace {

// The kernel's multicast group for uevents (libudev's are group 2).
constexpr unsigned kKernelGroup = 1;
// Room for a burst of events (a hub with several phones plugged at once);
// a burst beyond it is a lost message, which only makes us look again.
constexpr int kReceiveBufferBytes = 1024 * 1024;
// A uevent is at most a page of text.
constexpr std::size_t kMessageBytes = 8192;

}  // namespace

bool Parse_Uevent(std::string_view message, Uevent& event) {
    event = {};
    const std::size_t header_end = message.find('\0');
    const std::string_view header = message.substr(0, header_end);
    const std::size_t at = header.find('@');
    if (at == std::string_view::npos || at == 0 || header_end == std::string_view::npos)
        return false;
    event.action = header.substr(0, at);
    std::size_t start = header_end + 1;
    while (start < message.size()) {
        std::size_t end = message.find('\0', start);
        if (end == std::string_view::npos)
            end = message.size();
        const std::string_view field = message.substr(start, end - start);
        if (field.starts_with("SUBSYSTEM="))
            event.subsystem = field.substr(10);
        else if (field.starts_with("DEVNAME="))
            event.device_name = field.substr(8);
        start = end + 1;
    }
    return true;
}

Kernel_Uevent_Socket::~Kernel_Uevent_Socket() {
    Close();
}

bool Kernel_Uevent_Socket::Open() {
    Close();
    const int fd =
        ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT);
    if (fd < 0)
        return false;
    // Root may go beyond the system's limit; anyone else gets what it allows.
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &kReceiveBufferBytes,
                     sizeof kReceiveBufferBytes) != 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBufferBytes, sizeof kReceiveBufferBytes);
    }
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = kKernelGroup;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

void Kernel_Uevent_Socket::Close() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool Kernel_Uevent_Socket::Drain() {
    bool look_again = false;
    char buffer[kMessageBytes];
    for (;;) {
        sockaddr_nl sender{};
        iovec part{buffer, sizeof buffer};
        msghdr header{};
        header.msg_name = &sender;
        header.msg_namelen = sizeof sender;
        header.msg_iov = &part;
        header.msg_iovlen = 1;
        const ssize_t got = ::recvmsg(m_fd, &header, MSG_DONTWAIT);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            if (errno == ENOBUFS) {
                look_again = true;  // messages were lost; more may follow
                continue;
            }
            return look_again;  // EAGAIN: nothing more now
        }
        if (sender.nl_pid != 0 || (header.msg_flags & MSG_TRUNC) != 0)
            continue;  // not from the kernel, or not a whole uevent
        Uevent event;
        if (Parse_Uevent(std::string_view(buffer, static_cast<std::size_t>(got)), event) &&
            event.subsystem == "tty")
            look_again = true;
    }
}

}  // namespace serial
