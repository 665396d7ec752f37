#include "tftp/TftpDatagramSocket.h"

#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

TftpDatagramSocket::TftpDatagramSocket() = default;

TftpDatagramSocket::~TftpDatagramSocket()
{
    Close();
}

sockaddr_in TftpDatagramSocket::Address(const QHostAddress& address, quint16 port)
{
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(address.toIPv4Address());
    return a;
}

bool TftpDatagramSocket::Bind(const QHostAddress& address, quint16 port)
{
    Close();
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        return false;
    const sockaddr_in local = Address(address, port);
    socklen_t len = sizeof local;
    sockaddr_in bound {};
    if (::bind(m_fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0
        || ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&bound), &len) != 0) {
        Close();
        return false;
    }
    m_localPort = ntohs(bound.sin_port);
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &TftpDatagramSocket::readyRead);
    return true;
}

qint64 TftpDatagramSocket::Receive(char* buffer, qint64 size, sockaddr_in* from)
{
    if (m_fd < 0)
        return -1;
    socklen_t len = sizeof *from;
    ssize_t n;
    do {
        n = ::recvfrom(m_fd, buffer, size_t(size), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(from), &len);
    } while (n < 0 && errno == EINTR);
    return n;
}

bool TftpDatagramSocket::Send(const char* data, qint64 size, const sockaddr_in& to, bool* temporary)
{
    if (temporary)
        *temporary = false;
    if (m_fd < 0)
        return false;
    ssize_t n;
    do {
        n = ::sendto(m_fd, data, size_t(size), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    } while (n < 0 && errno == EINTR);
    if (n == size)
        return true;
    if (temporary)
        *temporary = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS);
    return false;
}

void TftpDatagramSocket::SetNotifying(bool on)
{
    if (m_notifier)
        m_notifier->setEnabled(on);
}

void TftpDatagramSocket::Close()
{
    m_notifier.reset();
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}
