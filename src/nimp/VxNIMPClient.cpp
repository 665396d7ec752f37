#include "nimp/VxNIMPClient.h"

#include "common/VxError.h"
#include "common/Wait.h"

#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QUdpSocket>
#include <QVariant>
#include <exception>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#endif

namespace {

constexpr int TickIntervalMs = 20;
// Room for a burst of well over a thousand discovery replies (about 150 bytes each plus
// the kernel's per-packet overhead).
constexpr int WantedReceiveBufferBytes = 4 * 1024 * 1024;

#ifdef Q_OS_UNIX
// Broadcast must be allowed explicitly; the kernel refuses sends to 255.255.255.255
// otherwise.
bool EnableBroadcast(qintptr fd)
{
    int one = 1;
    return ::setsockopt(int(fd), SOL_SOCKET, SO_BROADCAST, &one, sizeof one) == 0;
}

int ReceiveBufferOf(qintptr fd)
{
    int size = 0;
    socklen_t len = sizeof size;
    if (::getsockopt(int(fd), SOL_SOCKET, SO_RCVBUF, &size, &len) != 0) {
        return 0;
    }
    return size;
}

// The ordinary option is capped at net.core.rmem_max; as root the forced variant goes
// past that cap. Either way the kernel's own figure is what counts.
int EnlargeReceiveBuffer(QUdpSocket* socket)
{
    const qintptr fd = socket->socketDescriptor();
    socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption,
                            QVariant(WantedReceiveBufferBytes));
#ifdef SO_RCVBUFFORCE
    if (ReceiveBufferOf(fd) < WantedReceiveBufferBytes) {
        int wanted = WantedReceiveBufferBytes;
        ::setsockopt(int(fd), SOL_SOCKET, SO_RCVBUFFORCE, &wanted, sizeof wanted);
    }
#endif
    return ReceiveBufferOf(fd);
}
#else
bool EnableBroadcast(qintptr)
{
    return true;
}

int EnlargeReceiveBuffer(QUdpSocket* socket)
{
    socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption,
                            QVariant(WantedReceiveBufferBytes));
    return socket->socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toInt();
}
#endif

// The sender as a plain IPv4 address (the socket is IPv4, but a mapped form must not leak
// into comparisons with addresses parsed from text).
QHostAddress PlainIPv4(const QHostAddress& address)
{
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    return ok ? QHostAddress(v4) : address;
}

} // namespace

VxNIMPClient::VxNIMPClient(QObject* parent)
    : QObject(parent), m_targetAddress(QHostAddress::Broadcast)
{
    auto* socket = new QUdpSocket(this);
    if (!socket->bind(QHostAddress(QHostAddress::AnyIPv4), 0) ||
        !EnableBroadcast(socket->socketDescriptor())) {
        delete socket;
        NimpRaise(NIMP_ERR_SOCKET_NOT_READY);
    }
    m_socket = socket;
    m_receiveBufferBytes = EnlargeReceiveBuffer(m_socket);
    connect(m_socket, &QUdpSocket::readyRead, this, &VxNIMPClient::ReadPending);

    for (const QNetworkInterface& ni : QNetworkInterface::allInterfaces()) {
        if (ni.flags().testFlag(QNetworkInterface::IsLoopBack)) {
            m_loopbackInterfaces.append(ni.index());
        }
    }

    m_tick.setInterval(TickIntervalMs);
    connect(&m_tick, &QTimer::timeout, this, &VxNIMPClient::Tick);
}

VxNIMPClient::~VxNIMPClient()
{
    // Nothing may be called back from here: the owners of the callbacks may be going too.
    m_tick.stop();
    m_outstanding.clear();
    m_inbox.clear();
    if (m_socket) {
        m_socket->close();
    }
}

void VxNIMPClient::SetTarget(const QHostAddress& address, quint16 port)
{
    m_targetAddress = address;
    m_targetPort = port;
}

quint16 VxNIMPClient::LocalPort() const
{
    return m_socket ? m_socket->localPort() : 0;
}

void VxNIMPClient::Cancel(const QObject* owner)
{
    const auto before = m_outstanding.size();
    m_outstanding.remove_if([owner](const Request& r) { return r.owner == owner; });
    if (m_outstanding.size() != before) {
        UpdateTimer();
        if (m_outstanding.empty()) {
            emit idle();
        }
    }
}

void VxNIMPClient::CancelAll()
{
    if (m_outstanding.empty()) {
        return;
    }
    m_outstanding.clear();
    UpdateTimer();
    emit idle();
}

int VxNIMPClient::SendRequest(const QString& mac, const QString& password,
                              const VxNIMPVarList& vars, uint8_t command, VxNIMPCallback callback,
                              const QObject* owner, int timeoutCs, const QList<int>& interfaces)
{
    const QByteArray macBytes = NimpMacFromText(mac);
    const QByteArray records = NimpRequestRecords(vars, command);
    const uint8_t number = m_counter;
    const QByteArray datagram =
        NimpBuildDatagram(command, number, 0, macBytes, records, NimpPasswordBytes(password));
    if (!m_socket) {
        NimpRaise(NIMP_ERR_SOCKET_IO);
    }
    if (interfaces.isEmpty()) {
        if (m_socket->writeDatagram(datagram, m_targetAddress, m_targetPort) != datagram.size()) {
            NimpRaise(NIMP_ERR_SOCKET_IO);
        }
    } else {
        // The interface travels with each datagram (IP_PKTINFO on Linux): the one socket,
        // bound to all interfaces, sends out of any of them without privileges and receives
        // every reply, broadcast or unicast, with the interface it came in on.
        int sent = 0;
        for (const int index : interfaces) {
            QNetworkDatagram out(datagram, m_targetAddress, m_targetPort);
            out.setInterfaceIndex(uint(index));
            if (m_socket->writeDatagram(out) == datagram.size()) {
                ++sent;
            }
        }
        if (sent == 0) {
            NimpRaise(NIMP_ERR_SOCKET_IO);
        }
    }

    Request request;
    request.serial = m_nextSerial++;
    request.number = number;
    request.mac = macBytes;
    request.password = password;
    request.command = command;
    request.vars = vars;
    request.callback = std::move(callback);
    request.owner = owner;
    request.deadline = TickCount() + int64_t(timeoutCs) * 10;
    request.interfaces = interfaces;
    m_outstanding.push_back(std::move(request));
    ++m_counter;
    UpdateTimer();
    return number;
}

