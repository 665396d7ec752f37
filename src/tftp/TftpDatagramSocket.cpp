#include "tftp/TftpDatagramSocket.h"

#include <QSocketNotifier>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

TftpDatagramSocket::TftpDatagramSocket() = default;

TftpDatagramSocket::~TftpDatagramSocket()
{
    Close();
}

sockaddr_in TftpDatagramSocket::Address(const QHostAddress& address, quint16 port)
{
    sockaddr_in a{};
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
    sockaddr_in bound{};
    if (::bind(m_fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&bound), &len) != 0) {
        Close();
        return false;
    }
    m_localPort = ntohs(bound.sin_port);
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &TftpDatagramSocket::readyRead);
    return true;
}

qint64 TftpDatagramSocket::Receive(char* buffer, qint64 size, sockaddr_in* from, qint64* fullSize)
{
    if (m_fd < 0)
        return -1;
    socklen_t len = sizeof *from;
    ssize_t n;
    // MSG_TRUNC: the real length of a datagram longer than the buffer, which is cut.
    do {
        n = ::recvfrom(m_fd, buffer, size_t(size), MSG_DONTWAIT | MSG_TRUNC,
                       reinterpret_cast<sockaddr*>(from), &len);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return -1;
    if (fullSize)
        *fullSize = n;
    return std::min<qint64>(n, size);
}

bool TftpDatagramSocket::Send(const char* data, qint64 size, const sockaddr_in& to, bool* temporary)
{
    return Send(data, size, nullptr, 0, to, temporary);
}

bool TftpDatagramSocket::Send(const char* head, qint64 headSize, const char* body, qint64 bodySize,
                              const sockaddr_in& to, bool* temporary)
{
    if (temporary)
        *temporary = false;
    if (m_fd < 0)
        return false;
    iovec parts[2] = {{const_cast<char*>(head), size_t(headSize)},
                      {const_cast<char*>(body), size_t(bodySize)}};
    msghdr message{};
    message.msg_name = const_cast<sockaddr_in*>(&to);
    message.msg_namelen = sizeof to;
    message.msg_iov = parts;
    message.msg_iovlen = bodySize > 0 ? 2 : 1;
    ssize_t n;
    do {
        n = ::sendmsg(m_fd, &message, 0);
    } while (n < 0 && errno == EINTR);
    if (n == headSize + bodySize)
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
