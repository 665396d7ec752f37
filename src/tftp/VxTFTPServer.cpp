#include "tftp/VxTFTPServer.h"

#include "common/VxError.h"
#include "common/Wait.h"
#include "tftp/TftpFileAccess.h"
#include "tftp/TftpOptions.h"
#include "tftp/TftpServerGroup.h"
#include "tftp/VxTFTPSession.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <QUdpSocket>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/epoll.h>
#include <unistd.h>

namespace {

constexpr int kTickMs = 20;
constexpr int kStopWaitMs = 10000;
constexpr int kRequestBuffer = 2048;
constexpr int kDrainLimit = 64;
// Bound of what a flood of puts can make the server keep: the sockets of completed puts
// kept for their final ACK.
constexpr size_t kMaxDallies = 128;
// Keys of the descriptors that Serve() adds to the sessions' epoll set, beside the
// sessions' own keys (which count up from 1): the top bit and the descriptor.
constexpr uint64_t kServeKey = uint64_t(1) << 63;

// RFC 1350 error codes of a refusal.
constexpr int kErrorNotDefined = 0;
constexpr int kErrorFileNotFound = 1;
constexpr int kErrorAccessViolation = 2;
// The text of the ERROR 0 sent when the server is over a session limit.
constexpr char kBusyText[] = "busy";

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

bool isSpecificIPv4(const QHostAddress& a)
{
    return a.protocol() == QAbstractSocket::IPv4Protocol &&
           a != QHostAddress(QHostAddress::AnyIPv4);
}

} // namespace

struct VxTFTPServer::Listener
{
    std::unique_ptr<QUdpSocket> socket;
    QHostAddress address;
};

struct VxTFTPServer::GrantEntry
{
    quint64 id = 0;
    VxTFTPGrant grant;
    QList<quint32> peers;
    QString folder;
    QByteArray file;
    bool inUse = false;  // a session serves it now
    bool usedUp = false; // a session completed it
};

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
    case TFTP_REFUSED:
        return QStringLiteral("(VxTFTP) Request refused!");
    case TFTP_BUSY:
        return QStringLiteral("(VxTFTP) Too many sessions!");
    case TFTP_GRANT_TAKEN:
        return QStringLiteral("(VxTFTP) The file was served once already or is being served!");
    case TFTP_PEER_ERROR:
        return QStringLiteral("(VxTFTP) The peer ended the transfer!");
    case TFTP_ILLEGAL_PACKET:
        return QStringLiteral("(VxTFTP) Illegal packet from the peer!");
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
    m_listeners.clear();
    m_dallies.clear();
    m_dallyNotifier.reset();
    if (m_dallyPoll >= 0)
        ::close(m_dallyPoll);
    // The owner may be half destroyed already: the sessions go without calling back.
    for (auto& s : m_sessions)
        s->Close(false);
    m_sessions.clear();
    m_sessionNotifier.reset();
    if (m_sessionPoll >= 0)
        ::close(m_sessionPoll);
}

void VxTFTPServer::SetTimeouts(int timeoutCs, int transmissions)
{
    m_timeout = std::max(1, timeoutCs);
    m_transmissions = std::max(1, transmissions);
}

void VxTFTPServer::SetCallback(VxTFTPCallback callback)
{
    m_callback = std::move(callback);
}

void VxTFTPServer::SetSessionLimits(int total, int perPeer, bool loopbackExempt)
{
    m_maxSessions = std::max(1, total);
    m_maxPerPeer = std::max(1, perPeer);
    m_loopbackExempt = loopbackExempt;
}

void VxTFTPServer::SetGroup(std::shared_ptr<TftpServerGroup> group)
{
    m_group = std::move(group);
}

quint64 VxTFTPServer::Grant(const VxTFTPGrant& grant)
{
    auto entry = std::make_unique<GrantEntry>();
    entry->id = m_nextGrant++;
    entry->grant = grant;
    entry->peers.append(grant.peer.toIPv4Address());
    for (const QHostAddress& other : grant.alsoFrom)
        if (!entry->peers.contains(other.toIPv4Address()))
            entry->peers.append(other.toIPv4Address());
    const QFileInfo info(grant.path);
    entry->folder = info.absolutePath();
    entry->file = QFile::encodeName(info.fileName());
    const quint64 id = entry->id;
    m_grants.push_back(std::move(entry));
    return id;
}

