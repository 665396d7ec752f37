#pragma once

#include "tftp/TftpServerGroup.h"
#include "tftp/TftpSessionHost.h"
#include "tftp/TftpTypes.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

class QSocketNotifier;
class QTimer;
class QUdpSocket;
class VxTFTPSession;

// The TFTP server (RFC 1350 with the options of RFC 2347-2349 and 7440) from which the
// devices fetch files and to which they store them. Every transfer is a session with a UDP
// socket of its own on an ephemeral port. Runs entirely on the thread's event loop.
//
// Two ways to serve:
// - Console: Listen() while an operation needs the server, and Grant() each transfer
//   exactly: one peer, one name, one kind, one file. Everything else is refused.
// - Folder (the stand-alone server): Start() serves every file below one folder to the
//   allowed networks, writes included unless read-only.
// Either way no file is opened through a symbolic link.
class VxTFTPServer : public QObject, public TftpSessionHost
{
    Q_OBJECT
public:
    explicit VxTFTPServer(QObject* parent = nullptr);
    ~VxTFTPServer() override; // frees the sessions without calling back

    // Time-out in 10 ms units for the peer's next packet, and how many times a DATA
    // block is sent at most. Defaults 1000 and 3.
    void SetTimeouts(int timeoutCs, int transmissions);
    void SetCallback(VxTFTPCallback callback);
    // At most `total` sessions at once and `perPeer` from one address (defaults 256 and 8);
    // a request over a limit gets ERROR 0 "busy" and no socket. Peers on 127.0.0.0/8 count
    // toward the total only, since every simulated device shares one loopback address;
    // loopbackExempt = false lets a test apply the per-peer limit on loopback.
    void SetSessionLimits(int total, int perPeer, bool loopbackExempt = true);
    // Makes this server one of several on the same port, each on a thread of its own (set
    // before listening). The kernel spreads the requests over their sockets by the peer's
    // address and port, so a peer's repeated request reaches the server that has its
    // session; the session limits and the once-only reports are the group's. The group's
    // first server checks that no other program has the port before binding it; the
    // others must then listen on the port it bound.
    void SetGroup(std::shared_ptr<TftpServerGroup> group);

    quint64 Grant(const VxTFTPGrant& grant); // returns an id > 0
    void Revoke(quint64 id);                 // later requests are refused; running sessions finish
    void RevokeAll();
    int GrantCount() const { return int(m_grants.size()); }

    // Console mode: one listening socket per address (usually one), requests served only
    // through grants. Throws VxError -1109 when a socket cannot be bound; then
    // StartErrorDetail() says why (e.g. the port needs root or CAP_NET_BIND_SERVICE).
    // Listening again with the same addresses and port is a no-op.
    void Listen(const QList<QHostAddress>& addresses, quint16 port);
    // Closes the listening sockets at once (no event loop); running sessions finish on
    // their own. Ends the folder mode too.
    void StopListening();

    // Folder mode: serves rootDirectory (empty: the current directory) on address and
    // port, besides any grants. When already listening only the root changes. Throws
    // like Listen.
    void Start(const QString& rootDirectory, quint16 port = 69,
               const QHostAddress& address = QHostAddress::AnyIPv4);
    // Folder mode rules. Networks as (address, prefix length); empty: every peer.
    void SetAllowedNetworks(const QList<QPair<QHostAddress, int>>& networks);
    void SetReadOnly(bool readOnly);
    // The largest file read or written, in bytes (0: no limit). Grants' maxBytes add to it.
    void SetMaxFileSize(qint64 bytes);

    // Stops listening, then runs the event loop while sessions remain, for at most 10 s;
    // sessions still open after that are cancelled.
    void Stop();

    // Serves on this thread without the event loop until stopDescriptor becomes readable
    // (a server with nothing else to do: the stand-alone one). Every socket of the server
    // is waited for in one epoll set, so a lock-step block costs one wait, one receive and
    // one send. Returns false when that set cannot be made, the server is not listening or
    // the wait fails; the caller then runs the event loop instead.
    bool Serve(int stopDescriptor);

