#pragma once

// The NIMP client: sends requests, keeps each one outstanding until its reply or its
// time-out, and reports every outcome through the request's callback. Runs entirely on
// the thread that owns it (the GUI thread).

#include "nimp/VxNIMPVarList.h"
#include "nimp/VxNIMPWire.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <list>

class QUdpSocket;

// The outcome handed to a callback.
struct VxNIMPError
{
    int code = 0;
    QString message;
    uint8_t requestNumber = 0;
    uint8_t command = 0;
    QString mac; // twelve upper-case hexadecimal digits
    QString password;
    // The IPv4 address the reply came from (for a Discover, this reply's device); null when
    // no reply completed the request (its time-out).
    QHostAddress source;
    // The local interface the reply came in on (its system index); 0 when no reply completed
    // the request or the platform does not tell.
    int interfaceIndex = 0;
};

// Called once for a Get or Set; once per accepted reply and once at the time-out for a
// Discover. The list is a copy holding the values decoded from this reply. The callee
// must not keep references into either argument.
using VxNIMPCallback = std::function<void(const VxNIMPError& error, const VxNIMPVarList& vars)>;

class VxNIMPClient : public QObject
{
    Q_OBJECT

public:
    // Raises -1008 when the socket cannot be set up.
    explicit VxNIMPClient(QObject* parent = nullptr);
    // Discards every outstanding request without callback; never runs the event loop. The
    // bounded wait for outstanding requests at the program's end is the owner's (see
    // AppCore::Shutdown).
    ~VxNIMPClient() override;

    // Where requests go (255.255.255.255 : 64512 unless set); replies are accepted only
    // from this port.
    void SetTarget(const QHostAddress& address, quint16 port);
    QHostAddress TargetAddress() const { return m_targetAddress; }
    quint16 TargetPort() const { return m_targetPort; }

    // Sends a request and makes it outstanding; returns its request number (0 to 255).
    // timeoutCs counts 10 ms units. Raises -1010, -1006, -1007, -1017, -1018 or -1009;
    // after a raise nothing is outstanding and the counter is unchanged.
    //
    // interfaces: the local interfaces (system indexes) the datagram leaves through, one copy
    // out of each, whatever the routing table would pick (a broadcast needs no route then);
    // replies are then taken only when they come in on one of them or on a loopback
    // interface (from this machine). Empty: one datagram as
    // the routing table sends it, replies from anywhere. Raises -1009 only when no copy could
    // be sent.
    int SendRequest(const QString& mac, const QString& password, const VxNIMPVarList& vars,
                    uint8_t command, VxNIMPCallback callback, const QObject* owner, int timeoutCs,
                    const QList<int>& interfaces = {});

    int OutstandingCount() const { return int(m_outstanding.size()); }

    // Discards the outstanding requests sent for this owner (CancelAll: every one) without
    // calling back. Safe from inside a callback.
    void Cancel(const QObject* owner);
    void CancelAll();

    // Strict replies: a Get or Set reply counts only when its command byte is the request's
    // and its digest is the keyed digest of the reply with the request's password, as a
    // device signs it. Any other reply is dropped as if it had never arrived. Discover
    // replies are never checked (a discovery carries no password). Off by default: a device
    // that does not sign its replies would never be answered.
    void SetStrictReplies(bool on) { m_strictReplies = on; }
    bool StrictReplies() const { return m_strictReplies; }

    // The socket's receive buffer as the kernel granted it, in bytes.
    int ReceiveBufferBytes() const { return m_receiveBufferBytes; }
    quint16 LocalPort() const;

signals:
    // The last outstanding request has gone (answered, timed out or cancelled).
    void idle();
    // A callback raised an error. It cannot travel on through the event loop, so it is
    // handed to whoever shows errors.
    void CallbackFailed(int code, const QString& message);

private:
    struct Request
    {
        uint64_t serial = 0;
        uint8_t number = 0;
        QByteArray mac;
        QString password;
        uint8_t command = 0;
        VxNIMPVarList vars;
        VxNIMPCallback callback;
        const QObject* owner = nullptr;
        int64_t deadline = 0;
        bool done = false;
        QList<int> interfaces; // empty: replies from any interface
    };
    using RequestList = std::list<Request>;

    struct Received
    {
        QByteArray data;
        QHostAddress source;
        int interfaceIndex = 0;
    };

    void ReadPending();
    void ProcessInbox();
    void HandleDatagram(const Received& datagram);
    // Whether a reply whose number and MAC match the request may complete it.
    bool Acceptable(const Request& request, const NimpHeader& header,
                    const Received& received) const;
    void Tick();
    void Complete(RequestList::iterator it, int code, const Received* reply = nullptr);
    void UpdateTimer();

    QUdpSocket* m_socket = nullptr;
    QTimer m_tick;
    QHostAddress m_targetAddress;
    quint16 m_targetPort = NimpDefaultPort;
    uint8_t m_counter = 0;
    uint64_t m_nextSerial = 1;
    RequestList m_outstanding;
    // Datagrams read from the socket and not yet handled; handling runs outside the
    // socket's readyRead so that a callback's own waits still receive datagrams.
    QList<Received> m_inbox;
    bool m_inboxScheduled = false;
    bool m_strictReplies = false;
    int m_receiveBufferBytes = 0;
    QList<int> m_loopbackInterfaces;
};