void VxNIMPClient::ReadPending()
{
    while (m_socket->hasPendingDatagrams()) {
        const QNetworkDatagram d = m_socket->receiveDatagram(NimpReceiveBufferSize);
        if (!d.isValid() || d.senderPort() != m_targetPort) {
            continue;
        }
        m_inbox.append({d.data(), PlainIPv4(d.senderAddress()), int(d.interfaceIndex())});
    }
    if (!m_inbox.isEmpty() && !m_inboxScheduled) {
        m_inboxScheduled = true;
        QMetaObject::invokeMethod(this, &VxNIMPClient::ProcessInbox, Qt::QueuedConnection);
    }
}

void VxNIMPClient::ProcessInbox()
{
    m_inboxScheduled = false;
    // A callback may wait and so re-enter here; each datagram is taken off the queue
    // before it is handled, so none is handled twice.
    while (!m_inbox.isEmpty()) {
        HandleDatagram(m_inbox.takeFirst());
    }
}

void VxNIMPClient::HandleDatagram(const Received& received)
{
    const QByteArray& datagram = received.data;
    NimpHeader header;
    if (!NimpAcceptDatagram(datagram, &header)) {
        return;
    }
    // Request numbers repeat once more than 256 requests are outstanding, so a Get or
    // Set reply must also come from that request's device to be its answer.
    auto it = m_outstanding.begin();
    for (; it != m_outstanding.end(); ++it) {
        if (!it->done && it->number == header.requestNumber && Acceptable(*it, header, received)) {
            break;
        }
    }
    if (it == m_outstanding.end()) {
        return;
    }
    if (it->command != NIMP_CMD_DISCOVER) {
        it->done = true;
    }
    int code = NimpStatusResult(header.status);
    if (code == NIMP_OK && it->command != NIMP_CMD_SET) {
        code = NimpDecodeReplyRecords(datagram, it->vars);
    }
    Complete(it, code, &received);
}

bool VxNIMPClient::Acceptable(const Request& request, const NimpHeader& header,
                              const Received& received) const
{
    // A request sent out of chosen interfaces is answered on one of them: a reply that comes
    // in elsewhere is from another network (another console's discovery, a forgery).
    // Loopback carries nothing from the LAN: a device simulated on this machine answers there.
    if (!request.interfaces.isEmpty() && received.interfaceIndex != 0 &&
        !request.interfaces.contains(received.interfaceIndex) &&
        !m_loopbackInterfaces.contains(received.interfaceIndex)) {
        return false;
    }
    if (request.command == NIMP_CMD_DISCOVER) {
        return true;
    }
    if (request.mac != header.mac) {
        return false;
    }
    if (!m_strictReplies) {
        return true;
    }
    // Anyone on the LAN can send a "done" with the right number and MAC; only the device
    // that knows the password can sign it.
    return header.command == request.command &&
           NimpDigestMatches(received.data, NimpPasswordBytes(request.password));
}

void VxNIMPClient::Tick()
{
    const int64_t now = TickCount();
    for (auto it = m_outstanding.begin(); it != m_outstanding.end(); ++it) {
        if (!it->done && it->deadline < now) {
            it->done = true;
            Complete(it, NIMP_ERR_TIMEOUT);
            // One time-out per tick keeps a burst of them from starving the event loop.
            return;
        }
    }
}

void VxNIMPClient::Complete(RequestList::iterator it, int code, const Received* reply)
{
    VxNIMPError error;
    error.code = code;
    error.message = NimpErrorMessage(code);
    error.requestNumber = it->number;
    error.command = it->command;
    error.mac = NimpMacToText(it->mac);
    error.password = it->password;
    if (reply) {
        error.source = reply->source;
        error.interfaceIndex = reply->interfaceIndex;
    }
    const VxNIMPVarList vars = it->vars;
    const VxNIMPCallback callback = it->callback;

    // A Discover keeps collecting replies until its time-out.
    if (it->command != NIMP_CMD_DISCOVER || code == NIMP_ERR_TIMEOUT) {
        m_outstanding.erase(it);
        UpdateTimer();
    }
    if (callback) {
        try {
            callback(error, vars);
        } catch (const VxError& e) {
            emit CallbackFailed(e.code(), e.message());
        } catch (const std::exception& e) {
            emit CallbackFailed(NIMP_ERR_UNKNOWN, QString::fromLocal8Bit(e.what()));
        }
    }
    // After the callback, which may have sent the next request.
    if (m_outstanding.empty()) {
        emit idle();
    }
}

void VxNIMPClient::UpdateTimer()
{
    if (m_outstanding.empty()) {
        m_tick.stop();
    } else if (!m_tick.isActive()) {
        m_tick.start();
    }
}