    bool IsListening() const { return !m_listeners.empty(); }
    quint16 Port() const;
    QString LocalAddress() const;
    QString RootDirectory() const { return m_root; }
    QString StartErrorDetail() const { return m_startError; }
    int SessionCount() const { return int(m_sessions.size()); }
    int Timeout() const { return m_timeout; }
    int Transmissions() const { return m_transmissions; }

signals:
    // The last session has gone (ends Stop's wait).
    void sessionsDrained();

private:
    struct Listener;
    struct GrantEntry;
    struct Dally;

    // Binds the listener's socket (shared within the group, if any; checkFree: first make
    // sure no other program has the port). On failure m_startError says why.
    bool bindListener(Listener& listener, quint16 port, bool checkFree);
    bool takeSessionSlot(const QHostAddress& peer);
    bool firstReport(const QString& key);
    void readRequests(Listener& listener);
    void handleRequest(Listener& listener, const char* data, qint64 size, const QHostAddress& from,
                       quint16 fromPort);
    GrantEntry* findGrant(int operation, const QHostAddress& peer, const QString& name) const;
    void grantEnded(quint64 id, int status);
    bool folderAllows(int operation, const QHostAddress& peer) const;
    void refuse(Listener& listener, const VxTFTPMsg& request, int errorCode, int status);
    void tick();
    void removeSession(size_t index, int finalStatus);
    void dally(VxTFTPSession& session);
    void readDallies();
    // The sessions' sockets, watched through one epoll descriptor: the event loop polls
    // every descriptor it watches on every turn, and a batch may run hundreds of sessions.
    // watch() returns the session's key, 0 when it cannot be watched this way.
    uint64_t WatchSession(VxTFTPSession& session, int descriptor) override;
    bool ensurePoll(int& fd, std::unique_ptr<QSocketNotifier>& notifier,
                    void (VxTFTPServer::*ready)());
    bool ensureSessionPoll();
    bool ensureDallyPoll();
    void UnwatchSession(uint64_t key, int descriptor) override;
    void readSessions();
    // A receive buffer large enough for the largest block, shared by every session (they
    // all run on this thread and none keeps a packet after handling it).
    char* SessionReceiveBuffer() override;
    const VxTFTPCallback& SessionCallback() const override { return m_callback; }
    int SessionTransmissions() const override { return m_transmissions; }

    std::vector<std::unique_ptr<Listener>> m_listeners;
    QList<QHostAddress> m_listenAddresses;
    quint16 m_listenPort = 0; // as asked (0: any)
    quint16 m_port = 69;      // as bound
    QTimer* m_timer = nullptr;
    QString m_hostAddress;
    QString m_startError;
    int m_timeout = 1000;
    int m_transmissions = 3;
    VxTFTPCallback m_callback;
    int m_sessionNumber = -1;
    std::vector<std::unique_ptr<VxTFTPSession>> m_sessions;
    std::unique_ptr<char[]> m_receiveBuffer;

    std::vector<std::unique_ptr<GrantEntry>> m_grants;
    quint64 m_nextGrant = 1;

    bool m_folderMode = false;
    QString m_root;
    QList<QPair<QHostAddress, int>> m_allowed;
    bool m_readOnly = false;
    qint64 m_maxFileSize = 0;

    int m_maxSessions = 256;
    int m_maxPerPeer = 8;
    bool m_loopbackExempt = true;

    std::shared_ptr<TftpServerGroup> m_group;

    // Refusals and "busy" already reported, so a flood makes one line per peer and name.
    // Bounded: when full it starts over. The group's instead when there is one.
    TftpReportMemory m_reported;

    // Sockets of completed puts, kept for one time-out to acknowledge the final block
    // again when the peer did not get its ACK (RFC 1350's dally). Bounded: the oldest goes
    // first when a flood of puts would hold too many descriptors.
    std::vector<std::unique_ptr<Dally>> m_dallies;
    // The dallying sockets are watched through one epoll descriptor: after a batch of puts
    // hundreds of them may wait at once, and the event loop polls every descriptor it
    // watches on every turn.
    int m_dallyPoll = -1;
    std::unique_ptr<QSocketNotifier> m_dallyNotifier;
    int m_sessionPoll = -1;
    std::unique_ptr<QSocketNotifier> m_sessionNotifier;
    std::unordered_map<uint64_t, VxTFTPSession*> m_watched;
    uint64_t m_nextWatchKey = 1;
    bool m_inTick = false;
};