void VxTFTPServer::Revoke(quint64 id)
{
    std::erase_if(m_grants, [id](const std::unique_ptr<GrantEntry>& g) { return g->id == id; });
}

void VxTFTPServer::RevokeAll()
{
    m_grants.clear();
}

void VxTFTPServer::Listen(const QList<QHostAddress>& addresses, quint16 port)
{
    if (!m_listeners.empty() && addresses == m_listenAddresses && port == m_listenPort)
        return;
    m_listeners.clear();
    m_listenAddresses.clear();
    m_startError.clear();
    if (addresses.isEmpty()) {
        m_startError = QStringLiteral("no address to listen on");
        throw VxError(TFTP_SOCKET_ERROR, VxTFTPStatusMessage(TFTP_SOCKET_ERROR));
    }
    quint16 bound = port;
    // Once per server: the group's first checks the port for the whole group.
    const bool checkFree = m_group && m_group->ClaimPort();
    for (const QHostAddress& address : addresses) {
        auto listener = std::make_unique<Listener>();
        listener->address = address;
        listener->socket = std::make_unique<QUdpSocket>();
        if (!bindListener(*listener, bound, checkFree)) {
            StopListening();
            throw VxError(TFTP_SOCKET_ERROR, VxTFTPStatusMessage(TFTP_SOCKET_ERROR));
        }
        // Port 0 picks one; the other addresses take the same.
        bound = listener->socket->localPort();
        QUdpSocket* socket = listener->socket.get();
        connect(socket, &QUdpSocket::readyRead, this, [this, socket] {
            for (auto& l : m_listeners) {
                if (l->socket.get() == socket) {
                    readRequests(*l);
                    return;
                }
            }
        });
        m_listeners.push_back(std::move(listener));
    }
    m_listenAddresses = addresses;
    m_listenPort = port;
    m_port = bound;
}

bool VxTFTPServer::bindListener(Listener& listener, quint16 port, bool checkFree)
{
    const QHostAddress& address = listener.address;
    const QString where = QStringLiteral("UDP port %1 on %2").arg(port).arg(address.toString());
    if (address.protocol() != QAbstractSocket::IPv4Protocol) {
        m_startError = where + QStringLiteral(": not an IPv4 address");
        return false;
    }
    // Why the port cannot be bound, from the kernel's error or the socket class's.
    const auto failed = [&](bool accessDenied, bool inUse, const QString& other) {
        m_startError = accessDenied ? where + QStringLiteral(" needs root or the "
                                                             "CAP_NET_BIND_SERVICE capability "
                                                             "(ports below 1024 are privileged)")
                       : inUse ? where + QStringLiteral(" is already in use by another program")
                               : where + QStringLiteral(": ") + other;
        return false;
    };
    const auto socketFailed = [&](const QUdpSocket& socket) {
        return failed(socket.error() == QAbstractSocket::SocketAccessError,
                      socket.error() == QAbstractSocket::AddressInUseError, socket.errorString());
    };
    // No address sharing with anyone else: on Linux a shared UDP port would split the
    // requests between two servers without either noticing.
    if (!m_group) {
        return listener.socket->bind(address, port, QAbstractSocket::DontShareAddress) ||
               socketFailed(*listener.socket);
    }
    if (checkFree) {
        QUdpSocket probe;
        if (!probe.bind(address, port, QAbstractSocket::DontShareAddress))
            return socketFailed(probe);
    }
    // The group's sockets share the port; a program that binds it later without sharing
    // is refused, as it would be by a single server.
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int one = 1;
    const sockaddr_in local = TftpDatagramSocket::Address(address, port);
    if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one) != 0 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        return failed(error == EACCES || error == EPERM, error == EADDRINUSE,
                      QString::fromLocal8Bit(std::strerror(error)));
    }
    if (!listener.socket->setSocketDescriptor(fd, QAbstractSocket::BoundState)) {
        ::close(fd);
        m_startError = where + QStringLiteral(": ") + listener.socket->errorString();
        return false;
    }
    return true;
}

