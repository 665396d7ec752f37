#pragma once

#include <QHostAddress>
#include <QObject>
#include <cstdint>
#include <memory>
#include <netinet/in.h>

class QSocketNotifier;

// The IPv4 UDP socket of one transfer. A session moves a packet each way per block, so
// this talks to the kernel directly: one receive and one send per packet, where the
// general-purpose socket class adds a peek per readiness notification.
class TftpDatagramSocket : public QObject
{
    Q_OBJECT
public:
    TftpDatagramSocket();
    ~TftpDatagramSocket() override;

    // Binds to address (IPv4) on port (0: an ephemeral one) and starts notifying.
    bool Bind(const QHostAddress& address, quint16 port);
    quint16 LocalPort() const { return m_localPort; }
    // Returns the bytes stored (at most size), or -1 when none is pending (or on an error).
    // *fullSize, when given, is the datagram's real length, larger than size when the
    // datagram did not fit.
    qint64 Receive(char* buffer, qint64 size, sockaddr_in* from, qint64* fullSize = nullptr);
    // Returns false when the datagram could not be handed to the kernel; *temporary
    // tells a full send queue (a lost packet) from a real failure.
    bool Send(const char* data, qint64 size, const sockaddr_in& to, bool* temporary = nullptr);
    // One datagram of a header and a body, without copying them together.
    bool Send(const char* head, qint64 headSize, const char* body, qint64 bodySize,
              const sockaddr_in& to, bool* temporary = nullptr);
    void Close();
    // A socket that is only checked now and then (a dallying one) stops notifying, so that
    // the event loop does not poll it on every turn.
    void SetNotifying(bool on);
    int Descriptor() const { return m_fd; }

    static sockaddr_in Address(const QHostAddress& address, quint16 port);
    static bool SameAddress(const sockaddr_in& a, const sockaddr_in& b)
    {
        return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
    }

signals:
    void readyRead();

private:
    int m_fd = -1;
    quint16 m_localPort = 0;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
