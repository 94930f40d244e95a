#include "LoopbackPort.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <utility>

namespace corvidan::test {

LoopbackPort::LoopbackPort(bool listening)
{
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || (listening && ::listen(m_fd, 64) != 0)
        || ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return;
    m_port = ntohs(address.sin_port);
}

LoopbackPort::LoopbackPort(LoopbackPort&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_port(std::exchange(other.m_port, 0))
{
}

LoopbackPort::~LoopbackPort()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace corvidan::test