void VxTFTPServer::StopListening()
{
    m_listeners.clear();
    m_listenAddresses.clear();
    m_folderMode = false;
    m_reported = TftpReportMemory();
}

void VxTFTPServer::Start(const QString& rootDirectory, quint16 port, const QHostAddress& address)
{
    m_root = rootDirectory;
    if (IsListening()) {
        m_folderMode = true;
        return;
    }
    Listen({address}, port);
    m_folderMode = true;
}

void VxTFTPServer::SetAllowedNetworks(const QList<QPair<QHostAddress, int>>& networks)
{
    m_allowed = networks;
}

void VxTFTPServer::SetReadOnly(bool readOnly)
{
    m_readOnly = readOnly;
}

void VxTFTPServer::SetMaxFileSize(qint64 bytes)
{
    m_maxFileSize = std::max<qint64>(0, bytes);
}

void VxTFTPServer::Stop()
{
    StopListening();
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

bool VxTFTPServer::Serve(int stopDescriptor)
{
    if (m_listeners.empty() || !ensureSessionPoll() || !ensureDallyPoll())
        return false;
    std::vector<int> added;
    const auto add = [&](int fd) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = kServeKey | uint64_t(unsigned(fd));
        if (fd < 0 || ::epoll_ctl(m_sessionPoll, EPOLL_CTL_ADD, fd, &event) != 0)
            return false;
        added.push_back(fd);
        return true;
    };
    const auto removeAdded = [&] {
        for (int fd : added)
            ::epoll_ctl(m_sessionPoll, EPOLL_CTL_DEL, fd, nullptr);
    };
    bool ok = add(stopDescriptor) && add(m_dallyPoll);
    for (auto& l : m_listeners)
        ok = ok && add(int(l->socket->socketDescriptor()));
    if (!ok) {
        removeAdded();
        return false;
    }

    // The tick runs every kTickMs while anything has a deadline, as the timer does.
    int64_t nextTick = 0;
    bool stop = false;
    while (!stop) {
        int timeout = -1;
        if (!m_sessions.empty() || !m_dallies.empty()) {
            const int64_t now = TickCount();
            if (nextTick == 0)
                nextTick = now + kTickMs;
            timeout = int(std::clamp<int64_t>(nextTick - now, 0, kTickMs));
        } else {
            nextTick = 0;
        }
        epoll_event events[64];
        const int ready = ::epoll_wait(m_sessionPoll, events, 64, timeout);
        if (ready < 0 && errno != EINTR) {
            // Cannot happen with a valid set; the event loop takes over rather than stop.
            removeAdded();
            return false;
        }
        for (int i = 0; i < ready; ++i) {
            const uint64_t key = events[i].data.u64;
            if (!(key & kServeKey)) {
                // A callback may have ended the session meanwhile.
                const auto it = m_watched.find(key);
                if (it != m_watched.end())
                    it->second->ReadPackets();
                continue;
            }
            const int fd = int(key & ~kServeKey);
            if (fd == stopDescriptor) {
                stop = true;
            } else if (fd == m_dallyPoll) {
                readDallies();
            } else {
                for (auto& l : m_listeners) {
                    if (l->socket->socketDescriptor() == fd) {
                        readRequests(*l);
                        break;
                    }
                }
            }
        }
        if (nextTick != 0 && TickCount() >= nextTick) {
            tick();
            nextTick = TickCount() + kTickMs;
        }
    }
    removeAdded();
    return true;
}

quint16 VxTFTPServer::Port() const
{
    return m_port;
}

QString VxTFTPServer::LocalAddress() const
{
    // A server bound to one address is reached there; otherwise the host's address.
    if (m_listeners.size() == 1 && isSpecificIPv4(m_listeners.front()->address))
        return m_listeners.front()->address.toString();
    return m_hostAddress;
}

