#pragma once

#include "tftp/TftpServerGroup.h"

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

// Status codes of a session, as reported to the owner's callback.
enum VxTFTPStatus : int
{
    TFTP_DISCONNECTED = 0,       // the session is destroyed
    TFTP_CONNECTED = 1,          // a session is made
    TFTP_TRANSFERRING = 2,       // a DATA, ACK or OACK was sent (first sends and resends alike)
    TFTP_SUCCESS = 3,            // the transfer is complete
    TFTP_FILE_NOT_FOUND = -1102, // a read request names a file that cannot be opened
    TFTP_ACCESS_VIOLATION =
        -1103,                  // a file that cannot be created, a link, or a name outside the root
    TFTP_SOCKET_ERROR = -1109,  // a socket cannot be set up
    TFTP_SEND_ERROR = -1110,    // a packet cannot be sent
    TFTP_FILE_IO_ERROR = -1111, // reading or writing the file failed during the transfer
    TFTP_FILE_TOO_LARGE = -1112, // the file is larger than the server or the grant allows
    TFTP_TIMEOUT = -1113,        // the peer stayed silent
    TFTP_CANCELED = -1114,       // the owner set the cancel flag
    // Outside any session (no 1 before it, no 0 after it), once per peer, name and kind:
    TFTP_REFUSED = -1115,        // no grant (or rule of the served folder) lets this peer do this
    TFTP_BUSY = -1116,           // over the session limits; once per peer
    TFTP_PEER_ERROR = -1117,     // the peer ended the transfer with an ERROR packet
    TFTP_ILLEGAL_PACKET = -1118, // the peer broke the protocol (a DATA block over the agreed size)
    TFTP_GRANT_TAKEN = -1119,    // the grant serves another transfer now, or has served its one
};

// The message of a status code ("" for a code that has none).
QString VxTFTPStatusMessage(int status);

enum VxTFTPOperation : int
{
    TFTP_OP_READ = 1,  // the peer reads a file from this server
    TFTP_OP_WRITE = 2, // the peer writes a file to this server
};

// The status record of one session; valid only during the callback that receives it.
struct VxTFTPMsg
{
    int status = TFTP_CONNECTED;
    QString message;
    int operation = 0;
    QString mode;         // as requested; every transfer copies the file byte for byte
    QString peerAddress;  // dotted decimal
    QString localAddress; // the address the request came in at
    int port = 0;         // the server's listening port
    QString fileName;     // as requested (untrusted: escape it before showing it)
    qint64 bytes = 0;     // read and sent, or received and written, so far
    int blockSize = -1;   // bytes in the last DATA block; -1 before the first
    int peerPort = 0;
    int sessionNumber = 0;     // -1 for a refusal, which makes no session
    int timeout = 0;           // 10 ms units: the server's, or the one the peer asked for
    int transmissions = 0;     // sends of the current DATA block or window (read requests)
    int agreedBlockSize = 512; // blksize option, 512 without it
    int windowSize = 1;        // windowsize option, 1 without it
    qint64 blocksResent = 0;   // DATA blocks sent again (reads), ACKs sent again (writes)
    quint64 grant = 0;         // the grant the session serves (0: the folder's rules)
};

// Called on every status change of every session. Setting *cancel to true ends the
// session at its next accepted packet (the peer is not told). The callback must not
// destroy the server.
using VxTFTPCallback = std::function<void(void* arg, const VxTFTPMsg& msg, bool* cancel)>;

// What one device may do: read `path` under `name`, or write `name` (stored at `path`), once.
// A grant serves one transfer at a time and is used up by the first one that completes; any
// other request on it is refused (TFTP_GRANT_TAKEN).
struct VxTFTPGrant
{
    int operation = TFTP_OP_READ; // TFTP_OP_READ or TFTP_OP_WRITE, seen from the peer
    QHostAddress peer;            // requests only from this IPv4 address
    QString name;                 // the name the device was told, matched exactly
    QString path;                 // absolute path of the file read or written
    qint64 maxBytes = 0;          // writes: more than this fails the put (0: no limit)
    QList<QHostAddress> alsoFrom = {}; // or from these (the same device at another address)
};

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
class VxTFTPServer : public QObject
{
    Q_OBJECT
public:
    explicit VxTFTPServer(QObject* parent = nullptr);
    ~VxTFTPServer() override; // frees the sessions without calling back

    // Time-out in 10 ms units for the peer's next packet, and how many times a DATA
    // block is sent at most. Defaults 1000 and 3.
    void SetTimeouts(int timeoutCs, int transmissions);
    void SetCallback(VxTFTPCallback callback, void* arg);
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
    friend class VxTFTPSession;
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
    uint64_t watch(VxTFTPSession& session, int descriptor);
    bool ensurePoll(int& fd, std::unique_ptr<QSocketNotifier>& notifier,
                    void (VxTFTPServer::*ready)());
    bool ensureSessionPoll();
    bool ensureDallyPoll();
    void unwatch(uint64_t key, int descriptor);
    void readSessions();
    // A receive buffer large enough for the largest block, shared by every session (they
    // all run on this thread and none keeps a packet after handling it).
    char* receiveBuffer();
    static constexpr qint64 ReceiveBufferSize = 65536 + 4;

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
    void* m_callbackArg = nullptr;
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
