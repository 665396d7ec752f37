#include "tftp/VxTFTPServer.h"

#include "common/VxError.h"
#include "common/Wait.h"
#include "tftp/VxTFTPSession.h"

#include <QEventLoop>
#include <QFile>
#include <QHostInfo>
#include <QSocketNotifier>
#include <QTimer>
#include <QUdpSocket>

#include <cstring>
#include <sys/epoll.h>
#include <unistd.h>

namespace {

constexpr int kTickMs = 20;
constexpr int kStopWaitMs = 10000;
constexpr int kReceiveBuffer = 2048;
constexpr int kDrainLimit = 64;

// The PC's address as the owner shows it: the first IPv4 address of the host's own name.
QString hostAddressText()
{
    static const QString text = [] {
        const QHostInfo info = QHostInfo::fromName(QHostInfo::localHostName());
        for (const QHostAddress& a : info.addresses()) {
            if (a.protocol() == QAbstractSocket::IPv4Protocol)
                return a.toString();
        }
        return QStringLiteral("127.0.0.1");
    }();
    return text;
}

// The zero-terminated text at data[from..size), or a null text when it has no terminator.
QByteArray zeroTerminated(const char* data, qint64 size, qint64 from, qint64* next)
{
    const void* end = from < size ? std::memchr(data + from, 0, size_t(size - from)) : nullptr;
    if (!end)
        return QByteArray();
    const qint64 len = static_cast<const char*>(end) - (data + from);
    *next = from + len + 1;
    return QByteArray(data + from, int(len));
}

} // namespace

struct VxTFTPServer::Dally
{
    std::unique_ptr<VxTFTPSession::FinalAck> final;
    int64_t until = 0;
};

QString VxTFTPStatusMessage(int status)
{
    switch (status) {
    case TFTP_DISCONNECTED:
        return QStringLiteral("(VxTFTP) A TFTP session is disconnected...");
    case TFTP_CONNECTED:
        return QStringLiteral("(VxTFTP) A TFTP session is connected...");
    case TFTP_TRANSFERRING:
        return QStringLiteral("(VxTFTP) File is transferring...");
    case TFTP_SUCCESS:
        return QStringLiteral("(VxTFTP) Success to transfer file.");
    case TFTP_FILE_NOT_FOUND:
        return QStringLiteral("(VxTFTP) File not found!");
    case TFTP_ACCESS_VIOLATION:
        return QStringLiteral("(VxTFTP) Access violation!");
    case TFTP_SOCKET_ERROR:
        return QStringLiteral("(VxTFTP) Fail to open socket!Please check if the network is ready.");
    case TFTP_SEND_ERROR:
        return QStringLiteral("(VxTFTP) Fail to send or receive socket packet!");
    case TFTP_FILE_IO_ERROR:
        return QStringLiteral("(VxTFTP) Fail to read or write the file!");
    case TFTP_FILE_TOO_LARGE:
        return QStringLiteral("(VxTFTP) File is too large to transfer!");
    case TFTP_TIMEOUT:
        return QStringLiteral("(VxTFTP) Timeout!");
    case TFTP_CANCELED:
        return QStringLiteral("(VxTFTP) Transfer has been canceled.");
    default:
        return QString();
    }
}

VxTFTPServer::VxTFTPServer(QObject* parent)
    : QObject(parent), m_timer(new QTimer(this)), m_hostAddress(hostAddressText())
{
    m_timer->setInterval(kTickMs);
    connect(m_timer, &QTimer::timeout, this, &VxTFTPServer::tick);
}

VxTFTPServer::~VxTFTPServer()
{
    m_socket.reset();
    m_dallies.clear();
    m_dallyNotifier.reset();
    if (m_dallyPoll >= 0)
        ::close(m_dallyPoll);
    // The owner may be half destroyed already: the sessions go without calling back.
    for (auto& s : m_sessions)
        s->Close(false);
    m_sessions.clear();
}

void VxTFTPServer::SetTimeouts(int timeoutCs, int transmissions)
{
    m_timeout = std::max(1, timeoutCs);
    m_transmissions = std::max(1, transmissions);
}

void VxTFTPServer::SetCallback(VxTFTPCallback callback, void* arg)
{
    m_callback = std::move(callback);
    m_callbackArg = arg;
}