char* VxTFTPServer::SessionReceiveBuffer()
{
    if (!m_receiveBuffer)
        m_receiveBuffer = std::make_unique<char[]>(size_t(TftpReceiveBufferSize));
    return m_receiveBuffer.get();
}

void VxTFTPServer::readRequests(Listener& listener)
{
    // A callback may stop the server meanwhile, which closes this socket.
    QPointer<QUdpSocket> socket = listener.socket.get();
    char buffer[kRequestBuffer];
    for (int i = 0; i < kDrainLimit && socket && socket->hasPendingDatagrams(); ++i) {
        QHostAddress from;
        quint16 fromPort = 0;
        const qint64 size = socket->readDatagram(buffer, sizeof buffer, &from, &fromPort);
        if (size >= 4)
            handleRequest(listener, buffer, size, from, fromPort);
    }
}

VxTFTPServer::GrantEntry* VxTFTPServer::findGrant(int operation, const QHostAddress& peer,
                                                  const QString& name) const
{
    const quint32 address = peer.toIPv4Address();
    // The most recent grant that is free wins; when every grant that matches is taken, the
    // most recent of them (which refuses). Devices that share an address (behind one router,
    // or simulated on loopback) and fetch one image each have a grant of their own.
    GrantEntry* taken = nullptr;
    for (auto it = m_grants.rbegin(); it != m_grants.rend(); ++it) {
        GrantEntry& g = **it;
        if (g.grant.operation != operation || !g.peers.contains(address) || g.grant.name != name)
            continue;
        if (!g.inUse && !g.usedUp)
            return &g;
        if (!taken)
            taken = &g;
    }
    return taken;
}

void VxTFTPServer::grantEnded(quint64 id, int status)
{
    for (auto& g : m_grants)
        if (g->id == id) {
            g->inUse = false;
            if (status == TFTP_SUCCESS)
                g->usedUp = true;
            return;
        }
}

bool VxTFTPServer::folderAllows(int operation, const QHostAddress& peer) const
{
    if (operation == TFTP_OP_WRITE && m_readOnly)
        return false;
    if (m_allowed.isEmpty())
        return true;
    for (const auto& network : m_allowed) {
        if (peer.isInSubnet(network))
            return true;
    }
    return false;
}

void VxTFTPServer::handleRequest(Listener& listener, const char* data, qint64 size,
                                 const QHostAddress& from, quint16 fromPort)
{
    const int opcode = (quint8(data[0]) << 8) | quint8(data[1]);
    if (opcode != TFTP_OP_READ && opcode != TFTP_OP_WRITE)
        return;
    qint64 next = 2;
    const QByteArray name = zeroTerminated(data, size, 2, &next);
    if (name.isNull())
        return;
    QByteArray mode = zeroTerminated(data, size, next, &next);
    const bool modeTerminated = !mode.isNull();
    if (!modeTerminated)
        mode = QByteArray(data + next, int(size - next));

    // A peer's address arrives as IPv4-mapped IPv6 when the socket listens on both.
    QHostAddress peer = from;
    bool isV4 = false;
    const quint32 v4 = from.toIPv4Address(&isV4);
    if (isV4)
        peer = QHostAddress(v4);
    const QHostAddress local =
        isSpecificIPv4(listener.address) ? listener.address : QHostAddress(QHostAddress::AnyIPv4);

    VxTFTPMsg request;
    request.status = TFTP_CONNECTED;
    request.operation = opcode;
    request.fileName = QFile::decodeName(name);
    request.mode = QString::fromLatin1(mode);
    request.peerAddress = peer.toString();
    request.peerPort = fromPort;
    request.localAddress =
        isSpecificIPv4(listener.address) ? listener.address.toString() : m_hostAddress;
    request.port = m_port;
    request.timeout = m_timeout;
    request.transmissions = 0;

    for (auto& s : m_sessions) {
        if (s->Matches(opcode, request.mode, peer, fromPort, request.fileName)) {
            s->RepeatedRequest();
            return;
        }
    }

    VxTFTPSession::Target target;
    GrantEntry* granted = findGrant(opcode, peer, request.fileName);
    if (granted && (granted->inUse || granted->usedUp)) {
        // One transfer per grant: neither a second host at the device's address nor a repeat
        // of a completed transfer gets the file.
        request.grant = granted->id;
        refuse(listener, request, opcode == TFTP_OP_READ ? kErrorFileNotFound : kErrorAccessViolation,
               TFTP_GRANT_TAKEN);
        return;
    }
    if (const GrantEntry* grant = granted) {
        target.folder = grant->folder;
        target.name = grant->file;
        target.maxBytes = m_maxFileSize;
        if (opcode == TFTP_OP_WRITE && grant->grant.maxBytes > 0)
            target.maxBytes = m_maxFileSize > 0 ? std::min(m_maxFileSize, grant->grant.maxBytes)
                                                : grant->grant.maxBytes;
    } else if (m_folderMode && folderAllows(opcode, peer)) {
        QStringList steps;
        target.folder = m_root;
        target.maxBytes = m_maxFileSize;
        if (TftpSplitSafeName(request.fileName, &steps)) {
            target.name = QFile::encodeName(steps.takeLast());
            target.steps = steps;
        } else {
            target.unsafe = true;
        }
    } else {
        refuse(listener, request,
               opcode == TFTP_OP_READ ? kErrorFileNotFound : kErrorAccessViolation, TFTP_REFUSED);
        return;
    }

    // Every session holds a socket and maybe a file: a flood of requests must not take
    // every descriptor (and the memory) of the process.
    if (!takeSessionSlot(peer)) {
        refuse(listener, request, kErrorNotDefined, TFTP_BUSY);
        return;
    }

    const TftpOptions options = modeTerminated
                                    ? TftpOptions::Negotiate(data, size, next, peer.isLoopback())
                                    : TftpOptions();
    request.sessionNumber = ++m_sessionNumber;
    if (granted) {
        granted->inUse = true;
        request.grant = granted->id;
    }
    m_sessions.push_back(
        std::make_unique<VxTFTPSession>(*this, request, peer, local, std::move(target), options));
    VxTFTPSession* session = m_sessions.back().get();
    if (granted)
        session->SetEndHook(
            [this, id = granted->id](int status) { grantEnded(id, status); });
    if (m_group) {
        const quint32 address = peer.toIPv4Address();
        const bool exempt = m_loopbackExempt && peer.isLoopback();
        session->SetSlotRelease(
            [group = m_group, address, exempt] { group->GiveSlot(address, exempt); });
    }
    if (!m_timer->isActive())
        m_timer->start();
    session->Begin();
}

bool VxTFTPServer::takeSessionSlot(const QHostAddress& peer)
{
    const bool exempt = m_loopbackExempt && peer.isLoopback();
    if (m_group)
        return m_group->TakeSlot(peer.toIPv4Address(), exempt, m_maxSessions, m_maxPerPeer);
    // Sessions that have ended and wait for the next tick to go do not count: a device's
    // next transfer follows at once.
    int live = 0;
    int fromPeer = 0;
    for (const auto& s : m_sessions) {
        if (s->state() != VxTFTPSession::State::Active)
            continue;
        ++live;
        if (s->Peer() == peer)
            ++fromPeer;
    }
    return live < m_maxSessions && (exempt || fromPeer < m_maxPerPeer);
}

bool VxTFTPServer::firstReport(const QString& key)
{
    return m_group ? m_group->FirstReport(key) : m_reported.First(key);
}

void VxTFTPServer::refuse(Listener& listener, const VxTFTPMsg& request, int errorCode, int status)
{
    // From the listening socket: a refusal makes no session and opens no socket.
    QByteArray packet("\x00\x05\x00", 3);
    packet.append(char(errorCode));
    if (status == TFTP_BUSY)
        packet.append(kBusyText);
    packet.append('\0');
    listener.socket->writeDatagram(packet, QHostAddress(request.peerAddress),
                                   quint16(request.peerPort));

    // Once per peer for "busy", once per peer, name and kind for a refusal.
    const QString key = status == TFTP_BUSY
                            ? QStringLiteral("busy ") + request.peerAddress
                            : QString::number(request.operation) + QLatin1Char(' ') +
                                  (status == TFTP_GRANT_TAKEN ? QStringLiteral("taken ") : QString()) +
                                  request.peerAddress + QLatin1Char(' ') + request.fileName;
    if (!firstReport(key))
        return;
    VxTFTPMsg msg = request;
    msg.status = status;
    msg.message = VxTFTPStatusMessage(status);
    msg.sessionNumber = -1;
    bool cancel = false;
    if (m_callback)
        m_callback(msg, &cancel);
}