void VxTFTPServer::Start(const QString& rootDirectory, quint16 port, const QHostAddress& address)
{
    m_root = rootDirectory;
    if (m_socket)
        return;
    m_port = port;
    m_address = address;
    m_startError.clear();

    auto socket = std::make_unique<QUdpSocket>();
    // No address sharing: on Linux a shared UDP port would split the requests between
    // two servers without either noticing.
    if (!socket->bind(address, port, QAbstractSocket::DontShareAddress)) {
        const QString where = QStringLiteral("UDP port %1 on %2").arg(port).arg(address.toString());
        switch (socket->error()) {
        case QAbstractSocket::SocketAccessError:
            m_startError = where + QStringLiteral(" needs root or the CAP_NET_BIND_SERVICE capability "
                                                  "(ports below 1024 are privileged)");
            break;
        case QAbstractSocket::AddressInUseError:
            m_startError = where + QStringLiteral(" is already in use by another program");
            break;
        default:
            m_startError = where + QStringLiteral(": ") + socket->errorString();
            break;
        }
        Stop();
        throw VxError(TFTP_SOCKET_ERROR, VxTFTPStatusMessage(TFTP_SOCKET_ERROR));
    }
    m_port = socket->localPort();
    connect(socket.get(), &QUdpSocket::readyRead, this, &VxTFTPServer::readRequests);
    m_socket = std::move(socket);
}

void VxTFTPServer::Stop()
{
    m_socket.reset();
    if (!m_sessions.empty()) {
        // Runs the event loop: the sessions' packets and the timer go on meanwhile.
        QEventLoop loop;
        QTimer limit;
        limit.setSingleShot(true);
        limit.setTimerType(Qt::PreciseTimer); // a coarse timer may end a 10 s wait 5 % early
        connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        connect(this, &VxTFTPServer::sessionsDrained, &loop, &QEventLoop::quit);
        limit.start(kStopWaitMs);
        loop.exec();
    }
    // A stopped server keeps no transfer going behind its owner's back.
    for (size_t i = 0; i < m_sessions.size();) {
        VxTFTPSession* s = m_sessions[i].get();
        if (s->IsBusy()) {
            ++i;
            continue;
        }
        if (s->state() == VxTFTPSession::State::Active)
            s->Report(TFTP_CANCELED);
        removeSession(i, TFTP_DISCONNECTED);
    }
    m_dallies.clear();
    if (m_sessions.empty())
        m_timer->stop();
}

bool VxTFTPServer::IsListening() const
{
    return m_socket != nullptr;
}

quint16 VxTFTPServer::Port() const
{
    return m_port;
}

QString VxTFTPServer::LocalAddress() const
{
    // A server bound to one address is reached there; otherwise the host's address.
    if (m_socket && m_address.protocol() == QAbstractSocket::IPv4Protocol
        && m_address != QHostAddress(QHostAddress::AnyIPv4))
        return m_address.toString();
    return m_hostAddress;
}

QString VxTFTPServer::RootDirectory() const
{
    return m_root;
}

void VxTFTPServer::readRequests()
{
    char buffer[kReceiveBuffer];
    for (int i = 0; i < kDrainLimit && m_socket && m_socket->hasPendingDatagrams(); ++i) {
        QHostAddress from;
        quint16 fromPort = 0;
        const qint64 size = m_socket->readDatagram(buffer, sizeof buffer, &from, &fromPort);
        if (size >= 4)
            handleRequest(buffer, size, from, fromPort);
    }
}

void VxTFTPServer::handleRequest(const char* data, qint64 size, const QHostAddress& from, quint16 fromPort)
{
    const int opcode = (quint8(data[0]) << 8) | quint8(data[1]);
    if (opcode != TFTP_OP_READ && opcode != TFTP_OP_WRITE)
        return;
    qint64 next = 2;
    const QByteArray name = zeroTerminated(data, size, 2, &next);
    if (name.isNull())
        return;
    QByteArray mode = zeroTerminated(data, size, next, &next);
    if (mode.isNull())
        mode = QByteArray(data + next, int(size - next));

    // A peer's address arrives as IPv4-mapped IPv6 when the socket listens on both.
    QHostAddress peer = from;
    bool isV4 = false;
    const quint32 v4 = from.toIPv4Address(&isV4);
    if (isV4)
        peer = QHostAddress(v4);

    VxTFTPMsg request;
    request.status = TFTP_CONNECTED;
    request.operation = opcode;
    request.fileName = QFile::decodeName(name);
    request.mode = QString::fromLatin1(mode);
    request.peerAddress = peer.toString();
    request.peerPort = fromPort;
    request.localAddress = LocalAddress();
    request.port = m_port;
    request.timeout = m_timeout;
    request.transmissions = 0;

    for (auto& s : m_sessions) {
        if (s->Matches(opcode, request.mode, peer, fromPort, request.fileName)) {
            s->RepeatedRequest();
            return;
        }
    }
    request.sessionNumber = ++m_sessionNumber;
    m_sessions.push_back(std::make_unique<VxTFTPSession>(*this, request, peer));
    VxTFTPSession* session = m_sessions.back().get();
    if (!m_timer->isActive())
        m_timer->start();
    session->Begin();
}