void VxTFTPServer::removeSession(size_t index, int finalStatus)
{
    std::unique_ptr<VxTFTPSession> owned = std::move(m_sessions[index]);
    m_sessions.erase(m_sessions.begin() + std::ptrdiff_t(index));
    if (finalStatus != TFTP_DISCONNECTED)
        owned->Report(finalStatus);
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
    if (!ensureDallyPoll())
        return; // no dally then: the peer's retransmission of its last block goes unanswered
    final->socket->SetNotifying(false);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.ptr = final.get();
    if (::epoll_ctl(m_dallyPoll, EPOLL_CTL_ADD, final->socket->Descriptor(), &event) != 0)
        return;
    d->final = std::move(final);
    // Closing a socket takes it out of the epoll set.
    if (m_dallies.size() >= kMaxDallies)
        m_dallies.erase(m_dallies.begin());
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
            char buffer[kRequestBuffer];
            sockaddr_in from{};
            const qint64 size = f->socket->Receive(buffer, sizeof buffer, &from);
            if (size < 0)
                break;
            // Only the final DATA from the peer is answered; the transfer itself is over.
            if (size >= 4 && TftpDatagramSocket::SameAddress(from, f->peer) && buffer[0] == 0 &&
                buffer[1] == 3 && buffer[2] == f->ack[2] && buffer[3] == f->ack[3])
                f->socket->Send(f->ack, sizeof f->ack, f->peer);
        }
    }
}

bool VxTFTPServer::ensurePoll(int& fd, std::unique_ptr<QSocketNotifier>& notifier,
                              void (VxTFTPServer::*ready)())
{
    if (fd >= 0)
        return true;
    fd = ::epoll_create1(EPOLL_CLOEXEC);
    if (fd < 0)
        return false;
    notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, ready);
    return true;
}

bool VxTFTPServer::ensureDallyPoll()
{
    return ensurePoll(m_dallyPoll, m_dallyNotifier, &VxTFTPServer::readDallies);
}

bool VxTFTPServer::ensureSessionPoll()
{
    return ensurePoll(m_sessionPoll, m_sessionNotifier, &VxTFTPServer::readSessions);
}

uint64_t VxTFTPServer::WatchSession(VxTFTPSession& session, int descriptor)
{
    if (!ensureSessionPoll())
        return 0;
    const uint64_t key = m_nextWatchKey++;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = key;
    if (::epoll_ctl(m_sessionPoll, EPOLL_CTL_ADD, descriptor, &event) != 0)
        return 0;
    m_watched.emplace(key, &session);
    return key;
}

void VxTFTPServer::UnwatchSession(uint64_t key, int descriptor)
{
    // Explicitly: a socket that lives on (a dallying one) must leave this set.
    if (m_watched.erase(key) && descriptor >= 0)
        ::epoll_ctl(m_sessionPoll, EPOLL_CTL_DEL, descriptor, nullptr);
}

void VxTFTPServer::readSessions()
{
    epoll_event events[64];
    // Bounded: what is ready now; anything left makes the descriptor readable again.
    const int ready = ::epoll_wait(m_sessionPoll, events, 64, 0);
    for (int i = 0; i < ready; ++i) {
        // A callback may have run the event loop meanwhile and a session may be gone.
        // epoll_event is packed: copy the key out rather than bind a reference to it.
        const uint64_t key = events[i].data.u64;
        const auto it = m_watched.find(key);
        if (it != m_watched.end())
            it->second->ReadPackets();
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