void VxTFTPServer::removeSession(size_t index, int finalStatus)
{
    std::unique_ptr<VxTFTPSession> owned = std::move(m_sessions[index]);
    m_sessions.erase(m_sessions.begin() + std::ptrdiff_t(index));
    if (finalStatus != TFTP_DISCONNECTED)
        owned->Report(finalStatus);
    if (m_socket)
        dally(*owned);
    owned->Close(true);
}

void VxTFTPServer::dally(VxTFTPSession& session)
{
    auto final = session.TakeFinalAck();
    if (!final)
        return;
    auto d = std::make_unique<Dally>();
    d->until = TickCount() + int64_t(m_timeout) * 10;
    if (m_dallyPoll < 0) {
        m_dallyPoll = ::epoll_create1(EPOLL_CLOEXEC);
        if (m_dallyPoll < 0)
            return; // no dally then: the peer's retransmission of its last block goes unanswered
        m_dallyNotifier = std::make_unique<QSocketNotifier>(m_dallyPoll, QSocketNotifier::Read);
        connect(m_dallyNotifier.get(), &QSocketNotifier::activated, this, &VxTFTPServer::readDallies);
    }
    final->socket->SetNotifying(false);
    epoll_event event {};
    event.events = EPOLLIN;
    event.data.ptr = final.get();
    if (::epoll_ctl(m_dallyPoll, EPOLL_CTL_ADD, final->socket->Descriptor(), &event) != 0)
        return;
    d->final = std::move(final);
    m_dallies.push_back(std::move(d));
}

void VxTFTPServer::readDallies()
{
    epoll_event events[64];
    // Bounded: what is ready now; anything later makes the descriptor readable again.
    const int ready = ::epoll_wait(m_dallyPoll, events, 64, 0);
    for (int i = 0; i < ready; ++i) {
        const auto* f = static_cast<const VxTFTPSession::FinalAck*>(events[i].data.ptr);
        for (int n = 0; n < kDrainLimit; ++n) {
            char buffer[kReceiveBuffer];
            sockaddr_in from {};
            const qint64 size = f->socket->Receive(buffer, sizeof buffer, &from);
            if (size < 0)
                break;
            // Only the final DATA from the peer is answered; the transfer itself is over.
            if (size >= 4 && TftpDatagramSocket::SameAddress(from, f->peer) && buffer[0] == 0
                && buffer[1] == 3 && buffer[2] == f->ack[2] && buffer[3] == f->ack[3])
                f->socket->Send(f->ack, sizeof f->ack, f->peer);
        }
    }
}

void VxTFTPServer::tick()
{
    if (m_inTick)
        return;
    m_inTick = true;
    const int64_t now = TickCount();
    for (size_t i = 0; i < m_sessions.size();) {
        VxTFTPSession* s = m_sessions[i].get();
        // A session whose callback is running the event loop is removed later.
        if (s->IsBusy()) {
            ++i;
            continue;
        }
        if (s->state() != VxTFTPSession::State::Active) {
            removeSession(i, TFTP_DISCONNECTED);
            continue;
        }
        if (!s->CheckDeadline(now)) {
            removeSession(i, TFTP_TIMEOUT);
            continue;
        }
        ++i;
    }
    std::erase_if(m_dallies, [now](const std::unique_ptr<Dally>& d) { return d->until < now; });
    m_inTick = false;
    if (m_sessions.empty()) {
        if (m_dallies.empty())
            m_timer->stop();
        emit sessionsDrained();
    }
}
